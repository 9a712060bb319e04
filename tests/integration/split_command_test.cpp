#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>
#include <sys/wait.h>
#include <system_error>
#include <tuple>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "command_line.h"
#include "split_command.h"
#include "test_support.h"

extern char** environ;

namespace quorvil {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;
namespace fs = std::filesystem;

// Whether a process of ours runs the program file at path: a tool left running shows here.
bool ProgramRunning(const std::string& path)
{
    const fs::path program = fs::canonical(path);
    for (const auto& process : fs::directory_iterator("/proc")) {
        std::error_code gone; // a process may end while it is looked at
        if (fs::read_symlink(process.path() / "exe", gone) == program)
            return true;
    }
    return false;
}

struct Result {
    int code;
    std::string out;
    std::string err;
};

// Runs quorvil-split from a folder of its own that holds the fake tools, as a user would.
class SplitCommandTest : public ::testing::Test {
protected:
    SplitCommandTest()
        : logEnv_("FAKE_TOOL_LOG", clips / "tools.log"), stateEnv_("XDG_STATE_HOME", state.path().string()),
          runtimeEnv_("XDG_RUNTIME_DIR", runtime.path().string())
    {
        fs::copy_file(QUORVIL_SPLIT, app / "quorvil-split");
        test::InstallFakeTools(app);
    }

    // `under`: a program that runs it, such as a tracer.
    Result Split(const std::string& arguments, const std::string& under = "")
    {
        const std::string command = "cd " + QuoteArgument(clips.path().string()) + " && " + under + " " +
                                    QuoteArgument(app / "quorvil-split") + " " + arguments + " >" +
                                    QuoteArgument(clips / "out") + " 2>" + QuoteArgument(clips / "err");
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(clips / "out"), ReadFile(clips / "err")};
    }

    TempDir app;
    TempDir clips;
    TempDir state;   // the user's state folder: the runs' entry records
    TempDir runtime; // where the runs make their private script folders

private:
    test::ScopedEnv logEnv_;
    test::ScopedEnv stateEnv_;
    test::ScopedEnv runtimeEnv_;
};

TEST_F(SplitCommandTest, ConvertsRelativePathsWithItsOwnTools)
{
    WriteFile(clips / "a.avi", test::AviBytes(1));
    WriteFile(clips / "b.avi", test::AviBytes(1));
    const Result r = Split("--delete a.avi b.avi");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "[1/2] converted " + (clips / "a.avi") + "\n[2/2] converted " + (clips / "b.avi") + "\n");
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(fs::exists(clips / "a.avi_processed/a.avi.A1.wav"));
    EXPECT_FALSE(fs::exists(clips / "a.avi"));
    EXPECT_FALSE(fs::exists(app / "temp.vdf"));
}

TEST_F(SplitCommandTest, EveryOutputAndItsFolderIsOnDiskBeforeTheSourceLeavesItsName)
{
    // A power loss just after the source goes must not take outputs that were still in memory with
    // it: each output, its folder and the source's folder are flushed first, as the system calls show.
    if (std::system("strace -V >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "strace is missing";
    WriteFile(clips / "a.avi", test::AviBytes(1));
    const std::string trace = state / "trace";
    const Result r = Split("--delete a.avi", "strace -f -qq -y -o " + QuoteArgument(trace) +
                                                 " -e trace=fsync,fdatasync,rename,renameat,renameat2,unlink,unlinkat");
    ASSERT_EQ(r.code, 0) << r.err;
    ASSERT_FALSE(fs::exists(clips / "a.avi"));

    const std::string folder = fs::canonical(clips.path()).string();
    const std::string source = "\"" + folder + "/a.avi\"";
    std::set<std::string> flushed; // before the call that takes the source's name away
    std::string taken;
    std::istringstream lines(ReadFile(trace));
    for (std::string line; taken.empty() && std::getline(lines, line);) {
        const bool namesChange = line.find(" rename") != std::string::npos || line.find(" unlink") != std::string::npos;
        if (namesChange && line.find(source) != std::string::npos) {
            taken = line;
        } else if (line.find("sync(") != std::string::npos) { // PID fsync(5</path>) = 0
            const auto path = line.find('<');
            flushed.insert(line.substr(path + 1, line.find('>', path) - path - 1));
        }
    }
    ASSERT_FALSE(taken.empty()) << "the source never left its name";
    for (const std::string name : {"", "/a.avi_processed", "/a.avi_processed/a.avi", "/a.avi_processed/a.avi.A1.wav",
                                   "/a.avi_processed/a.avi.A2.wav"})
        EXPECT_TRUE(flushed.contains(folder + name)) << folder + name << " was not flushed before " << taken;
}

TEST_F(SplitCommandTest, FailuresGiveExitCodeOneAndTheList)
{
    WriteFile(clips / "a.avi", test::AviBytes(1));
    WriteFile(clips / "b.avi", test::AviBytes(2));
    const Result r = Split("--no-subdir --delete missing.avi a.avi b.avi");
    EXPECT_EQ(r.code, 1);
    const std::string missing = ": the file is missing";
    EXPECT_EQ(r.out, "[1/3] not converted " + (clips / "missing.avi") + missing + "\n" + "[2/3] converted " +
                         (clips / "a.avi") + "\n[3/3] converted " + (clips / "b.avi") +
                         "; source kept because it has 2 audio streams; only the first is in the outputs\n");
    EXPECT_EQ(r.err, "1 file was not converted:\n" + (clips / "missing.avi") + missing +
                         "\n\n1 file was converted, but its source file was not deleted:\n" + (clips / "b.avi") +
                         ": it has 2 audio streams; only the first is in the outputs\n");
    EXPECT_TRUE(fs::exists(clips / "a.avi.noaudio.avi"));
    EXPECT_FALSE(fs::exists(clips / "a.avi"));
    EXPECT_TRUE(fs::exists(clips / "b.avi"));

    // Every file converted, only sources kept: told apart from both a failure and a clean run.
    EXPECT_EQ(Split("--no-subdir --delete b.avi").code, 3);

    // A tool's own words are said once, in the list, not also as the tool wrote them.
    const test::ScopedEnv fail("FAKE_FAIL", "right");
    EXPECT_EQ(Split("--no-subdir b.avi").err, "1 file was not converted:\n" + (clips / "b.avi") +
                                                  ": sox for the right channel ended with exit code 1 (fake right: "
                                                  "failing as asked)\n");
}

TEST_F(SplitCommandTest, ASourceTakenAwayDuringItsConversionIsNotSaidToBeKept)
{
    WriteFile(clips / "a.avi", test::AviBytes(1));
    const test::ScopedEnv take("FAKE_TAKE_SOURCE", "1");
    const Result r = Split("--no-subdir --delete a.avi");
    const std::string reason =
        "the source file was removed or moved by someone else during its conversion; the outputs are kept";
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.out, "[1/1] converted " + (clips / "a.avi") + "; " + reason + "\n");
    EXPECT_EQ(r.err, "1 file was converted, but its source file was not deleted:\n" + (clips / "a.avi") + ": " +
                         reason + "\n");
    EXPECT_TRUE(fs::exists(clips / "a.avi.moved"));
    EXPECT_TRUE(fs::exists(clips / "a.avi.A2.wav"));
}

TEST_F(SplitCommandTest, AnOutputFolderSwappedForALinkDuringItsConversionKeepsTheSourceAndGetsNoMoreOutputs)
{
    WriteFile(clips / "a.avi", test::AviBytes(1));
    fs::create_directory(clips / "elsewhere");
    const test::ScopedEnv swap("FAKE_SWAP_FOLDER", clips / "elsewhere");
    const Result r = Split("--delete a.avi");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("was moved or replaced during its conversion"), std::string::npos) << r.out;
    EXPECT_TRUE(fs::exists(clips / "a.avi"));
    EXPECT_TRUE(fs::is_empty(clips / "elsewhere")); // the right channel's tool was never started
}

TEST_F(SplitCommandTest, ASignalEndsTheToolCleansUpKeepsTheSourceAndARerunConverts)
{
    const struct {
        const char* signal;
        int number;
    } rows[] = {{"TERM", 15}, {"INT", 2}, {"HUP", 1}}; // HUP: the terminal was closed
    for (const auto& row : rows) {
        SCOPED_TRACE(row.signal);
        WriteFile(clips / "a.avi", test::AviBytes(1));
        fs::remove(clips / "tools.log");
        {
            const test::ScopedEnv slow("FAKE_SLEEP_MS", "20000");
            // The signal comes once the video tool runs (it logs its run as it starts), or after 10 s.
            const std::string command = "cd " + QuoteArgument(clips.path().string()) + " && (" +
                                        QuoteArgument(app / "quorvil-split") + " --delete a.avi >out 2>err & pid=$!; " +
                                        "n=0; while [ ! -s tools.log ] && [ $n -lt 1000 ]; do sleep 0.01; " +
                                        "n=$((n + 1)); done; kill -" + row.signal + " $pid; wait $pid; echo $? >code)";
            ASSERT_EQ(std::system(command.c_str()), 0);
        }
        EXPECT_EQ(ReadFile(clips / "code"), std::to_string(128 + row.number) + "\n");
        EXPECT_EQ(ReadFile(clips / "out"), "[1/1] not converted " + (clips / "a.avi") + ": the run was interrupted\n");
        EXPECT_EQ(ReadFile(clips / "err"), "1 file was not converted; its source file was kept:\n" + (clips / "a.avi") +
                                               ": the run was interrupted\n\nquorvil-split was interrupted by signal " +
                                               std::to_string(row.number) + "\n");
        EXPECT_FALSE(ProgramRunning(app / "vdub"));
        EXPECT_TRUE(fs::exists(clips / "a.avi"));
        EXPECT_FALSE(fs::exists(clips / "a.avi_processed"));
        EXPECT_FALSE(fs::exists(clips / "a.avi.wav"));

        const Result rerun = Split("a.avi");
        EXPECT_EQ(rerun.code, 0) << rerun.err;
        EXPECT_TRUE(fs::exists(clips / "a.avi_processed/a.avi.A2.wav"));
        fs::remove_all(clips / "a.avi_processed");
    }
}

TEST_F(SplitCommandTest, KilledOutrightItTakesItsToolWithItAndARerunConverts)
{
    WriteFile(clips / "a.avi", test::AviBytes(1));
    {
        const test::ScopedEnv slow("FAKE_SLEEP_MS", "20000");
        const std::string command = "cd " + QuoteArgument(clips.path().string()) + " && (" +
                                    QuoteArgument(app / "quorvil-split") + " --no-subdir a.avi 2>err & pid=$!; " +
                                    "n=0; while [ ! -s tools.log ] && [ $n -lt 1000 ]; do sleep 0.01; " +
                                    "n=$((n + 1)); done; kill -KILL $pid; wait $pid; echo $? >code)";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }
    ASSERT_EQ(ReadFile(clips / "code"), "137\n");
    // The tool would sleep for 20 s and then write the soundtrack, which a rerun will not overwrite.
    EXPECT_TRUE(test::WaitUntil([&] { return !ProgramRunning(app / "vdub"); }, std::chrono::seconds(10)))
        << "the video tool runs on without quorvil-split";
    EXPECT_FALSE(fs::exists(clips / "a.avi.wav"));

    const Result rerun = Split("--no-subdir a.avi");
    EXPECT_EQ(rerun.code, 0) << rerun.err;
    EXPECT_TRUE(fs::exists(clips / "a.avi.A2.wav"));
}

TEST_F(SplitCommandTest, KilledOutrightAsTheAudioToolRunsARerunTakesBackWhatItLeftAndConverts)
{
    const struct {
        const char* options;
        std::vector<std::string> names;
    } rows[] = {{"", {"a"}}, {"--jobs 2", {"a", "b"}}}; // with two jobs, a record for each running file
    for (const auto& row : rows) {
        SCOPED_TRACE(row.options);
        std::string files;
        std::set<std::string> expected{"code", "err", "out", "tools.log"};
        for (const std::string& name : row.names) {
            WriteFile(clips / (name + ".avi"), test::AviBytes(1));
            files += " " + name + ".avi";
            for (const char* made : {".avi", ".avi_processed", ".avi_processed/@.avi", ".avi_processed/@.avi.A1.wav",
                                     ".avi_processed/@.avi.A2.wav"}) {
                std::string path = name + made;
                if (const auto at = path.find('@'); at != std::string::npos)
                    path.replace(at, 1, name);
                expected.insert(path);
            }
        }
        {
            // The left channel's tools sleep; the run is killed once each has started.
            const test::ScopedEnv slow("FAKE_SLEEP_MS", "20000");
            const test::ScopedEnv which("FAKE_SLOW", "A1.wav");
            const std::string command = "cd " + QuoteArgument(clips.path().string()) + " && (" +
                                        QuoteArgument(app / "quorvil-split") + " " + row.options + files +
                                        " 2>err & pid=$!; n=0; " +
                                        "while [ \"$(grep -a -o A1.wav tools.log 2>/dev/null | wc -l)\" -lt " +
                                        std::to_string(row.names.size()) + " ] && [ $n -lt 1000 ]; do " +
                                        "sleep 0.01; n=$((n + 1)); done; kill -KILL $pid; wait $pid; echo $? >code)";
            ASSERT_EQ(std::system(command.c_str()), 0);
        }
        ASSERT_EQ(ReadFile(clips / "code"), "137\n");
        EXPECT_TRUE(test::WaitUntil([&] { return !ProgramRunning(app / "sox"); }, std::chrono::seconds(10)));
        // What the killed run had made: the folders with the videos, the soundtracks, its script folders,
        // the entries' records, each job's record of its script folder and the lock that told it ran.
        for (const std::string& name : row.names) {
            EXPECT_TRUE(fs::exists(clips / (name + ".avi_processed/" + name + ".avi")));
            EXPECT_TRUE(fs::exists(clips / (name + ".avi.wav")));
        }
        EXPECT_FALSE(fs::is_empty(runtime.path()));
        EXPECT_EQ(std::distance(fs::directory_iterator(state.path() / "quorvil"), fs::directory_iterator()),
                  static_cast<std::ptrdiff_t>(2 * row.names.size() + 1));

        const Result rerun = Split(files);
        EXPECT_EQ(rerun.code, 0) << rerun.err;
        std::set<std::string> left;
        for (const auto& entry : fs::recursive_directory_iterator(clips.path()))
            left.insert(fs::relative(entry.path(), clips.path()).string());
        EXPECT_EQ(left, expected);
        EXPECT_EQ(ReadFile(clips / "a.avi_processed/a.avi"), "RIFF video");
        EXPECT_TRUE(fs::is_empty(runtime.path()));
        EXPECT_EQ(test::RecordsLeftOpen(state / "quorvil/"), 0); // the converted entries' are over
        for (const std::string& path : left)
            fs::remove_all(clips / path);
    }
}

TEST_F(SplitCommandTest, AReaderThatWentAwayStopsNothingAndTheExitCodeStillTells)
{
    WriteFile(clips / "a.avi", test::AviBytes(1));
    WriteFile(clips / "b.avi", test::AviBytes(1));
    // Standard output is a pipe whose reader has gone: the first line already fails.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    const int err = ::open((clips / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
    posix_spawn_file_actions_addchdir_np(&actions, clips.path().c_str());
    const std::string program = app / "quorvil-split";
    std::vector<std::string> arguments = {program, "--no-subdir", "a.avi", "missing.avi", "b.avi"};
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    ASSERT_EQ(::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    ::close(err);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);

    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 1); // a file was not converted
    EXPECT_TRUE(fs::exists(clips / "a.avi.A2.wav"));
    EXPECT_TRUE(fs::exists(clips / "b.avi.A2.wav"));
    EXPECT_EQ(ReadFile(clips / "err"),
              "1 file was not converted:\n" + (clips / "missing.avi") + ": the file is missing\n" +
                  "quorvil-split: 3 lines could not be written to standard output: " + std::strerror(EPIPE) + "\n");
}

TEST_F(SplitCommandTest, AStoppedRunNamesTheFileAndTheFolderItStoppedAtAndGivesExitCodeOne)
{
    // The window says "I/O error 183." or "File access denied." alone; a command line names the folder.
    const struct {
        std::string b; // the file the run stops at
        std::string reason;
    } rows[] = {
        {clips / "b.avi", "it exists already (I/O error 183)"}, // a second run over it
        {clips / "locked/b.avi", "File access denied"},         // in a folder nobody may add to
    };
    fs::create_directory(clips / "b.avi_processed");
    fs::create_directory(clips / "locked");
    WriteFile(clips / "locked/b.avi", test::AviBytes(1));
    // Immutable for root, whom permission bits do not stop: the trailing "/" makes it the folder itself.
    ASSERT_TRUE(test::MakeUndeletable(clips / "locked/"));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.b);
        for (const char* name : {"a.avi", "b.avi", "c.avi"})
            WriteFile(clips / name, test::AviBytes(1));
        fs::remove_all(clips / "a.avi_processed");
        const Result r = Split("a.avi " + QuoteArgument(row.b) + " c.avi");
        const std::string said = row.b + ": cannot create the output folder " + row.b + "_processed: " + row.reason;
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.out, "[1/3] converted " + (clips / "a.avi") + "\n[2/3] not converted " + said + "\n");
        EXPECT_EQ(r.err, "1 file was not converted:\n" + said + "\n\nThe run stopped at " + row.b +
                             "; the rest of the queue, 1 file, was not converted\n");
    }
    test::MakeDeletable(clips / "locked/");
}

TEST_F(SplitCommandTest, Usage)
{
    const struct {
        const char* arguments;
        int code;
        const char* outStart;
        const char* errStart;
    } rows[] = {
        {"", 2, "", "Usage: quorvil-split"},
        {"--bogus a.avi", 2, "", "quorvil-split: unknown option --bogus"},
        {"--help", 0, "Usage: quorvil-split", ""},
        {"-h", 0, "Usage: quorvil-split", ""},
        {"--version", 0, "quorvil-split " QUORVIL_VERSION "\n", ""},
        {"--jobs 0 a.avi", 2, "", "quorvil-split: the number of jobs must be a whole number from 1 up, not \"0\""},
        {"--jobs x a.avi", 2, "", "quorvil-split: the number of jobs must be a whole number from 1 up, not \"x\""},
        {"-j 2x a.avi", 2, "", "quorvil-split: the number of jobs must be a whole number from 1 up, not \"2x\""},
        {"--jobs=-1 a.avi", 2, "", "quorvil-split: the number of jobs must be a whole number from 1 up, not \"-1\""},
        {"-j99999999999 a.avi", 2, "", "quorvil-split: the number of jobs must be a whole number from 1 up"},
        {"a.avi --jobs", 2, "", "quorvil-split: --jobs needs a number\nUsage: quorvil-split"},
        {"-j", 2, "", "quorvil-split: -j needs a number\nUsage: quorvil-split"},
        // The value is taken, whichever way it is written, and the option after it still counts.
        {"--jobs 2 --help", 0, "Usage: quorvil-split", ""},
        {"-j 3 --version", 0, "quorvil-split " QUORVIL_VERSION "\n", ""},
        {"--jobs=4 --help", 0, "Usage: quorvil-split", ""},
        {"-j5 --help", 0, "Usage: quorvil-split", ""},
    };
    for (const auto& row : rows) {
        const Result r = Split(row.arguments);
        EXPECT_EQ(r.code, row.code) << row.arguments;
        EXPECT_TRUE(r.out.starts_with(row.outStart)) << r.out;
        EXPECT_TRUE(r.err.starts_with(row.errStart)) << r.err;
    }
}

TEST_F(SplitCommandTest, OneJobAndThreeGiveTheSameOutputsLinesAndExitCode)
{
    // The first file fails, and slowly (the fake video tool fails on an empty source): with three at
    // once the files after it end first.
    const test::ScopedEnv slow("FAKE_SLEEP_MS", "300");
    const test::ScopedEnv onlyLate("FAKE_SLOW", "late.avi");
    const auto run = [&](const std::string& jobs) {
        for (const auto& file : fs::directory_iterator(clips.path()))
            fs::remove_all(file.path());
        WriteFile(clips / "late.avi", "");
        WriteFile(clips / "a.avi", test::AviBytes(1));
        WriteFile(clips / "two.avi", test::AviBytes(2));
        WriteFile(clips / "mine.avi", test::AviBytes(1));
        WriteFile(clips / "mine.avi.wav", "the user's own");
        WriteFile(clips / "b.avi", test::AviBytes(1));
        const Result r = Split(jobs + " --delete late.avi a.avi two.avi mine.avi gone.avi b.avi");
        std::set<std::string> files; // what the folder holds afterwards, with each file's size
        for (const auto& file : fs::recursive_directory_iterator(clips.path())) {
            const std::string name = fs::relative(file.path(), clips.path()).string();
            if (name != "out" && name != "err" && name != "tools.log")
                files.insert(name + (file.is_regular_file() ? " " + std::to_string(file.file_size()) : "/"));
        }
        return std::tuple{r.code, r.out, r.err, files};
    };
    const auto one = run("-j 1");
    EXPECT_EQ(run("--jobs 3"), one);

    const auto& [code, out, err, files] = one;
    const std::string late = clips / "late.avi";
    const std::string mine = clips / "mine.avi";
    const std::string two = clips / "two.avi";
    const std::string gone = clips / "gone.avi";
    EXPECT_EQ(code, 1);
    EXPECT_EQ(out, "[1/6] not converted " + late + ": vdub ended with exit code 1\n[2/6] converted " +
                       (clips / "a.avi") + "\n[3/6] converted " + two +
                       "; source kept because it has 2 audio streams; only the first is in the outputs\n" +
                       "[4/6] not converted " + mine + ": " + mine + ".wav exists; Quorvil will not overwrite it\n" +
                       "[5/6] not converted " + gone + ": the file is missing\n[6/6] converted " + (clips / "b.avi") +
                       "\n");
    EXPECT_EQ(err, "2 files were not converted; their source files were kept:\n" + late +
                       ": vdub ended with exit code 1\n" + mine + ": " + mine +
                       ".wav exists; Quorvil will not overwrite it\n\n1 file was not converted:\n" + gone +
                       ": the file is missing\n\n"
                       "1 file was converted, but its source file was not deleted:\n" +
                       two + ": it has 2 audio streams; only the first is in the outputs\n");
    const auto size = [](const std::string& bytes) { return " " + std::to_string(bytes.size()); };
    EXPECT_TRUE(files.contains("a.avi_processed/a.avi.A2.wav" + size(test::WavBytes(1, 4))))
        << testing::PrintToString(files);
    EXPECT_FALSE(files.contains("a.avi" + size(test::AviBytes(1))));
    EXPECT_TRUE(files.contains("two.avi" + size(test::AviBytes(2))));
    EXPECT_TRUE(files.contains("mine.avi.wav 14"));
    EXPECT_FALSE(files.contains("late.avi_processed/"));
}

TEST_F(SplitCommandTest, ASignalDuringTwoJobsEndsBothToolsAndKeepsBothSources)
{
    WriteFile(clips / "a.avi", test::AviBytes(1));
    WriteFile(clips / "b.avi", test::AviBytes(1));
    const test::ScopedEnv slow("FAKE_SLEEP_MS", "20000");
    // The signal comes once both video tools run (each logs its run as it starts), or after 10 s.
    const std::string command =
        "cd " + QuoteArgument(clips.path().string()) + " && (" + QuoteArgument(app / "quorvil-split") +
        " -j 2 --delete a.avi b.avi >out 2>err & pid=$!; n=0; " +
        "while [ \"$(cat tools.log 2>/dev/null | tr -cd '\\036' | wc -c)\" -lt 2 ] && " +
        "[ $n -lt 1000 ]; do sleep 0.01; n=$((n + 1)); done; " + "kill -TERM $pid; wait $pid; echo $? >code)";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const auto runs = test::ReadToolLog(clips / "tools.log");
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].tool, "vdub");
    EXPECT_EQ(runs[1].tool, "vdub");
    EXPECT_EQ(ReadFile(clips / "code"), "143\n");
    EXPECT_EQ(ReadFile(clips / "out"), "[1/2] not converted " + (clips / "a.avi") + ": the run was interrupted\n" +
                                           "[2/2] not converted " + (clips / "b.avi") + ": the run was interrupted\n");
    EXPECT_EQ(ReadFile(clips / "err"), "2 files were not converted; their source files were kept:\n" +
                                           (clips / "a.avi") + ": the run was interrupted\n" + (clips / "b.avi") +
                                           ": the run was interrupted\n\nquorvil-split was interrupted by signal 15\n");
    EXPECT_FALSE(ProgramRunning(app / "vdub"));
    for (const std::string name : {"a.avi", "b.avi"}) {
        EXPECT_TRUE(fs::exists(clips / name));
        EXPECT_FALSE(fs::exists(clips / (name + "_processed")));
        EXPECT_FALSE(fs::exists(clips / (name + ".wav")));
    }
}

TEST_F(SplitCommandTest, OptionLikeFileNamesAfterDoubleDash)
{
    WriteFile(clips / "--delete", "RIFF d");
    const Result r = Split("--no-subdir -- --delete");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(fs::exists(clips / "--delete"));
    EXPECT_TRUE(fs::exists(clips / "--delete.A2.wav"));
}

} // namespace
} // namespace quorvil
