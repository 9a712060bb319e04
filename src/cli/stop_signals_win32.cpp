#include "stop_signals.h"

#include <csignal>
#include <initializer_list>

namespace quorvil {

// A closed console is no signal here: the process is ended, and the job object that holds the
// tools ends them with it.
void WatchStopSignals(void (*note)(int))
{
    for (const int signal : {SIGINT, SIGTERM})
        std::signal(signal, note);
}

} // namespace quorvil
