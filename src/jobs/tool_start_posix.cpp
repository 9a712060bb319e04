#include "tool_start_posix.h"

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

extern char** environ;

namespace quorvil {

namespace {

[[noreturn]] void ReportAndExit(int reportFd, StartFailure::Step step) noexcept
{
    const StartFailure failure{step, errno};
    (void)!::write(reportFd, &failure, sizeof failure);
    ::_exit(127);
}

// In the child, between fork and exec: async-signal-safe calls only, as the parent may have threads.
[[noreturn]] void BecomeTool(const StartPlan& plan) noexcept
{
    const auto fail = [&plan](StartFailure::Step step) { ReportAndExit(plan.reportFd, step); };
    // The tool starts with default signal handling, whatever the application set; the parent blocked
    // every signal for the fork, so none of its handlers can run here.
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal)
        (void)::sigaction(signal, &defaults, nullptr);
    if (plan.waited) {
        // A group of its own, so that ending the tool ends what it started too; and the tool ends
        // should Quorvil be killed (a tool may choose a gentler signal for itself).
        (void)::setpgid(0, 0);
        if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0)
            fail(StartFailure::Step::setup);
        if (::getppid() != plan.parent)
            ::_exit(127); // Quorvil ended before the line above
    }
    const auto toNull = [&](int target, int flags) {
        const int fd = ::open("/dev/null", flags);
        if (fd < 0 || (fd != target && ::dup2(fd, target) < 0))
            fail(StartFailure::Step::setup);
        if (fd != target)
            ::close(fd);
    };
    // Out of the terminal's foreground group, a tool that read the terminal would be stopped for good.
    if (plan.hidden || plan.waited)
        toNull(STDIN_FILENO, O_RDONLY);
    if (plan.hidden) {
        toNull(STDOUT_FILENO, O_WRONLY);
        if (::dup2(STDOUT_FILENO, STDERR_FILENO) < 0)
            fail(StartFailure::Step::setup);
    }
    if (plan.errorFd >= 0 && ::dup2(plan.errorFd, STDERR_FILENO) < 0)
        fail(StartFailure::Step::setup);
    if (plan.directory && ::chdir(plan.directory) != 0)
        fail(StartFailure::Step::directory);
    // Whatever the application has open, with or without close-on-exec, stays out of the tool.
    if (::syscall(SYS_close_range, STDERR_FILENO + 1, plan.reportFd - 1, 0) != 0 ||
        ::syscall(SYS_close_range, plan.reportFd + 1, ~0U, 0) != 0) {
        for (int fd = STDERR_FILENO + 1; fd <= plan.maxFd; ++fd) {
            if (fd != plan.reportFd)
                ::close(fd);
        }
    }
    sigset_t none;
    sigemptyset(&none);
    (void)::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(plan.program, plan.argv, environ);
    ReportAndExit(plan.reportFd, StartFailure::Step::program);
}

} // namespace

int AboveStandardStreams(int fd)
{
    if (fd < 0 || fd > STDERR_FILENO)
        return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    ::close(fd);
    return moved;
}

int HighestPossibleFd()
{
    rlimit files{};
    return ::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY
               ? static_cast<int>(std::min<rlim_t>(files.rlim_cur, 1 << 20))
               : 1 << 16;
}

int OpenReportPipe(UniqueFd& readEnd, UniqueFd& writeEnd)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return errno;
    readEnd = UniqueFd(AboveStandardStreams(fds[0]));
    writeEnd = UniqueFd(AboveStandardStreams(fds[1]));
    return 0;
}

pid_t Spawn(const StartPlan& plan, int& error)
{
    sigset_t all;
    sigset_t old;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &old);
    const pid_t pid = ::fork();
    if (pid == 0)
        BecomeTool(plan);
    error = errno;
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return pid;
}

bool ReadStartFailure(int reportFd, StartFailure& failure)
{
    ssize_t got;
    do {
        got = ::read(reportFd, &failure, sizeof failure);
    } while (got < 0 && errno == EINTR);
    return got == static_cast<ssize_t>(sizeof failure);
}

} // namespace quorvil
