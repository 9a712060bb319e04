#include "message_cut.h"

#include <vector>

namespace quorvil {

BoxText CutForScreen(const std::string& text, int maxLines)
{
    std::vector<std::string> lines;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    if (maxLines < 2 || static_cast<int>(lines.size()) <= maxLines)
        return {text, false};

    const auto kept = static_cast<std::size_t>(maxLines - 1);
    std::string shown;
    for (std::size_t i = 0; i < kept; ++i)
        shown += lines[i] + "\n";
    std::size_t files = 0;
    for (std::size_t i = kept; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        files += line.find(": ") != std::string::npos && !line.ends_with(':');
    }
    shown += files == 1 ? "... and 1 more file failed." : "... and " + std::to_string(files) + " more files failed.";
    return {shown, true};
}

} // namespace quorvil
