#pragma once

// Reading and writing whole files, for the tests and for the helper programs they start.
#include <fstream>
#include <iterator>
#include <string>

namespace quorvil::test {

[[nodiscard]] inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

} // namespace quorvil::test
