#include "entry_conversion.h"

#include "media_check.h"
#include "plan.h"

namespace quorvil {

EntryOutcome EntryConversion::Run()
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

// The output directory, the script, the three tools. The options are read when
// each step needs them: a change made while a tool runs applies to the steps after it.
void EntryConversion::RunSteps()
{
    if (queue_.subdir()) {
        const std::string sub = OutputDirectory(path_);
        CreateDirectoryLevel(sub);
        madeDirectory_ = sub;
    }
    const bool videoSubdir = queue_.subdir();
    const std::string& scriptDir = slot_.scriptDir.Get();
    scriptDirectory_ = scriptDir;
    WriteScriptFile(ScriptFile(scriptDir, slot_.number), ScriptFileBytes(BuildScriptLines(path_, videoSubdir, rules_)));

    static constexpr std::array<const char*, 3> roles = {"", " for the left channel", " for the right channel"};
    for (std::size_t i = 0; i < steps_.size(); ++i) {
        const bool subdir = i == 0 ? videoSubdir : queue_.subdir();
        const OutputFiles outputs = OutputFilesFor(path_, subdir, rules_);
        Step& step = steps_[i];
        step.command = BuildToolCommands(path_, dir_, subdir, rules_, scriptDir, slot_.number)[i];
        step.role = FileNamePart(step.command.programFile, rules_) + roles[i];
        step.output = i == 0 ? outputs.video : i == 1 ? outputs.left : outputs.right;
        step.before = StampOf(step.output);
        ran_ = i + 1;
        step.result = environment_.launch(step.command, processEvents_, &step.end);
        // Without the soundtrack the audio tools could only fail, each with noise of its own.
        if (i == 0 && step.result != 0)
            return;
    }
}

// The one place where tool results and outputs become an outcome. A tool may exit 0 after
// failing (SoX does on a full disk), so the outputs are checked against the soundtrack.
EntryOutcome EntryConversion::Assess(const std::string& wav, const FileStamp& sourceBefore) const
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
                "it has " + std::to_string(sound.channels) + " audio channels; only the first two are in the outputs",
                false};
    const std::optional<int> streams = CountAviAudioStreams(path_);
    if (!streams)
        return {true, "its audio streams could not be counted (it is not an AVI file Quorvil can read)", false};
    if (*streams > 1)
        return {true, "it has " + std::to_string(*streams) + " audio streams; only the first is in the outputs", false};
    return {true, {}, false};
}

// The soundtrack and the script go; a failed entry also takes back the outputs and the
// directory it made, so that a retry finds the disk as it was.
void EntryConversion::CleanUp(bool converted)
{
    if (scriptDirectory_.empty()) {
        DeleteFileQuietly(SoundtrackFile(path_));
    } else {
        for (const auto& file : ListFilesToDelete(path_, scriptDirectory_, false, slot_.number))
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

} // namespace quorvil
