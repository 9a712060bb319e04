#include "file_io.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "channel_copy.h"

namespace sox {

namespace {

// The temporary output, removed by a signal that ends the tool; the name lives where a signal
// handler can reach it.
char pendingName[4096];

extern "C" void RemovePendingAndExit(int signal)
{
    if (pendingName[0] != '\0')
        ::unlink(pendingName);
    ::_exit(128 + signal);
}

class FdFile : public File {
public:
    explicit FdFile(int fd) : fd_(fd) {}
    ~FdFile() override
    {
        if (fd_ >= 0)
            ::close(fd_);
    }

    std::int64_t Size() override
    {
        struct stat status {};
        return ::fstat(fd_, &status) == 0 ? status.st_size : Failed();
    }

    std::int64_t Seek(std::int64_t offset, int whence) override
    {
        const off_t position = ::lseek(fd_, offset, whence);
        return position >= 0 ? position : Failed();
    }

    std::int64_t Read(void* data, std::int64_t bytes) override
    {
        auto* at = static_cast<char*>(data);
        std::int64_t done = 0;
        while (done < bytes) {
            const ssize_t n = ::read(fd_, at + done, static_cast<std::size_t>(bytes - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return Failed();
            if (n == 0)
                break;
            done += n;
        }
        return done;
    }

    std::int64_t Write(const void* data, std::int64_t bytes) override
    {
        const auto* at = static_cast<const char*>(data);
        std::int64_t done = 0;
        while (done < bytes) {
            const ssize_t n = ::write(fd_, at + done, static_cast<std::size_t>(bytes - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return Failed();
            done += n;
        }
        return done;
    }

private:
    std::int64_t Failed()
    {
        lastError_ = std::strerror(errno);
        return -1;
    }

    int fd_;
};

class TemporaryOutput : public OutputFile {
public:
    TemporaryOutput(int fd, std::string path, std::string target)
        : file_(fd), path_(std::move(path)), target_(std::move(target))
    {
        std::memcpy(pendingName, path_.c_str(), path_.size() + 1);
        for (int signal : {SIGINT, SIGTERM, SIGHUP})
            std::signal(signal, RemovePendingAndExit);
        // mkstemp makes the file private; the output gets the permissions any new file would.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
    }

    ~TemporaryOutput() override
    {
        if (!committed_)
            ::unlink(path_.c_str());
        pendingName[0] = '\0';
    }

    File& file() override { return file_; }

    void Commit() override
    {
        if (::rename(path_.c_str(), target_.c_str()) != 0)
            throw Failure("cannot write " + Quoted(target_) + ": " + std::strerror(errno));
        committed_ = true;
    }

private:
    FdFile file_;
    std::string path_;
    std::string target_;
    bool committed_ = false;
};

} // namespace

std::unique_ptr<File> OpenInput(const std::string& name)
{
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw Failure("cannot read " + Quoted(name) + ": " + std::strerror(errno));
    return std::make_unique<FdFile>(fd);
}

std::unique_ptr<OutputFile> CreateOutput(const std::string& target)
{
    const auto slash = target.find_last_of('/');
    std::string name = (slash == std::string::npos ? "" : target.substr(0, slash + 1)) + ".sox-XXXXXX";
    if (name.size() >= sizeof pendingName)
        throw Failure("cannot write " + Quoted(target) + ": File name too long");
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        throw Failure("cannot write " + Quoted(target) + ": " + std::strerror(errno));
    return std::make_unique<TemporaryOutput>(fd, name, target);
}

} // namespace sox
