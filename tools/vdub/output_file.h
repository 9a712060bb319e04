#pragma once

#include <cstdint>
#include <memory>
#include <string>

extern "C" {
#include <libavformat/avformat.h>
}

namespace tool {
class NewFile;
} // namespace tool

namespace vdub {

// One output file, created by tool::NewFile (exclusively, nameless or under a temporary name until
// committed) and written by FFmpeg's muxer through our own I/O. Unless committed, the file is gone
// when the object goes.
class OutputFile {
public:
    OutputFile(std::string target, const char* format);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // A stream that takes the packets of `from` unchanged.
    AVStream* CopyStream(const AVStream* from);
    AVStream* NewStream();

    // Creates the file and writes its header.
    void Begin(AVDictionary* options = nullptr);
    [[nodiscard]] bool begun() const { return file_ != nullptr; }

    // Writes the packet, timed in `from`'s time base, to stream `to`; takes its data.
    void Write(AVPacket* packet, AVRational from, const AVStream* to);

    // Completes the file, still without its name.
    void Finish();
    // Gives the finished file its name.
    void Commit();
    // Takes back a committed file when its sibling output could not be completed.
    void Withdraw();

private:
    std::string target_;
    AVFormatContext* context_ = nullptr;
    std::unique_ptr<tool::NewFile> file_;
    bool finished_ = false;

    void FreeIo();
    // FFmpeg 5.1 hands the buffer over as non-const.
    static int WritePacket(void* opaque, std::uint8_t* data, int size);
    static std::int64_t SeekFile(void* opaque, std::int64_t offset, int whence);
};

} // namespace vdub
