#include <random>

#include <gtest/gtest.h>

#include "plan.h"
#include "script.h"

namespace vdub {
namespace {

TEST(VdubScript, ReadsWhatThePlanWrites)
{
    const quorvil::PathRules posix{quorvil::PathStyle::posix, quorvil::NoLeadBytes};
    const auto jobs =
        ParseScript(quorvil::ScriptFileBytes(quorvil::BuildScriptLines("/clips/take 1.avi", true, posix)), "temp.vdf");
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].source, "/clips/take 1.avi");
    EXPECT_EQ(jobs[0].wav, "/clips/take 1.avi.wav");
    EXPECT_EQ(jobs[0].avi, "/clips/take 1.avi_processed/take 1.avi");
    EXPECT_FALSE(jobs[0].aviWithAudio);
    EXPECT_EQ(jobs[0].line, 2);
}

TEST(VdubScript, ReadsBackAnyFileName)
{
    const quorvil::PathRules posix{quorvil::PathStyle::posix, quorvil::NoLeadBytes};
    std::mt19937 random(7);
    std::uniform_int_distribution<int> byte(1, 255);
    for (int round = 0; round < 2000; ++round) {
        std::string name = "/d/";
        for (int n = std::uniform_int_distribution<int>(1, 16)(random); n > 0; --n) {
            const char c = static_cast<char>(byte(random));
            name += c == '/' ? 'x' : c;
        }
        const auto jobs =
            ParseScript(quorvil::ScriptFileBytes(quorvil::BuildScriptLines(name, round % 2 == 0, posix)), "s");
        ASSERT_EQ(jobs.size(), 1u);
        ASSERT_EQ(jobs[0].source, name);
        ASSERT_EQ(jobs[0].wav, name + ".wav");
    }
}

TEST(VdubScript, LineEndsCommentsAndSpacing)
{
    const auto jobs = ParseScript("// made by hand\n"
                                  "\n"
                                  "  VirtualDub.Open( \"a.avi\" ) ;  // the source\n"
                                  "VirtualDub.audio.SetSource(1);\r\n"
                                  "VirtualDub.SaveCompatibleAVI(\"b.avi\");\n"
                                  "VirtualDub.SaveWAV(\"c\\x41\\t.wav\");", // no line end at all
                                  "s");
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].source, "a.avi");
    EXPECT_EQ(jobs[0].avi, "b.avi");
    EXPECT_TRUE(jobs[0].aviWithAudio);
    EXPECT_EQ(jobs[0].wav, "cA\t.wav");
}

TEST(VdubScript, SavesAreGroupedByOpenedFile)
{
    const auto jobs =
        ParseScript("VirtualDub.Open(\"a\");\nVirtualDub.SaveWAV(\"a.wav\");\nVirtualDub.SaveWAV(\"b.wav\");\n"
                    "VirtualDub.Close();\nVirtualDub.Open(\"c\",0,0);\nVirtualDub.Open(\"d\");\n"
                    "VirtualDub.SaveCompatibleAVI(\"d.avi\");\n",
                    "s");
    ASSERT_EQ(jobs.size(), 3u);
    EXPECT_EQ(jobs[0].wav, "a.wav");
    EXPECT_EQ(jobs[1].source, "a");
    EXPECT_EQ(jobs[1].wav, "b.wav");
    EXPECT_EQ(jobs[2].source, "d"); // c asked for nothing
    EXPECT_EQ(jobs[2].avi, "d.avi");
}

TEST(VdubScript, ErrorsNameTheLine)
{
    const struct {
        const char* script;
        const char* error;
    } rows[] = {
        {"VirtualDub.video.SetMode(0);\nVirtualDub.Crash();",
         "temp.vdf:2: unknown statement VirtualDub.Crash or wrong arguments"},
        {"VirtualDub.video.SetMode(1);", "temp.vdf:1: only direct stream copy, SetMode(0), is supported"},
        {"VirtualDub.SaveWAV(\"x\");", "temp.vdf:1: no file is open"},
        {"VirtualDub.Open(\"a.avi);", "temp.vdf:1: unterminated string"},
        {"VirtualDub.Open(\"a\\q\");", "temp.vdf:1: unknown escape in string"},
        {"VirtualDub.Open(\"a\\x4\");", "temp.vdf:1: \\x needs two hex digits"},
        {"VirtualDub.Open(\"a\")", "temp.vdf:1: expected ';'"},
        {"VirtualDub.Open(\"a\"); x", "temp.vdf:1: unexpected text after the statement"},
        {"VirtualDub.Open(a);", "temp.vdf:1: expected a string or a number"},
        {"VirtualDub.Open(\"\");", "temp.vdf:1: empty file name"},
        {"VirtualDub.Open(\"a\",0);", "temp.vdf:1: unknown statement VirtualDub.Open or wrong arguments"},
        {"VirtualDub.audio.SetSource(2);", "temp.vdf:1: the audio source is 0 (none) or 1 (the file's own)"},
        {"\n\n();", "temp.vdf:3: expected a statement"},
    };
    for (const auto& row : rows) {
        try {
            (void)ParseScript(row.script, "temp.vdf");
            ADD_FAILURE() << "accepted: " << row.script;
        } catch (const Failure& failure) {
            EXPECT_STREQ(failure.what(), row.error);
        }
    }
}

} // namespace
} // namespace vdub
