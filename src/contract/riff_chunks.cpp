#include "riff_chunks.h"

#include <cstring>

namespace quorvil {

namespace {

std::uint32_t Le32(const unsigned char* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

FourCc TagOf(const unsigned char* p)
{
    FourCc tag;
    std::memcpy(tag.bytes.data(), p, tag.bytes.size());
    return tag;
}

} // namespace

std::optional<RiffHeader> ReadRiffHeader(const ReadAt& read)
{
    unsigned char head[12];
    if (read(0, head, sizeof head) != sizeof head)
        return std::nullopt;
    return RiffHeader{TagOf(head), Le32(head + 4), TagOf(head + 8)};
}

std::optional<RiffChunk> RiffWalker::Next()
{
    unsigned char head[8];
    if (at_ > end_ || end_ - at_ < sizeof head || read_(at_, head, sizeof head) != sizeof head)
        return std::nullopt;
    const RiffChunk chunk{TagOf(head), Le32(head + 4), at_};
    at_ = chunk.next();
    return chunk;
}

std::optional<FourCc> RiffWalker::BodyTag(const RiffChunk& chunk) const
{
    unsigned char tag[4];
    if (read_(chunk.body(), tag, sizeof tag) != sizeof tag)
        return std::nullopt;
    return TagOf(tag);
}

} // namespace quorvil
