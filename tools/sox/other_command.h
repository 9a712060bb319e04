#pragma once

namespace sox {

// What becomes of a command line our sox does not serve itself (argv as main got it): on Linux the
// system's SoX takes it over; on Windows, where there is none to hand it to, one line says so.
// Returns the exit code, on Linux only when the system's SoX could not be started.
[[nodiscard]] int RunOtherCommand(char** argv);

} // namespace sox
