#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "errors.h"
#include "host.h"
#include "launcher.h"
#include "path_rules.h"

namespace quorvil {

// What the parts of a queue run share: the queue as the run reads it, an entry's outcome, the
// environment the run is given, and who hears of it. The run and each of its parts include this,
// never the run itself.

// Live access to what the window holds: read at the moment the run needs it, never copied.
struct QueueAccess {
    std::function<int()> count;
    // Entry i, or nothing when the queue no longer has it.
    std::function<std::optional<std::string>(int)> entry;
    std::function<bool()> subdir;
    std::function<bool()> deleteOriginal;
};

struct EntryOutcome {
    bool converted = false;
    // Not converted: why. Converted, with "Delete original file(s)" on, and the source kept or not
    // deleted: why. Converted, and the source removed or replaced by someone else meanwhile: that, in
    // any case.
    std::string reason;
    bool sourceDeleted = false;   // only when this entry deleted it, and it is gone
    bool sourceTakenAway = false; // someone else removed or replaced it during the conversion
    bool sourceMissing = false;   // not converted: there was no file at its name
    // Not converted: the entry could not begin (its output directory or script), and the run stops
    // at it; the reason is the error, as the window shows it.
    bool stoppedRun = false;
    // The reason in words that say what it is about, where the window's do not ("I/O error 183"
    // names no folder); else empty. Braced, so that an outcome written {converted, reason} may leave
    // it out without a warning.
    std::string namedReason{};
};

// Thrown by an event hook to stop a run while a tool runs: the tool is ended, its entry cleaned up
// as a failed one, and the run ends with its failure list and this message.
class RunInterrupted : public Error {
public:
    using Error::Error;
};

// Progress for front ends that show it, told in the thread that called RunQueue: each entry's start,
// and its end once every earlier entry has ended too (in queue order, also when several run at once).
class RunObserver {
public:
    virtual ~RunObserver() = default;
    virtual void EntryStarted(int /*index*/, const std::string& /*path*/) {}
    virtual void EntryFinished(int /*index*/, const std::string& /*path*/, const EntryOutcome& /*outcome*/) {}
    // An entry that a stop of the run ended while its tools ran, in its place among the others: not
    // converted, and why. The window lists it with the stop itself.
    virtual void EntryInterrupted(int /*index*/, const std::string& /*path*/, const EntryOutcome& /*outcome*/) {}
    // Something the user should know that stops nothing (records of an earlier run left alone).
    virtual void Warning(const std::string& /*text*/) {}
};

using Launcher = std::function<std::int32_t(const ToolCommand&, const EventHook&, ToolEnd*)>;

// The words of a run's closing message. The window's: each reason as it was raised, and an entry
// that could not begin told by its error alone, after the files listed. quorvil-split's: a reason in
// words that say what it is about ("I/O error 183" names no folder), and the entry the run stopped
// at named, with how much of the queue was left.
enum class ReportWords { window, commandLine };

// What the host provides, by default the running program's own; tests replace parts of it.
struct RunEnvironment {
    std::string programDir; // empty: the directory of the running executable
    PathRules rules = HostPathRules();
    Launcher launch = LaunchTool;
    RunObserver* observer = nullptr;
    // Where entries keep records of what they made, for the next run to take back should a run be
    // killed outright; empty: the user's state folder (see entry_record.h).
    std::string recordFolder;
    ReportWords words = ReportWords::commandLine;
};

} // namespace quorvil
