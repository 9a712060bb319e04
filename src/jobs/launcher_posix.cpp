#include "launcher.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "command_line.h"

extern char** environ;

namespace quorvil {

namespace {

class FileActions {
public:
    FileActions() { posix_spawn_file_actions_init(&actions_); }
    ~FileActions() { posix_spawn_file_actions_destroy(&actions_); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
    posix_spawn_file_actions_t* get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
};

class SpawnAttributes {
public:
    SpawnAttributes() { posix_spawnattr_init(&attributes_); }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attributes_); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    posix_spawnattr_t* get() { return &attributes_; }

private:
    posix_spawnattr_t attributes_;
};

class UniqueFd {
public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    [[nodiscard]] int get() const { return fd_; }

private:
    int fd_;
};

// The last bytes a tool wrote to its error output: enough for its last lines, never more.
class ErrorTail {
public:
    static constexpr std::size_t kKeep = 4096;

    void Add(const char* data, std::size_t size)
    {
        text_.append(data, size);
        if (text_.size() > 2 * kKeep)
            text_.erase(0, text_.size() - kKeep);
    }

    [[nodiscard]] std::string LastLines() const { return LastErrorLines(text_); }

private:
    std::string text_;
};

// The reading end of the tool's error output. What it reads is kept, and echoed to our own error
// output when the tool is shown (there, the terminal is the tool's window).
class ErrorPipe {
public:
    explicit ErrorPipe(bool echo) : echo_(echo)
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) == 0) {
            read_ = fds[0];
            write_ = fds[1];
            // Our end only: the tool's writes must block when the pipe is full, not fail.
            ::fcntl(read_, F_SETFL, ::fcntl(read_, F_GETFL) | O_NONBLOCK);
        }
    }
    ~ErrorPipe()
    {
        CloseWriteEnd();
        if (read_ >= 0)
            ::close(read_);
    }
    ErrorPipe(const ErrorPipe&) = delete;
    ErrorPipe& operator=(const ErrorPipe&) = delete;

    [[nodiscard]] int readFd() const { return read_; }
    [[nodiscard]] int writeFd() const { return write_; }
    void CloseWriteEnd()
    {
        if (write_ >= 0)
            ::close(write_);
        write_ = -1;
    }

    // Takes what is there without blocking.
    void Drain()
    {
        if (read_ < 0)
            return;
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(read_, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return;
            tail_.Add(buffer, static_cast<std::size_t>(n));
            if (echo_)
                (void)!::write(STDERR_FILENO, buffer, static_cast<std::size_t>(n));
        }
    }

    [[nodiscard]] std::string LastLines() const { return tail_.LastLines(); }

private:
    int read_ = -1;
    int write_ = -1;
    bool echo_;
    ErrorTail tail_;
};

// Our own child, reaped exactly once whatever way the launcher is left. Left by an exception (the
// event hook may throw), it asks the tool to end first, and makes it end after 3 s.
class Child {
public:
    explicit Child(pid_t pid) : pid_(pid) {}
    ~Child()
    {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGTERM);
        for (int i = 0; i < 30 && !Ended(); ++i)
            ::poll(nullptr, 0, 100);
        if (!Ended())
            ::kill(pid_, SIGKILL);
        (void)Reap(nullptr);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    [[nodiscard]] pid_t pid() const { return pid_; }

    // Whether the child has ended, without reaping it.
    [[nodiscard]] bool Ended() const
    {
        siginfo_t info{};
        return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0;
    }

    // Blocks until the child has ended; its exit code, or -1 when it left none.
    [[nodiscard]] std::int32_t Reap(ToolEnd* end)
    {
        siginfo_t info{};
        int rc;
        do {
            rc = ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED);
        } while (rc < 0 && errno == EINTR);
        pid_ = -1;
        if (rc == 0 && info.si_code == CLD_EXITED) {
            if (end) {
                end->kind = ToolEnd::Kind::exited;
                end->number = info.si_status;
            }
            return info.si_status;
        }
        if (end && rc == 0 && (info.si_code == CLD_KILLED || info.si_code == CLD_DUMPED)) {
            end->kind = ToolEnd::Kind::signalled;
            end->number = info.si_status;
        }
        return -1;
    }

    // Hands the child to a thread that reaps it when it ends, so that it never lingers as a zombie.
    void Release()
    {
        std::thread([pid = pid_] {
            siginfo_t info{};
            while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED) < 0 && errno == EINTR) {
            }
        }).detach();
        pid_ = -1;
    }

private:
    pid_t pid_;
};

// Waits until the child ends, 100 ms at a time, with the event hook after each time-out; reads
// the tool's error output meanwhile, so that a tool that writes much of it never stalls on a full pipe.
void WaitWithEvents(const Child& child, ErrorPipe& errors, const EventHook& processEvents)
{
    const UniqueFd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, child.pid(), 0)));
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::milliseconds(100);
    int errorFd = errors.readFd();
    for (;;) {
        pollfd entries[2] = {{pidfd.get(), POLLIN, 0}, {errorFd, POLLIN, 0}};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const int ready = ::poll(entries, 2, static_cast<int>(std::max<std::int64_t>(left, 0)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return; // the wait failed: Reap() blocks instead
        if (entries[1].revents & (POLLIN | POLLHUP)) {
            errors.Drain();
            if (entries[1].revents & POLLHUP)
                errorFd = -1; // nothing more will come: poll the process only
        }
        // Kernels before 5.3 have no process descriptors: look at the child after each time-out.
        if ((entries[0].revents & POLLIN) || (pidfd.get() < 0 && ready == 0 && child.Ended()))
            return;
        if (entries[0].revents & (POLLERR | POLLNVAL))
            return;
        if (Clock::now() >= deadline) {
            if (processEvents)
                processEvents();
            deadline = Clock::now() + std::chrono::milliseconds(100);
        }
    }
}

} // namespace

std::int32_t LaunchTool(const ToolCommand& command, const EventHook& processEvents, ToolEnd* end)
{
    // There is no shell in between: the tool gets the arguments the Windows runtime would give it.
    std::vector<std::string> arguments = SplitCommandLine(command.parameters);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(command.programFile.c_str()));
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    const bool hidden = command.showMode == ShowMode::hidden;
    // Only a tool we wait for has its error output read; one left running keeps ours.
    ErrorPipe errors(!hidden);
    FileActions actions;
    if (hidden) {
        posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(actions.get(), STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(actions.get(), STDOUT_FILENO, STDERR_FILENO);
    }
    if (command.wait && errors.writeFd() >= 0)
        posix_spawn_file_actions_adddup2(actions.get(), errors.writeFd(), STDERR_FILENO);
    if (!command.directory.empty())
        posix_spawn_file_actions_addchdir_np(actions.get(), command.directory.c_str());
    // Whatever the application has open, with or without close-on-exec, stays out of the tool.
    posix_spawn_file_actions_addclosefrom_np(actions.get(), STDERR_FILENO + 1);

    // The tool starts with default signal handling and nothing blocked, whatever the application set.
    SpawnAttributes attributes;
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(attributes.get(), &none);
    posix_spawnattr_setsigdefault(attributes.get(), &all);
    posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    if (const int error =
            ::posix_spawn(&pid, command.programFile.c_str(), actions.get(), attributes.get(), argv.data(), environ);
        error != 0) {
        if (end) {
            end->kind = error == ENOENT ? ToolEnd::Kind::notFound : ToolEnd::Kind::notStarted;
            end->detail = std::strerror(error);
        }
        return -1;
    }
    errors.CloseWriteEnd();
    if (end)
        end->pid = pid;

    Child child(pid);
    if (!command.wait) {
        child.Release();
        return 0;
    }
    WaitWithEvents(child, errors, processEvents);
    const std::int32_t result = child.Reap(end);
    errors.Drain();
    if (end)
        end->errorTail = errors.LastLines();
    return result;
}

} // namespace quorvil
