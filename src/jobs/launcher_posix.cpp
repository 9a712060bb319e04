#include "launcher.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "command_line.h"
#include "handles_posix.h"
#include "tool_start_posix.h"

namespace quorvil {

namespace {

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

// The reading end of the tool's error output. What it reads is kept for the reason of a failure,
// which says it once; passed on to our own error output as well, it would be said twice.
class ErrorPipe {
public:
    ErrorPipe()
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) == 0) {
            read_ = AboveStandardStreams(fds[0]);
            write_ = AboveStandardStreams(fds[1]);
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
        }
    }

    [[nodiscard]] std::string LastLines() const { return tail_.LastLines(); }

private:
    int read_ = -1;
    int write_ = -1;
    ErrorTail tail_;
};

// Our own child, reaped exactly once whatever way the launcher is left. A tool we wait for leads a
// process group of its own, so that ending it ends whatever it started too.
class Child {
public:
    Child(pid_t pid, bool group) : pid_(pid), group_(group), pidfd_(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)))
    {
    }
    // Left by an exception that End() did not see (none the launcher expects), the tool is still ended.
    ~Child()
    {
        if (pid_ > 0)
            End({});
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    [[nodiscard]] pid_t pid() const { return pid_; }
    [[nodiscard]] int pidfd() const { return pidfd_.get(); }

    // Whether the child has ended, without reaping it.
    [[nodiscard]] bool Ended() const
    {
        siginfo_t info{};
        return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0;
    }

    // Asks the tool to end (SIGTERM, and SIGCONT for one that was stopped), makes it end after 3 s
    // (SIGKILL), and reaps it. processEvents is still called every 100 ms meanwhile, so that a window
    // keeps answering; what it throws then is set aside, since the exception that led here goes on.
    void End(const EventHook& processEvents)
    {
        Signal(SIGTERM);
        Signal(SIGCONT);
        for (int i = 0; i < 30 && !Ended(); ++i) {
            pollfd entry{pidfd_.get(), POLLIN, 0};
            if (::poll(&entry, pidfd_.get() >= 0 ? 1 : 0, 100) > 0)
                break;
            if (processEvents) {
                try {
                    processEvents();
                } catch (...) {
                }
            }
        }
        // Whatever is left of its group goes too. The tool is not reaped yet, so its process group
        // id cannot have been given to anyone else.
        Signal(SIGKILL);
        (void)Reap(nullptr);
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
    void Signal(int signal) const
    {
        if (group_)
            ::killpg(pid_, signal);
        else
            ::kill(pid_, signal);
    }

    pid_t pid_;
    bool group_;
    UniqueFd pidfd_;
};

// Waits until the child ends, 100 ms at a time, with the event hook after each time-out; reads
// the tool's error output meanwhile, so that a tool that writes much of it never stalls on a full pipe.
void WaitWithEvents(const Child& child, ErrorPipe& errors, const EventHook& processEvents)
{
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::milliseconds(100);
    int errorFd = errors.readFd();
    for (;;) {
        pollfd entries[2] = {{child.pidfd(), POLLIN, 0}, {errorFd, POLLIN, 0}};
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
        if ((entries[0].revents & POLLIN) || (child.pidfd() < 0 && ready == 0 && child.Ended()))
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

// The tool's argument vector, as execve takes it. There is no shell in between: the tool gets the
// arguments the Windows runtime would give it.
class ArgumentVector {
public:
    explicit ArgumentVector(const ToolCommand& command) : arguments_(SplitCommandLine(command.parameters))
    {
        argv_.push_back(const_cast<char*>(command.programFile.c_str()));
        for (auto& argument : arguments_)
            argv_.push_back(argument.data());
        argv_.push_back(nullptr);
    }
    ArgumentVector(const ArgumentVector&) = delete;
    ArgumentVector& operator=(const ArgumentVector&) = delete;

    [[nodiscard]] char* const* get() { return argv_.data(); }

private:
    std::vector<std::string> arguments_;
    std::vector<char*> argv_; // points into arguments_
};

// A tool that could not be started for want of a pipe or a process: the system's words for why.
void NotStarted(ToolEnd* end, int error)
{
    if (end) {
        end->kind = ToolEnd::Kind::notStarted;
        end->detail = std::strerror(error);
    }
}

// Fills in why the tool could not be started.
void DescribeStartFailure(const StartFailure& failure, const ToolCommand& command, ToolEnd& end)
{
    const bool missing = failure.error == ENOENT || failure.error == ENOTDIR;
    end.kind = ToolEnd::Kind::notStarted;
    end.detail = std::strerror(failure.error);
    switch (failure.step) {
    case StartFailure::Step::directory:
        end.detail = missing ? FolderNotFoundDetail(command.directory)
                             : "the folder it was to run in, " + command.directory + ", could not be entered (" +
                                   end.detail + ")";
        break;
    case StartFailure::Step::program: {
        struct stat info {};
        if (missing && ::stat(command.programFile.c_str(), &info) == 0)
            end.detail = "what it needs to run (its interpreter or loader) was not found";
        else if (missing)
            end.kind = ToolEnd::Kind::notFound;
        break;
    }
    case StartFailure::Step::setup:
        break;
    }
}

// Waits for a started tool to end, reading its error output meanwhile; its exit code.
std::int32_t WaitForTool(Child& child, ErrorPipe& errors, const EventHook& processEvents, ToolEnd* end)
{
    try {
        WaitWithEvents(child, errors, processEvents);
    } catch (...) {
        // Whoever gives up the wait ends the tool: nothing runs on unowned. Its error output is
        // still read meanwhile, so that what it says as it ends cannot stall it on a full pipe.
        child.End([&errors, &processEvents] {
            errors.Drain();
            if (processEvents)
                processEvents();
        });
        throw;
    }
    const std::int32_t result = child.Reap(end);
    errors.Drain();
    if (end)
        end->errorTail = errors.LastLines();
    return result;
}

} // namespace

LauncherScope::LauncherScope() = default;

LauncherScope::~LauncherScope() = default;

std::int32_t LaunchTool(const ToolCommand& command, const EventHook& processEvents, ToolEnd* end)
{
    ArgumentVector argv(command);
    const bool hidden = command.showMode == ShowMode::hidden;
    // Only a tool we wait for has its error output read; one left running keeps ours.
    ErrorPipe errors;
    UniqueFd reportRead(-1);
    UniqueFd reportWrite(-1);
    if (const int error = OpenReportPipe(reportRead, reportWrite); error != 0) {
        NotStarted(end, error);
        return -1;
    }
    const int maxFd = HighestPossibleFd();
    const StartPlan plan{command.programFile.c_str(),
                         argv.get(),
                         command.directory.empty() ? nullptr : command.directory.c_str(),
                         hidden,
                         command.wait ? errors.writeFd() : -1,
                         command.wait,
                         ::getpid(),
                         reportWrite.get(),
                         maxFd};

    // A tool we wait for is ours to end: it leads a process group of its own, and dies with us.
    // That takes a step between fork and exec, which posix_spawn has no room for.
    int forkError = 0;
    const pid_t pid = Spawn(plan, forkError);
    if (pid < 0) {
        NotStarted(end, forkError);
        return -1;
    }
    if (command.wait)
        (void)::setpgid(pid, pid); // as the child does: whichever comes first, the group is there
    errors.CloseWriteEnd();
    reportWrite = UniqueFd(-1);
    if (end)
        end->pid = pid;

    StartFailure failure{};
    const bool failed = ReadStartFailure(reportRead.get(), failure);
    Child child(pid, command.wait);
    if (failed) {
        (void)child.Reap(nullptr);
        if (end)
            DescribeStartFailure(failure, command, *end);
        return -1;
    }
    if (!command.wait) {
        child.Release();
        return 0;
    }
    return WaitForTool(child, errors, processEvents, end);
}

} // namespace quorvil
