#include "ask_to_end.h"

#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>

#include <poll.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t asked = 0;

extern "C" void NoteRequest(int)
{
    asked = 1;
}

} // namespace

int WaitToBeAskedToEnd(int ms, const std::string& file, bool answer)
{
    std::signal(SIGTERM, answer ? NoteRequest : SIG_IGN);
    std::ofstream(file) << "ready";
    for (int waited = 0; waited < ms && !asked; waited += 10)
        ::poll(nullptr, 0, 10);
    if (!asked)
        return 1;
    // More than a pipe holds, as a tool may say much as it ends: it must not stall on it.
    std::fputs(std::string(100000, '\n').c_str(), stderr);
    std::ofstream(file) << "asked";
    return 0;
}

bool LeaveAGrandchild(const std::string& file)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::sleep(60);
        ::_exit(0);
    }
    if (pid < 0)
        return false;
    std::ofstream(file) << pid;
    return true;
}
