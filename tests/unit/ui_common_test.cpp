#include <gtest/gtest.h>

#include "error_text.h"
#include "layout.h"
#include "message_cut.h"
#include "quit_gate.h"
#include "type_ahead.h"

namespace quorvil {
namespace {

TEST(ErrorText, FullStopRule)
{
    const struct {
        const char* message;
        const char* shown;
    } rows[] = {
        {"I/O error 183", "I/O error 183."},
        {"List index out of bounds (1)", "List index out of bounds (1)"},
        {"Stream write error", "Stream write error."},
        {"Done.", "Done."},
        {"", ""},
        {"a -", "a -"},
        {"a!", "a!"},
        {"a,", "a,"},
        {"line\n", "line\n"},
        {"trailing ", "trailing "},
        {"slash/", "slash/."}, // '/' is 47, above the full stop
        {"caf\xc3\xa9", "caf\xc3\xa9."},
    };
    for (const auto& row : rows)
        EXPECT_EQ(WithFullStop(row.message), row.shown) << row.message;
}

TEST(TypeAhead, PrefixGrowsWithinThePauseAndStartsAgainAfterIt)
{
    TypeAhead search;
    EXPECT_EQ(search.Type("b", 1000), "b");
    EXPECT_EQ(search.Type("e", 1499), "be");
    EXPECT_EQ(search.Type("t", 1998), "bet");
    EXPECT_EQ(search.Type("g", 2498), "g"); // 500 ms after the last key: a new search
    EXPECT_EQ(search.Type("a", 2600), "ga");
    EXPECT_EQ(search.Backspace(2700), "g");
    EXPECT_EQ(search.Backspace(2800), "");
    EXPECT_EQ(search.Backspace(2900), "");
    EXPECT_EQ(search.Type("\xc3\xa9", 3000), "\xc3\xa9");
    EXPECT_EQ(search.Type("t", 3100), "\xc3\xa9t");
    EXPECT_EQ(search.Backspace(3200), "\xc3\xa9");
    EXPECT_EQ(search.Backspace(3300), ""); // a whole UTF-8 character at once
}

TEST(QuitGate, EndAskedDuringARunWaitsForItsEnd)
{
    QuitGate gate;
    EXPECT_FALSE(gate.TakeEndDue(false));
    gate.RequestEnd();
    EXPECT_FALSE(gate.TakeEndDue(true));
    EXPECT_FALSE(gate.TakeEndDue(true));
    EXPECT_TRUE(gate.TakeEndDue(false));
    EXPECT_FALSE(gate.TakeEndDue(false)); // once
}

TEST(Layout, ScalesByTextHeight)
{
    EXPECT_EQ(ScaleForText(597, 13), 597);
    EXPECT_EQ(ScaleForText(44, 16), 54); // 44 * 16 / 13 = 54.15
    EXPECT_EQ(ScaleForText(19, 20), 29); // 29.23
    EXPECT_EQ(ScaleForText(25, 15), 29); // 28.85 rounds up
    EXPECT_EQ(ScaleForText(0, 20), 0);
}

TEST(Layout, DialogResultPaths)
{
    using Paths = std::vector<std::string>;
    EXPECT_EQ(DialogResultPaths("C:\\clips\\a.avi", {}), Paths{"C:\\clips\\a.avi"});
    EXPECT_EQ(DialogResultPaths("C:\\clips", {"a.avi", "b.avi", "c.avi"}),
              (Paths{"C:\\clips\\a.avi", "C:\\clips\\b.avi", "C:\\clips\\c.avi"}));
    EXPECT_EQ(DialogResultPaths("C:\\", {"a.avi", "D:\\x\\b.avi", "\\\\srv\\s\\c.avi", "E:\\"}),
              (Paths{"C:\\a.avi", "D:\\x\\b.avi", "\\\\srv\\s\\c.avi", "C:\\E:\\"}));
}

TEST(MessageCut, AListTooLongForTheScreenShowsItsFirstLinesAndCountsTheRest)
{
    std::string text = "5 files were not converted, and their source files were not deleted:";
    for (int i = 1; i <= 5; ++i)
        text += "\n/c/" + std::to_string(i) + ".avi: vdub ended with exit code 1";
    text += "\n\nI/O error 183";
    EXPECT_EQ(CutForScreen(text, 8).shown, text); // 8 lines fit
    EXPECT_FALSE(CutForScreen(text, 8).cut);
    const BoxText cut = CutForScreen(text, 4);
    EXPECT_TRUE(cut.cut);
    EXPECT_EQ(cut.shown, "5 files were not converted, and their source files were not deleted:\n"
                         "/c/1.avi: vdub ended with exit code 1\n/c/2.avi: vdub ended with exit code 1\n"
                         "... and 3 more files failed.");
    EXPECT_EQ(CutForScreen(text, 6).shown.substr(CutForScreen(text, 6).shown.rfind('\n') + 1),
              "... and 1 more file failed.");
}

} // namespace
} // namespace quorvil
