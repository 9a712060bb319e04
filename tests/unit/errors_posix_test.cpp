#include <cerrno>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "errors_posix.h"

namespace quorvil {
namespace {

TEST(ErrorsPosix, AnErrnoReadsAsTheWindowsCodeOfTheSameMeaningOrInTheSystemsWords)
{
    const struct {
        int error;
        std::string text;
    } rows[] = {
        {EEXIST, "I/O error 183"},
        {ENOENT, "Invalid filename"}, // ERROR_PATH_NOT_FOUND, 3
        {EACCES, "File access denied"},
        {EMFILE, "Too many open files"},
        {ENOSPC, "I/O error 112"},
        // No Windows code means these: never "I/O error 40" or "I/O error 5" (which would read as
        // "File access denied").
        {ELOOP, "I/O error: " + std::string(std::strerror(ELOOP))},
        {EIO, "I/O error: " + std::string(std::strerror(EIO))},
    };
    for (const auto& row : rows)
        EXPECT_EQ(IoErrorMessageOfErrno(row.error), row.text) << row.error;
}

} // namespace
} // namespace quorvil
