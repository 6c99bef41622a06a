// The input spool: what it leaves to the sources, what it copies (a FIFO, standard input that
// was read from already), and the folder it copies into.

#include "frontend/input_spool.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "cli/cli_support.h"

namespace vellox {
namespace {

using cli::list_folder;
using cli::ScratchFolder;
using cli::write_file;

// Everything from descriptor's start.
std::string contents(int descriptor) {
    std::string bytes;
    char buffer[4096];
    ssize_t got = 0;
    for (off_t at = 0; (got = ::pread(descriptor, buffer, sizeof buffer, at)) > 0; at += got) {
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return bytes;
}

// TMPDIR set to folder while it lives.
class TemporaryFolder {
public:
    explicit TemporaryFolder(const std::string& folder) {
        if (const char* old = std::getenv("TMPDIR")) previous = old;
        setenv("TMPDIR", folder.c_str(), 1);
    }
    ~TemporaryFolder() {
        if (previous.empty()) {
            unsetenv("TMPDIR");
        } else {
            setenv("TMPDIR", previous.c_str(), 1);
        }
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

private:
    std::string previous;
};

TEST(InputSpool, CopiesAFifoAndLeavesFilesToTheSources) {
    ScratchFolder folder;
    ASSERT_EQ(mkdir((folder / "tmp").c_str(), 0700), 0);
    const TemporaryFolder tmp(folder / "tmp");
    write_file(folder / "in.raw", "abcd");
    testing::internal::CaptureStderr();
    for (const std::string& name : {folder / "in.raw", folder / "missing.raw"}) {
        InputSpool spool;
        EXPECT_TRUE(spool.open(name.c_str(), SoundType::automatic));
        EXPECT_EQ(spool.descriptor(), -1);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    const std::string fifo = folder / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string bytes(200000, 'x');  // more than a pipe holds
    std::thread writer([&fifo, &bytes] {
        const int out = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
        if (out >= 0) {
            for (std::size_t done = 0; done < bytes.size();) {
                const ssize_t n = ::write(out, bytes.data() + done, bytes.size() - done);
                if (n <= 0) break;
                done += static_cast<std::size_t>(n);
            }
            ::close(out);
        }
    });
    {
        InputSpool spool;
        EXPECT_TRUE(spool.open(fifo.c_str(), SoundType::raw16));
        writer.join();
        ASSERT_GE(spool.descriptor(), 0);
        EXPECT_EQ(::lseek(spool.descriptor(), 0, SEEK_CUR), 0);
        EXPECT_EQ(contents(spool.descriptor()), bytes);
        // The copy has no name.
        EXPECT_TRUE(list_folder(folder / "tmp").empty());
    }
}

// Standard input that is a file is read where it is when nothing was read from it, and copied
// from where it stands otherwise.
TEST(InputSpool, ReadsStandardInputFromWhereItStands) {
    ScratchFolder folder;
    write_file(folder / "in.raw", "0123456789");
    const int saved = ::dup(0);
    ASSERT_GE(saved, 0);
    const int file = ::open((folder / "in.raw").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(file, 0);
    ASSERT_EQ(::dup2(file, 0), 0);
    {
        InputSpool spool;
        EXPECT_TRUE(spool.open("-", SoundType::automatic));
        EXPECT_EQ(spool.descriptor(), 0);
    }
    ASSERT_EQ(::lseek(0, 4, SEEK_SET), 4);
    {
        const TemporaryFolder tmp(folder.path());
        InputSpool spool;
        EXPECT_TRUE(spool.open("-", SoundType::automatic));
        ASSERT_GT(spool.descriptor(), 2);
        EXPECT_EQ(contents(spool.descriptor()), "456789");
    }
    ::dup2(saved, 0);
    ::close(saved);
    ::close(file);
}

}  // namespace
}  // namespace vellox
