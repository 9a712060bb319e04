#pragma once

namespace quorvil {

// Windows paths separate with "\" (a ":" also ends a directory part); POSIX paths with "/".
enum class PathStyle { windows, posix };

// Whether a byte opens a double-byte character in the system's 8-bit code page. The byte after
// such a lead byte is never a separator and never escaped, even when it is 0x5C ("\").
using LeadByteTest = bool (*)(unsigned char);
[[nodiscard]] inline bool NoLeadBytes(unsigned char) noexcept
{
    return false;
}

struct PathRules {
    PathStyle style = PathStyle::posix;
    LeadByteTest isLeadByte = NoLeadBytes;
};

} // namespace quorvil
