#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "split_command.h"

namespace {

// Set by the signal handler, read by the run between its waits: the one thing a handler may do.
volatile std::sig_atomic_t pendingSignal = 0;

extern "C" void NoteSignal(int signal)
{
    pendingSignal = signal;
}

} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGINT, NoteSignal);
    std::signal(SIGTERM, NoteSignal);
    return quorvil::RunSplitCommand(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr,
                                    [] { return static_cast<int>(pendingSignal); });
}
