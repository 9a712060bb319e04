#include "queue_run.h"

#include <array>
#include <vector>

#include "file_ops.h"
#include "media_check.h"
#include "plan.h"

namespace quorvil {

namespace {

// Keeps a flag set for its scope, whatever way the scope is left.
class FlagScope {
public:
    explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~FlagScope() { flag_ = false; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& flag_;
};

struct Listed {
    std::string path;
    std::string reason;
};

std::string Plural(std::size_t n, const char* one, const char* many)
{
    return n == 1 ? one : many;
}

// The run's closing message: the files not converted, the sources kept, and what stopped the run.
std::string Summary(const std::vector<Listed>& failures, const std::vector<Listed>& kept, const std::string& stop)
{
    std::string text;
    const auto list = [&text](const std::vector<Listed>& files) {
        for (const auto& file : files)
            text += "\n" + file.path + ": " + file.reason;
    };
    if (!failures.empty()) {
        text += std::to_string(failures.size()) +
                Plural(failures.size(), " file was not converted, and its source file was not deleted:",
                       " files were not converted, and their source files were not deleted:");
        list(failures);
    }
    if (!kept.empty()) {
        text += (text.empty() ? "" : "\n\n") + std::to_string(kept.size()) +
                Plural(kept.size(), " file was converted, but its source file was not deleted:",
                       " files were converted, but their source files were not deleted:");
        list(kept);
    }
    if (!stop.empty())
        text += (text.empty() ? "" : "\n\n") + stop;
    return text;
}

// One tool run of an entry: what it was to write, and how that file stood before.
struct Step {
    ToolCommand command;
    std::string role;
    std::string output;
    FileStamp before;
    std::int32_t result = -1;
    ToolEnd end;
};

// The conversion of one entry. What it makes is recorded, so that a failure takes it back.
class EntryConversion {
public:
    EntryConversion(std::string path, const QueueAccess& queue, const EventHook& processEvents, const std::string& dir,
                    ScriptDirectory& scriptDir, const RunEnvironment& environment)
        : path_(std::move(path)), queue_(queue), processEvents_(processEvents), dir_(dir), scriptDir_(scriptDir),
          environment_(environment), rules_(environment.rules)
    {
    }

    EntryOutcome Run()
    {
        const FileStamp sourceBefore = StampOf(path_);
        const std::string wav = SoundtrackFile(path_);
        // The soundtrack is written, split and deleted: it must not be a file of the user's.
        if (StampOf(wav).exists)
            return {false, wav + " exists; Quorvil will not overwrite it", false};

        EntryOutcome outcome;
        try {
            RunSteps();
            outcome = Assess(wav, sourceBefore);
        } catch (...) {
            CleanUp(false);
            throw;
        }
        CleanUp(outcome.converted);
        if (outcome.converted && queue_.deleteOriginal()) {
            if (outcome.reason.empty()) {
                DeleteFileQuietly(path_);
                outcome.sourceDeleted = true;
            }
        } else if (outcome.converted) {
            outcome.reason.clear(); // nothing was to be deleted: nothing to explain
        }
        return outcome;
    }

private:
    // Steps 2 to 5: the output directory, the script, the three tools. The options are read when
    // each step needs them: a change made while a tool runs applies to the steps after it.
    void RunSteps()
    {
        if (queue_.subdir()) {
            const std::string sub = OutputDirectory(path_);
            CreateDirectoryLevel(sub);
            madeDirectory_ = sub;
        }
        const bool videoSubdir = queue_.subdir();
        const std::string& scriptDir = scriptDir_.Get();
        scriptDirectory_ = scriptDir;
        WriteScriptFile(ScriptFile(scriptDir), ScriptFileBytes(BuildScriptLines(path_, videoSubdir, rules_)));

        static constexpr std::array<const char*, 3> roles = {"", " for the left channel", " for the right channel"};
        for (std::size_t i = 0; i < steps_.size(); ++i) {
            const bool subdir = i == 0 ? videoSubdir : queue_.subdir();
            const OutputFiles outputs = OutputFilesFor(path_, subdir, rules_);
            Step& step = steps_[i];
            step.command = BuildToolCommands(path_, dir_, subdir, rules_, scriptDir)[i];
            step.role = FileNamePart(step.command.programFile, rules_) + roles[i];
            step.output = i == 0 ? outputs.video : i == 1 ? outputs.left : outputs.right;
            step.before = StampOf(step.output);
            ran_ = i + 1;
            step.result = environment_.launch(step.command, processEvents_, &step.end);
        }
    }

    // The one place where tool results and outputs become an outcome. A tool may exit 0 after
    // failing (SoX does on a full disk), so the outputs are checked against the soundtrack.
    EntryOutcome Assess(const std::string& wav, const FileStamp& sourceBefore) const
    {
        for (const Step& step : steps_) {
            if (step.result != 0)
                return {false, DescribeEnd(step.role, step.result, step.end), false};
        }
        for (const Step& step : steps_) {
            const FileStamp after = StampOf(step.output);
            if (!after.exists || after.size == 0)
                return {false, step.output + " is missing or empty", false};
            if (after == step.before)
                return {false, step.output + " was not written (it is left from before)", false};
        }
        const WavCheck soundtrack = ReadWavFacts(wav);
        if (!soundtrack.facts)
            return {false, "the soundtrack " + wav + " " + soundtrack.problem, false};
        const WavFacts& sound = *soundtrack.facts;
        if (sound.frames == 0)
            return {false, "the soundtrack holds no sound", false};
        for (const Step* step : {&steps_[1], &steps_[2]}) {
            const WavCheck channel = ReadWavFacts(step->output);
            if (!channel.facts)
                return {false, step->output + " " + channel.problem, false};
            const WavFacts& facts = *channel.facts;
            if (facts.channels != 1)
                return {false, step->output + " is not mono", false};
            if (facts.format != sound.format || facts.sampleRate != sound.sampleRate ||
                facts.bitsPerSample != sound.bitsPerSample)
                return {false, step->output + " is not in the soundtrack's sample format and rate", false};
            if (facts.frames != sound.frames)
                return {false,
                        step->output + " holds " + std::to_string(facts.frames) + " of the soundtrack's " +
                            std::to_string(sound.frames) + " sample frames",
                        false};
        }
        if (!(StampOf(path_) == sourceBefore))
            return {false, "the source file changed during its conversion", false};

        // Converted. Whether the source may go, should it be asked to:
        if (sound.channels > 2)
            return {true,
                    "it has " + std::to_string(sound.channels) +
                        " audio channels; only the first two are in the outputs",
                    false};
        const std::optional<int> streams = CountAviAudioStreams(path_);
        if (!streams)
            return {true, "its audio streams could not be counted (it is not an AVI file Quorvil can read)", false};
        if (*streams > 1)
            return {true, "it has " + std::to_string(*streams) + " audio streams; only the first is in the outputs",
                    false};
        return {true, {}, false};
    }

    // Step 6: the soundtrack and the script go; a failed entry also takes back the outputs and the
    // directory it made, so that a retry finds the disk as it was.
    void CleanUp(bool converted)
    {
        if (scriptDirectory_.empty()) {
            DeleteFileQuietly(SoundtrackFile(path_));
        } else {
            for (const auto& file : ListFilesToDelete(path_, scriptDirectory_, false))
                DeleteFileQuietly(file);
        }
        if (converted)
            return;
        for (std::size_t i = 0; i < ran_; ++i) {
            if (!steps_[i].before.exists)
                DeleteFileQuietly(steps_[i].output);
        }
        if (!madeDirectory_.empty())
            RemoveTreeQuietly(madeDirectory_);
    }

    std::string path_;
    const QueueAccess& queue_;
    const EventHook& processEvents_;
    const std::string& dir_;
    ScriptDirectory& scriptDir_;
    const RunEnvironment& environment_;
    const PathRules& rules_;
    std::string madeDirectory_;
    std::string scriptDirectory_; // known once the script is being written
    std::array<Step, 3> steps_;
    std::size_t ran_ = 0;
};

} // namespace

void QueueRunner::RunQueue(const QueueAccess& queue, const EventHook& processEvents)
{
    if (busy_)
        return;
    const FlagScope busy(busy_);
    const RunEnvironment& environment = environment_;
    const std::string dir = environment.programDir.empty() ? ProgramDirectory() : environment.programDir;
    ScriptDirectory scriptDir(dir);
    std::vector<Listed> failures;
    std::vector<Listed> kept;

    try {
        const int count = queue.count();
        for (int i = 0; i < count; ++i) {
            const std::optional<std::string> entry = queue.entry(i);
            if (!entry)
                throw Error(ListIndexOutOfBoundsMessage(i));
            const std::string& path = *entry;
            if (environment.observer)
                environment.observer->EntryStarted(i, path);
            EntryOutcome outcome;
            try {
                outcome = EntryConversion(path, queue, processEvents, dir, scriptDir, environment).Run();
            } catch (const RunInterrupted&) {
                failures.push_back({path, "the run was interrupted"});
                throw;
            }
            if (!outcome.converted)
                failures.push_back({path, outcome.reason});
            else if (!outcome.reason.empty())
                kept.push_back({path, outcome.reason});
            if (environment.observer)
                environment.observer->EntryFinished(i, path, outcome);
        }
    } catch (const Error& stop) {
        // The failures so far are not lost when the run stops; the stopping error comes last.
        if (failures.empty() && kept.empty())
            throw;
        throw Error(Summary(failures, kept, stop.what()));
    }

    if (!failures.empty() || !kept.empty())
        throw Error(Summary(failures, kept, {}));
}

} // namespace quorvil
