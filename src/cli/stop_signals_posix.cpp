#include "stop_signals.h"

#include <csignal>
#include <initializer_list>

namespace quorvil {

void WatchStopSignals(void (*note)(int))
{
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signal, note);
    std::signal(SIGPIPE, SIG_IGN);
}

} // namespace quorvil
