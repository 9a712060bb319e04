#include "system_text_win32.h"

#include <memory>

#include <windows.h>

#include "wide_text_win32.h"

namespace quorvil {

namespace {

struct LocalFreer {
    void operator()(wchar_t* text) const { LocalFree(text); }
};

// Without the line end at its end, nor the full stop when `fullStop` says so.
std::string TrimmedEnd(std::string text, bool fullStop)
{
    while (!text.empty() && (static_cast<unsigned char>(text.back()) <= ' ' || (fullStop && text.back() == '.')))
        text.pop_back();
    return text;
}

} // namespace

std::string SystemText(unsigned long code)
{
    // In UTF-8, as every text beside it: the words of a system in another language hold any letter.
    wchar_t* buffer = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    const std::unique_ptr<wchar_t, LocalFreer> owned(buffer);
    if (length == 0 || !buffer)
        return "System error " + std::to_string(code);
    return TrimmedEnd(Utf8(std::wstring_view(buffer, length)), false);
}

std::string SystemReason(unsigned long code)
{
    return TrimmedEnd(SystemText(code), true);
}

} // namespace quorvil
