#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "entry_record.h"
#include "file_ops.h"
#include "host.h"
#include "job_slot.h"
#include "launcher.h"
#include "media_check.h"
#include "run_types.h"

namespace quorvil {

// One tool run of an entry: what it was to write, and how that file stood before.
struct Step {
    ToolCommand command;
    std::string role;
    std::string output;
    FileStamp before;
    std::int32_t result = -1;
    ToolEnd end;
};

// A file a tool of the entry made, as the tool recorded it before naming it (or, for a tool not ours,
// as it was when the tool ended): only that file is ever taken back.
struct MadeFile {
    std::string path;
    FileStamp stamp;
};

// A file of the user's that stood at an output's name, moved aside before its tool ran: back when the
// entry fails, gone once the entry's output has replaced it.
struct MovedAside {
    std::string path;
    std::string aside;
    FileStamp stamp;
};

// The conversion of one entry. What it makes is recorded, so that a failure takes it back.
class EntryConversion {
public:
    EntryConversion(std::string path, const QueueAccess& queue, const EventHook& processEvents, const std::string& dir,
                    JobSlot& slot, const RunEnvironment& environment)
        : path_(std::move(path)), queue_(queue), processEvents_(processEvents), dir_(dir), slot_(slot),
          environment_(environment), rules_(environment.rules), record_(slot.records.folder, slot.records.owner)
    {
    }
    EntryConversion(const EntryConversion&) = delete;
    EntryConversion& operator=(const EntryConversion&) = delete;

    // Converts the entry; throws Error where the run has to stop, after taking back what it made.
    EntryOutcome Run();

private:
    // How the entry went. A converted entry's reason says why its source may not be deleted, and is
    // told only when it was to be, unless `tellAlways` is set: someone else took the source away.
    struct Assessment {
        bool converted = false;
        std::string reason;
        bool tellAlways = false;
    };

    [[nodiscard]] std::string ToolsCannotTake() const;
    void RunSteps();
    void MakeOutputFolder();
    [[nodiscard]] bool MoveAsideWhatIsAt(const std::string& output);
    void ToolEnded(std::size_t step, bool succeeded);
    [[nodiscard]] const MadeFile* Made(const std::string& path) const;
    Assessment Assess(const std::string& wav, const SourceFile& source, const FileStamp& sourceBefore,
                      const std::optional<StreamCensus>& census) const;
    void CleanUp(bool converted);
    // Deletes a converted entry's source once its outputs are on disk and still at their names; what
    // stopped it goes into the outcome's reason.
    void DeleteSource(SourceFile& source, const FileStamp& sourceBefore, EntryOutcome& outcome);
    void Finish(bool sourceDeleted);
    void DropToolRecords();

    std::string path_;
    const QueueAccess& queue_;
    const EventHook& processEvents_;
    const std::string& dir_;
    JobSlot& slot_;
    const RunEnvironment& environment_;
    const PathRules& rules_;
    std::string madeDirectory_;
    FolderStamp madeStamp_; // the folder as it was made, a link in its place not followed
    [[nodiscard]] bool FolderReplaced() const;
    [[nodiscard]] std::string FolderReplacedReason() const;
    // The files at the outputs' names, in the folder made, are still the ones its tools made.
    [[nodiscard]] bool OutputsStillAtTheirNames() const;
    std::optional<HeldScript> script_;
    int scriptNumber_ = 0; // of the name it took (ScriptFile)
    std::array<Step, 3> steps_;
    std::size_t ran_ = 0;
    std::vector<MadeFile> made_;
    std::vector<MovedAside> asides_;
    std::vector<std::uint64_t> toolRecords_; // process ids of our tools whose records name their outputs
    std::string refused_;                    // why a step was not started: something not ours at its output's name
    EntryRecord record_; // what made_ and madeDirectory_ hold, for a later run should this one be killed
};

} // namespace quorvil
