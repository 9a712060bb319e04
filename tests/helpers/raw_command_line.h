#pragma once

#include <string>

// The process's command line as the system handed it over; empty where arguments come as a vector.
std::string RawCommandLine();

// The process's id, as the launcher reports it and our tools put it in their temporary names.
long OwnProcessId();
