#pragma once

#include <string>
#include <vector>

#include <windows.h>

// After windows.h, whose types it uses.
#include <shellapi.h>

#include "start_arguments.h"

namespace quorvil {

// Names the shell hands over in UTF-16 (a drop from Explorer, the command line of "Open with", the
// open dialog), in UTF-8, in which the queue and the core keep every name as it is.
struct ShellFiles {
    std::vector<std::string> files;

    void Add(const std::wstring& name);
};

// The files of a drop, in its order: a file as itself, a folder as the AVI files directly inside it
// (".avi" in any case), in name order.
[[nodiscard]] ShellFiles DroppedFiles(HDROP drop);

// The program's command line (GetCommandLineW), read as ParseStartArguments reads it; the files
// are made full paths.
struct ShellStart {
    StartArguments start;
    ShellFiles files;
};
[[nodiscard]] ShellStart StartFromCommandLine(const wchar_t* commandLine);

} // namespace quorvil
