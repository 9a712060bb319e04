#include "queue_run.h"

#include <array>
#include <vector>

#include "errors.h"
#include "file_ops.h"
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

struct Failure {
    std::string path;
    std::string reason;
};

// The one place where tool results and outputs become an outcome.
EntryOutcome Assess(const std::array<ToolCommand, 3>& commands, const std::array<std::int32_t, 3>& codes,
                    const OutputFiles& outputs, const PathRules& rules)
{
    static constexpr std::array<const char*, 3> roles = {"", " for the left channel", " for the right channel"};
    for (std::size_t i = 0; i < commands.size(); ++i) {
        const std::string tool = FileNamePart(commands[i].programFile, rules) + roles[i];
        if (codes[i] == -1)
            return {false, tool + " could not be started or did not end normally"};
        if (codes[i] != 0)
            return {false, tool + " ended with exit code " + std::to_string(codes[i])};
    }
    for (const auto* file : {&outputs.video, &outputs.left, &outputs.right}) {
        if (!FileHasContent(*file))
            return {false, *file + " is missing or empty"};
    }
    return {true, {}};
}

std::string FailureList(const std::vector<Failure>& failures)
{
    std::string text = failures.size() == 1 ? "1 file was not converted, and its source file was kept:"
                                            : std::to_string(failures.size()) +
                                                  " files were not converted, and their source files were kept:";
    for (const auto& failure : failures)
        text += "\n" + failure.path + ": " + failure.reason;
    return text;
}

} // namespace

void QueueRunner::RunQueue(const QueueAccess& queue, const EventHook& processEvents)
{
    if (busy_)
        return;
    const FlagScope busy(busy_);
    const RunEnvironment& environment = environment_;

    const PathRules& rules = environment.rules;
    const std::string dir = environment.programDir.empty() ? ProgramDirectory() : environment.programDir;
    const std::string script = ScriptFile(dir);
    std::vector<Failure> failures;

    try {
        const int count = queue.count();
        for (int i = 0; i < count; ++i) {
            const std::optional<std::string> entry = queue.entry(i);
            if (!entry)
                throw Error(ListIndexOutOfBoundsMessage(i));
            const std::string& path = *entry;
            if (environment.observer)
                environment.observer->EntryStarted(i, path);

            // The options are read when each step needs them: a change made while a tool runs
            // applies to the steps after it.
            if (queue.subdir())
                CreateDirectoryLevel(OutputDirectory(path));

            const bool videoSubdir = queue.subdir();
            WriteScriptFile(script, ScriptFileBytes(BuildScriptLines(path, videoSubdir, rules)));

            std::array<ToolCommand, 3> commands;
            std::array<std::int32_t, 3> codes{};
            const auto run = [&](std::size_t step, bool subdir) {
                commands[step] = BuildToolCommands(path, dir, subdir, rules)[step];
                codes[step] = environment.launch(commands[step], processEvents);
            };
            run(0, videoSubdir);
            const bool leftSubdir = queue.subdir();
            run(1, leftSubdir);
            const bool rightSubdir = queue.subdir();
            run(2, rightSubdir);
            const OutputFiles outputs{OutputFilesFor(path, videoSubdir, rules).video,
                                      OutputFilesFor(path, leftSubdir, rules).left,
                                      OutputFilesFor(path, rightSubdir, rules).right};

            const EntryOutcome outcome = Assess(commands, codes, outputs, rules);
            const bool deleteOriginal = queue.deleteOriginal() && outcome.converted;
            for (const auto& file : ListFilesToDelete(path, dir, deleteOriginal))
                DeleteFileQuietly(file);

            if (!outcome.converted)
                failures.push_back({path, outcome.reason});
            if (environment.observer)
                environment.observer->EntryFinished(i, path, outcome);
        }
    } catch (const Error& stop) {
        // The failures so far are not lost when the run stops; the stopping error comes last.
        if (failures.empty())
            throw;
        throw Error(FailureList(failures) + "\n\n" + stop.what());
    }

    if (!failures.empty())
        throw Error(FailureList(failures));
}

} // namespace quorvil
