#pragma once

#include <string>

namespace quorvil {

// An error text as the error box shows it on a screen that holds maxLines lines of it.
struct BoxText {
    std::string shown;
    bool cut = false; // then the whole text goes into the box's details
};

// A text longer than maxLines lines keeps its first maxLines - 1 lines and gains a last one that
// says how many more files failed ("... and 12 more files failed."): lines of the form
// "path: reason" are the files. Texts that fit are shown as they are.
[[nodiscard]] BoxText CutForScreen(const std::string& text, int maxLines);

} // namespace quorvil
