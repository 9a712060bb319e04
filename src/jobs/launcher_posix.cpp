#include "launcher.h"

#include <cerrno>
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

// Our own child, reaped exactly once whatever way the launcher is left (the event hook may throw).
class Child {
public:
    explicit Child(pid_t pid) : pid_(pid) {}
    ~Child()
    {
        if (pid_ > 0)
            (void)Reap();
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    [[nodiscard]] pid_t pid() const { return pid_; }

    // Blocks until the child has ended; its exit code, or -1 when it left none.
    [[nodiscard]] std::int32_t Reap()
    {
        siginfo_t info{};
        int rc;
        do {
            rc = ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED);
        } while (rc < 0 && errno == EINTR);
        pid_ = -1;
        if (rc < 0 || info.si_code != CLD_EXITED)
            return -1;
        return info.si_status;
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

// Waits until the child ends, 100 ms at a time, with the event hook after each time-out.
void WaitWithEvents(const Child& child, const EventHook& processEvents)
{
    const UniqueFd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, child.pid(), 0)));
    if (pidfd.get() < 0)
        return; // kernels before 5.3 have no process descriptors: the caller blocks in Reap()

    for (;;) {
        pollfd entry{pidfd.get(), POLLIN, 0};
        const int ready = ::poll(&entry, 1, 100);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready != 0)
            return; // ended, or the wait failed: either way there is nothing more to wait for
        if (processEvents)
            processEvents();
    }
}

} // namespace

std::int32_t LaunchTool(const ToolCommand& command, const EventHook& processEvents)
{
    // There is no shell in between: the tool gets the arguments the Windows runtime would give it.
    std::vector<std::string> arguments = SplitCommandLine(command.parameters);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(command.programFile.c_str()));
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    FileActions actions;
    if (command.showMode == ShowMode::hidden) {
        posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(actions.get(), STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(actions.get(), STDOUT_FILENO, STDERR_FILENO);
    }
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
    if (::posix_spawn(&pid, command.programFile.c_str(), actions.get(), attributes.get(), argv.data(), environ) != 0)
        return -1;

    Child child(pid);
    if (!command.wait) {
        child.Release();
        return 0;
    }
    WaitWithEvents(child, processEvents);
    return child.Reap();
}

} // namespace quorvil
