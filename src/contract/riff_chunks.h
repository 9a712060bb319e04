#pragma once

// The chunks of a RIFF file (WAV, RF64, AVI), walked by their headers alone. Every reader of such a
// file that must not trust it walks it here: the walker reads only whole chunk headers that lie within
// the range it is given, steps over a chunk's body and its pad byte without reading it, and reports
// each header as it stands. Whether a chunk's stated size fits, and what a walk that stops means,
// each caller judges for itself.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace quorvil {

// Reads up to `bytes` bytes at `offset` into `into`; how many it read, fewer only at the file's end
// or on an error.
using ReadAt = std::function<std::size_t(std::uint64_t offset, void* into, std::size_t bytes)>;

// A four-character code as the file holds it: a chunk's id, a list's or a form's type.
struct FourCc {
    std::array<char, 4> bytes{};

    [[nodiscard]] bool operator==(std::string_view tag) const
    {
        return tag.size() == bytes.size() && tag == std::string_view(bytes.data(), bytes.size());
    }
    [[nodiscard]] std::string text() const { return {bytes.data(), bytes.size()}; }
};

// The file's first twelve bytes: its kind ("RIFF", "RF64", ...), the size it states, its form
// ("WAVE", "AVI ").
struct RiffHeader {
    FourCc id;
    std::uint32_t size = 0;
    FourCc form;
};

// Nothing when the file is shorter than the header.
[[nodiscard]] std::optional<RiffHeader> ReadRiffHeader(const ReadAt& read);

// One chunk's header, as it stands at `at`.
struct RiffChunk {
    FourCc id;
    std::uint32_t size = 0; // as stated: it may run past the range, or past the file
    std::uint64_t at = 0;

    [[nodiscard]] std::uint64_t body() const { return at + 8; }
    // Where the next chunk stands: a chunk of odd size is followed by a pad byte.
    [[nodiscard]] std::uint64_t next() const { return body() + size + (size & 1); }
};

class RiffWalker {
public:
    // Walks the chunks that begin at `at`, up to `end` (the file's size, or the end of a list).
    RiffWalker(ReadAt read, std::uint64_t at, std::uint64_t end) : read_(std::move(read)), at_(at), end_(end) {}

    // The next chunk's header; nothing where no whole header lies before the end, or it cannot be read.
    [[nodiscard]] std::optional<RiffChunk> Next();

    // The four bytes a chunk's body begins with (a list's type, a stream header's type), read
    // whatever the chunk's size; nothing when they cannot be read.
    [[nodiscard]] std::optional<FourCc> BodyTag(const RiffChunk& chunk) const;

    // Goes on with the chunks inside `list` (after its type) as if they stood in this walk, up to
    // this walk's end rather than the list's.
    void Enter(const RiffChunk& list) { at_ = list.body() + 4; }

private:
    ReadAt read_;
    std::uint64_t at_;
    std::uint64_t end_;
};

} // namespace quorvil
