// The output file on both of its ways, a temporary file without a name and one named beside the
// target: what commit and discard leave, the same-file refusal, and failures at the close.

#include "frontend/output_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "cli/cli_support.h"

namespace vellox {
namespace {

using cli::list_folder;
using cli::read_file;
using cli::ScratchFolder;
using cli::write_file;
using Names = std::set<std::string>;

// Runs the test body once on each way of writing the temporary file.
class OutputFileTest : public testing::TestWithParam<bool> {
protected:
    void SetUp() override { use_named_temporary_files(GetParam()); }
    void TearDown() override { use_named_temporary_files(false); }
};

INSTANTIATE_TEST_SUITE_P(BothWays, OutputFileTest, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& way) {
                             return way.param ? "named" : "unnamed";
                         });

bool write_text(OutputFile& output, const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), output.stream()) == text.size();
}

TEST_P(OutputFileTest, CommitPutsTheFileInPlaceAndDiscardLeavesTheTarget) {
    ScratchFolder folder;
    const std::string target = folder / "out.acm";
    for (const bool existed : {false, true}) {
        SCOPED_TRACE(existed ? "replacing" : "new");
        if (existed) {
            write_file(target, "old");
            ASSERT_EQ(chmod(target.c_str(), 0640), 0);
        }
        OutputFile discarded;
        ASSERT_TRUE(discarded.open(target.c_str()));
        EXPECT_TRUE(write_text(discarded, "lost"));
        discarded.discard();
        EXPECT_EQ(discarded.stream(), nullptr);
        EXPECT_EQ(list_folder(folder.path()), existed ? Names{"out.acm"} : Names{});
        if (existed) {
            EXPECT_EQ(read_file(target), "old");
        }

        OutputFile output;
        ASSERT_TRUE(output.open(target.c_str()));
        EXPECT_TRUE(write_text(output, "new data"));
        // Until the commit the target is as it was.
        EXPECT_EQ(list_folder(folder.path()).count("out.acm"), existed ? 1U : 0U);
        EXPECT_TRUE(output.commit());
        EXPECT_EQ(output.stream(), nullptr);
        EXPECT_EQ(read_file(target), "new data");
        EXPECT_EQ(list_folder(folder.path()), Names{"out.acm"});
        struct stat status {};
        ASSERT_EQ(stat(target.c_str(), &status), 0);
        if (existed) {
            EXPECT_EQ(status.st_mode & 07777, 0640U);
        }
        // The destructor after a commit removes nothing.
    }
    EXPECT_EQ(read_file(target), "new data");
}

TEST_P(OutputFileTest, RefusesTheInputAndReportsWhatFailsAtTheClose) {
    ScratchFolder folder;
    const std::string input = folder / "in.wav";
    write_file(input, "sound");
    const int descriptor = open(input.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(descriptor, 0);
    testing::internal::CaptureStderr();
    {
        OutputFile output;
        EXPECT_FALSE(output.open(input.c_str(), descriptor));
        EXPECT_EQ(output.stream(), nullptr);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error: Input and output are the same file: '" + input + "'\n");
    close(descriptor);
    EXPECT_EQ(read_file(input), "sound");
    EXPECT_EQ(list_folder(folder.path()), Names{"in.wav"});

    // A device is written in place; what it refuses shows at the commit, with the target's name.
    testing::internal::CaptureStderr();
    OutputFile full;
    ASSERT_TRUE(full.open("/dev/full"));
    EXPECT_TRUE(write_text(full, "data"));
    EXPECT_FALSE(full.commit());
    EXPECT_EQ(full.stream(), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error: No space left on device: '/dev/full'\n");
}

// A write that failed in a flush before the commit left only the stream's error flag, and the
// commit called the file written.
TEST(OutputFile, AnEarlierFailedFlushWasCommittedAsWritten) {
    testing::internal::CaptureStderr();
    OutputFile full;
    ASSERT_TRUE(full.open("/dev/full"));
    EXPECT_TRUE(write_text(full, "data"));
    EXPECT_NE(std::fflush(full.stream()), 0);
    EXPECT_FALSE(full.commit());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: Input/output error: '/dev/full'\n");
}

}  // namespace
}  // namespace vellox
