#include "console_text.h"

#include <iostream>
#include <streambuf>
#include <string>

#include <windows.h>

#include "wide_text_win32.h"

namespace quorvil {

namespace {

// Text written to a console as UTF-16, a line or a flush at a time; a letter cut at the end of a
// write waits for its other bytes.
class ConsoleBuffer : public std::streambuf {
public:
    explicit ConsoleBuffer(HANDLE console) : console_(console) {}

protected:
    int_type overflow(int_type c) override
    {
        if (traits_type::eq_int_type(c, traits_type::eof()))
            return traits_type::not_eof(c);
        pending_ += traits_type::to_char_type(c);
        if (c == '\n')
            Write();
        return c;
    }

    int sync() override { return Write() ? 0 : -1; }

private:
    bool Write()
    {
        // The bytes of a letter not yet complete: a lead byte and the continuation bytes after it.
        std::size_t end = pending_.size();
        std::size_t back = 0;
        while (back < 3 && back < end && (static_cast<unsigned char>(pending_[end - 1 - back]) & 0xC0) == 0x80)
            ++back;
        if (back < end && static_cast<unsigned char>(pending_[end - 1 - back]) >= 0xC0) {
            const auto lead = static_cast<unsigned char>(pending_[end - 1 - back]);
            const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
            if (back + 1 < length)
                end -= back + 1;
        }
        const std::wstring text = FromUtf8(std::string_view(pending_).substr(0, end));
        pending_.erase(0, end);
        DWORD written = 0;
        return text.empty() || WriteConsoleW(console_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }

    HANDLE console_;
    std::string pending_;
};

void ShowOnConsole(DWORD which, std::ostream& stream)
{
    const HANDLE handle = GetStdHandle(which);
    DWORD mode = 0;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode))
        return; // a file or a pipe: the UTF-8 bytes
    // For the program's whole run: the streams write to it until the end.
    static ConsoleBuffer* const buffers[2] = {new ConsoleBuffer(GetStdHandle(STD_OUTPUT_HANDLE)),
                                              new ConsoleBuffer(GetStdHandle(STD_ERROR_HANDLE))};
    stream.rdbuf(buffers[which == STD_OUTPUT_HANDLE ? 0 : 1]);
}

} // namespace

void ShowTextOnConsole()
{
    ShowOnConsole(STD_OUTPUT_HANDLE, std::cout);
    ShowOnConsole(STD_ERROR_HANDLE, std::cerr);
}

} // namespace quorvil
