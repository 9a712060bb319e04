#include <atomic>
#include <iostream>

#include "console_text.h"
#include "launcher.h"
#include "program_arguments.h"
#include "split_command.h"
#include "stop_signals.h"

namespace {

// Set by the signal handler, read by the run between its waits: the one thing a handler may do.
// Atomic, since with --jobs the handler may run in any of the run's threads; lock-free, so that a
// handler may touch it.
std::atomic<int> pendingSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void NoteSignal(int signal)
{
    pendingSignal = signal;
}

} // namespace

int main(int argc, char** argv)
{
    const quorvil::LauncherScope launcher;
    quorvil::WatchStopSignals(NoteSignal);
    quorvil::ShowTextOnConsole();
    return quorvil::RunSplitCommand(quorvil::ProgramArguments(argc, argv), std::cout, std::cerr,
                                    [] { return pendingSignal.load(); });
}
