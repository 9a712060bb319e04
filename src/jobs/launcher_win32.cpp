#include "launcher.h"

#include <windows.h>

// After windows.h, whose types it uses.
#include <shellapi.h>

namespace quorvil {

namespace {

// The process handle the shell hands back, closed whatever way the launcher is left.
class ProcessHandle {
public:
    explicit ProcessHandle(HANDLE handle) : handle_(handle) {}
    ~ProcessHandle()
    {
        if (handle_)
            CloseHandle(handle_);
    }
    ProcessHandle(const ProcessHandle&) = delete;
    ProcessHandle& operator=(const ProcessHandle&) = delete;
    [[nodiscard]] HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

} // namespace

std::int32_t LaunchTool(const ToolCommand& command, const EventHook& processEvents)
{
    SHELLEXECUTEINFOA request;
    ZeroMemory(&request, sizeof request);
    request.cbSize = sizeof request;
    // Only the process handle is asked for: the shell may still show its own error messages.
    request.fMask = SEE_MASK_NOCLOSEPROCESS;
    request.hwnd = nullptr;
    request.lpVerb = command.verb.c_str();
    request.lpFile = command.programFile.c_str();
    request.lpParameters = command.parameters.c_str();
    request.lpDirectory = command.directory.c_str(); // an empty string, never a null pointer
    request.nShow = static_cast<int>(command.showMode);

    if (!ShellExecuteExA(&request))
        return -1;
    const ProcessHandle process(request.hProcess);
    if (!command.wait)
        return 0;

    // The wait comes first: events are handled only after a wait the tool outlived. A missing
    // handle makes the wait fail, which ends the loop like the tool's end does.
    while (WaitForSingleObject(process.get(), 100) == WAIT_TIMEOUT) {
        if (processEvents)
            processEvents();
    }
    DWORD code = 0;
    if (!GetExitCodeProcess(process.get(), &code))
        return -1;
    return static_cast<std::int32_t>(code);
}

} // namespace quorvil
