#include "channel_copy.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sndfile.h>

namespace sox {

namespace {

// Reads of about this many bytes: few system calls, and still little memory.
constexpr std::size_t kChunkBytes = std::size_t{4} << 20;

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

std::string Quoted(const std::string& name)
{
    return '"' + name + '"';
}

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

// Whether libsndfile found less data in the file than its header promises (it then reads what is
// there without a word, so we look at what it noted).
bool ShorterThanItsHeader(SNDFILE* file)
{
    std::string log(4096, '\0');
    const int n = sf_command(file, SFC_GET_LOG_INFO, log.data(), static_cast<int>(log.size()));
    log.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return log.find("should be") != std::string::npos || log.find("larger than file") != std::string::npos;
}

// The temporary output, removed unless it was renamed into place; a signal that ends the tool
// removes it too. The name lives where a signal handler can reach it.
char pendingName[4096];

extern "C" void RemovePendingAndExit(int signal)
{
    if (pendingName[0] != '\0')
        ::unlink(pendingName);
    ::_exit(128 + signal);
}

class TemporaryOutput {
public:
    explicit TemporaryOutput(const std::string& target) : target_(target)
    {
        const auto slash = target.find_last_of('/');
        std::string name = (slash == std::string::npos ? "" : target.substr(0, slash + 1)) + ".sox-XXXXXX";
        if (name.size() >= sizeof pendingName)
            throw Failure("cannot write " + Quoted(target) + ": File name too long");
        fd_ = ::mkstemp(name.data());
        if (fd_ < 0)
            throw Failure("cannot write " + Quoted(target) + ": " + std::strerror(errno));
        path_ = name;
        std::memcpy(pendingName, path_.c_str(), path_.size() + 1);
        for (int signal : {SIGINT, SIGTERM, SIGHUP})
            std::signal(signal, RemovePendingAndExit);
        // mkstemp makes the file private; the output gets the permissions any new file would.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd_, 0666 & ~mask);
    }

    ~TemporaryOutput()
    {
        if (!committed_)
            ::unlink(path_.c_str());
        pendingName[0] = '\0';
    }

    TemporaryOutput(const TemporaryOutput&) = delete;
    TemporaryOutput& operator=(const TemporaryOutput&) = delete;

    [[nodiscard]] int fd() const { return fd_; }
    [[nodiscard]] const std::string& path() const { return path_; }

    void Commit()
    {
        if (::rename(path_.c_str(), target_.c_str()) != 0)
            throw Failure("cannot write " + Quoted(target_) + ": " + std::strerror(errno));
        committed_ = true;
    }

private:
    std::string target_;
    std::string path_;
    int fd_ = -1;
    bool committed_ = false;
};

template <int Bytes>
void DeinterleaveFixed(const unsigned char* in, std::size_t frames, int channels, int channel, unsigned char* out)
{
    const std::size_t stride = static_cast<std::size_t>(channels) * Bytes;
    in += static_cast<std::size_t>(channel) * Bytes;
    for (std::size_t i = 0; i < frames; ++i, in += stride, out += Bytes)
        std::memcpy(out, in, Bytes);
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
    SF_INFO info{};
    errno = 0;
    Sound input(sf_open(copy.input.c_str(), SFM_READ, &info));
    if (!input) // a missing file is the system's to explain, a file of another kind libsndfile's
        throw Failure("cannot read " + Quoted(copy.input) + ": " +
                      (errno != 0 ? std::strerror(errno) : sf_strerror(nullptr)));
    const int major = info.format & SF_FORMAT_TYPEMASK;
    const int subtype = info.format & SF_FORMAT_SUBMASK;
    const int bytesPerSample = BytesPerSample(subtype);
    if ((major != SF_FORMAT_WAV && major != SF_FORMAT_WAVEX && major != SF_FORMAT_RF64) || bytesPerSample == 0)
        throw Failure(Quoted(copy.input) + " is not a PCM WAV file");
    if (ShorterThanItsHeader(input.get()))
        throw Failure(Quoted(copy.input) + " is shorter than its header says: the file is incomplete");
    if (copy.channel > info.channels)
        throw Failure(Quoted(copy.input) + " has " + std::to_string(info.channels) + " channel" +
                      (info.channels == 1 ? "" : "s") + ", so there is no channel " + std::to_string(copy.channel));

    const auto frames = static_cast<std::uint64_t>(info.frames);
    TemporaryOutput temporary(copy.output);
    SF_INFO outInfo{};
    outInfo.samplerate = info.samplerate;
    outInfo.channels = 1;
    // A plain WAV header counts at most 4 GiB of data; RF64 takes what is bigger.
    const bool big = frames * static_cast<std::uint64_t>(bytesPerSample) > 0xFFFF0000u;
    outInfo.format = (big ? SF_FORMAT_RF64 : SF_FORMAT_WAV) | subtype;
    Sound output(sf_open_fd(temporary.fd(), SFM_WRITE, &outInfo, SF_TRUE));
    if (!output)
        throw Failure("cannot write " + Quoted(copy.output) + ": " + sf_strerror(nullptr));
    sf_command(output.get(), SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);

    const std::size_t frameBytes = static_cast<std::size_t>(info.channels) * static_cast<std::size_t>(bytesPerSample);
    const std::size_t chunkFrames = std::max<std::size_t>(1, kChunkBytes / frameBytes);
    std::vector<unsigned char> in(chunkFrames * frameBytes);
    std::vector<unsigned char> out(chunkFrames * static_cast<std::size_t>(bytesPerSample));
    std::uint64_t copied = 0;
    for (;;) {
        const sf_count_t got = sf_read_raw(input.get(), in.data(), static_cast<sf_count_t>(in.size()));
        if (got <= 0)
            break;
        const std::size_t n = static_cast<std::size_t>(got) / frameBytes;
        Deinterleave(in.data(), n, info.channels, bytesPerSample, copy.channel - 1, out.data());
        const auto bytes = static_cast<sf_count_t>(n * static_cast<std::size_t>(bytesPerSample));
        errno = 0;
        if (sf_write_raw(output.get(), out.data(), bytes) != bytes)
            throw Failure("cannot write " + Quoted(copy.output) + ": " +
                          (errno != 0 ? std::strerror(errno) : sf_strerror(output.get())));
        copied += n;
    }
    if (copied != frames)
        throw Failure("cannot read " + Quoted(copy.input) + ": " + std::to_string(copied) + " of " +
                      std::to_string(frames) + " sample frames read");
    if (sf_close(output.release()) != 0)
        throw Failure("cannot write " + Quoted(copy.output));

    // The header is written last: read it back, so that a disk that filled up at the end shows.
    SF_INFO check{};
    const Sound written(sf_open(temporary.path().c_str(), SFM_READ, &check));
    if (!written || static_cast<std::uint64_t>(check.frames) != frames || check.channels != 1)
        throw Failure("cannot write " + Quoted(copy.output) + ": the written file is incomplete");
    temporary.Commit();
}

} // namespace sox
