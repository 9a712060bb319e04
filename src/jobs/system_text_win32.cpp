#include "system_text_win32.h"

#include <memory>

namespace quorvil {

namespace {

struct LocalFreer {
    void operator()(char* text) const { LocalFree(text); }
};

} // namespace

std::string SystemText(DWORD code)
{
    char* buffer = nullptr;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    const std::unique_ptr<char, LocalFreer> owned(buffer);
    if (length == 0 || !buffer)
        return "System error " + std::to_string(code);
    return std::string(buffer, length);
}

} // namespace quorvil
