#include <gtest/gtest.h>

#include "errors.h"

namespace quorvil {
namespace {

TEST(Errors, IoErrorMessages)
{
    const struct {
        int code;
        const char* text;
    } rows[] = {
        {2, "File not found"},          {3, "Invalid filename"},          {4, "Too many open files"},
        {5, "File access denied"},      {100, "Read beyond end of file"}, {101, "Disk full"},
        {106, "Invalid numeric input"}, {183, "I/O error 183"},           {0, "I/O error 0"},
        {112, "I/O error 112"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(IoErrorMessage(row.code), row.text);
}

TEST(Errors, CannotCreateFileTrimsTheSystemText)
{
    EXPECT_EQ(CannotCreateFileMessage("C:\\tools\\temp.vdf", "Access is denied.\r\n"),
              "Cannot create file \"C:\\tools\\temp.vdf\". Access is denied");
    EXPECT_EQ(CannotCreateFileMessage("/x/temp.vdf", "Not a directory"),
              "Cannot create file \"/x/temp.vdf\". Not a directory");
    EXPECT_EQ(CannotCreateFileMessage("f", " . \t"), "Cannot create file \"f\". ");
}

TEST(Errors, AStreamWriteErrorKeepsItsTextAndAddsTheReasonWhenThereIsOne)
{
    EXPECT_EQ(StreamWriteErrorMessage(), "Stream write error");
    EXPECT_EQ(StreamWriteErrorMessage("No space left on device"), "Stream write error: No space left on device");
}

TEST(Errors, ListIndex)
{
    EXPECT_EQ(ListIndexOutOfBoundsMessage(1), "List index out of bounds (1)");
}

} // namespace
} // namespace quorvil
