#include "ffmpeg_owned.h"

#include <array>

extern "C" {
#include <libavutil/error.h>
}

#include "script.h"

namespace vdub {

std::string AvError(int code)
{
    std::array<char, AV_ERROR_MAX_STRING_SIZE> text{};
    av_strerror(code, text.data(), text.size());
    return text.data();
}

Packet NewPacket()
{
    Packet p(av_packet_alloc());
    if (!p)
        throw Failure("out of memory");
    return p;
}

} // namespace vdub
