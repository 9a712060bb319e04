#include "wide_text_win32.h"

#include <windows.h>

namespace quorvil {

namespace {

// Below MAX_PATH (260) by the 12 characters CreateDirectory keeps free for an 8.3 name in it.
constexpr std::size_t kLongestPlainPath = MAX_PATH - 12 - 1;

} // namespace

std::string Utf8(std::wstring_view text)
{
    const int length = static_cast<int>(text.size());
    const int size =
        text.empty() ? 0 : WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), length, bytes.data(), size, nullptr, nullptr);
    return bytes;
}

std::wstring FromUtf8(std::string_view text)
{
    const int length = static_cast<int>(text.size());
    const int size = text.empty() ? 0 : MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), size);
    return wide;
}

std::wstring FilePath(std::string_view path)
{
    std::wstring wide = FromUtf8(path);
    if (wide.size() <= kLongestPlainPath || wide.starts_with(LR"(\\?\)"))
        return wide;
    const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    std::wstring full(needed, L'\0');
    const DWORD length = needed == 0 ? 0 : GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed)
        return wide; // the call then fails as it would have, and says why
    full.resize(length);
    if (full.starts_with(LR"(\\)")) // a share: \\server\share\... is \\?\UNC\server\share\...
        return LR"(\\?\UNC\)" + full.substr(2);
    return LR"(\\?\)" + full;
}

} // namespace quorvil
