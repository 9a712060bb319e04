#include "ansi_path_win32.h"

#include <windows.h>

namespace quorvil {

namespace {

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
    if (name.empty())
        return std::string();
    // The UTF-8 code page takes neither the flag nor the question; it writes every letter anyway,
    // and reading back finds what it could not (a lone surrogate).
    const bool utf8 = GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* asked = utf8 ? nullptr : &usedDefault;
    const int length = static_cast<int>(name.size());
    const int size = WideCharToMultiByte(CP_ACP, flags, name.data(), length, nullptr, 0, nullptr, asked);
    if (size <= 0)
        return std::nullopt;
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, flags, name.data(), length, bytes.data(), size, nullptr, asked);
    if (usedDefault || ToWide(CP_ACP, bytes) != name)
        return std::nullopt;
    return bytes;
}

std::wstring FromCodePage(const std::string& text)
{
    return ToWide(CP_ACP, text);
}

} // namespace quorvil
