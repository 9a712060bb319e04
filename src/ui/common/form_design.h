#pragma once

#include <array>
#include <string>
#include <string_view>

namespace quorvil::design {

// Every text, caption, filter, rectangle and anchor of both windows, once: the front ends draw
// this table with their own controls and write none of it again.

// Positions and sizes in pixels at 96 dpi with a text height of 13 pixels, in the parent's
// client area; a front end scales them by its measured text height (ScaleForText).
struct Rect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;

    [[nodiscard]] constexpr int right() const { return left + width; }
};

// Which edges of its parent a control keeps its distance to when the parent is resized.
enum class Anchor { leftBottom, rightBottom, leftTop };

enum class Kind { pushButton, checkBox, label, boldLabel };

struct Control {
    std::string_view name; // the component's name in the form designer's convention
    Kind kind;
    std::string_view text;
    Rect place;
    Anchor anchor = Anchor::leftTop;
    bool checked = false; // a check box's state at start
};

inline constexpr std::string_view kApplicationTitle = "Quorvil";

// The forms' font; the table's pixels are laid out for its text height at 96 dpi (layout.h).
struct Font {
    std::string_view face;
    int points;
};
inline constexpr Font kFormFont{"Tahoma", 8};

// The application's version, from the top-level project().
inline constexpr std::string_view kVersion = QUORVIL_VERSION;

// ---- the main window (TForm1)

inline constexpr std::string_view kMainCaption = kApplicationTitle;
inline constexpr int kMainClientWidth = 581;
inline constexpr int kMainClientHeight = 392; // below the menu bar
inline constexpr int kPanelHeight = 44;
inline constexpr int kStatusHeight = 19;
// ListBox1 shows no caption; a screen reader names it after what it holds.
inline constexpr std::string_view kListBox1Name = "Queue";

// The controls on Panel1, in tab order.
inline constexpr std::array<Control, 5> kPanelControls{{
    {"Button1", Kind::pushButton, "Add AVI files", {8, 11, 81, 25}, Anchor::leftBottom},
    {"Button2", Kind::pushButton, "Clear", {96, 11, 49, 25}, Anchor::leftBottom},
    {"CheckBox1", Kind::checkBox, "Delete original file(s)", {323, 6, 152, 17}, Anchor::rightBottom, false},
    {"Button3", Kind::pushButton, "Process Queue", {485, 11, 89, 25}, Anchor::rightBottom},
    {"CheckBox2", Kind::checkBox, "Place in subdirectory", {323, 22, 145, 17}, Anchor::leftTop, true},
}};
enum PanelControl { kButton1, kButton2, kCheckBox1, kButton3, kCheckBox2 };

// A menu item: its text with the access key marked by "&", and its shortcut as the menu shows it.
struct MenuItem {
    std::string_view name;
    std::string_view text;
    std::string_view shortcut = {};
};
inline constexpr MenuItem kFile1{"File1", "&File"};
inline constexpr MenuItem kQuit1{"Quit1", "&Quit", "Alt+F4"};
inline constexpr MenuItem kHelp1{"Help1", "&Help"};
inline constexpr MenuItem kAbout1{"About1", "&About..."};
inline constexpr MenuItem kDelete1{"Delete1", "&Delete"};
inline constexpr MenuItem kClear1{"Clear1", "&Clear"};

// ---- the open dialog (OpenDialog1)

struct FileFilter {
    std::string_view label;
    std::string_view pattern;
};
inline constexpr std::string_view kOpenDialogTitle = "Choose avi files";
inline constexpr std::array<FileFilter, 2> kOpenDialogFilters{{{"AVI Files", "*.avi"}, {"All files (*.*)", "*.*"}}};
// Characters in all: the directory, every name and the separators.
inline constexpr int kOpenDialogNameBuffer = 65519;

// A filter as a toolkit that shows the pattern beside the label wants it: "AVI Files (*.avi)";
// a label that names its pattern already stays as it is.
[[nodiscard]] std::string LabelWithPattern(const FileFilter& filter);

// ---- the About window (TForm2)

inline constexpr std::string_view kAboutCaption = "About";
inline constexpr int kAboutClientWidth = 332;
inline constexpr int kAboutClientHeight = 186;

[[nodiscard]] std::string AboutName(); // "Quorvil 1.5"

inline constexpr std::array<Control, 4> kAboutLabels{{
    {"Label1", Kind::boldLabel, {}, {16, 16, 310, 16}}, // AboutName()
    {"Label2", Kind::label, "Splits an avi file into video, left audio and right audio.", {16, 40, 310, 16}},
    {"Label3", Kind::label, "Written by the Quorvil team for its users.", {16, 80, 310, 16}},
    {"Label4", Kind::label, "https://quorvil.example/", {16, 96, 310, 16}},
}};
inline constexpr Control kAboutButton1{"Button1", Kind::pushButton, "OK", {248, 152, 75, 25}};

// A label's text: Label1 names the application and its version, the others are as written.
[[nodiscard]] std::string LabelText(const Control& label);

// ---- the error box

inline constexpr std::string_view kErrorBoxCaption = kApplicationTitle;

} // namespace quorvil::design
