#include <chrono>
#include <cstdlib>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "command_line.h"
#include "split_command.h"
#include "test_support.h"

namespace quorvil {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;
namespace fs = std::filesystem;

struct Result {
    int code;
    std::string out;
    std::string err;
};

// Runs quorvil-split from a folder of its own that holds the fake tools, as a user would.
class SplitCommandTest : public ::testing::Test {
protected:
    SplitCommandTest() : logEnv_("FAKE_TOOL_LOG", clips / "tools.log")
    {
        fs::copy_file(QUORVIL_SPLIT, app / "quorvil-split");
        test::InstallFakeTools(app);
    }

    Result Split(const std::string& arguments)
    {
        const std::string command = "cd " + QuoteArgument(clips.path().string()) + " && " +
                                    QuoteArgument(app / "quorvil-split") + " " + arguments + " >" +
                                    QuoteArgument(clips / "out") + " 2>" + QuoteArgument(clips / "err");
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(clips / "out"), ReadFile(clips / "err")};
    }

    TempDir app;
    TempDir clips;

private:
    test::ScopedEnv logEnv_;
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

TEST_F(SplitCommandTest, FailuresGiveExitCodeOneAndTheList)
{
    WriteFile(clips / "a.avi", test::AviBytes(1));
    WriteFile(clips / "b.avi", test::AviBytes(2));
    const Result r = Split("--no-subdir --delete missing.avi a.avi b.avi");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "[1/3] not converted " + (clips / "missing.avi") + ": vdub ended with exit code 1\n" +
                         "[2/3] converted " + (clips / "a.avi") + "\n[3/3] converted " + (clips / "b.avi") +
                         "; source kept because it has 2 audio streams; only the first is in the outputs\n");
    EXPECT_EQ(r.err,
              "1 file was not converted, and its source file was not deleted:\n" + (clips / "missing.avi") +
                  ": vdub ended with exit code 1\n\n1 file was converted, but its source file was not deleted:\n" +
                  (clips / "b.avi") + ": it has 2 audio streams; only the first is in the outputs\n");
    EXPECT_TRUE(fs::exists(clips / "a.avi.noaudio.avi"));
    EXPECT_FALSE(fs::exists(clips / "a.avi"));
    EXPECT_TRUE(fs::exists(clips / "b.avi"));

    // Only sources kept, every file converted: said, but not a failure.
    EXPECT_EQ(Split("--no-subdir --delete b.avi").code, 0);
}

TEST_F(SplitCommandTest, ASignalEndsTheToolCleansUpAndKeepsTheSource)
{
    WriteFile(clips / "a.avi", test::AviBytes(1));
    const test::ScopedEnv slow("FAKE_SLEEP_MS", "20000");
    const std::string command = "cd " + QuoteArgument(clips.path().string()) + " && (" +
                                QuoteArgument(app / "quorvil-split") + " --delete a.avi 2>err & pid=$!; sleep 0.5; " +
                                "kill -TERM $pid; wait $pid; echo $? >code)";
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(ReadFile(clips / "code"), "143\n");
    EXPECT_EQ(ReadFile(clips / "err"), "1 file was not converted, and its source file was not deleted:\n" +
                                           (clips / "a.avi") +
                                           ": the run was interrupted\n\nquorvil-split was interrupted by signal 15\n");
    EXPECT_TRUE(fs::exists(clips / "a.avi"));
    EXPECT_FALSE(fs::exists(clips / "a.avi_processed"));
    EXPECT_FALSE(fs::exists(clips / "a.avi.wav"));
}

TEST_F(SplitCommandTest, AStoppedRunGivesExitCodeOne)
{
    WriteFile(clips / "a.avi", test::AviBytes(1));
    fs::create_directory(clips / "a.avi_processed");
    const Result r = Split("a.avi");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "I/O error 183\n");
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
        {"--version", 0, "quorvil-split 1.5\n", ""},
    };
    for (const auto& row : rows) {
        const Result r = Split(row.arguments);
        EXPECT_EQ(r.code, row.code) << row.arguments;
        EXPECT_TRUE(r.out.starts_with(row.outStart)) << r.out;
        EXPECT_TRUE(r.err.starts_with(row.errStart)) << r.err;
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
