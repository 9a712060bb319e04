// Stands in for a tool to show what a tool killed mid-run leaves, as the out-of-memory killer would
// kill it: runs the program $KILL_TOOL with our arguments, and kills it with SIGKILL as soon as it
// has written $KILL_AFTER_BYTES bytes to its files (descriptors above 2), at the end of that very
// write. Then it ends by SIGKILL itself, so that whoever started it sees a killed tool. Ends with
// 77 when it cannot trace the tool here, and with the tool's own exit code when the tool ended
// before writing that much.
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

[[noreturn]] void DieKilled()
{
    std::signal(SIGKILL, SIG_DFL);
    ::kill(::getpid(), SIGKILL);
    std::abort();
}

bool IsWrite(unsigned long long number)
{
    return number == SYS_write || number == SYS_pwrite64 || number == SYS_writev || number == SYS_pwritev;
}

} // namespace

int main(int argc, char** argv)
{
    const char* tool = std::getenv("KILL_TOOL");
    const char* after = std::getenv("KILL_AFTER_BYTES");
    if (!tool || !after)
        return 78;
    const long long limit = std::atoll(after);
    std::vector<char*> args(argv, argv + argc);
    args[0] = const_cast<char*>(tool);
    args.push_back(nullptr);

    const pid_t child = ::fork();
    if (child == 0) {
        if (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0)
            ::_exit(77);
        ::raise(SIGSTOP);
        ::execv(tool, args.data());
        ::_exit(127);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child)
        return 77;
    if (!WIFSTOPPED(status))
        return WIFEXITED(status) ? WEXITSTATUS(status) : 77;
    if (::ptrace(PTRACE_SETOPTIONS, child, nullptr,
                 reinterpret_cast<void*>(PTRACE_O_TRACESYSGOOD | PTRACE_O_TRACEEXEC | PTRACE_O_EXITKILL)) != 0)
        return 77;

    long long written = 0;
    bool writing = false; // the syscall the tool is in is a write to one of its files
    int pass = 0;         // the signal to hand on to the tool
    for (;;) {
        if (::ptrace(PTRACE_SYSCALL, child, nullptr, reinterpret_cast<void*>(static_cast<long>(pass))) != 0)
            return 77;
        pass = 0;
        if (::waitpid(child, &status, 0) != child)
            return 77;
        if (WIFEXITED(status))
            return WEXITSTATUS(status);
        if (WIFSIGNALED(status))
            DieKilled();
        if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
            if (status >> 16 == 0) // a signal for the tool, not an event of the trace
                pass = WSTOPSIG(status);
            continue;
        }
        __ptrace_syscall_info info{};
        if (::ptrace(PTRACE_GET_SYSCALL_INFO, child, reinterpret_cast<void*>(sizeof info), &info) <= 0)
            return 77;
        if (info.op == PTRACE_SYSCALL_INFO_ENTRY) {
            writing = IsWrite(info.entry.nr) && info.entry.args[0] > 2;
        } else if (info.op == PTRACE_SYSCALL_INFO_EXIT && writing && info.exit.rval > 0) {
            written += info.exit.rval;
            if (written >= limit) {
                ::kill(child, SIGKILL);
                ::waitpid(child, &status, 0);
                DieKilled();
            }
        }
    }
}
