#include "channel_copy.h"

#include <algorithm>
#include <bit>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include <sndfile.h>

#include "file_io.h"
#include "quoted.h"
#include "riff_chunks.h"

namespace sox {

using quorvil::Quoted;

namespace {

// Reads of about this many bytes: few system calls, and still little memory.
constexpr std::size_t kChunkBytes = std::size_t{2} << 20;

bool EndsWithWav(const std::string& name)
{
    if (name.size() < 4)
        return false;
    std::string suffix = name.substr(name.size() - 4);
    for (char& c : suffix)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return suffix == ".wav";
}

// A plain channel number: "-1" (SoX's range 1 to 1) or digits without a sign.
std::optional<int> ChannelNumber(const std::string& text)
{
    if (text == "-1")
        return 1;
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const int n = std::stoi(text);
    return n > 0 ? std::optional<int>(n) : std::nullopt;
}

struct SndfileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
using Sound = std::unique_ptr<SNDFILE, SndfileCloser>;

int BytesPerSample(int subtype)
{
    switch (subtype) {
    case SF_FORMAT_PCM_U8:
        return 1;
    case SF_FORMAT_PCM_16:
        return 2;
    case SF_FORMAT_PCM_24:
        return 3;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
        return 4;
    case SF_FORMAT_DOUBLE:
        return 8;
    default:
        return 0;
    }
}

// Writes chunks of frames on a thread of its own while the next chunk is read: the read, a copy out
// of the page cache, is most of the work, and the two then overlap. One chunk is in hand at a time.
class ChunkWriter {
public:
    // Writes a chunk's frames, or throws.
    using Write = std::function<void(const ChunkBuffer& chunk, std::size_t frames)>;

    // Chunks are of up to `chunkBytes` bytes.
    ChunkWriter(Write write, std::size_t chunkBytes) : write_(std::move(write))
    {
        chunk_.resize(chunkBytes); // the buffer the first Put gives back
        try {
            thread_ = std::thread([this] { Run(); });
        } catch (const std::system_error&) {
            // No thread to spare: each chunk is written as it is put.
            chunk_ = {};
        }
    }

    // Ends the thread once its write in progress is done. Reached without Finish, the copy failed:
    // a chunk still in hand is not written.
    ~ChunkWriter()
    {
        if (!thread_.joinable())
            return;
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }

    ChunkWriter(const ChunkWriter&) = delete;
    ChunkWriter& operator=(const ChunkWriter&) = delete;

    // Hands over a chunk of `frames` frames once the one before is written, and gives back that
    // one's buffer in its place. Throws what writing the one before threw.
    void Put(ChunkBuffer& chunk, std::size_t frames)
    {
        if (!thread_.joinable())
            return write_(chunk, frames);
        std::unique_lock lock(mutex_);
        WaitForTheLast(lock);
        std::swap(chunk, chunk_);
        frames_ = frames;
        pending_ = true;
        changed_.notify_all();
    }

    // Waits until every chunk is written; throws what writing one threw.
    void Finish()
    {
        if (!thread_.joinable())
            return;
        std::unique_lock lock(mutex_);
        WaitForTheLast(lock);
    }

private:
    Write write_;
    std::mutex mutex_;
    std::condition_variable changed_;
    ChunkBuffer chunk_;
    std::size_t frames_ = 0;
    bool pending_ = false;
    bool stop_ = false;
    std::exception_ptr failure_;
    std::thread thread_; // last: it starts when the rest is set

    void WaitForTheLast(std::unique_lock<std::mutex>& lock)
    {
        changed_.wait(lock, [this] { return !pending_; });
        if (failure_)
            std::rethrow_exception(failure_);
    }

    void Run()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return pending_ || stop_; });
            if (stop_)
                return;
            lock.unlock();
            std::exception_ptr failure;
            try {
                write_(chunk_, frames_);
            } catch (...) {
                failure = std::current_exception();
            }
            lock.lock();
            if (failure && !failure_)
                failure_ = failure;
            pending_ = false;
            changed_.notify_all();
        }
    }
};

std::uint64_t Le(const unsigned char* p, int bytes)
{
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | p[i];
    return value;
}

// The size of the sample data as the file's header states it (the data chunk's, or for RF64 the
// ds64 chunk's), or nothing when no data chunk is found. libsndfile reads a file shorter than its
// header as if it were complete, counting only what is there.
std::optional<std::uint64_t> StatedDataBytes(File& file)
{
    const quorvil::ReadAt read = [&file](std::uint64_t at, void* into, std::size_t bytes) -> std::size_t {
        const auto offset = static_cast<std::int64_t>(at);
        if (file.Seek(offset, SEEK_SET) != offset)
            return 0;
        return static_cast<std::size_t>(std::max<std::int64_t>(0, file.Read(into, static_cast<std::int64_t>(bytes))));
    };
    const auto header = quorvil::ReadRiffHeader(read);
    if (!header || header->form != "WAVE")
        return std::nullopt;
    const bool rf64 = header->id == "RF64" || header->id == "BW64";
    if (!rf64 && header->id != "RIFF")
        return std::nullopt;
    const std::int64_t size = file.Size();
    if (size < 0)
        return std::nullopt;
    std::optional<std::uint64_t> ds64;
    quorvil::RiffWalker chunks(read, 12, static_cast<std::uint64_t>(size));
    while (const auto chunk = chunks.Next()) {
        unsigned char sizes[16]; // of the RIFF chunk, then of the data
        if (chunk->id == "ds64" && chunk->size >= 16 && read(chunk->body(), sizes, sizeof sizes) == sizeof sizes)
            ds64 = Le(sizes + 8, 8);
        if (chunk->id == "data")
            return rf64 && chunk->size == 0xFFFFFFFF ? ds64 : std::optional<std::uint64_t>(chunk->size);
    }
    return std::nullopt;
}

// libsndfile's virtual I/O over our File.
sf_count_t FileLength(void* file)
{
    return static_cast<File*>(file)->Size();
}
sf_count_t FileSeek(sf_count_t offset, int whence, void* file)
{
    return static_cast<File*>(file)->Seek(offset, whence);
}
sf_count_t FileRead(void* data, sf_count_t bytes, void* file)
{
    return std::max<sf_count_t>(0, static_cast<File*>(file)->Read(data, bytes));
}
sf_count_t FileWrite(const void* data, sf_count_t bytes, void* file)
{
    return std::max<sf_count_t>(0, static_cast<File*>(file)->Write(data, bytes));
}
sf_count_t FileTell(void* file)
{
    return static_cast<File*>(file)->Seek(0, SEEK_CUR);
}

// A sound file over one of ours, from its start; the file stays open when the sound is closed.
Sound OpenSound(File& file, int mode, SF_INFO* info)
{
    SF_VIRTUAL_IO io = {FileLength, FileSeek, FileRead, FileWrite, FileTell}; // libsndfile keeps a copy
    file.Seek(0, SEEK_SET);
    return Sound(sf_open_virtual(&io, mode, info, &file));
}

template <int Bytes>
void DeinterleaveFixed(const unsigned char* in, std::size_t frames, int channels, int channel, unsigned char* out)
{
    const std::size_t stride = static_cast<std::size_t>(channels) * Bytes;
    in += static_cast<std::size_t>(channel) * Bytes;
    for (std::size_t i = 0; i < frames; ++i, in += stride, out += Bytes)
        std::memcpy(out, in, Bytes);
}

// 16-bit stereo, the common soundtrack: each frame read as one 32-bit word and the sample shifted out
// of it, in blocks of a fixed length that the compiler turns into vector code (on x86-64 in a
// quarter of the time of the loop above).
void PickFromStereo16(const unsigned char* in, std::size_t frames, int channel, unsigned char* out)
{
    constexpr std::size_t kBlock = 16;
    const unsigned shift = channel == 0 ? 0 : 16;
    std::size_t i = 0;
    for (; i + kBlock <= frames; i += kBlock) {
        std::uint32_t words[kBlock];
        std::uint16_t samples[kBlock];
        std::memcpy(words, in + 4 * i, sizeof words);
        for (std::size_t k = 0; k < kBlock; ++k)
            samples[k] = static_cast<std::uint16_t>(words[k] >> shift);
        std::memcpy(out + 2 * i, samples, sizeof samples);
    }
    DeinterleaveFixed<2>(in + 4 * i, frames - i, 2, channel, out + 2 * i);
}

// The input's bytes per sample; fails unless it is a PCM WAV as long as its header says, with the
// channel asked for.
int CheckedBytesPerSample(const ChannelCopy& copy, const SF_INFO& info, const std::optional<std::uint64_t>& stated)
{
    const int major = info.format & SF_FORMAT_TYPEMASK;
    const int bytesPerSample = BytesPerSample(info.format & SF_FORMAT_SUBMASK);
    if ((major != SF_FORMAT_WAV && major != SF_FORMAT_WAVEX && major != SF_FORMAT_RF64) || bytesPerSample == 0)
        throw Failure(Quoted(copy.input) + " is not a PCM WAV file");
    const std::size_t frameBytes = static_cast<std::size_t>(info.channels) * static_cast<std::size_t>(bytesPerSample);
    if (!stated)
        throw Failure("cannot read " + Quoted(copy.input) + ": its header names no sample data");
    if (static_cast<std::uint64_t>(info.frames) < *stated / frameBytes)
        throw Failure(Quoted(copy.input) + " is shorter than its header says: the file is incomplete");
    if (copy.channel > info.channels)
        throw Failure(Quoted(copy.input) + " has " + std::to_string(info.channels) + " channel" +
                      (info.channels == 1 ? "" : "s") + ", so there is no channel " + std::to_string(copy.channel));
    return bytesPerSample;
}

// The one-channel output of the input's sample format and rate, over `outputFile`.
Sound OpenOutputSound(const ChannelCopy& copy, File& outputFile, const SF_INFO& info, int bytesPerSample)
{
    SF_INFO outInfo{};
    outInfo.samplerate = info.samplerate;
    outInfo.channels = 1;
    // A plain WAV header counts at most 4 GiB of data; RF64 takes what is bigger. Samples of more
    // than 16 bits and rates above 48 kHz get an extensible header, as FFmpeg writes them, which
    // states the sub-format (integer or float) beyond doubt.
    const bool big = static_cast<std::uint64_t>(info.frames) * static_cast<std::uint64_t>(bytesPerSample) > 0xFFFF0000u;
    const bool extensible = bytesPerSample > 2 || info.samplerate > 48000;
    outInfo.format = (big          ? SF_FORMAT_RF64
                      : extensible ? SF_FORMAT_WAVEX
                                   : SF_FORMAT_WAV) |
                     (info.format & SF_FORMAT_SUBMASK);
    Sound output = OpenSound(outputFile, SFM_WRITE, &outInfo);
    if (!output)
        throw Failure("cannot write " + Quoted(copy.output) + ": " +
                      (outputFile.LastError().empty() ? sf_strerror(nullptr) : outputFile.LastError()));
    sf_command(output.get(), SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    return output;
}

// Copies the channel's samples from input to output, chunk by chunk; the sample frames copied.
std::uint64_t CopySamples(const ChannelCopy& copy, SNDFILE* input, SNDFILE* output, File& outputFile,
                          const SF_INFO& info, int bytesPerSample)
{
    const auto frames = static_cast<std::uint64_t>(info.frames);
    const std::size_t frameBytes = static_cast<std::size_t>(info.channels) * static_cast<std::size_t>(bytesPerSample);
    // No bigger than the soundtrack: the buffers are zeroed page by page, which would cost a short
    // file more than copying it.
    const auto chunkFrames =
        static_cast<std::size_t>(std::max<std::uint64_t>(1, std::min<std::uint64_t>(frames, kChunkBytes / frameBytes)));
    ChunkBuffer in(chunkFrames * frameBytes);
    ChunkBuffer out(chunkFrames * static_cast<std::size_t>(bytesPerSample));
    ChunkWriter writer(
        [&](const ChunkBuffer& chunk, std::size_t n) {
            Deinterleave(chunk.data(), n, info.channels, bytesPerSample, copy.channel - 1, out.data());
            const auto bytes = static_cast<sf_count_t>(n * static_cast<std::size_t>(bytesPerSample));
            if (sf_write_raw(output, out.data(), bytes) != bytes)
                throw Failure("cannot write " + Quoted(copy.output) + ": " +
                              (outputFile.LastError().empty() ? sf_strerror(output) : outputFile.LastError()));
        },
        in.size());
    std::uint64_t copied = 0;
    for (;;) {
        const sf_count_t got = sf_read_raw(input, in.data(), static_cast<sf_count_t>(in.size()));
        if (got <= 0)
            break;
        const std::size_t n = static_cast<std::size_t>(got) / frameBytes;
        writer.Put(in, n);
        copied += n;
    }
    writer.Finish();
    return copied;
}

} // namespace

std::optional<ChannelCopy> ParseChannelCopy(const std::vector<std::string>& arguments)
{
    if (arguments.size() != 4 || arguments[2] != "remix")
        return std::nullopt;
    const std::string& input = arguments[0];
    const std::string& output = arguments[1];
    // A name that begins with "-" is an option or a special file to SoX.
    if (input.starts_with('-') || output.starts_with('-') || !EndsWithWav(input) || !EndsWithWav(output))
        return std::nullopt;
    const std::optional<int> channel = ChannelNumber(arguments[3]);
    if (!channel)
        return std::nullopt;
    return ChannelCopy{input, output, *channel};
}

void Deinterleave(const unsigned char* in, std::size_t frames, int channels, int bytesPerSample, int channel,
                  unsigned char* out)
{
    switch (bytesPerSample) {
    case 1:
        return DeinterleaveFixed<1>(in, frames, channels, channel, out);
    case 2:
        if (channels == 2 && std::endian::native == std::endian::little)
            return PickFromStereo16(in, frames, channel, out);
        return DeinterleaveFixed<2>(in, frames, channels, channel, out);
    case 3:
        return DeinterleaveFixed<3>(in, frames, channels, channel, out);
    case 4:
        return DeinterleaveFixed<4>(in, frames, channels, channel, out);
    case 8:
        return DeinterleaveFixed<8>(in, frames, channels, channel, out);
    default:
        throw Failure("unsupported sample size " + std::to_string(bytesPerSample));
    }
}

void RunChannelCopy(const ChannelCopy& copy)
{
    const std::unique_ptr<File> inputFile = OpenInput(copy.input);
    // Read first: libsndfile reads on from where it left the file.
    const std::optional<std::uint64_t> stated = StatedDataBytes(*inputFile);
    SF_INFO info{};
    Sound input = OpenSound(*inputFile, SFM_READ, &info);
    if (!input) // a file that cannot be read is the system's to explain, a file of another kind libsndfile's
        throw Failure("cannot read " + Quoted(copy.input) + ": " +
                      (inputFile->LastError().empty() ? sf_strerror(nullptr) : inputFile->LastError()));
    const int bytesPerSample = CheckedBytesPerSample(copy, info, stated);

    const auto frames = static_cast<std::uint64_t>(info.frames);
    const std::unique_ptr<OutputFile> temporary = CreateOutput(copy.output);
    File& outputFile = temporary->file();
    Sound output = OpenOutputSound(copy, outputFile, info, bytesPerSample);
    const std::uint64_t copied = CopySamples(copy, input.get(), output.get(), outputFile, info, bytesPerSample);
    if (!inputFile->LastError().empty())
        throw Failure("cannot read " + Quoted(copy.input) + ": " + inputFile->LastError());
    if (copied != frames)
        throw Failure("cannot read " + Quoted(copy.input) + ": " + std::to_string(copied) + " of " +
                      std::to_string(frames) + " sample frames read");
    if (sf_close(output.release()) != 0 || !outputFile.LastError().empty())
        throw Failure("cannot write " + Quoted(copy.output) +
                      (outputFile.LastError().empty() ? "" : ": " + outputFile.LastError()));

    // The header is written last: read it back, so that a disk that filled up at the end shows.
    SF_INFO check{};
    const Sound written = OpenSound(outputFile, SFM_READ, &check);
    if (!written || static_cast<std::uint64_t>(check.frames) != frames || check.channels != 1)
        throw Failure("cannot write " + Quoted(copy.output) + ": the written file is incomplete");
    temporary->Commit();
}

} // namespace sox
