#include "launcher.h"

#include <windows.h>

// After windows.h, whose types it uses.
#include <shellapi.h>

#include "system_text_win32.h"

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

std::int32_t LaunchTool(const ToolCommand& command, const EventHook& processEvents, ToolEnd* end)
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

    if (!ShellExecuteExA(&request)) {
        if (end) {
            const DWORD error = GetLastError();
            // The shell's own code says "not found" where the last error may not (Wine gives 1400).
            const auto shellCode = reinterpret_cast<INT_PTR>(request.hInstApp);
            const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
                                 shellCode == SE_ERR_FNF || shellCode == SE_ERR_PNF;
            end->kind = missing ? ToolEnd::Kind::notFound : ToolEnd::Kind::notStarted;
            end->detail = SystemText(error);
            while (!end->detail.empty() && static_cast<unsigned char>(end->detail.back()) <= ' ')
                end->detail.pop_back();
        }
        return -1;
    }
    const ProcessHandle process(request.hProcess);
    if (!command.wait)
        return 0;

    // The wait comes first: events are handled only after a wait the tool outlived. A missing
    // handle makes the wait fail, which ends the loop like the tool's end does.
    while (WaitForSingleObject(process.get(), 100) == WAIT_TIMEOUT) {
        try {
            if (processEvents)
                processEvents();
        } catch (...) {
            // Whoever gives up the wait ends the tool: nothing runs on unowned.
            TerminateProcess(process.get(), 1);
            WaitForSingleObject(process.get(), 3000);
            throw;
        }
    }
    DWORD code = 0;
    if (!GetExitCodeProcess(process.get(), &code))
        return -1;
    if (end) {
        end->kind = ToolEnd::Kind::exited;
        end->number = static_cast<int>(code);
    }
    return static_cast<std::int32_t>(code);
}

} // namespace quorvil
