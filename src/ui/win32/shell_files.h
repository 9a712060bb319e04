#pragma once

#include <string>
#include <vector>

#include <windows.h>

// After windows.h, whose types it uses.
#include <shellapi.h>

#include "start_arguments.h"

namespace quorvil {

// Names the shell hands over in UTF-16 (a drop from Explorer, the command line of "Open with", the
// open dialog), in the system's code page, in which the queue, the script and the tools take them.
// A name with a character that the code page cannot hold is refused, never queued mangled.
struct ShellFiles {
    std::vector<std::string> files;
    std::vector<std::wstring> refused;

    // Takes a name into files, or into refused.
    void Add(const std::wstring& name);
    // The error that tells the user which names were refused, and why (a Utf8Error: it names them as
    // they are); throws nothing without any.
    void ThrowIfRefused() const;
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
