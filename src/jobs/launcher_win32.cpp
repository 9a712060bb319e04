#include "launcher.h"

#include <cstdint>
#include <optional>

#include <windows.h>

#include <objbase.h>

// After windows.h, whose types it uses.
#include <shellapi.h>

#include "handles_win32.h"
#include "report_file.h"
#include "system_text_win32.h"
#include "wide_text_win32.h"

namespace quorvil {

namespace {

// The folder where our tools leave their failure reasons (report_file.h), named in the environment
// the tools inherit once per process, the same for every launch, so launches on several threads at
// once agree. Empty when it cannot be named: failures then read as exit codes only.
const std::string& ReportFolderName()
{
    static const std::string folder = [] {
        // In UTF-16: under a profile folder the code page cannot name, the 8-bit call gives a look-alike.
        wchar_t temp[MAX_PATH + 1];
        const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
        if (length == 0 || length > MAX_PATH)
            return std::string();
        std::string path = Utf8(std::wstring_view(temp, length)) + "Quorvil tool reasons";
        if (!SetEnvironmentVariableW(FromUtf8(kReportFolderVariable).c_str(), FromUtf8(path).c_str()))
            return std::string();
        return path;
    }();
    return folder;
}

// The reasons folder while a launch waits for its tool: made, or found, and held open sharing no
// deletion, so that no launch of this run or another removes it meanwhile; afterwards removed, when
// it is empty and no other launch holds it. So it is there only while a tool of ours is waited for.
class ReportFolder {
public:
    ReportFolder()
    {
        const std::string& path = ReportFolderName();
        // Another run's launch may remove it between its making and its opening here: made again.
        for (int attempt = 0; attempt < 3 && !path.empty() && !held_; ++attempt) {
            if (!CreateDirectoryW(FilePath(path).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
                return;
            const HANDLE folder =
                CreateFileW(FilePath(path).c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
            if (folder != INVALID_HANDLE_VALUE)
                held_.reset(folder);
        }
    }
    ~ReportFolder()
    {
        if (!held_)
            return;
        held_.reset();
        (void)RemoveDirectoryW(FilePath(ReportFolderName()).c_str()); // refused while anything is in it, or held
    }
    ReportFolder(const ReportFolder&) = delete;
    ReportFolder& operator=(const ReportFolder&) = delete;

    // Empty when there is none: a tool's reason is then not read.
    [[nodiscard]] std::string Path() const { return held_ ? ReportFolderName() : std::string(); }

private:
    UniqueHandle held_;
};

// The reason the ended tool left, read and removed; empty when it left none. Only the file of this
// very process counts: its name holds the process id and start time.
std::string TakeReason(HANDLE process, const std::string& folder)
{
    if (folder.empty())
        return {};
    FILETIME start;
    FILETIME exit;
    FILETIME kernel;
    FILETIME user;
    if (!GetProcessTimes(process, &start, &exit, &kernel, &user))
        return {};
    const std::uint64_t startTime = static_cast<std::uint64_t>(start.dwHighDateTime) << 32 | start.dwLowDateTime;
    const std::string path =
        folder + "\\" + ReportFileName(static_cast<std::uint32_t>(GetProcessId(process)), startTime);
    std::string text;
    {
        const HANDLE file = CreateFileW(FilePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return {};
        const UniqueHandle owned(file);
        char buffer[4096]; // a reason is a line: more is not read
        DWORD got = 0;
        if (ReadFile(file, buffer, sizeof buffer, &got, nullptr))
            text.assign(buffer, got);
    }
    DeleteFileW(FilePath(path).c_str());
    return LastErrorLines(text);
}

// The job that holds every tool we wait for, and ends them when the program ends, however it ends
// (killed, or its console closed): the system closes the handle last, and the job's processes go
// with it. Made once per process, never closed, never inherited. Null where the system has no
// such job: the tools then end only when asked to.
HANDLE ToolJob()
{
    static const HANDLE job = [] {
        const HANDLE made = CreateJobObjectA(nullptr, nullptr);
        if (!made)
            return HANDLE{};
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (!SetInformationJobObject(made, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
            CloseHandle(made);
            return HANDLE{};
        }
        return made;
    }();
    return job;
}

// Asks a tool to end as a Windows program is asked: WM_CLOSE to each of its top-level windows.
// Whether it had any window to ask.
bool AskToEnd(HANDLE process)
{
    struct Search {
        DWORD id;
        bool asked;
    } search{GetProcessId(process), false};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto& s = *reinterpret_cast<Search*>(data);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == s.id && PostMessageA(window, WM_CLOSE, 0, 0))
                s.asked = true;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.asked;
}

// Asks the tool to end and makes it after 3 s, calling processEvents every 100 ms meanwhile (what it
// throws then is set aside: the exception that led here goes on). A tool without a window cannot
// be asked (a console control event reaches only a process group of its own, which the shell does
// not make), and is ended at once.
void EndTool(HANDLE process, const EventHook& processEvents, const std::string& reports)
{
    if (AskToEnd(process)) {
        for (int i = 0; i < 30 && WaitForSingleObject(process, 100) == WAIT_TIMEOUT; ++i) {
            if (processEvents) {
                try {
                    processEvents();
                } catch (...) {
                }
            }
        }
    }
    if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, 3000);
    }
    (void)TakeReason(process, reports);
}

} // namespace

// Apartment-threaded, as the shell's extensions expect; without OLE1 DDE, which the shell needs
// no more. A thread that has COM already keeps it as it is.
LauncherScope::LauncherScope()
    : initialised_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)))
{
}

LauncherScope::~LauncherScope()
{
    if (initialised_)
        CoUninitialize();
}

std::int32_t LaunchTool(const ToolCommand& command, const EventHook& processEvents, ToolEnd* end)
{
    // In UTF-16, which our tools read as it is; a tool not ours is given only names its code page
    // writes (ToolCannotTake), which the system hands it exactly.
    const std::wstring verb = FromUtf8(command.verb);
    const std::wstring programFile = FromUtf8(command.programFile);
    const std::wstring parameters = FromUtf8(command.parameters);
    const std::wstring directory = FromUtf8(command.directory);
    SHELLEXECUTEINFOW request;
    ZeroMemory(&request, sizeof request);
    request.cbSize = sizeof request;
    // Only the process handle is asked for: the shell may still show its own error messages.
    request.fMask = SEE_MASK_NOCLOSEPROCESS;
    request.hwnd = nullptr;
    request.lpVerb = verb.c_str();
    request.lpFile = programFile.c_str();
    request.lpParameters = parameters.c_str();
    request.lpDirectory = directory.c_str(); // an empty string, never a null pointer
    request.nShow = static_cast<int>(command.showMode);
    const ReportFolder reports; // before the tool starts, so that it inherits where to leave its reason

    // The shell may start the tool elsewhere when the folder to run it in is missing (Wine does).
    if (!command.directory.empty()) {
        const DWORD folder = GetFileAttributesW(FilePath(command.directory).c_str());
        if (folder == INVALID_FILE_ATTRIBUTES || !(folder & FILE_ATTRIBUTE_DIRECTORY)) {
            if (end) {
                end->kind = ToolEnd::Kind::notStarted;
                end->detail = FolderNotFoundDetail(command.directory);
            }
            return -1;
        }
    }

    if (!ShellExecuteExW(&request)) {
        if (end) {
            const DWORD error = GetLastError();
            // The shell's own code says "not found" where the last error may not (Wine gives 1400).
            const auto shellCode = reinterpret_cast<INT_PTR>(request.hInstApp);
            const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
                                 shellCode == SE_ERR_FNF || shellCode == SE_ERR_PNF;
            end->kind = missing ? ToolEnd::Kind::notFound : ToolEnd::Kind::notStarted;
            end->detail = SystemText(error);
        }
        return -1;
    }
    // Closed whatever way the launcher is left (null when the shell gave no process).
    const UniqueHandle process(request.hProcess);
    if (end && request.hProcess)
        end->pid = GetProcessId(request.hProcess);
    if (!command.wait)
        return 0;
    // Started before it could be held, a tool may have started others that the job does not hold:
    // the shell has no way to start it suspended.
    if (process.get() && ToolJob())
        (void)AssignProcessToJobObject(ToolJob(), process.get());

    // The wait comes first: events are handled only after a wait the tool outlived. A missing
    // handle makes the wait fail, which ends the loop like the tool's end does.
    while (WaitForSingleObject(process.get(), 100) == WAIT_TIMEOUT) {
        try {
            if (processEvents)
                processEvents();
        } catch (...) {
            // Whoever gives up the wait ends the tool: nothing runs on unowned.
            EndTool(process.get(), processEvents, reports.Path());
            throw;
        }
    }
    const std::string reason = TakeReason(process.get(), reports.Path());
    DWORD code = 0;
    if (!GetExitCodeProcess(process.get(), &code))
        return -1;
    if (end) {
        end->kind = ToolEnd::Kind::exited;
        end->number = static_cast<int>(code);
        end->errorTail = reason;
    }
    return static_cast<std::int32_t>(code);
}

} // namespace quorvil
