#include "layout.h"

#include <cstdint>

namespace quorvil {

int ScaleForText(int designPixels, int textHeight)
{
    const std::int64_t product = static_cast<std::int64_t>(designPixels) * textHeight;
    const std::int64_t half = kDesignTextHeight / 2;
    return static_cast<int>(product >= 0 ? (product + half) / kDesignTextHeight : (product - half) / kDesignTextHeight);
}

design::Rect ScaleForText(const design::Rect& place, int textHeight)
{
    return {ScaleForText(place.left, textHeight), ScaleForText(place.top, textHeight),
            ScaleForText(place.width, textHeight), ScaleForText(place.height, textHeight)};
}

std::vector<std::string> DialogResultPaths(const std::string& directory, const std::vector<std::string>& names)
{
    if (names.empty())
        return {directory}; // one file: the dialog gave its full path
    const auto isAbsolute = [](const std::string& name) {
        return name.starts_with('\\') || (name.size() > 3 && name[1] == ':' && name[2] == '\\');
    };
    std::vector<std::string> paths;
    for (const auto& name : names) {
        if (isAbsolute(name))
            paths.push_back(name);
        else
            paths.push_back(directory + (directory.ends_with('\\') ? "" : "\\") + name);
    }
    return paths;
}

} // namespace quorvil
