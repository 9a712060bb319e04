#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "riff_chunks.h"
#include "riff_writer.h"
#include "test_files.h"

namespace quorvil {
namespace {

using Walked = std::vector<std::pair<std::string, std::uint64_t>>; // each chunk's id and where it stands

TEST(RiffChunks, TheWalkEndsWhereNoWholeHeaderIsLeftWithinItsEnd)
{
    const std::string tail = test::Chunk("tail", "");
    const struct {
        const char* name;
        std::string bytes;
        std::uint64_t end;
        Walked walked;
    } rows[] = {
        {"a header the end cuts is no chunk, though the file goes on",
         test::Chunk("one ", "") + tail,
         12,
         {{"one ", 0}}},
        {"a chunk whose size runs past the end is the last, though the file goes on",
         "big " + test::LittleEndian(4, 4) + "abcd" + tail,
         10,
         {{"big ", 0}}},
        {"a header the file's end cuts is no chunk", test::Chunk("one ", "") + "two ", 12, {{"one ", 0}}},
    };
    for (const auto& row : rows) {
        const ReadAt read = [&row](std::uint64_t at, void* into, std::size_t bytes) -> std::size_t {
            const std::size_t n = at < row.bytes.size() ? std::min<std::size_t>(bytes, row.bytes.size() - at) : 0;
            std::memcpy(into, row.bytes.data() + at, n);
            return n;
        };
        RiffWalker chunks(read, 0, row.end);
        Walked walked;
        while (const auto chunk = chunks.Next())
            walked.emplace_back(chunk->id.text(), chunk->at);
        EXPECT_EQ(walked, row.walked) << row.name;
    }
}

} // namespace
} // namespace quorvil
