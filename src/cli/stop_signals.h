#pragma once

namespace quorvil {

// Makes the signals that ask quorvil-split to stop call `note` with their number: SIGINT and
// SIGTERM, and on POSIX SIGHUP (a closed terminal). On POSIX SIGPIPE is ignored too, so that a
// reader that went away (`quorvil-split *.avi | head -1`) fails our writes instead of ending the
// run halfway; the tools start with their signals as they were.
void WatchStopSignals(void (*note)(int));

} // namespace quorvil
