#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "path_rules.h"

namespace quorvil {

// Quotes one argument so that the Windows C runtime reads it back unchanged: always inside
// double quotes, an inner quote as \", backslashes doubled only where they precede a quote.
// For any valid Windows path the result is simply Q + path + Q.
[[nodiscard]] std::string QuoteArgument(std::string_view argument, LeadByteTest isLeadByte = NoLeadBytes);

// Splits a parameter string into arguments exactly as the Windows C runtime splits the part
// of a command line after the program name. The inverse of QuoteArgument joined by spaces,
// for every argument without a NUL byte.
[[nodiscard]] std::vector<std::string> SplitCommandLine(std::string_view parameters,
                                                        LeadByteTest isLeadByte = NoLeadBytes);

} // namespace quorvil
