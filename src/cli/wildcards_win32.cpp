#include "wildcards.h"

#include <algorithm>
#include <memory>
#include <string_view>
#include <type_traits>

#include <windows.h>

#include "wide_text_win32.h"

namespace quorvil {

namespace {

struct SearchCloser {
    void operator()(HANDLE search) const { FindClose(search); }
};
using UniqueSearch = std::unique_ptr<std::remove_pointer_t<HANDLE>, SearchCloser>;

wchar_t Folded(wchar_t c)
{
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// Whether name matches pattern: * any run of characters, ? any one, ASCII letters in either case.
// Only the long name counts: FindFirstFile would also match the short one, which for
// "take1.avi_processed" or "take1.avix" ends in ".AVI".
bool Matches(std::wstring_view pattern, std::wstring_view name)
{
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t star = std::wstring_view::npos; // the last * seen, and where its run ended so far
    std::size_t resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == L'*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size() && (pattern[p] == L'?' || Folded(pattern[p]) == Folded(name[n]))) {
            ++p;
            ++n;
        } else if (star != std::wstring_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*')
        ++p;
    return p == pattern.size();
}

bool NameOrder(const std::wstring& a, const std::wstring& b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](wchar_t x, wchar_t y) { return Folded(x) < Folded(y); });
}

// The files (not folders) in folder whose names match pattern, in name order.
std::vector<std::wstring> Matching(const std::wstring& folder, const std::wstring& pattern)
{
    std::vector<std::wstring> matches;
    WIN32_FIND_DATAW found;
    const UniqueSearch search(FindFirstFileExW(FilePath(Utf8(folder + L"*")).c_str(), FindExInfoBasic, &found,
                                               FindExSearchNameMatch, nullptr, 0));
    for (bool more = search.get() != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search.get(), &found)) {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && Matches(pattern, found.cFileName))
            matches.push_back(folder + found.cFileName);
    }
    std::sort(matches.begin(), matches.end(), NameOrder);
    return matches;
}

} // namespace

std::vector<std::string> ExpandWildcards(const std::vector<std::string>& names)
{
    std::vector<std::string> files;
    const auto take = [&files](const std::wstring& name) { files.push_back(Utf8(name)); };
    for (const std::string& given : names) {
        const std::wstring name = FromUtf8(given);
        const std::size_t cut = name.find_last_of(L"\\/:");
        const std::wstring folder = cut == std::wstring::npos ? std::wstring() : name.substr(0, cut + 1);
        const std::wstring pattern = name.substr(folder.size());
        const std::vector<std::wstring> matches =
            pattern.find_first_of(L"*?") == std::wstring::npos || folder.find_first_of(L"*?") != std::wstring::npos
                ? std::vector<std::wstring>()
                : Matching(folder, pattern);
        if (matches.empty())
            take(name); // told as missing, as a shell that finds nothing passes it on
        for (const std::wstring& match : matches)
            take(match);
    }
    return files;
}

} // namespace quorvil
