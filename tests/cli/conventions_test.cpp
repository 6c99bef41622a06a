// What users expect of a command-line encoder, through the real executable: pipes and "-" as
// input, closed standard descriptors, links as the output name, plain refusals of inputs that
// are no sound this program reads, and nothing left behind by a killed run.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_support.h"
#include "sources/sndfile_source.h"

namespace vellox::cli {
namespace {

using Names = std::set<std::string>;

std::string le(std::uint64_t value, int count) {
    std::string bytes;
    for (int i = 0; i < count; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

const std::string fmt16 =
    "fmt " + le(16, 4) + le(1, 2) + le(1, 2) + le(22050, 4) + le(44100, 4) + le(2, 2) + le(16, 2);

std::string wav16(const std::string& data) {
    return "RIFF" + le(4 + fmt16.size() + 8 + data.size(), 4) + "WAVE" + fmt16 + "data" +
           le(data.size(), 4) + data;
}

// Writes bytes to descriptor from a thread of its own and closes it; a reader that goes away
// early makes the write fail instead of raising SIGPIPE in the test.
class Feeder {
public:
    Feeder(int descriptor, std::string bytes)
        : thread_([descriptor, data = std::move(bytes)] {
              sigset_t pipe_signal;
              sigemptyset(&pipe_signal);
              sigaddset(&pipe_signal, SIGPIPE);
              pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
              std::size_t done = 0;
              while (done < data.size()) {
                  const ssize_t written = write(descriptor, data.data() + done, data.size() - done);
                  if (written <= 0) break;
                  done += static_cast<std::size_t>(written);
              }
              close(descriptor);
          }) {}
    ~Feeder() { thread_.join(); }
    Feeder(const Feeder&) = delete;
    Feeder& operator=(const Feeder&) = delete;

private:
    std::thread thread_;
};

// Runs the program with bytes on its standard input through a pipe.
RunResult run_with_pipe(const std::vector<std::string>& args, const ScratchFolder& folder,
                        const std::string& bytes, RunOptions options = {},
                        bool non_blocking = false) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return {};
    if (non_blocking) fcntl(ends[0], F_SETFL, O_NONBLOCK);
    options.standard_input = ends[0];
    Child child(args, folder, options);
    close(ends[0]);
    const Feeder feeder(ends[1], bytes);
    return child.wait();
}

// The unnamed files in folder that the process pid holds open.
int unnamed_files_held(pid_t pid, const std::string& folder) {
    int count = 0;
    const std::string descriptors = "/proc/" + std::to_string(pid) + "/fd";
    for (const std::string& descriptor : list_folder(descriptors)) {
        char link[4096];
        const ssize_t length =
            readlink((descriptors + "/" + descriptor).c_str(), link, sizeof link);
        if (length > 0 &&
            std::string(link, static_cast<std::size_t>(length)).rfind(folder + "/#", 0) == 0) {
            ++count;
        }
    }
    return count;
}

// True when files without a name can be made in folder.
bool unnamed_files_possible(const std::string& folder) {
#ifdef O_TMPFILE
    const int descriptor = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (descriptor < 0) return false;
    close(descriptor);
    return true;
#else
    return false;
#endif
}

TEST(Conventions, StandardInputPipesAndDevicesAreReadLikeFiles) {
    ScratchFolder folder;
    ASSERT_EQ(mkdir((folder / "tmp").c_str(), 0700), 0);
    RunOptions options;
    options.environment = {"TMPDIR=" + (folder / "tmp")};
    // More than a pipe holds, so that the copy takes many reads.
    const std::string wav = wav16(raw16(noise(150000, 12000, 5)));
    write_file(folder / "in.wav", wav);
    const RunResult by_name = run_vellox({folder / "in.wav", folder / "ref.acm"}, folder);
    ASSERT_EQ(by_name.exit_code, 0) << by_name.err;
    const std::string reference = read_file(folder / "ref.acm");

    for (const bool non_blocking : {false, true}) {
        const RunResult piped =
            run_with_pipe({"-", folder / "out.acm"}, folder, wav, options, non_blocking);
        ASSERT_EQ(piped.exit_code, 0) << piped.err;
        EXPECT_EQ(piped.out, by_name.out);
        EXPECT_EQ(read_file(folder / "out.acm"), reference);
    }
    // Behind a type word, and from a pipe named by the system.
    const RunResult typed =
        run_with_pipe({"-wav", "/dev/stdin", folder / "out.acm"}, folder, wav, options);
    ASSERT_EQ(typed.exit_code, 0) << typed.err;
    EXPECT_EQ(read_file(folder / "out.acm"), reference);

    // A named pipe: the program waits for its writer.
    ASSERT_EQ(mkfifo((folder / "fifo").c_str(), 0600), 0);
    Child reader({folder / "fifo", folder / "fifo.acm"}, folder, options);
    int writer = -1;  // opened once the program reads the pipe (ENXIO until then)
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (writer < 0 && std::chrono::steady_clock::now() < give_up) {
        writer = open((folder / "fifo").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (writer < 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_GE(writer, 0);
    fcntl(writer, F_SETFL, 0);
    { const Feeder feeder(writer, wav); }
    const RunResult fifo = reader.wait();
    ASSERT_EQ(fifo.exit_code, 0) << fifo.err;
    EXPECT_EQ(read_file(folder / "fifo.acm"), reference);

    // A file on standard input is read in place; a file really named "-" is "./-".
    const int in = open((folder / "in.wav").c_str(), O_RDONLY | O_CLOEXEC);
    options.standard_input = in;
    EXPECT_EQ(run_vellox({"-", folder / "out.acm"}, folder, options).exit_code, 0);
    close(in);
    EXPECT_EQ(read_file(folder / "out.acm"), reference);
    write_file(folder / "-", wav);
    options.working_directory = folder.path();
    options.standard_input = -1;
    EXPECT_EQ(run_vellox({"./-", "dash.acm"}, folder, options).exit_code, 0);
    EXPECT_EQ(read_file(folder / "dash.acm"), reference);

    // /dev/null is an empty input.
    const RunResult null = run_vellox({"/dev/null", folder / "null.acm"}, folder, options);
    ASSERT_EQ(null.exit_code, 0) << null.err;
    EXPECT_NE(null.out.find("Input type: RAW16\t0 samples\n"), std::string::npos);
    EXPECT_EQ(read_file(folder / "null.acm").size(), 14u);
    EXPECT_TRUE(list_folder(folder / "tmp").empty());
}

TEST(Conventions, StandardOutputCarriesOnlyTheAcmData) {
    ScratchFolder folder;
    const std::string wav = wav16(raw16(noise(70000, 12000, 7)));
    write_file(folder / "in.wav", wav);
    const RunResult by_name = run_vellox({folder / "in.wav", folder / "ref.acm"}, folder);
    ASSERT_EQ(by_name.exit_code, 0) << by_name.err;
    const std::string reference = read_file(folder / "ref.acm");

    // "-", and the file standard output is by another name: the data on standard output, every
    // console line on standard error.
    for (const char* name : {"-", "/dev/stdout"}) {
        const RunResult r = run_vellox({folder / "in.wav", name}, folder);
        EXPECT_EQ(r.exit_code, 0) << name;
        EXPECT_EQ(r.out, reference) << name;
        EXPECT_EQ(r.err, by_name.out) << name;
    }
    const RunResult piped = run_with_pipe({"-", "-"}, folder, wav);
    EXPECT_EQ(piped.exit_code, 0);
    EXPECT_EQ(piped.out, reference);
    EXPECT_EQ(piped.err, by_name.out);

    // Range messages and the usage text go the same way.
    const RunResult range = run_vellox({folder / "in.wav", "-", "-l", "20"}, folder);
    EXPECT_EQ(range.exit_code, 2);
    EXPECT_EQ(range.out, "");
    EXPECT_EQ(range.err,
              std::string(banner) + "'levels' parameter (-l) should be between 0 and 15.\n");
    const RunResult usage = run_vellox({"-wav", folder / "in.wav", "-", "-x"}, folder);
    EXPECT_EQ(usage.exit_code, 2);
    EXPECT_EQ(usage.out, "");
    EXPECT_EQ(usage.err.substr(0, std::string(banner).size() + 14),
              std::string(banner) + "Usage: vellox ");

    // A write that fails on standard output is reported with its name, exit 1.
    RunOptions limited;
    limited.file_size_limit = 1000;
    const RunResult full = run_vellox({folder / "in.wav", "-"}, folder, limited);
    EXPECT_EQ(full.exit_code, 1);
    EXPECT_NE(full.err.find("Error: File too large: '-'\n"), std::string::npos) << full.err;
    // Appending the data to the input it reads is refused, also for ACM input (which is
    // re-encoded in place only through a file put in its place at the end), and velloxdec
    // keeps the original of a comparison the same way.
    ASSERT_EQ(run_vellox({folder / "in.wav", folder / "in.acm"}, folder).exit_code, 0);
    const std::string acm = read_file(folder / "in.acm");
    struct Run {
        std::vector<std::string> words;
        std::string kept;  // the file standard output appends to
    };
    const Run runs[] = {
        {{VELLOX_EXECUTABLE, folder / "in.wav", "-"}, folder / "in.wav"},
        {{VELLOX_EXECUTABLE, folder / "in.acm", "-"}, folder / "in.acm"},
        {{VELLOXDEC_EXECUTABLE, folder / "in.acm", "-", "--compare", folder / "in.wav"},
         folder / "in.wav"},
    };
    for (const Run& run : runs) {
        const std::string& kept = run.kept;
        const int appended = open(kept.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        ASSERT_GE(appended, 0);
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(appended, 1);
            const int quiet = open("/dev/null", O_WRONLY);
            dup2(quiet, 2);
            std::vector<char*> argv;
            for (const std::string& word : run.words) {
                argv.push_back(const_cast<char*>(word.c_str()));
            }
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        close(appended);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << run.words[0] << " " << kept;
    }
    EXPECT_EQ(read_file(folder / "in.wav"), wav);
    EXPECT_EQ(read_file(folder / "in.acm"), acm);
}

// Standard input that a command before read part of is converted from where it stands, as a
// pipe would be, not from the start of the file.
TEST(Conventions, PartlyReadStandardInputIsConvertedFromWhereItStands) {
    ScratchFolder folder;
    const std::string raw = raw16(noise(5000, 10000, 9));
    write_file(folder / "in.raw", raw);
    write_file(folder / "rest.raw", raw.substr(100));
    ASSERT_EQ(run_vellox({"-16", folder / "rest.raw", folder / "rest.acm"}, folder).exit_code, 0);
    const std::string command =
        "{ dd of=/dev/null bs=100 count=1 2>/dev/null; '" + std::string(VELLOX_EXECUTABLE) +
        "' -16 - '" + (folder / "out.acm") + "' > /dev/null; } < '" + (folder / "in.raw") + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(read_file(folder / "out.acm"), read_file(folder / "rest.acm"));
}

// A console stream that cannot be written loses the report: the run fails, with the reason
// on standard error when that still works; the output, written completely, is kept.
TEST(Conventions, AConsoleThatCannotBeWrittenFailsTheRun) {
    ScratchFolder folder;
    write_file(folder / "in.wav", wav16(raw16(noise(30000, 12000, 3))));
    ASSERT_EQ(run_vellox({folder / "in.wav", folder / "ref.acm"}, folder).exit_code, 0);
    const std::string reference = read_file(folder / "ref.acm");
    const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full, 0);
    RunOptions no_room;
    no_room.standard_output = full;
    RunOptions decoder = no_room;
    decoder.executable = VELLOXDEC_EXECUTABLE;
    const std::string reason = "Error: No space left on device: 'standard output'\n";

    RunResult r = run_vellox({folder / "in.wav", folder / "out.acm"}, folder, no_room);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, reason);
    EXPECT_EQ(read_file(folder / "out.acm"), reference);
    r = run_vellox({folder / "ref.acm", "--compare", folder / "in.wav"}, folder, decoder);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, reason);
    r = run_vellox({"--help"}, folder, decoder);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, reason);

    // The console on standard error: nothing can tell why.
    RunOptions no_room_for_errors;
    no_room_for_errors.standard_error = full;
    r = run_vellox({folder / "in.wav", "-"}, folder, no_room_for_errors);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, reference);
    close(full);
}

TEST(Conventions, TheCopyOfAPipeLeavesNothingBehind) {
    ScratchFolder folder;
    ASSERT_EQ(mkdir((folder / "tmp").c_str(), 0700), 0);
    if (!unnamed_files_possible(folder / "tmp")) GTEST_SKIP() << "no unnamed files here";
    RunOptions options;
    options.environment = {"TMPDIR=" + (folder / "tmp")};

    // Killed while copying: the copy has no name to leave behind.
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    options.standard_input = ends[0];
    Child child({"-", folder / "out.acm"}, folder, options);
    close(ends[0]);
    const std::string part = raw16(noise(20000, 9000, 3));
    ASSERT_EQ(write(ends[1], part.data(), part.size()), static_cast<ssize_t>(part.size()));
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (unnamed_files_held(child.pid(), folder / "tmp") == 0 &&
           std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(unnamed_files_held(child.pid(), folder / "tmp"), 1);
    kill(child.pid(), SIGKILL);
    EXPECT_EQ(child.wait().signal, SIGKILL);
    close(ends[1]);
    EXPECT_TRUE(list_folder(folder / "tmp").empty());

    // A folder for the copy that does not exist is named in the message.
    options.environment = {"TMPDIR=" + (folder / "none")};
    const RunResult no_folder = run_with_pipe({"-", folder / "out.acm"}, folder, part, options);
    EXPECT_EQ(no_folder.exit_code, 1);
    EXPECT_EQ(no_folder.err, "Error: No such file or directory: '" + (folder / "none") +
                                 "'\nCannot open input file.\n");
    EXPECT_EQ(list_folder(folder.path()), Names{"tmp"});
}

// "vellox a.wav b.acm >&-": the output file must not take the console's place.
TEST(Conventions, ClosedStandardDescriptorsKeepTheConsoleOutOfTheFile) {
    ScratchFolder folder;
    write_file(folder / "in.raw", raw16(sine(30000, 8000, 50)));
    ASSERT_EQ(run_vellox({folder / "in.raw", folder / "ref.acm"}, folder).exit_code, 0);
    const std::string reference = read_file(folder / "ref.acm");
    for (const std::vector<int>& closed : std::vector<std::vector<int>>{{1}, {2}, {0, 1, 2}}) {
        SCOPED_TRACE(closed.size());
        RunOptions options;
        options.closed = closed;
        const RunResult r = run_vellox({folder / "in.raw", folder / "out.acm"}, folder, options);
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(read_file(folder / "out.acm"), reference);
    }
    // A closed standard input is an empty one.
    RunOptions no_input;
    no_input.closed = {0};
    const RunResult empty = run_vellox({"-", folder / "empty.acm"}, folder, no_input);
    EXPECT_EQ(empty.exit_code, 0) << empty.err;
    EXPECT_EQ(read_file(folder / "empty.acm").size(), 14u);
}

// A sound file in another format given by mistake is refused, not turned into loud noise; an
// explicit raw type still reads it as the user asked.
TEST(Conventions, OtherSoundFormatsAreRefused) {
    ScratchFolder folder;
    write_file(folder / "song.flac", "fLaC" + std::string(5000, '\x55'));
    const RunResult flac = run_vellox({folder / "song.flac", folder / "out.acm"}, folder);
    EXPECT_EQ(flac.exit_code, 1);
    EXPECT_EQ(flac.out, banner);
    // libsndfile cannot read it either; a build without it says that it would be needed.
    const std::string reason = SndfileSource::available()
                                   ? "Unsupported sound file format"
                                   : "Reading this format needs libsndfile, which this build lacks";
    EXPECT_EQ(flac.err,
              "Error: " + reason + ": '" + (folder / "song.flac") + "'\nCannot open input file.\n");
    EXPECT_FALSE(file_exists(folder / "out.acm"));
    EXPECT_EQ(run_vellox({"-16", folder / "song.flac", folder / "out.acm"}, folder).exit_code, 0);
}

TEST(Conventions, LongestComputedFiltersWorkAndLongerOnesAreRefused) {
    ScratchFolder folder;
    write_file(folder / "in.raw", raw16(sine(3000, 8000, 40)));
    write_file(folder / "silence.raw", raw16(std::vector<std::int16_t>(3000, 0)));
    for (const auto& [word, longest] : {std::pair<std::string, int>{"-fd", 806}, {"-fo", 402}}) {
        SCOPED_TRACE(word);
        const auto run = [&](const std::string& input, int length) {
            return run_vellox({folder / input, folder / "out.acm", "-l", "3", "-q0", word,
                               std::to_string(length)},
                              folder);
        };
        const RunResult silence = run("silence.raw", longest);
        ASSERT_EQ(silence.exit_code, 0) << silence.err;
        const std::size_t silent_size = read_file(folder / "out.acm").size();
        const RunResult sound = run("in.raw", longest);
        ASSERT_EQ(sound.exit_code, 0) << sound.err;
        EXPECT_EQ(sound.out.find("Warning"), std::string::npos);
        // The sine comes through the bank: far more to code than the silence.
        EXPECT_GT(read_file(folder / "out.acm").size(), silent_size + 1000);

        unlink((folder / "out.acm").c_str());
        const RunResult over = run("in.raw", longest + 1);
        EXPECT_EQ(over.exit_code, 2);
        EXPECT_EQ(over.out, std::string(banner) +
                                "'filter_length' parameter should be between 3 and " +
                                std::to_string(longest) + ".\n");
        EXPECT_FALSE(file_exists(folder / "out.acm"));
    }
}

// As a shell's ">" does, a link that leads nowhere yet gets the file it points to.
TEST(Conventions, DanglingLinksAsTheOutputCreateTheFileTheyName) {
    ScratchFolder folder;
    write_file(folder / "in.raw", raw16(sine(3000, 8000, 50)));
    ASSERT_EQ(run_vellox({folder / "in.raw", folder / "ref.acm"}, folder).exit_code, 0);
    const std::string reference = read_file(folder / "ref.acm");
    ASSERT_EQ(mkdir((folder / "sub").c_str(), 0700), 0);
    ASSERT_EQ(symlink("sub/relative.acm", (folder / "relative").c_str()), 0);
    ASSERT_EQ(symlink((folder / "absolute.acm").c_str(), (folder / "absolute").c_str()), 0);
    ASSERT_EQ(symlink("relative.acm", (folder / "sub/second").c_str()), 0);
    ASSERT_EQ(symlink("sub/second", (folder / "chain").c_str()), 0);
    const std::pair<const char*, const char*> links[] = {{"relative", "sub/relative.acm"},
                                                         {"absolute", "absolute.acm"},
                                                         {"chain", "sub/relative.acm"}};
    for (const auto& [link, file] : links) {
        SCOPED_TRACE(link);
        unlink((folder / file).c_str());
        const RunResult r = run_vellox({folder / "in.raw", folder / link}, folder);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        struct stat status {};
        ASSERT_EQ(lstat((folder / link).c_str(), &status), 0);
        EXPECT_TRUE(S_ISLNK(status.st_mode));
        EXPECT_EQ(read_file(folder / file), reference);
    }

    ASSERT_EQ(symlink("none/x.acm", (folder / "broken").c_str()), 0);
    ASSERT_EQ(symlink("loop", (folder / "loop").c_str()), 0);
    const std::pair<const char*, const char*> refused[] = {
        {"broken", "No such file or directory"}, {"loop", "Too many levels of symbolic links"}};
    for (const auto& [link, text] : refused) {
        const RunResult r = run_vellox({folder / "in.raw", folder / link}, folder);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.err, "Error: " + std::string(text) + ": '" + (folder / link) +
                             "'\nCannot open output file.\n");
    }
    EXPECT_EQ(list_folder(folder.path()), (Names{"absolute", "absolute.acm", "broken", "chain",
                                                 "in.raw", "loop", "ref.acm", "relative", "sub"}));
    EXPECT_EQ(list_folder(folder / "sub"), (Names{"relative.acm", "second"}));
}

// With or without a name for the temporary file, a new target gets the usual mode, a replaced
// one keeps its own, and nothing else is left.
TEST(Conventions, BothWaysOfWritingTheOutputGiveTheSameFile) {
    ScratchFolder folder;
    write_file(folder / "in.raw", raw16(sine(3000, 8000, 50)));
    ASSERT_EQ(run_vellox({folder / "in.raw", folder / "ref.acm"}, folder).exit_code, 0);
    RunOptions named;
    named.executable = VELLOX_ALLOCATION_HOOK_EXECUTABLE;
    named.environment = {"VELLOX_NAMED_TEMPORARY=1"};
    for (const RunOptions& options : {RunOptions{}, named}) {
        SCOPED_TRACE(options.environment.size());
        unlink((folder / "new.acm").c_str());
        write_file(folder / "old.acm", "precious");
        chmod((folder / "old.acm").c_str(), 0604);
        for (const char* name : {"new.acm", "old.acm"}) {
            ASSERT_EQ(run_vellox({folder / "in.raw", folder / name}, folder, options).exit_code, 0);
            EXPECT_EQ(read_file(folder / name), read_file(folder / "ref.acm"));
        }
        struct stat status {};
        ASSERT_EQ(stat((folder / "old.acm").c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, 0604u);
        EXPECT_EQ(list_folder(folder.path()), (Names{"in.raw", "new.acm", "old.acm", "ref.acm"}));
    }
}

// Not even SIGKILL leaves the output's temporary file behind where it has no name.
TEST(Conventions, KilledConversionLeavesNoTemporaryFile) {
    ScratchFolder folder;
    if (!unnamed_files_possible(folder.path())) GTEST_SKIP() << "no unnamed files here";
    write_file(folder / "in.raw", raw16(noise(200000, 20000, 3)));
    ASSERT_EQ(truncate((folder / "in.raw").c_str(), off_t{600} << 20), 0);
    write_file(folder / "out.acm", "precious");
    Child child({"-16", folder / "in.raw", folder / "out.acm", "-l", "15"}, folder);
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (child.output_so_far().find('#') == std::string::npos &&
           std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(unnamed_files_held(child.pid(), folder.path()), 1);
    kill(child.pid(), SIGKILL);
    EXPECT_EQ(child.wait().signal, SIGKILL);
    EXPECT_EQ(read_file(folder / "out.acm"), "precious");
    EXPECT_EQ(list_folder(folder.path()), (Names{"in.raw", "out.acm"}));
}

}  // namespace
}  // namespace vellox::cli
