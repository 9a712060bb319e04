#include "command_line.h"

namespace quorvil {

std::string QuoteArgument(std::string_view argument, LeadByteTest isLeadByte)
{
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (std::size_t i = 0; i < argument.size(); ++i) {
        const char c = argument[i];
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            // Backslashes before a quote are read in pairs, and an odd one escapes the quote.
            quoted.append(2 * backslashes + 1, '\\');
        } else {
            quoted.append(backslashes, '\\');
        }
        backslashes = 0;
        quoted += c;
        if (isLeadByte(static_cast<unsigned char>(c)) && i + 1 < argument.size())
            quoted += argument[++i];
    }
    // The closing quote follows: backslashes before it are read in pairs too.
    quoted.append(2 * backslashes, '\\');
    quoted += '"';
    return quoted;
}

std::vector<std::string> SplitCommandLine(std::string_view parameters, LeadByteTest isLeadByte)
{
    std::vector<std::string> arguments;
    std::size_t p = 0;
    const auto at = [&](std::size_t i) { return i < parameters.size() ? parameters[i] : '\0'; };

    for (;;) {
        while (at(p) == ' ' || at(p) == '\t')
            ++p;
        if (at(p) == '\0')
            break;

        std::string argument;
        bool inQuotes = false;
        for (;;) {
            bool copy = true;
            std::size_t backslashes = 0;
            while (at(p) == '\\') {
                ++p;
                ++backslashes;
            }
            if (at(p) == '"') {
                if (backslashes % 2 == 0) {
                    if (inQuotes && at(p + 1) == '"') {
                        ++p; // "" inside quotes is a literal quote, and the quotes go on
                    } else {
                        copy = false;
                        inQuotes = !inQuotes;
                    }
                }
                backslashes /= 2;
            }
            argument.append(backslashes, '\\');

            const char c = at(p);
            if (c == '\0' || (!inQuotes && (c == ' ' || c == '\t')))
                break;
            if (copy) {
                argument += c;
                if (isLeadByte(static_cast<unsigned char>(c)) && at(p + 1) != '\0')
                    argument += parameters[++p];
            }
            ++p;
        }
        arguments.push_back(std::move(argument));
    }
    return arguments;
}

} // namespace quorvil
