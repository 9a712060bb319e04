#include <random>

#include <gtest/gtest.h>

#include "command_line.h"
#include "test_support.h"

namespace quorvil {
namespace {

using Args = std::vector<std::string>;

TEST(CommandLine, SplitsAsTheWindowsRuntime)
{
    const struct {
        const char* line;
        Args args;
    } rows[] = {
        {"/s \"C:\\tools\\temp.vdf\" /min", {"/s", "C:\\tools\\temp.vdf", "/min"}},
        {"\"C:\\clips\\take1.avi.wav\" \"C:\\clips\\take1.avi.A1.wav\" remix -1",
         {"C:\\clips\\take1.avi.wav", "C:\\clips\\take1.avi.A1.wav", "remix", "-1"}},
        {"  a\t\tb  ", {"a", "b"}},
        {"", {}},
        {"\"\"", {""}},
        {"\"a b\"c d", {"a bc", "d"}},
        {"a\\\\b", {"a\\\\b"}},       // backslashes not before a quote stay
        {"a\\\"b", {"a\"b"}},         // \" is a quote
        {"a\\\\\"b c\"", {"a\\b c"}}, // \\" is a backslash and a quote mark
        {"a\\\\\\\"b", {"a\\\"b"}},   // \\\" is a backslash and a quote
        {"\"a\"\"b\"", {"a\"b"}},     // "" inside quotes is a quote, and the quotes go on
        {"\"a\"\"b c\"", {"a\"b c"}},
        {"\"unterminated arg", {"unterminated arg"}},
        {"trailing\\", {"trailing\\"}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(SplitCommandLine(row.line), row.args) << row.line;
}

TEST(CommandLine, QuotesWindowsPathsPlainly)
{
    for (const char* path : {"C:\\tools\\temp.vdf", "C:\\my clips\\take 1.avi", "\\\\server\\share\\a.avi", ""})
        EXPECT_EQ(QuoteArgument(path), std::string("\"") + path + "\"");
    EXPECT_EQ(QuoteArgument("a\"b"), "\"a\\\"b\"");
    EXPECT_EQ(QuoteArgument("a\\\"b"), "\"a\\\\\\\"b\"");
    EXPECT_EQ(QuoteArgument("dir\\"), "\"dir\\\\\"");
}

// Random arguments made of the characters that matter to the rules, and some that do not.
std::string RandomArgument(std::mt19937& random)
{
    static const std::string alphabet = std::string("\\\\\\\"\"  \tab:/.'%$!^") + "\x95\x5c\xe9\x81\xff\x01\n";
    std::uniform_int_distribution<std::size_t> length(0, 12);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::string argument;
    for (std::size_t n = length(random); n > 0; --n)
        argument += alphabet[pick(random)];
    return argument;
}

// A text in a double-byte code page does not end halfway through a character.
void CompleteLastCharacter(std::string& text, LeadByteTest lead)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (lead(static_cast<unsigned char>(text[i])) && ++i == text.size())
            text += 'x';
    }
}

TEST(CommandLine, QuoteAndSplitAreInverses)
{
    std::mt19937 random(20261207);
    for (LeadByteTest lead : {LeadByteTest{NoLeadBytes}, LeadByteTest{test::Cp932Lead}}) {
        for (int round = 0; round < 5000; ++round) {
            Args args(std::uniform_int_distribution<int>(1, 4)(random));
            std::string line;
            for (auto& arg : args) {
                arg = RandomArgument(random);
                CompleteLastCharacter(arg, lead);
                line += (line.empty() ? "" : " ") + QuoteArgument(arg, lead);
            }
            ASSERT_EQ(SplitCommandLine(line, lead), args) << line;
        }
    }
}

TEST(CommandLine, DoubleByteTrailBackslashBeforeTheClosingQuote)
{
    // In code page 932 the trail byte 0x5C ends the name; it must not escape the closing quote.
    const std::string name = "C:\\\x95\x5c";
    EXPECT_EQ(QuoteArgument(name, test::Cp932Lead), "\"C:\\\x95\x5c\"");
    EXPECT_EQ(SplitCommandLine(QuoteArgument(name, test::Cp932Lead) + " x", test::Cp932Lead), (Args{name, "x"}));
}

} // namespace
} // namespace quorvil
