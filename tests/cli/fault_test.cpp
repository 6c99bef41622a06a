// Faults met through the real executable: interrupted runs, memory that cannot be had, every
// checked allocation failing in turn, and hostile or extreme inputs. Each case checks the exit
// status, the message, and that no file was lost or left half-written.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_support.h"
#include "sources/resampler.h"
#include "sources/sndfile_source.h"

namespace vellox::cli {
namespace {

// RLIMIT_AS cannot work under AddressSanitizer, which reserves terabytes of shadow memory.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool address_sanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool address_sanitizer = true;
#else
constexpr bool address_sanitizer = false;
#endif
#else
constexpr bool address_sanitizer = false;
#endif

using Names = std::set<std::string>;

const std::string precious = "precious";  // what an existing target holds before a run

// A RIFF/WAVE file with one "fmt " chunk for integer PCM and a "data" chunk.
std::string wav(int bits, const std::string& data) {
    const auto u16 = [](unsigned v) { return std::string{char(v & 0xFF), char(v >> 8 & 0xFF)}; };
    const auto u32 = [&](std::uint32_t v) { return u16(v & 0xFFFF) + u16(v >> 16); };
    const unsigned block_align = static_cast<unsigned>(bits / 8);
    const std::string fmt = u16(1) + u16(1) + u32(8000) + u32(8000 * block_align) +
                            u16(block_align) + u16(static_cast<unsigned>(bits));
    const std::string body =
        "WAVEfmt " + u32(16) + fmt + "data" + u32(static_cast<std::uint32_t>(data.size())) + data;
    return "RIFF" + u32(static_cast<std::uint32_t>(body.size())) + body;
}

// A file of size bytes that takes no room: false when the file system cannot hold it.
bool make_sparse_file(const std::string& path, std::int64_t size) {
    write_file(path, "");
    return truncate(path.c_str(), static_cast<off_t>(size)) == 0;
}

// The names in folder of the temporary files made for the target name.
Names temporary_files(const ScratchFolder& folder, const std::string& target) {
    Names found;
    for (const std::string& name : list_folder(folder.path())) {
        if (name.rfind("." + target + ".", 0) == 0) found.insert(name);
    }
    return found;
}

// Paths that read the temporary files the child writes for target in folder: the named ones,
// and the unnamed ones through its descriptors (they show as "<folder>/#<inode> (deleted)").
std::vector<std::string> files_being_written(const Child& child, const ScratchFolder& folder,
                                             const std::string& target) {
    std::vector<std::string> paths;
    for (const std::string& name : temporary_files(folder, target)) paths.push_back(folder / name);
    const std::string descriptors = "/proc/" + std::to_string(child.pid()) + "/fd";
    for (const std::string& descriptor : list_folder(descriptors)) {
        char link[4096];
        const ssize_t length =
            readlink((descriptors + "/" + descriptor).c_str(), link, sizeof link);
        if (length > 0 &&
            std::string(link, static_cast<std::size_t>(length)).rfind(folder.path() + "/#", 0) ==
                0) {
            paths.push_back(descriptors + "/" + descriptor);
        }
    }
    return paths;
}

// The ways the output's temporary file is made: without a name where the system allows (the
// real executable here), and with one (the test build, told so).
struct TemporaryWay {
    const char* label;
    RunOptions options;
};

std::vector<TemporaryWay> temporary_ways() {
    RunOptions named;
    named.executable = VELLOX_ALLOCATION_HOOK_EXECUTABLE;
    named.environment = {"VELLOX_NAMED_TEMPORARY=1"};
    return {{"unnamed", RunOptions{}}, {"named", named}};
}

// ---- the output ----

TEST(FaultTest, OutputFolderThatIsNotWritableIsReportedAndLeftAlone) {
    ScratchFolder folder;
    const std::optional<RunOptions> as_user = unprivileged(folder);
    if (!as_user) GTEST_SKIP() << "the user nobody cannot run the program here";
    write_file(folder / "in.raw", raw16(sine(3000, 8000, 50)));
    ASSERT_EQ(mkdir((folder / "locked").c_str(), 0700), 0);
    write_file(folder / "locked/out.acm", precious);
    chmod((folder / "locked").c_str(), 0500);
    const RunResult r =
        run_vellox({folder / "in.raw", folder / "locked/out.acm"}, folder, *as_user);
    chmod((folder / "locked").c_str(), 0700);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "Error: Permission denied: '" + (folder / "locked/out.acm") +
                         "'\nCannot open output file.\n");
    EXPECT_EQ(read_file(folder / "locked/out.acm"), precious);
    EXPECT_EQ(list_folder(folder / "locked"), Names{"out.acm"});
}

// The rename would let anyone replace a file they may not write, in a folder they may.
TEST(FaultTest, ReadOnlyTargetIsNotReplaced) {
    ScratchFolder folder;
    const std::optional<RunOptions> as_user = unprivileged(folder);
    if (!as_user) GTEST_SKIP() << "the user nobody cannot run the program here";
    write_file(folder / "in.raw", raw16(sine(3000, 8000, 50)));
    write_file(folder / "out.acm", precious);
    chmod((folder / "out.acm").c_str(), 0444);
    const RunResult r = run_vellox({folder / "in.raw", folder / "out.acm"}, folder, *as_user);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "Error: Permission denied: '" + (folder / "out.acm") +
                         "'\nCannot open output file.\n");
    EXPECT_EQ(read_file(folder / "out.acm"), precious);
    EXPECT_EQ(list_folder(folder.path()), (Names{"in.raw", "out.acm"}));
}

TEST(FaultTest, ReplacedTargetKeepsItsOwner) {
    if (geteuid() != 0) GTEST_SKIP() << "only root may give a file away";
    ScratchFolder folder;
    write_file(folder / "in.raw", raw16(sine(3000, 8000, 50)));
    write_file(folder / "out.acm", precious);
    ASSERT_EQ(chown((folder / "out.acm").c_str(), 65534, 65534), 0);
    chmod((folder / "out.acm").c_str(), 0620);
    const RunResult r = run_vellox({folder / "in.raw", folder / "out.acm"}, folder);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    struct stat status {};
    ASSERT_EQ(stat((folder / "out.acm").c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, 65534u);
    EXPECT_EQ(status.st_gid, 65534u);
    EXPECT_EQ(status.st_mode & 07777, 0620u);
    EXPECT_NE(read_file(folder / "out.acm"), precious);
}

// The temporary file's name is longer than the target's.
TEST(FaultTest, TargetWithTheLongestNameIsWritten) {
    ScratchFolder folder;
    write_file(folder / "in.raw", raw16(sine(3000, 8000, 50)));
    const std::string name = std::string(251, 'n') + ".acm";  // 255 bytes, the most there is
    write_file(folder / name, precious);
    const RunResult r = run_vellox({folder / "in.raw", folder / name}, folder);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(read_file(folder / name), precious);
    EXPECT_EQ(list_folder(folder.path()), (Names{"in.raw", name}));
}

TEST(FaultTest, FifoTargetIsWrittenInPlace) {
    ScratchFolder folder;
    write_file(folder / "in.raw", raw16(sine(3000, 8000, 50)));
    ASSERT_EQ(run_vellox({folder / "in.raw", folder / "file.acm"}, folder).exit_code, 0);
    ASSERT_EQ(mkfifo((folder / "fifo").c_str(), 0600), 0);
    // The reader is there before the writer opens, and the pipe holds the whole file.
    const int reader = open((folder / "fifo").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const RunResult r = run_vellox({folder / "in.raw", folder / "fifo"}, folder);
    std::string piped;
    char buffer[4096];
    for (ssize_t got; (got = read(reader, buffer, sizeof buffer)) > 0;) {
        piped.append(buffer, static_cast<std::size_t>(got));
    }
    close(reader);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(piped, read_file(folder / "file.acm"));
    struct stat status {};
    ASSERT_EQ(lstat((folder / "fifo").c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
    EXPECT_EQ(list_folder(folder.path()), (Names{"fifo", "file.acm", "in.raw"}));
}

// The process dies of the signal after its clean-up, so that "for f in *.wav; do vellox ...;
// done" stops at the first Ctrl-C.
TEST(FaultTest, SignalsRemoveTheTemporaryFileAndKeepTheTarget) {
    ScratchFolder folder;
    // Noise, then silence up to about 300 million samples: at 15 levels that takes far
    // longer than the test waits.
    write_file(folder / "in.raw", raw16(noise(200000, 20000, 3)));
    ASSERT_TRUE(make_sparse_file(folder / "in.raw", std::int64_t{600} << 20));
    for (const TemporaryWay& way : temporary_ways()) {
        for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
            SCOPED_TRACE(std::string(way.label) + " " + std::to_string(signal_number));
            write_file(folder / "out.acm", precious);
            Child child({"-16", folder / "in.raw", folder / "out.acm", "-l", "15"}, folder,
                        way.options);
            const Reaper reaper(child);
            ASSERT_TRUE(wait_for_output(child, "#"));
            EXPECT_EQ(files_being_written(child, folder, "out.acm").size(), 1u);
            kill(child.pid(), signal_number);
            const RunResult r = child.wait();
            EXPECT_EQ(r.signal, signal_number);
            EXPECT_EQ(r.err, "");
            EXPECT_EQ(read_file(folder / "out.acm"), precious);
            EXPECT_EQ(list_folder(folder.path()), (Names{"in.raw", "out.acm"}));
        }
    }
}

// "vellox ... | head -n 2": the reader of the console output goes away while the output file
// is being written.
TEST(FaultTest, ClosedConsolePipeLeavesNoTemporaryFile) {
    ScratchFolder folder;
    write_file(folder / "in.raw", raw16(noise(400000, 20000, 13)));
    for (const TemporaryWay& way : temporary_ways()) {
        SCOPED_TRACE(way.label);
        write_file(folder / "out.acm", precious);
        const pid_t pid = fork();
        if (pid == 0) {
            int ends[2];
            if (pipe(ends) != 0) _exit(126);
            close(ends[0]);
            dup2(ends[1], 1);
            for (const std::string& setting : way.options.environment) {
                putenv(const_cast<char*>(setting.c_str()));
            }
            const std::string& executable = way.options.executable;
            const std::string in = folder / "in.raw";
            const std::string out = folder / "out.acm";
            execl(executable.c_str(), executable.c_str(), "-16", in.c_str(), out.c_str(), nullptr);
            _exit(127);
        }
        ASSERT_GT(pid, 0);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGPIPE) << status;
        EXPECT_EQ(read_file(folder / "out.acm"), precious);
        EXPECT_EQ(list_folder(folder.path()), (Names{"in.raw", "out.acm"}));
    }
}

// "nohup" ignores SIGHUP; the conversion must not undo that and die of a hang-up, nor remove
// its temporary file.
TEST(FaultTest, IgnoredSignalsStayIgnored) {
    ScratchFolder folder;
    ASSERT_TRUE(make_sparse_file(folder / "in.raw", std::int64_t{600} << 20));
    for (const TemporaryWay& way : temporary_ways()) {
        SCOPED_TRACE(way.label);
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        struct sigaction previous {};
        sigaction(SIGHUP, &ignore, &previous);  // inherited by the child
        Child child({"-16", folder / "in.raw", folder / "out.acm", "-l", "15"}, folder,
                    way.options);
        const Reaper reaper(child);
        sigaction(SIGHUP, &previous, nullptr);
        ASSERT_TRUE(wait_for_output(child, "#"));
        kill(child.pid(), SIGHUP);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        siginfo_t info{};
        EXPECT_EQ(waitid(P_PID, static_cast<id_t>(child.pid()), &info, WEXITED | WNOHANG | WNOWAIT),
                  0);
        EXPECT_EQ(info.si_pid, 0);  // still converting
        EXPECT_EQ(files_being_written(child, folder, "out.acm").size(), 1u);
        kill(child.pid(), SIGTERM);
        EXPECT_EQ(child.wait().signal, SIGTERM);
        EXPECT_EQ(list_folder(folder.path()), Names{"in.raw"});
    }
}

// ---- memory ----

TEST(FaultTest, AddressSpaceLimitIsReportedCleanly) {
    if (address_sanitizer) GTEST_SKIP() << "RLIMIT_AS does not work under AddressSanitizer";
    ScratchFolder folder;
    write_file(folder / "in.raw", raw16(noise(20000, 20000, 5)));
    write_file(folder / "out.acm", precious);
    // A block of 4095 rows by 32768 columns: the packer's copy and the driver's buffer take
    // 268 MB each.
    const std::vector<std::string> huge_block = {
        folder / "in.raw", folder / "out.acm", "-l", "15", "-s", "4095"};
    RunOptions limited;
    limited.address_space_limit = rlim_t{128} << 20;
    const RunResult packer = run_vellox(huge_block, folder, limited);
    EXPECT_EQ(packer.exit_code, 1);
    EXPECT_EQ(packer.err, "Error: Cannot create packer\n");
    limited.address_space_limit = rlim_t{400} << 20;
    const RunResult buffers = run_vellox(huge_block, folder, limited);
    EXPECT_EQ(buffers.exit_code, 1);
    EXPECT_EQ(buffers.err, "Error: Cannot allocate memory\n");

    // An ACM header asking for such a block: 536 MB of decoded values.
    write_file(folder / "huge.acm", std::string("\x97\x28\x03\x01\x10\x00\x00\x00\x02\x00\x22\x56"
                                                "\xFF\xFF",
                                                14) +
                                        std::string(100, '\x55'));
    limited.address_space_limit = rlim_t{128} << 20;
    for (const std::string type : {"", "-acm"}) {
        std::vector<std::string> args = {folder / "huge.acm", folder / "out.acm"};
        if (!type.empty()) args.insert(args.begin(), type);
        const RunResult acm = run_vellox(args, folder, limited);
        EXPECT_EQ(acm.exit_code, 1);
        EXPECT_EQ(acm.err, "Error: Cannot allocate memory\nCannot open input file.\n");
    }
    EXPECT_EQ(read_file(folder / "out.acm"), precious);
    EXPECT_EQ(list_folder(folder.path()), (Names{"huge.acm", "in.raw", "out.acm"}));
}

// What a run prints when allocation number k fails, in the order the allocations come.
const std::vector<std::string> allocation_messages = {
    "Error: Cannot allocate memory\nCannot open input file.\n",  // the source
    "Error: Cannot create coder\n",                              // the filter bank
    "Error: Cannot create packer\n",                             // the packer and its writer
    "Error: Cannot allocate memory\n",                           // the driver's buffers
};

TEST(FaultTest, EveryAllocationFailureIsReportedAndLosesNothing) {
    ScratchFolder folder;
    write_file(folder / "in.raw", raw16(sine(5000, 8000, 50)));
    std::string samples24;
    for (std::int16_t s : noise(3000, 20000, 11)) samples24 += '\x7F' + raw16({s});
    write_file(folder / "in.wav", wav(24, samples24));
    write_file(folder / "taps.txt", "3 1 2 5\n");
    // An AU file for libsndfile: 16-bit big-endian stereo samples at 16000 Hz.
    std::string au = std::string(".snd\0\0\0\x18\0\0\x13\x88\0\0\0\x03\0\0\x3E\x80\0\0\0\x02", 24);
    for (std::int16_t s : noise(2500, 20000, 13)) au += raw16({s}).substr(1, 1) + raw16({s})[0];
    write_file(folder / "in.au", au);
    ASSERT_EQ(
        run_vellox({folder / "in.raw", folder / "in.acm", "-l", "4", "-s", "8"}, folder).exit_code,
        0);

    std::vector<std::vector<std::string>> runs = {
        {folder / "in.raw", folder / "out.acm"},
        {"-16", folder / "in.raw", folder / "out.acm", "-q0"},
        {folder / "in.wav", folder / "out.acm", "-l", "3"},
        {folder / "in.acm", folder / "out.acm", "-s", "100"},
        {folder / "in.raw", folder / "out.acm", "-fc", folder / "taps.txt", "-l", "2"},
        {folder / "in.wav", folder / "out.acm", "--downmix"},
    };
    if (SndfileSource::available()) runs.push_back({folder / "in.au", folder / "out.acm"});
    if (Resampler::available()) {
        runs.push_back({folder / "in.au", folder / "out.acm", "--resample", "8000", "--downmix"});
    }
    for (const TemporaryWay& way : temporary_ways()) {
        for (const std::vector<std::string>& args : runs) {
            SCOPED_TRACE(std::string(way.label) + " " + args[0] + " " + args[1]);
            std::size_t stage = 0;  // index in allocation_messages reached so far
            int k = 1;
            for (;; ++k) {
                SCOPED_TRACE(k);
                write_file(folder / "out.acm", precious);
                RunOptions options = way.options;
                options.executable = VELLOX_ALLOCATION_HOOK_EXECUTABLE;
                // LeakSanitizer (in the sanitizer build) checks every failing run for leaks.
                options.environment.push_back("VELLOX_FAIL_ALLOCATION=" + std::to_string(k));
                options.environment.push_back(
                    "ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1");
                const RunResult r = run_vellox(args, folder, options);
                if (r.exit_code == 0) break;
                // Messages come in the order of the allocations: never one of an earlier stage.
                std::size_t found = stage;
                while (found < allocation_messages.size() && allocation_messages[found] != r.err) {
                    ++found;
                }
                const bool as_expected =
                    r.exit_code == 1 && r.out == banner && found < allocation_messages.size() &&
                    read_file(folder / "out.acm") == precious &&
                    list_folder(folder.path()) ==
                        Names{"in.acm", "in.au", "in.raw", "in.wav", "out.acm", "taps.txt"};
                if (!as_expected || k == 100) {
                    ADD_FAILURE() << "exit " << r.exit_code << ", signal " << r.signal
                                  << ", stderr:\n"
                                  << r.err;
                    break;
                }
                stage = found;
            }
            EXPECT_GT(k, 10);  // every input has a source, a bank, a packer and three buffers
            EXPECT_EQ(stage, allocation_messages.size() - 1);
            EXPECT_NE(read_file(folder / "out.acm"), precious);
        }
    }
}

// ---- hostile and extreme inputs ----

TEST(FaultTest, InputsThatCannotBeReadAreReported) {
    ScratchFolder folder;
    ASSERT_EQ(mkdir((folder / "dir").c_str(), 0700), 0);
    write_file(folder / "empty", "");
    const std::string no_input = "Cannot open input file.\n";

    const std::string is_a_directory = "Error: Is a directory: '" + (folder / "dir") + "'\n";
    EXPECT_EQ(run_vellox({folder / "dir", folder / "out.acm"}, folder).err,
              is_a_directory + no_input);
    const RunResult dir = run_vellox({"-16", folder / "dir", folder / "out.acm"}, folder);
    EXPECT_EQ(dir.exit_code, 1);
    EXPECT_EQ(dir.err, is_a_directory + no_input);

    const RunResult empty_wav = run_vellox({"-wav", folder / "empty", folder / "out.acm"}, folder);
    EXPECT_EQ(empty_wav.exit_code, 1);
    EXPECT_EQ(empty_wav.err, "Error: Not a WAV file: '" + (folder / "empty") + "'\n" + no_input);
    const RunResult empty_acm = run_vellox({"-acm", folder / "empty", folder / "out.acm"}, folder);
    EXPECT_EQ(empty_acm.exit_code, 1);
    EXPECT_EQ(empty_acm.err, "Error: Not an ACM file: '" + (folder / "empty") + "'\n" + no_input);
    EXPECT_EQ(list_folder(folder.path()), (Names{"dir", "empty"}));
}

TEST(FaultTest, UnreadableInputIsReported) {
    ScratchFolder folder;
    const std::optional<RunOptions> as_user = unprivileged(folder);
    if (!as_user) GTEST_SKIP() << "the user nobody cannot run the program here";
    const std::string no_input = "Cannot open input file.\n";
    write_file(folder / "locked.raw", raw16({1, 2, 3}));
    chmod((folder / "locked.raw").c_str(), 0);
    const std::string denied = "Error: Permission denied: '" + (folder / "locked.raw") + "'\n";
    const RunResult locked =
        run_vellox({"-16", folder / "locked.raw", folder / "out.acm"}, folder, *as_user);
    EXPECT_EQ(locked.exit_code, 1);
    EXPECT_EQ(locked.err, denied + no_input);
    EXPECT_EQ(run_vellox({folder / "locked.raw", folder / "out.acm"}, folder, *as_user).err,
              denied + no_input);
    EXPECT_EQ(list_folder(folder.path()), Names{"locked.raw"});
}

TEST(FaultTest, InputsOfMoreThan2To31MinusOneSamplesAreRefused) {
    ScratchFolder folder;
    write_file(folder / "out.acm", precious);
    if (!make_sparse_file(folder / "big.raw", std::int64_t{1} << 32) ||
        !make_sparse_file(folder / "huge.raw", std::int64_t{5} << 30)) {
        GTEST_SKIP() << "no sparse files here";
    }
    const auto too_long = [&](const std::string& name) {
        return "Error: Input file is too long: '" + (folder / name) +
               "'\nCannot open input file.\n";
    };
    // 2^32 bytes: 2^31 samples of 16 bits, one too many.
    const RunResult big = run_vellox({"-16", folder / "big.raw", folder / "out.acm"}, folder);
    EXPECT_EQ(big.exit_code, 1);
    EXPECT_EQ(big.out, banner);
    EXPECT_EQ(big.err, too_long("big.raw"));
    const RunResult detected = run_vellox({folder / "huge.raw", folder / "out.acm"}, folder);
    EXPECT_EQ(detected.exit_code, 1);
    EXPECT_EQ(detected.err, too_long("huge.raw"));
    ASSERT_EQ(truncate((folder / "big.raw").c_str(), off_t{1} << 31), 0);
    const RunResult bytes = run_vellox({"-8", folder / "big.raw", folder / "out.acm"}, folder);
    EXPECT_EQ(bytes.exit_code, 1);
    EXPECT_EQ(bytes.err, too_long("big.raw"));
    EXPECT_EQ(read_file(folder / "out.acm"), precious);
    EXPECT_EQ(list_folder(folder.path()), (Names{"big.raw", "huge.raw", "out.acm"}));
}

// Every line a failed or partial run may print on standard error for a damaged input.
bool sane_errors(const std::string& err, const std::string& name) {
    std::set<std::string> allowed = {
        "Cannot open input file.",
        "Error: Not a WAV file: '" + name + "'",
        "Error: Unsupported WAV format: '" + name + "'",
        "Error: Not an ACM file: '" + name + "'",
        "Error: Unsupported sound file format: '" + name + "'",
    };
    std::size_t start = 0;
    while (start < err.size()) {
        const std::size_t end = err.find('\n', start);
        if (end == std::string::npos) return false;
        if (allowed.count(err.substr(start, end - start)) == 0 &&
            err.compare(start, 9, "Warning: ") != 0 && err.compare(start, 6, "Note: ") != 0) {
            return false;
        }
        start = end + 1;
    }
    return true;
}

TEST(FaultTest, TruncatedWavAndAcmFilesNeverCrash) {
    ScratchFolder folder;
    write_file(folder / "in.raw", raw16(noise(300, 20000, 9)));
    ASSERT_EQ(
        run_vellox({folder / "in.raw", folder / "whole.acm", "-l", "2", "-s", "16", "-q0"}, folder)
            .exit_code,
        0);
    const std::vector<std::pair<std::string, std::string>> files = {
        {"-wav", wav(16, raw16(noise(30, 20000, 4)))},
        {"-acm", read_file(folder / "whole.acm").substr(0, 90)},
    };
    const std::string cut = folder / "cut";
    for (const auto& [type, whole] : files) {
        for (std::size_t length = 0; length <= whole.size(); ++length) {
            write_file(cut, whole.substr(0, length));
            for (const std::string& word : {std::string("-auto"), type}) {
                SCOPED_TRACE(word + " " + std::to_string(length));
                std::vector<std::string> args = {cut, folder / "out.acm", "-l", "1"};
                if (word != "-auto") args.insert(args.begin(), word);
                const RunResult r = run_vellox(args, folder);
                EXPECT_EQ(r.signal, 0);
                EXPECT_TRUE(r.exit_code == 0 || r.exit_code == 1) << r.exit_code;
                EXPECT_TRUE(sane_errors(r.err, cut)) << r.err;
                EXPECT_EQ(file_exists(folder / "out.acm"), r.exit_code == 0);
                if (r.exit_code == 0) {
                    EXPECT_NE(r.out.find("Output file size: "), std::string::npos);
                    unlink((folder / "out.acm").c_str());
                }
                if (::testing::Test::HasFailure()) return;
            }
        }
    }
}

// The largest input: a silent raw file of 2^31 - 1 samples. Converting it takes 20 s at the
// fastest settings (reading 4 GiB is most of it) and over a minute with the defaults, so here
// it only starts: the count is accepted and reported, and the header being written says it.
TEST(FaultTest, LargestInputIsAcceptedAndCountedRight) {
    ScratchFolder folder;
    if (!make_sparse_file(folder / "max.raw", std::int64_t{0xFFFFFFFE})) {
        GTEST_SKIP() << "no sparse files here";
    }
    Child child({"-16", folder / "max.raw", folder / "out.acm", "-l", "0", "-s", "4095"}, folder);
    const Reaper reaper(child);
    ASSERT_TRUE(wait_for_output(child, "#"));
    // The header leaves the stdio buffer with the first full buffer of blocks.
    std::string header;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (header.size() < 14 && std::chrono::steady_clock::now() < give_up) {
        for (const std::string& path : files_being_written(child, folder, "out.acm")) {
            header = read_file(path).substr(0, 14);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(child.pid(), SIGTERM);
    const RunResult r = child.wait();
    EXPECT_EQ(r.signal, SIGTERM);
    EXPECT_EQ(r.out.substr(0, r.out.find('#')),
              std::string(banner) + "Input type: RAW16\t2147483647 samples\n");
    ASSERT_EQ(header.size(), 14u);
    EXPECT_EQ(header.substr(4, 4), std::string("\xFF\xFF\xFF\x7F", 4));
    EXPECT_EQ(list_folder(folder.path()), Names{"max.raw"});
}

// The whole conversion of the largest input, with the settings given in VELLOX_LONG_TESTS
// (for instance "-l 0 -s 4095", or "default" for none): too long to run unasked.
TEST(FaultTest, LargestInputConvertsWhole) {
    const char* settings = std::getenv("VELLOX_LONG_TESTS");
    if (settings == nullptr) GTEST_SKIP() << "set VELLOX_LONG_TESTS to run it";
    ScratchFolder folder;
    ASSERT_TRUE(make_sparse_file(folder / "max.raw", std::int64_t{0xFFFFFFFE}));
    std::vector<std::string> args = {"-16", folder / "max.raw", folder / "out.acm"};
    std::istringstream words(settings);
    for (std::string word; words >> word;) {
        if (word != "default") args.push_back(word);
    }
    const RunResult r = run_vellox(args, folder);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string acm = read_file(folder / "out.acm");
    ASSERT_GE(acm.size(), 14u);
    EXPECT_EQ(acm.substr(4, 4), std::string("\xFF\xFF\xFF\x7F", 4));
    EXPECT_NE(r.out.find("Input type: RAW16\t2147483647 samples\n"), std::string::npos);
    EXPECT_NE(r.out.find("#\nOutput file size: " + std::to_string(acm.size()) + "\n"),
              std::string::npos);
    EXPECT_EQ(r.out.find("Something went wrong"), std::string::npos);
}

TEST(FaultTest, ReencodingAnAcmFileInPlaceLosesNothing) {
    ScratchFolder folder;
    write_file(folder / "in.raw", raw16(noise(40000, 12000, 21)));
    ASSERT_EQ(run_vellox({folder / "in.raw", folder / "same.acm", "-q0"}, folder).exit_code, 0);
    const std::string original = read_file(folder / "same.acm");
    write_file(folder / "copy.acm", original);
    chmod((folder / "same.acm").c_str(), 0604);

    ASSERT_EQ(run_vellox({folder / "copy.acm", folder / "other.acm", "-l", "3"}, folder).exit_code,
              0);
    const RunResult r = run_vellox({folder / "same.acm", folder / "same.acm", "-l", "3"}, folder);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("Input type: ACM\t40000 samples\n"), std::string::npos);
    EXPECT_EQ(read_file(folder / "same.acm"), read_file(folder / "other.acm"));
    EXPECT_NE(read_file(folder / "same.acm"), original);
    struct stat status {};
    ASSERT_EQ(stat((folder / "same.acm").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0604u);
    EXPECT_EQ(list_folder(folder.path()), (Names{"copy.acm", "in.raw", "other.acm", "same.acm"}));
}

}  // namespace
}  // namespace vellox::cli
