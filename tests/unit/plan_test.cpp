#include <gtest/gtest.h>

#include "plan.h"
#include "test_support.h"

namespace quorvil {
namespace {

const PathRules windows{PathStyle::windows, NoLeadBytes};
const PathRules posix{PathStyle::posix, NoLeadBytes};

const PathRules windows932{PathStyle::windows, test::Cp932Lead};

std::string Lines(const std::vector<std::string>& lines)
{
    std::string text;
    for (const auto& line : lines)
        text += line + "\n";
    return text;
}

TEST(Plan, ScriptForAFileOnDriveCWithAndWithoutSubdirectory)
{
    EXPECT_EQ(Lines(BuildScriptLines("C:\\clips\\take1.avi", true, windows)),
              "VirtualDub.video.SetMode(0);\n"
              "VirtualDub.Open(\"C:\\\\clips\\\\take1.avi\",0,0);\n"
              "VirtualDub.SaveWAV(\"C:\\\\clips\\\\take1.avi.wav\");\n"
              "VirtualDub.audio.SetSource(0);\n"
              "VirtualDub.SaveCompatibleAVI(\"C:\\\\clips\\\\take1.avi_processed\\\\take1.avi\");\n"
              "VirtualDub.Close();\n");
    EXPECT_EQ(BuildScriptLines("C:\\clips\\take1.avi", false, windows)[4],
              "VirtualDub.SaveCompatibleAVI(\"C:\\\\clips\\\\take1.avi.noaudio.avi\");");
}

TEST(Plan, ToolCommandsForAFileOnDriveCWithAndWithoutSubdirectory)
{
    const auto on = BuildToolCommands("C:\\clips\\take1.avi", "C:\\tools\\", true, windows);
    EXPECT_EQ(on[0], (ToolCommand{"Open", "C:\\tools\\vdub.exe", "/s \"C:\\tools\\temp.vdf\" /min", "",
                                  ShowMode::hidden, true}));
    EXPECT_EQ(on[1], (ToolCommand{"Open", "C:\\tools\\sox.exe",
                                  "\"C:\\clips\\take1.avi.wav\" \"C:\\clips\\take1.avi_processed\\take1.avi.A1.wav\" "
                                  "remix -1",
                                  "", ShowMode::normal, true}));
    // Channel 2 alone: "remix -2" would mix channels 1 to 2.
    EXPECT_EQ(on[2].parameters,
              "\"C:\\clips\\take1.avi.wav\" \"C:\\clips\\take1.avi_processed\\take1.avi.A2.wav\" remix 2");

    const auto off = BuildToolCommands("C:\\clips\\take1.avi", "C:\\tools\\", false, windows);
    EXPECT_EQ(off[2].parameters, "\"C:\\clips\\take1.avi.wav\" \"C:\\clips\\take1.avi.A2.wav\" remix 2");
    EXPECT_EQ(off[0], on[0]);
}

TEST(Plan, PosixStyle)
{
    EXPECT_EQ(Lines(BuildScriptLines("/home/ann/take 1.avi", true, posix)),
              "VirtualDub.video.SetMode(0);\n"
              "VirtualDub.Open(\"/home/ann/take 1.avi\",0,0);\n"
              "VirtualDub.SaveWAV(\"/home/ann/take 1.avi.wav\");\n"
              "VirtualDub.audio.SetSource(0);\n"
              "VirtualDub.SaveCompatibleAVI(\"/home/ann/take 1.avi_processed/take 1.avi\");\n"
              "VirtualDub.Close();\n");
    const auto commands = BuildToolCommands("/home/ann/take 1.avi", "/opt/quorvil/", false, posix);
    EXPECT_EQ(commands[0].programFile, "/opt/quorvil/vdub");
    EXPECT_EQ(commands[0].parameters, "/s \"/opt/quorvil/temp.vdf\" /min");
    EXPECT_EQ(commands[1].programFile, "/opt/quorvil/sox");
    EXPECT_EQ(commands[1].parameters, "\"/home/ann/take 1.avi.wav\" \"/home/ann/take 1.avi.A1.wav\" remix -1");
}

struct NameRow {
    const char* path;
    PathRules rules;
    const char* name;
    const char* sub;
    const char* video; // SUBDIR on
};

TEST(Plan, NamesAndOutputs)
{
    const NameRow rows[] = {
        {"C:\\clips\\take1.avi", windows, "take1.avi", "C:\\clips\\take1.avi_processed",
         "C:\\clips\\take1.avi_processed\\take1.avi"},
        {"\\\\server\\share\\a.avi", windows, "a.avi", "\\\\server\\share\\a.avi_processed",
         "\\\\server\\share\\a.avi_processed\\a.avi"},
        {"take1.avi", windows, "take1.avi", "take1.avi_processed", "take1.avi_processed\\take1.avi"},
        {"D:clip.mpg", windows, "clip.mpg", "D:clip.mpg_processed", "D:clip.mpg_processed\\clip.mpg"},
        {"C:\\a b\\clip.mov", windows, "clip.mov", "C:\\a b\\clip.mov_processed",
         "C:\\a b\\clip.mov_processed\\clip.mov"},
        {"/v/c:d\\e.avi", posix, "c:d\\e.avi", "/v/c:d\\e.avi_processed", "/v/c:d\\e.avi_processed/c:d\\e.avi"},
        {"clip", posix, "clip", "clip_processed", "clip_processed/clip"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(FileNamePart(row.path, row.rules), row.name);
        EXPECT_EQ(OutputDirectory(row.path), row.sub);
        const auto on = OutputFilesFor(row.path, true, row.rules);
        EXPECT_EQ(on.video, row.video);
        EXPECT_EQ(on.left, std::string(row.video) + ".A1.wav");
        EXPECT_EQ(on.right, std::string(row.video) + ".A2.wav");
        const auto off = OutputFilesFor(row.path, false, row.rules);
        EXPECT_EQ(off.video, std::string(row.path) + ".noaudio.avi");
        EXPECT_EQ(off.right, std::string(row.path) + ".A2.wav");
    }
}

TEST(Plan, NetworkShareIsEscapedFromItsFirstBackslash)
{
    EXPECT_EQ(BuildScriptLines("\\\\server\\share\\a.avi", true, windows)[1],
              "VirtualDub.Open(\"\\\\\\\\server\\\\share\\\\a.avi\",0,0);");
}

TEST(Plan, DirectoryPart)
{
    EXPECT_EQ(DirectoryPart("C:\\tools\\quorvil.exe", windows), "C:\\tools\\");
    EXPECT_EQ(DirectoryPart("C:quorvil.exe", windows), "C:");
    EXPECT_EQ(DirectoryPart("/opt/quorvil/quorvil", posix), "/opt/quorvil/");
}

TEST(Plan, EscapeScriptPath)
{
    const struct {
        std::string in;
        std::string out;
    } rows[] = {
        {"C:\\a\\b.avi", "C:\\\\a\\\\b.avi"},
        {"\\\\", "\\\\\\\\"},
        {"", ""},
        {"/x/it's \"q\".avi", "/x/it's \\\"q\\\".avi"},
        {"a\nb\rc\td", "a\\nb\\rc\\td"},
        {std::string("a\x01z\x7f", 4), "a\\x01z\\x7F"},
        {"caf\xc3\xa9.avi", "caf\xc3\xa9.avi"}, // UTF-8 passes through
        {"\");VirtualDub.Close();//", "\\\");VirtualDub.Close();//"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(EscapeScriptPath(row.in), row.out) << row.in;
}

TEST(Plan, DoubleByteTrailBackslashIsNeitherSeparatorNorDoubled)
{
    // 0x95 0x5C is one character in code page 932 (its second byte is "\").
    const std::string dbcs = "\x95\x5C";
    const std::string path = "C:\\" + dbcs + "\\" + dbcs + ".avi";
    EXPECT_EQ(EscapeScriptPath(path, test::Cp932Lead), "C:\\\\" + dbcs + "\\\\" + dbcs + ".avi");
    EXPECT_EQ(FileNamePart(path, windows932), dbcs + ".avi");
    EXPECT_EQ(BuildScriptLines(path, true, windows932)[4], "VirtualDub.SaveCompatibleAVI(\"C:\\\\" + dbcs + "\\\\" +
                                                               dbcs + ".avi_processed\\\\" + dbcs + ".avi\");");
    // Without the code page both trail bytes would be taken for separators.
    EXPECT_EQ(FileNamePart(path, windows), ".avi");
    // A lead byte at the very end has no trail byte to protect.
    EXPECT_EQ(EscapeScriptPath("a\x95", test::Cp932Lead), "a\x95");
}

TEST(Plan, FilesToDelete)
{
    EXPECT_EQ(ListFilesToDelete("C:\\clips\\take1.avi", "C:\\tools\\", false),
              (std::vector<std::string>{"C:\\clips\\take1.avi.wav", "C:\\tools\\temp.vdf"}));
    EXPECT_EQ(ListFilesToDelete("C:\\clips\\take1.avi", "C:\\tools\\", true),
              (std::vector<std::string>{"C:\\clips\\take1.avi.wav", "C:\\tools\\temp.vdf", "C:\\clips\\take1.avi"}));
}

TEST(Plan, EachJobSlotWritesReadsAndDeletesAScriptOfItsOwnAndTheFirstKeepsTempVdf)
{
    // The name the script is written under, the one the video tool is told and the one deleted
    // must agree, or a slot's tool reads another slot's script.
    const struct {
        PathRules rules;
        const char* dir;
        int slot;
        const char* script;
    } rows[] = {
        {windows, "C:\\tools\\", 0, "C:\\tools\\temp.vdf"},
        {windows, "C:\\tools\\", 1, "C:\\tools\\temp2.vdf"},
        {windows, "C:\\tools\\", 9, "C:\\tools\\temp10.vdf"},
        {posix, "/run/user/1000/quorvil-a1B2c3/", 0, "/run/user/1000/quorvil-a1B2c3/temp.vdf"},
        {posix, "/run/user/1000/quorvil-a1B2c3/", 2, "/run/user/1000/quorvil-a1B2c3/temp3.vdf"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.script);
        const bool onWindows = row.rules.style == PathStyle::windows;
        const std::string path = onWindows ? "C:\\clips\\a.avi" : "/clips/a.avi";
        const std::string tools = onWindows ? "C:\\tools\\" : "/opt/quorvil/";
        EXPECT_EQ(ScriptFile(row.dir, row.slot), row.script);
        EXPECT_EQ(BuildToolCommands(path, tools, true, row.rules, row.dir, row.slot)[0].parameters,
                  "/s \"" + std::string(row.script) + "\" /min");
        EXPECT_EQ(ListFilesToDelete(path, row.dir, false, row.slot),
                  (std::vector<std::string>{path + ".wav", row.script}));
    }
}

} // namespace
} // namespace quorvil
