#include "wildcards.h"

#include <algorithm>
#include <memory>
#include <string_view>
#include <type_traits>

#include <windows.h>

namespace quorvil {

namespace {

struct SearchCloser {
    void operator()(HANDLE search) const { FindClose(search); }
};
using UniqueSearch = std::unique_ptr<std::remove_pointer_t<HANDLE>, SearchCloser>;

char Folded(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether name matches pattern: * any run of characters, ? any one, ASCII letters in either case.
// Only the long name counts: FindFirstFile would also match the short one, which for
// "take1.avi_processed" or "take1.avix" ends in ".AVI".
bool Matches(std::string_view pattern, std::string_view name)
{
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t star = std::string_view::npos; // the last * seen, and where its run ended so far
    std::size_t resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size() && (pattern[p] == '?' || Folded(pattern[p]) == Folded(name[n]))) {
            ++p;
            ++n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool NameOrder(const std::string& a, const std::string& b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return Folded(x) < Folded(y); });
}

} // namespace

std::vector<std::string> ExpandWildcards(const std::vector<std::string>& names)
{
    std::vector<std::string> files;
    for (const std::string& name : names) {
        const std::size_t cut = name.find_last_of("\\/:");
        const std::string folder = cut == std::string::npos ? std::string() : name.substr(0, cut + 1);
        const std::string pattern = name.substr(folder.size());
        if (pattern.find_first_of("*?") == std::string::npos || folder.find_first_of("*?") != std::string::npos) {
            files.push_back(name);
            continue;
        }
        std::vector<std::string> matches;
        WIN32_FIND_DATAA found;
        const UniqueSearch search(
            FindFirstFileExA((folder + "*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0));
        for (bool more = search.get() != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search.get(), &found)) {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && Matches(pattern, found.cFileName))
                matches.push_back(folder + found.cFileName);
        }
        std::sort(matches.begin(), matches.end(), NameOrder);
        if (matches.empty())
            files.push_back(name); // told as missing, as a shell that finds nothing passes it on
        files.insert(files.end(), matches.begin(), matches.end());
    }
    return files;
}

} // namespace quorvil
