// The front ends' logic without a toolkit: what both windows show and do, written once.
#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "error_text.h"
#include "error_box_text.h"
#include "form_design.h"
#include "host.h"
#include "layout.h"
#include "plan.h"
#include "queue_form.h"
#include "start_arguments.h"
#include "test_support.h"
#include "type_ahead.h"

namespace quorvil {
namespace {

int Lines(const std::string& text)
{
    return 1 + static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

std::string LastLine(const std::string& text)
{
    return text.substr(text.rfind('\n') + 1);
}

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
    EXPECT_EQ(search.Backspace(3500), ""); // after a pause too
}

TEST(TypeAhead, BackspaceTakesBackOneCharacterOfAnyEncoding)
{
    // Code-page letters whose bytes look like UTF-8 continuation or lead bytes, a double-byte
    // character whose second byte is a backslash, and UTF-8.
    const struct {
        const char* name;
        std::string letter;
    } rows[] = {
        {"cp1250 s caron", "\x9A"},       {"cp1250 Z caron", "\x8E"},    {"cp1250 L stroke", "\xA3"},
        {"cp1250 a ogonek", "\xB9"},      {"cp1252 e acute", "\xE9"},    {"cp932 so (second byte \\)", "\x83\x5C"},
        {"cp932 hiragana a", "\x82\xA0"}, {"UTF-8 e acute", "\xC3\xA9"}, {"UTF-8 emoji", "\xF0\x9F\x8E\xA5"},
    };
    for (const auto& row : rows) {
        TypeAhead search;
        search.Type("x", 0);
        EXPECT_EQ(search.Type(row.letter, 10), "x" + row.letter) << row.name;
        EXPECT_EQ(search.Backspace(20), "x") << row.name;
        search.Type(row.letter, 30);
        search.Type("y", 40);
        EXPECT_EQ(search.Backspace(50), "x" + row.letter) << row.name;
        EXPECT_EQ(search.Backspace(60), "x") << row.name;
    }
}

TEST(Layout, ScalesByTextHeight)
{
    EXPECT_EQ(ScaleForText(597, 13), 597);
    EXPECT_EQ(ScaleForText(44, 16), 54); // 44 * 16 / 13 = 54.15
    EXPECT_EQ(ScaleForText(19, 20), 29); // 29.23
    EXPECT_EQ(ScaleForText(25, 15), 29); // 28.85 rounds up
    EXPECT_EQ(ScaleForText(0, 20), 0);
    const design::Rect scaled = ScaleForText(design::Rect{485, 11, 89, 25}, 16);
    EXPECT_EQ(scaled.left, 597);
    EXPECT_EQ(scaled.width, 110);
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

TEST(FormDesign, FiltersAndTheAboutName)
{
    EXPECT_EQ(design::LabelWithPattern(design::kOpenDialogFilters[0]), "AVI Files (*.avi)");
    EXPECT_EQ(design::LabelWithPattern(design::kOpenDialogFilters[1]), "All files (*.*)");
    EXPECT_EQ(design::LabelText(design::kAboutLabels[0]), "Quorvil " QUORVIL_VERSION);
    // Controls anchored to the right sit right of those anchored to the left, at the design width.
    for (const design::Control& control : design::kPanelControls)
        EXPECT_LE(control.place.right(), design::kMainClientWidth) << control.name;
}

TEST(FailureReport, SaysNotConvertedAndSourceKeptOnlyWhereEachIsTrue)
{
    const struct {
        const char* name;
        std::function<void(FailureReport&)> fill;
        const char* text;
    } rows[] = {
        {"Delete off: nothing about the source",
         [](FailureReport& r) { r.NotConverted("/c/a.avi", "vdub ended with exit code 1", false, false); },
         "1 file was not converted:\n/c/a.avi: vdub ended with exit code 1"},
        {"Delete on: the source was kept",
         [](FailureReport& r) {
             r.NotConverted("/c/a.avi", "vdub ended with exit code 1", true, false);
             r.NotConverted("/c/b.avi", "sox was not found", true, false);
         },
         "2 files were not converted; their source files were kept:\n/c/a.avi: vdub ended with exit code 1\n"
         "/c/b.avi: sox was not found"},
        {"a file that does not exist is missing, and has no source to keep",
         [](FailureReport& r) { r.NotConverted("/c/gone.avi", "vdub ended with exit code 1", false, true); },
         "1 file was not converted:\n/c/gone.avi: the file is missing"},
        {"converted, its source kept",
         [](FailureReport& r) { r.SourceKept("/c/a.avi", "it has 2 audio streams; only the first is in the outputs"); },
         "1 file was converted, but its source file was not deleted:\n"
         "/c/a.avi: it has 2 audio streams; only the first is in the outputs"},
        {"converted, its source taken away by someone else: nothing says it was kept",
         [](FailureReport& r) {
             r.SourceKept("/c/a.avi", "the source file was removed or moved by someone else during its conversion; "
                                      "the outputs are kept");
         },
         "1 file was converted, but its source file was not deleted:\n"
         "/c/a.avi: the source file was removed or moved by someone else during its conversion; the outputs are kept"},
        {"failures come first, the stop last",
         [](FailureReport& r) {
             r.SourceKept("/c/k.avi", "why");
             r.NotConverted("/c/f.avi", "vdub ended with exit code 1", false, false);
             r.Stopped("I/O error 183");
         },
         "1 file was not converted:\n/c/f.avi: vdub ended with exit code 1\n\n"
         "1 file was converted, but its source file was not deleted:\n/c/k.avi: why\n\nI/O error 183"},
        {"only a stop", [](FailureReport& r) { r.Stopped("List index out of bounds (1)"); },
         "List index out of bounds (1)"},
    };
    for (const auto& row : rows) {
        FailureReport report;
        row.fill(report);
        EXPECT_EQ(report.Text(), row.text) << row.name;
    }
}

TEST(FailureReport, ATextTooTallIsCutAndCountsOnlyTheFilesNotConverted)
{
    FailureReport report;
    for (int i = 1; i <= 65; ++i)
        report.NotConverted("/c/" + std::to_string(i) + ".avi", "vdub ended with exit code 1\nlast line of vdub", false,
                            false);
    for (int i = 1; i <= 4; ++i)
        report.SourceKept("/c/k" + std::to_string(i) + ".avi", "it has 3 audio channels: only two are kept");
    report.Stopped("I/O error 183");

    const std::string whole = report.Text();
    EXPECT_EQ(Lines(whole), 1 + 130 + 1 + 1 + 4 + 1 + 1);
    for (const int maxLines : {12, 20, 40}) {
        const std::string cut = report.Text(maxLines);
        EXPECT_LE(Lines(cut), maxLines) << maxLines;
        EXPECT_TRUE(cut.starts_with("65 files were not converted:\n/c/1.avi: vdub")) << maxLines;
        EXPECT_EQ(LastLine(cut), "I/O error 183") << maxLines;
        // Two lines for each file shown; the count is of the failed files left out, not of the
        // converted ones nor of the lines.
        const int shown = (maxLines - 8) / 2;
        EXPECT_NE(cut.find("... and " + std::to_string(65 - shown) + " more files were not converted."),
                  std::string::npos)
            << cut;
        EXPECT_NE(cut.find("... and 4 more files were converted, their source files not deleted."), std::string::npos);
    }
    EXPECT_EQ(report.Text(Lines(whole)), whole);

    // In the error box, with the full-stop rule; any other error keeps its first lines.
    EXPECT_EQ(LastLine(ErrorBoxText(RunFailed(report), 12)), "I/O error 183.");
    std::string tall;
    for (int i = 0; i < 50; ++i)
        tall += "line " + std::to_string(i) + "\n";
    const std::string cut = ErrorBoxText(Error(tall + "end"), 10);
    EXPECT_EQ(Lines(cut), 10);
    EXPECT_TRUE(cut.starts_with("line 0\nline 1\n"));
    EXPECT_EQ(LastLine(cut), "...");
    EXPECT_EQ(ErrorBoxText(Error(IoErrorMessage(183)), 10), "I/O error 183.");
}

TEST(FailureReport, LinesThatFitTheScreen)
{
    EXPECT_EQ(LinesThatFit(800, 13, 100), 53);
    EXPECT_EQ(LinesThatFit(800, 15, 100), 46);
    EXPECT_EQ(LinesThatFit(100, 13, 200), 5); // never fewer than a report needs

    // Cut by what the box measures: 50 pixels of its own, lines of 10 pixels, or of 30 when each
    // wraps to three rows (cut no further than it must), on a screen of 400 or 60.
    std::string tall;
    for (int i = 0; i < 100; ++i)
        tall += "line " + std::to_string(i) + "\n";
    for (const auto& [room, row, lines] : {std::tuple{400, 10, 35}, std::tuple{400, 30, 11}, std::tuple{60, 10, 5}}) {
        const FittedErrorText fitted =
            FitErrorBoxText(Error(tall), 100, 10, [room = room, row = row](const std::string& text) {
                return Lines(text) * row + 50 - room;
            });
        EXPECT_EQ(fitted.lines, lines) << room << " " << row;
        EXPECT_EQ(Lines(fitted.text), lines) << room << " " << row;
    }
}

TEST(StartArguments, HelpVersionAndFiles)
{
    using Action = StartArguments::Action;
    using Args = std::vector<std::string>;
    const struct {
        Args arguments;
        Action action;
        Args files;
        const char* textStart;
    } rows[] = {
        {{}, Action::showWindow, {}, ""},
        {{"a.avi", "/c/b b.avi"}, Action::showWindow, {"a.avi", "/c/b b.avi"}, ""},
        {{"--help"}, Action::printHelp, {}, "Usage: quorvil [FILE...]\n"},
        {{"a.avi", "--version"}, Action::printVersion, {}, "quorvil " QUORVIL_VERSION "\n"},
        {{"--", "--help", "-x.avi"}, Action::showWindow, {"--help", "-x.avi"}, ""},
        {{"-"}, Action::showWindow, {"-"}, ""},
        {{"-x"}, Action::refuse, {}, "quorvil: unknown option -x\nUsage: quorvil [FILE...]\n"},
        {{"--no-such"}, Action::refuse, {}, "quorvil: unknown option --no-such\n"},
    };
    for (const auto& row : rows) {
        const StartArguments start = ParseStartArguments(row.arguments);
        const std::string name = row.arguments.empty() ? "(none)" : row.arguments.front();
        EXPECT_EQ(start.action, row.action) << name;
        EXPECT_EQ(start.files, row.files) << name;
        EXPECT_TRUE(start.text.starts_with(row.textStart)) << name << ": " << start.text;
    }
}

// ---- the queue form's logic, over a window made of plain data and tools that only answer

struct ToolCall {
    std::string program;
    std::string parameters;
};

class FakeView : public QueueView {
public:
    std::vector<std::string> entries;
    bool subdir = false;
    bool deleteOriginals = false;
    std::vector<std::string> errors;                // what the error box showed
    int ends = 0;                                   // how often the application was asked to end
    int events = 0;                                 // how often the window handled its events
    std::vector<std::pair<bool, double>> runStates; // what the progress was told
    std::vector<bool> pointers;                     // what the pointer was told
    std::function<void()> onEvents;                 // what the user does when the window answers

    int EntryCount() const override { return static_cast<int>(entries.size()); }
    std::optional<std::string> Entry(int index) const override
    {
        if (index < 0 || index >= EntryCount())
            return std::nullopt;
        return entries[static_cast<std::size_t>(index)];
    }
    bool PlaceInSubdirectory() const override { return subdir; }
    bool DeleteOriginals() const override { return deleteOriginals; }
    void ShowError(const std::exception& error) override { errors.push_back(ErrorBoxText(error, 1000)); }
    void ProcessEvents() override
    {
        ++events;
        if (onEvents)
            onEvents();
    }
    void ShowBusyPointer(bool busy) override { pointers.push_back(busy); }
    void AppendEntries(const std::vector<std::string>& paths) override
    {
        entries.insert(entries.end(), paths.begin(), paths.end());
    }
    void ClearEntries() override { entries.clear(); }
    std::optional<int> SelectedEntry() const override { return std::nullopt; }
    void RemoveEntry(int) override {}
    std::optional<std::vector<std::string>> ChooseFiles() override { return std::nullopt; }
    void ShowAbout() override {}
};

class QueueFormTest : public ::testing::Test {
protected:
    // Tools that end at once with the exit code given for their program, writing nothing;
    // `waits` of them call the event processing once first, as the launcher does while a tool runs.
    RunEnvironment Environment()
    {
        return {tools.dir(), HostPathRules(),
                [this](const ToolCommand& command, const EventHook& events, ToolEnd* end) {
                    calls.push_back({FileNamePart(command.programFile, HostPathRules()), command.parameters});
                    if (waits > 0) {
                        --waits;
                        events();
                    }
                    const int code = exitCodes.contains(calls.back().program) ? exitCodes[calls.back().program] : 0;
                    if (end)
                        *end = {ToolEnd::Kind::exited, code, {}, {}};
                    return code;
                },
                nullptr, {}};
    }

    struct NoChooser {};
    FormServices<NoChooser> Services()
    {
        return {nullptr, Environment(), [this] { ++view.ends; },
                [this](double fraction, bool running) { view.runStates.push_back({running, fraction}); }, {}};
    }

    std::string Clip(const std::string& name)
    {
        test::WriteFile(clips / name, test::AviBytes(1));
        return clips / name;
    }

    test::TempDir tools;
    test::TempDir clips;
    FakeView view;
    std::vector<ToolCall> calls;
    std::map<std::string, int> exitCodes;
    int waits = 0;
};

TEST_F(QueueFormTest, QuitDuringARunEndsTheApplicationOnlyOnceTheWholeQueueHasRun)
{
    QueueForm form(view, Services());
    view.entries = {Clip("a.avi"), Clip("b.avi")};
    int endsDuringRun = -1;
    bool endDueAtOnce = true;
    waits = 1;
    view.onEvents = [&] {
        if (endsDuringRun == -1) {
            endDueAtOnce = form.RequestEnd(); // Quit, while the first tool runs
            endsDuringRun = view.ends;
        }
    };
    form.Command([&] { form.ProcessQueue(); });
    EXPECT_FALSE(endDueAtOnce);
    EXPECT_EQ(endsDuringRun, 0);
    EXPECT_EQ(calls.size(), 6u); // both entries, three tools each
    EXPECT_EQ(view.ends, 1);     // once the run's command had returned

    // Without a run the end comes at once, and only once.
    EXPECT_TRUE(form.RequestEnd());
    EXPECT_EQ(view.ends, 2);
    form.Command([] {});
    EXPECT_EQ(view.ends, 2);
}

TEST_F(QueueFormTest, TheOptionsAreReadWhenTheRunNeedsThem)
{
    QueueForm form(view, Services());
    view.entries = {Clip("a.avi")};
    view.subdir = true;
    waits = 1;
    view.onEvents = [&] { view.subdir = false; }; // unticked while the video tool runs
    form.Command([&] { form.ProcessQueue(); });
    ASSERT_EQ(calls.size(), 3u);
    for (const ToolCall& audio : {calls[1], calls[2]})
        EXPECT_EQ(audio.parameters.find("_processed"), std::string::npos) << audio.parameters;
}

TEST_F(QueueFormTest, TheWindowAnswersBetweenEntriesAndAfterEachToolWhenNoToolWaits)
{
    QueueForm form(view, Services());
    view.entries = {Clip("a.avi"), Clip("b.avi"), Clip("c.avi")};
    form.Command([&] { form.ProcessQueue(); });
    EXPECT_EQ(calls.size(), 9u);
    EXPECT_GE(view.events, 9 + 3); // after each tool and after each entry, though no tool ever waited

    // A Clear clicked while the first entry ends takes effect then, not when the queue has run.
    calls.clear();
    bool cleared = false;
    view.onEvents = [&] {
        if (calls.size() == 3 && !cleared) {
            view.entries.clear();
            cleared = true;
        }
    };
    view.errors.clear();
    form.Command([&] { form.ProcessQueue(); });
    EXPECT_EQ(calls.size(), 3u);
    ASSERT_EQ(view.errors.size(), 1u);
    EXPECT_EQ(LastLine(view.errors[0]), "List index out of bounds (1)");
}

TEST_F(QueueFormTest, TheFailureMessageFitsEachCase)
{
    exitCodes["vdub"] = exitCodes["vdub.exe"] = 1;
    const std::string a = Clip("a.avi");
    const std::string gone = clips / "gone.avi";
    const std::string b = Clip("b.avi");
    view.entries = {a, gone, b};
    for (const bool deleteOriginals : {false, true}) {
        QueueForm form(view, Services());
        view.deleteOriginals = deleteOriginals;
        view.errors.clear();
        form.Command([&] { form.ProcessQueue(); });
        ASSERT_EQ(view.errors.size(), 1u);
        const std::string& text = view.errors[0];
        EXPECT_NE(text.find("\n" + b + ": vdub"), std::string::npos) << text;
        EXPECT_NE(text.find("\n" + gone + ": the file is missing"), std::string::npos) << text;
        EXPECT_EQ(text.find("not deleted"), std::string::npos) << text;
        if (deleteOriginals) {
            // The missing file had no source to keep.
            EXPECT_TRUE(text.starts_with("2 files were not converted; their source files were kept:\n" + a + ": vdub"))
                << text;
            EXPECT_NE(text.find("\n\n1 file was not converted:\n" + gone), std::string::npos) << text;
        } else {
            EXPECT_TRUE(text.starts_with("3 files were not converted:\n" + a + ": vdub")) << text;
            EXPECT_EQ(text.find("source"), std::string::npos) << text;
        }
    }
}

TEST_F(QueueFormTest, AStopIsSaidOnceAfterTheFilesListedBeforeIt)
{
    exitCodes["vdub"] = exitCodes["vdub.exe"] = 1;
    const std::string a = Clip("a.avi");
    view.entries = {a, a}; // the second finds the first one's output directory
    view.subdir = true;
    QueueForm form(view, Services());
    form.Command([&] { form.ProcessQueue(); });
    ASSERT_EQ(view.errors.size(), 1u);
    // The first entry failed and took its directory back: the second one runs its tools too.
    EXPECT_EQ(view.errors[0].find("I/O error"), std::string::npos) << view.errors[0];

    exitCodes.clear();
    view.errors.clear();
    test::WriteFile(clips / "b.avi_processed", "a file where the directory would go");
    view.entries = {a, clips / "b.avi"};
    test::WriteFile(clips / "b.avi", "x");
    form.Command([&] { form.ProcessQueue(); });
    ASSERT_EQ(view.errors.size(), 1u);
    const std::string& text = view.errors[0];
    EXPECT_TRUE(text.starts_with("1 file was not converted:\n" + a + ": ")) << text;
    EXPECT_EQ(LastLine(text), IoErrorMessage(183) + ".") << text;
    EXPECT_EQ(text.find(IoErrorMessage(183)), text.rfind(IoErrorMessage(183))) << text;
}

TEST_F(QueueFormTest, AnInterruptEndsTheToolAndTheApplicationWithoutAnErrorBox)
{
    QueueForm form(view, Services());
    view.entries = {Clip("a.avi"), Clip("b.avi")};
    waits = 1;
    bool hookThrew = false;
    RunEnvironment environment = Environment();
    // The launcher sees the exception come out of the event processing, as it must to end its tool.
    QueueForm interrupted(view, {tools.dir(), HostPathRules(),
                                 [&](const ToolCommand& command, const EventHook& events, ToolEnd* end) {
                                     try {
                                         return environment.launch(command, events, end);
                                     } catch (const RunInterrupted&) {
                                         hookThrew = true;
                                         throw;
                                     }
                                 },
                                 nullptr, {}},
                          [this] { ++view.ends; }, {});
    view.onEvents = [&] { interrupted.Interrupt("Quorvil was ended by signal 15"); };
    interrupted.Command([&] { interrupted.ProcessQueue(); });
    EXPECT_TRUE(hookThrew);
    EXPECT_EQ(calls.size(), 1u); // no tool after the one that was running
    EXPECT_TRUE(view.errors.empty());
    EXPECT_EQ(view.ends, 1);
    EXPECT_FALSE(interrupted.RunUnderWay());

    // Without a run the application ends at once.
    view.onEvents = {};
    form.Interrupt("Quorvil was ended by signal 1");
    EXPECT_EQ(view.ends, 2);
}

TEST_F(QueueFormTest, ThePointerAndProgressFollowTheRun)
{
    QueueForm form(view, Services());
    view.entries = {Clip("a.avi"), Clip("b.avi")};
    int nested = 0;
    view.onEvents = [&] {
        if (nested++ == 0)
            form.Command([&] { form.ProcessQueue(); }); // "Process Queue" again: nothing happens
    };
    form.Command([&] { form.ProcessQueue(); });
    EXPECT_EQ(calls.size(), 6u);
    EXPECT_EQ(view.runStates,
              (std::vector<std::pair<bool, double>>{{true, 0.0}, {true, 0.5}, {true, 1.0}, {false, 0.0}}));
    EXPECT_EQ(view.pointers, (std::vector<bool>{true, false})); // set once, as a toolkit's pointer stack needs
}

} // namespace
} // namespace quorvil
