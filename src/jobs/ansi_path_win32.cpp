#include "ansi_path_win32.h"

#include <windows.h>

namespace quorvil {

namespace {

std::string ToCodePage(const std::wstring& text, DWORD flags)
{
    if (text.empty())
        return {};
    const int length = static_cast<int>(text.size());
    const int size = WideCharToMultiByte(CP_ACP, flags, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_ACP, flags, text.data(), length, bytes.data(), size, nullptr, nullptr);
    return bytes;
}

// The text in the code page, when it reads back as the same text.
std::optional<std::string> Exactly(const std::wstring& text)
{
    std::string bytes = ToCodePage(text, 0);
    const int size = static_cast<int>(bytes.size());
    std::wstring back(static_cast<std::size_t>(MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0)), L'\0');
    if (!back.empty())
        MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, back.data(), static_cast<int>(back.size()));
    if (back != text)
        return std::nullopt;
    return bytes;
}

} // namespace

std::optional<std::string> AnsiPath(const std::wstring& path)
{
    if (auto exact = Exactly(path))
        return exact;
    const DWORD size = GetShortPathNameW(path.c_str(), nullptr, 0);
    if (size == 0)
        return std::nullopt;
    std::wstring shortName(size, L'\0');
    const DWORD length = GetShortPathNameW(path.c_str(), shortName.data(), size);
    if (length == 0 || length >= size)
        return std::nullopt;
    shortName.resize(length);
    return Exactly(shortName);
}

std::string ShownPath(const std::wstring& path)
{
    // Some code pages (UTF-8 among them) take no flags; they write every letter anyway.
    std::string shown = ToCodePage(path, WC_NO_BEST_FIT_CHARS);
    return shown.empty() ? ToCodePage(path, 0) : shown;
}

} // namespace quorvil
