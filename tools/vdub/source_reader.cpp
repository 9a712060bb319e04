#include "source_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "ffmpeg_owned.h"
#include "riff_chunks.h"
#include "script.h"

namespace vdub {

namespace {

// Reading by the index, the reader seeks to every chunk it reads and a seek past the buffer
// discards it: a bigger buffer reads more than it uses (measured: 256 KiB doubles the system time on
// a 2 GB file).
constexpr int kIndexOrderBuffer = 64 * 1024;
// Reading in file order, FFmpeg reads a packet larger than its buffer straight into the packet: a
// small buffer holds little more than the chunk headers, and the payloads are copied once instead of
// twice. With 64 KiB the second copy ran, for some places of the buffers on the heap, at a fraction
// of its speed: vdub took 1.6 times as long on the 8-channel file when the source's path was 16 to
// 18 characters long.
constexpr int kFileOrderBuffer = 4 * 1024;

std::uint32_t Le32(const unsigned char* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

quorvil::ReadAt ReaderOf(const InputFile& file)
{
    return [&file](std::uint64_t at, void* into, std::size_t bytes) -> std::size_t {
        const long got = file.ReadAt(into, bytes, static_cast<std::int64_t>(at));
        return got < 0 ? 0 : static_cast<std::size_t>(got);
    };
}

// Where the RIFF chunk ends as its header states, or the file where it ends first.
std::uint64_t RiffEnd(const InputFile& file, const quorvil::RiffHeader& header)
{
    return static_cast<std::uint64_t>(std::clamp<std::int64_t>(file.Size(), 0, 8 + std::int64_t{header.size}));
}

bool IsAvi(const std::optional<quorvil::RiffHeader>& header)
{
    return header && header->id == "RIFF" && header->form == "AVI ";
}

// Where the first RIFF list's idx1 chunk begins, or -1: the top-level chunks are walked by their
// headers alone.
std::int64_t FindIndexChunk(const InputFile& file)
{
    const quorvil::ReadAt read = ReaderOf(file);
    const auto header = quorvil::ReadRiffHeader(read);
    if (!IsAvi(header))
        return -1;
    quorvil::RiffWalker chunks(read, 12, RiffEnd(file, *header));
    while (const auto chunk = chunks.Next()) {
        if (chunk->id == "idx1")
            return static_cast<std::int64_t>(chunk->at);
    }
    return -1;
}

// Walks the chunks in [at, end) and in every list among them, adding each strh to `lengths`.
void WalkHeaders(const InputFile& file, std::uint64_t at, std::uint64_t end, std::vector<StreamLength>& lengths,
                 int depth)
{
    if (depth >= 8)
        return;
    quorvil::RiffWalker chunks(ReaderOf(file), at, end);
    while (const auto chunk = chunks.Next()) {
        const std::uint32_t size = chunk->size;
        if (chunk->id == "LIST") {
            const auto type = size >= 4 ? chunks.BodyTag(*chunk) : std::nullopt;
            if (type && *type != "movi" && *type != "INFO")
                WalkHeaders(file, chunk->body() + 4, std::min(end, chunk->body() + size), lengths, depth + 1);
        } else if (chunk->id == "strh") {
            unsigned char strh[48];
            const long got =
                size >= 8 ? file.ReadAt(strh, std::min<std::size_t>(48, size), static_cast<std::int64_t>(chunk->body()))
                          : 0;
            if (got < 8 || std::memcmp(strh, "pads", 4) != 0) {
                StreamLength stream;
                if (got == 48 && size >= 48) {
                    stream.known = true;
                    stream.length = Le32(strh + 32);
                    stream.sampleSize = Le32(strh + 44);
                }
                lengths.push_back(stream);
            }
        }
    }
}

} // namespace

SourceReader::SourceReader(const InputFile& file, const std::string& path, bool inFileOrder, int flags) : file_(file)
{
    if (inFileOrder) {
        hiddenIndex_ = FindIndexChunk(file_);
        try {
            ahead_ = std::make_unique<ReadAhead>([&file](void* buffer, std::size_t size, std::int64_t offset) {
                return file.ReadAt(buffer, size, offset);
            });
        } catch (const std::system_error&) {
            // No thread to spare: the reads go straight to the file, as they would.
        }
    }

    const int size = inFileOrder ? kFileOrderBuffer : kIndexOrderBuffer;
    auto* buffer = static_cast<std::uint8_t*>(av_malloc(size));
    io_ = buffer ? avio_alloc_context(buffer, size, 0, this, Read, nullptr, Seek) : nullptr;
    context_ = avformat_alloc_context();
    if (!io_ || !context_) {
        if (!io_)
            av_free(buffer);
        Close();
        throw Failure("out of memory");
    }
    context_->pb = io_;
    context_->flags |= AVFMT_FLAG_CUSTOM_IO | flags;
    if (const int rc = avformat_open_input(&context_, path.c_str(), nullptr, nullptr); rc < 0) {
        Close(); // avformat_open_input freed the context; the rest is ours
        throw Failure("cannot open \"" + path + "\": " + AvError(rc));
    }
}

SourceReader::~SourceReader()
{
    Close();
}

void SourceReader::Close()
{
    if (context_)
        avformat_close_input(&context_);
    if (io_) {
        av_freep(&io_->buffer);
        avio_context_free(&io_);
    }
}

int SourceReader::Read(void* opaque, std::uint8_t* buffer, int size)
{
    auto* self = static_cast<SourceReader*>(opaque);
    const long n = self->ahead_ ? self->ahead_->Read(buffer, static_cast<std::size_t>(size), self->position_)
                                : self->file_.ReadAt(buffer, static_cast<std::size_t>(size), self->position_);
    if (n < 0)
        return static_cast<int>(n);
    if (n == 0)
        return AVERROR_EOF;
    // The bytes of the tag "idx1" that fall into this read become "JUNK".
    static constexpr char junk[] = "JUNK";
    for (int i = 0; i < 4; ++i) {
        const std::int64_t at = self->hiddenIndex_ + i - self->position_;
        if (self->hiddenIndex_ >= 0 && at >= 0 && at < n)
            buffer[at] = static_cast<std::uint8_t>(junk[i]);
    }
    self->position_ += n;
    return static_cast<int>(n);
}

std::int64_t SourceReader::Seek(void* opaque, std::int64_t offset, int whence)
{
    auto* self = static_cast<SourceReader*>(opaque);
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return self->file_.Size();
    case SEEK_SET:
        break;
    case SEEK_CUR:
        offset += self->position_;
        break;
    case SEEK_END:
        offset += self->file_.Size();
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (offset < 0)
        return AVERROR(EINVAL);
    self->position_ = offset;
    return offset;
}

std::vector<IndexFacts> ReadIndex(const InputFile& file, const std::string& path)
{
    const SourceReader reader(file, path, false);
    const AVFormatContext* context = reader.get();
    std::vector<IndexFacts> facts(context->nb_streams);
    bool any = false;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        AVStream* stream = context->streams[i];
        const int count = avformat_index_get_entries_count(stream);
        std::int64_t last = -1; // where the entry before lies
        for (int e = 0; e < count; ++e) {
            const AVIndexEntry* entry = avformat_index_get_entry(stream, e);
            if (entry && entry->size > 0) {
                ++facts[i].entries;
                facts[i].bytes += entry->size;
                facts[i].inFileOrder = facts[i].inFileOrder && entry->pos > last;
                last = entry->pos;
                any = true;
            }
        }
    }
    return any ? facts : std::vector<IndexFacts>{};
}

std::vector<StreamLength> ReadStreamLengths(const InputFile& file)
{
    std::vector<StreamLength> lengths;
    const quorvil::ReadAt read = ReaderOf(file);
    const auto header = quorvil::ReadRiffHeader(read);
    if (!IsAvi(header))
        return lengths;
    const std::uint64_t end = RiffEnd(file, *header);
    quorvil::RiffWalker chunks(read, 12, end);
    while (const auto chunk = chunks.Next()) {
        if (chunk->id != "LIST")
            continue;
        const auto type = chunks.BodyTag(*chunk);
        if (!type)
            break;
        if (*type == "hdrl") {
            WalkHeaders(file, chunk->body() + 4, std::min(end, chunk->body() + chunk->size), lengths, 0);
            break;
        }
    }
    return lengths;
}

} // namespace vdub
