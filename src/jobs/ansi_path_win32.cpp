#include "ansi_path_win32.h"

#include <windows.h>

namespace quorvil {

namespace {

std::string ToCodePage(UINT codePage, const std::wstring& text, DWORD flags, BOOL* usedDefault = nullptr)
{
    if (text.empty())
        return {};
    const int length = static_cast<int>(text.size());
    const int size = WideCharToMultiByte(codePage, flags, text.data(), length, nullptr, 0, nullptr, usedDefault);
    std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(codePage, flags, text.data(), length, bytes.data(), size, nullptr, usedDefault);
    return bytes;
}

std::wstring ToWide(UINT codePage, const std::string& text)
{
    const int length = static_cast<int>(text.size());
    const int size = text.empty() ? 0 : MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0)
        MultiByteToWideChar(codePage, 0, text.data(), length, wide.data(), size);
    return wide;
}

} // namespace

std::optional<std::string> CodePageName(const std::wstring& name)
{
    // The UTF-8 code page takes neither the flag nor the question; it writes every letter anyway,
    // and reading back finds what it could not (a lone surrogate).
    const bool utf8 = GetACP() == CP_UTF8;
    BOOL usedDefault = FALSE;
    std::string bytes = ToCodePage(CP_ACP, name, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, utf8 ? nullptr : &usedDefault);
    if (usedDefault || ToWide(CP_ACP, bytes) != name)
        return std::nullopt;
    return bytes;
}

std::optional<std::string> AnsiPath(const std::wstring& path)
{
    if (auto exact = CodePageName(path))
        return exact;
    const DWORD size = GetShortPathNameW(path.c_str(), nullptr, 0);
    if (size == 0)
        return std::nullopt;
    std::wstring shortName(size, L'\0');
    const DWORD length = GetShortPathNameW(path.c_str(), shortName.data(), size);
    if (length == 0 || length >= size)
        return std::nullopt;
    shortName.resize(length);
    return CodePageName(shortName);
}

std::string ShownPath(const std::wstring& path)
{
    // Some code pages (UTF-8 among them) take no flags; they write every letter anyway.
    std::string shown = ToCodePage(CP_ACP, path, WC_NO_BEST_FIT_CHARS);
    return shown.empty() ? ToCodePage(CP_ACP, path, 0) : shown;
}

std::string Utf8(const std::wstring& text)
{
    return ToCodePage(CP_UTF8, text, 0);
}

std::wstring FromUtf8(const std::string& text)
{
    return ToWide(CP_UTF8, text);
}

std::wstring FromCodePage(const std::string& text)
{
    return ToWide(CP_ACP, text);
}

std::string NotInCodePage(const std::wstring& name)
{
    return Utf8(name) + ": its name cannot be written in this system's code page (" + std::to_string(GetACP()) +
           "); Quorvil cannot convert it yet";
}

} // namespace quorvil
