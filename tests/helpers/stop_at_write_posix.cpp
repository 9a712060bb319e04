// Preloaded into a tool (LD_PRELOAD), stops it with SIGSTOP at its first write to anything but the
// standard streams: the test then knows the tool is in the middle of writing an output, and ends
// it or its parent there.
#include <csignal>

#include <dlfcn.h>
#include <unistd.h>

extern "C" ssize_t write(int fd, const void* data, size_t size)
{
    using Write = ssize_t (*)(int, const void*, size_t);
    static const auto real = reinterpret_cast<Write>(dlsym(RTLD_NEXT, "write"));
    static bool stopped = false;
    if (fd > 2 && !stopped) {
        stopped = true;
        raise(SIGSTOP);
    }
    return real(fd, data, size);
}
