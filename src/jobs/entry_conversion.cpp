#include "entry_conversion.h"

#include <algorithm>
#include <string_view>

#include "host.h"
#include "plan.h"
#include "script_directory.h"

namespace quorvil {

namespace {

// How many names a script may take beside the program: temp.vdf, temp2.vdf, ... as many runs at once
// as a user could want.
constexpr int kScriptNames = 100;

std::string NotAFile(const std::string& path)
{
    return path + " is not a regular file; Quorvil will not replace it";
}

// The first warning our video tool gave ("vdub: warning: ..."), as the launcher kept its last error
// lines (joined with " / "), without its mark; empty when none. A user's own video tool gives none.
std::string VideoToolWarning(const std::string& errorTail)
{
    static constexpr std::string_view kMark = "vdub: warning: ";
    const std::size_t at = errorTail.find(kMark);
    if (at == std::string::npos)
        return {};
    const std::size_t start = at + kMark.size();
    return "the video tool says: " + errorTail.substr(start, errorTail.find(" / ", start) - start);
}

} // namespace

bool EntryConversion::FolderReplaced() const
{
    // A folder that could not be stamped as it was made (a link put in its place at once) is not ours.
    return !madeDirectory_.empty() && (!madeStamp_.exists || !(FolderStampAt(madeDirectory_) == madeStamp_));
}

bool EntryConversion::OutputsStillAtTheirNames() const
{
    if (FolderReplaced())
        return false;
    return std::all_of(steps_.begin(), steps_.end(), [this](const Step& step) {
        const MadeFile* made = Made(step.output);
        return made && IsStampedFile(StampAt(step.output), made->stamp, KnownBy::state);
    });
}

std::string EntryConversion::FolderReplacedReason() const
{
    return "its output folder " + madeDirectory_ + " was moved or replaced during its conversion";
}

EntryOutcome EntryConversion::Run()
{
    // Held to the end of the entry: no other run converts the file meanwhile, and its deletion is
    // of this very file.
    SourceFile source(path_, slot_.records.folder);
    if (!source.problem().empty()) {
        EntryOutcome refused{false, source.problem()};
        refused.sourceMissing = source.missing();
        return refused;
    }
    const FileStamp sourceBefore = source.Stamp();
    const std::optional<StreamCensus> census = ReadStreamCensus(path_);
    if (source.StillAtItsName() != SourceFile::AtName::same || !(source.Stamp() == sourceBefore))
        return {false, "the source file changed during its conversion", false};
    // The soundtrack is written, split and deleted, the outputs written: none of them may be a thing
    // of the user's other than a file a conversion may replace.
    const std::string wav = SoundtrackFile(path_);
    if (WhatIsAt(wav) != NameHolds::nothing)
        return {false, wav + " exists; Quorvil will not overwrite it", false};
    const OutputFiles outputs = OutputFilesFor(path_, queue_.subdir(), rules_);
    for (const std::string* output : {&outputs.video, &outputs.left, &outputs.right}) {
        if (WhatIsAt(*output) == NameHolds::somethingElse)
            return {false, NotAFile(*output), false};
    }
    if (const std::string why = ToolsCannotTake(); !why.empty())
        return {false, why, false};
    // Whether the source is still there tells a later run whether what this entry made is to be taken back.
    record_.Source(path_, sourceBefore);

    Assessment verdict;
    try {
        RunSteps();
        verdict = Assess(wav, source, sourceBefore, census);
    } catch (...) {
        CleanUp(false);
        throw;
    }
    CleanUp(verdict.converted);
    EntryOutcome outcome{verdict.converted, verdict.reason, false, verdict.tellAlways};
    if (!verdict.converted)
        return outcome;
    if (verdict.tellAlways) {
        Finish(false);
        return outcome;
    }
    if (!queue_.deleteOriginal()) {
        outcome.reason.clear(); // nothing was to be deleted: nothing to explain
    } else if (outcome.reason.empty() && source.WriteProtected()) {
        outcome.reason = "it is write-protected; Quorvil deletes no write-protected file";
    } else if (outcome.reason.empty()) {
        DeleteSource(source, sourceBefore, outcome);
    }
    Finish(outcome.sourceDeleted);
    return outcome;
}

void EntryConversion::DeleteSource(SourceFile& source, const FileStamp& sourceBefore, EntryOutcome& outcome)
{
    // The outputs and the names that lead to them on disk before their only other copy goes: a
    // power loss or a stick pulled just after must not leave the source gone and the outputs empty.
    const std::string sourceFolder = DirectoryPart(path_, rules_);
    std::vector<std::string> durable;
    for (const Step& step : steps_)
        durable.push_back(step.output);
    for (const Step& step : steps_)
        durable.push_back(DirectoryPart(step.output, rules_));
    durable.push_back(sourceFolder); // holds the outputs' own folder
    std::sort(durable.begin() + 3, durable.end());
    durable.erase(std::unique(durable.begin() + 3, durable.end()), durable.end());
    if (const std::string why = FlushToDisk(durable); !why.empty()) {
        outcome.reason = "its outputs could not be put on disk: " + why;
    } else if (!OutputsStillAtTheirNames()) { // the files flushed are the files checked
        outcome.reason = "its outputs were moved or replaced by another program before its source could be deleted";
    } else {
        // Killed from here on, a later run keeps the outputs once the source is gone, and takes them
        // back (putting the source back, should it be aside) while it is there.
        record_.Deleting();
        record_.Save();
        if (const std::string removed = source.Remove(sourceBefore); !removed.empty()) {
            outcome.reason = "its source file could not be deleted: " + removed;
        } else {
            outcome.sourceDeleted = true;
            (void)FlushToDisk({sourceFolder}); // the removal itself: a power loss brings no source back
        }
    }
}

// Why a tool cannot be given the names it would get, before any runs; empty when each can. Both
// layouts' outputs are asked, as the option may change while the entry runs; the script's name is
// the one beside the tools (where the script is on Windows, the one host that refuses names).
std::string EntryConversion::ToolsCannotTake() const
{
    const OutputFiles inFolder = OutputFilesFor(path_, true, rules_);
    const OutputFiles beside = OutputFilesFor(path_, false, rules_);
    const std::string wav = SoundtrackFile(path_);
    const std::array<ToolCommand, 3> commands = BuildToolCommands(path_, dir_, true, rules_, dir_, slot_.number);
    const std::string scriptDir = ScriptFolderFor(commands[0].programFile, dir_);
    const std::array<std::vector<std::string>, 3> names = {{
        {ScriptFile(scriptDir, slot_.number), path_, wav, inFolder.video, beside.video},
        {wav, inFolder.left, beside.left},
        {wav, inFolder.right, beside.right},
    }};
    for (std::size_t i = 0; i < commands.size(); ++i) {
        if (std::string why = ToolCannotTake(commands[i].programFile, names[i]); !why.empty())
            return why;
    }
    return {};
}

// Quorvil's own output folder, named in the record before it exists.
void EntryConversion::MakeOutputFolder()
{
    const std::string sub = OutputDirectory(path_);
    const bool free = WhatIsAt(sub) == NameHolds::nothing;
    if (free) {
        record_.Folder(sub);
        record_.Save();
    }
    try {
        CreateDirectoryLevel(sub); // "I/O error 183" when something is there
    } catch (...) {
        if (free)
            record_.Forget(sub);
        RethrowNamingFolder(sub); // the window's words name no folder; quorvil-split's do
    }
    madeDirectory_ = sub;
    madeStamp_ = FolderStampAt(sub);
    record_.Folder(sub);
}

// The user's file at an output's name goes aside, recorded first, so that the tool creates the name
// (run by Quorvil, our tools never replace one) and a failed entry can put the file back. False, with
// refused_ set, when it cannot be moved.
bool EntryConversion::MoveAsideWhatIsAt(const std::string& output)
{
    if (WhatIsAt(output) != NameHolds::regularFile)
        return true;
    // In the folder the entry made, a file is another program's, put there meanwhile: not ours to replace.
    if (!madeDirectory_.empty() &&
        DirectoryPart(output, rules_) == DirectoryPart(OutputFilesFor(path_, true, rules_).video, rules_)) {
        refused_ = output + " was put there by another program meanwhile; Quorvil leaves it as it is";
        return false;
    }
    const MovedAside moved{output, NameAside(output), StampAt(output)};
    record_.Aside(moved.path, moved.aside, moved.stamp);
    record_.Save();
    if (const std::string why = MoveNoReplace(moved.path, moved.aside); !why.empty()) {
        refused_ = output + " could not be moved aside to be replaced: " + why;
        return false;
    }
    asides_.push_back(moved);
    return true;
}

// The output directory, the script, the three tools. The options are read when
// each step needs them: a change made while a tool runs applies to the steps after it.
void EntryConversion::RunSteps()
{
    const std::string& scriptDir = slot_.ScriptDir();
    // In the run's own folder the script's name is the slot's: named before it exists.
    if (ScriptDirectory::Owned())
        record_.Scratch(ScriptFile(scriptDir, slot_.number), {});
    if (queue_.subdir())
        MakeOutputFolder();
    else
        record_.Save();
    const bool videoSubdir = queue_.subdir();
    const std::string bytes = ScriptBytesFor(ScriptFileBytes(BuildScriptLines(path_, videoSubdir, rules_)));
    // Other runs write their scripts beside the program too (on Windows): the slot's own name when no
    // other run holds it, else the next one that is free.
    std::string busy;
    for (int number = slot_.number; number < slot_.number + kScriptNames; ++number) {
        script_.emplace(ScriptFile(scriptDir, number), bytes);
        if (script_->busy().empty()) {
            scriptNumber_ = number;
            break;
        }
        if (busy.empty())
            busy = script_->busy();
        script_.reset();
    }
    if (!script_)
        throw Error(CannotCreateFileMessage(ScriptFile(scriptDir, slot_.number), busy));
    record_.Scratch(script_->path(), StampAt(script_->path()));
    if (!ScriptDirectory::Owned()) // in the run's own folder it was named before it was written
        record_.Save();

    // The script's folder as the video tool reads it: a user's own in a folder the code page cannot
    // write is told its short name.
    const std::string toolScriptDir =
        ScriptFolderFor(BuildToolCommands(path_, dir_, videoSubdir, rules_)[0].programFile, scriptDir);
    static constexpr std::array<const char*, 3> roles = {"", " for the left channel", " for the right channel"};
    for (std::size_t i = 0; i < steps_.size(); ++i) {
        const bool subdir = i == 0 ? videoSubdir : queue_.subdir();
        const OutputFiles outputs = OutputFilesFor(path_, subdir, rules_);
        Step& step = steps_[i];
        step.command = BuildToolCommands(path_, dir_, subdir, rules_, toolScriptDir, scriptNumber_)[i];
        step.role = FileNamePart(step.command.programFile, rules_) + roles[i];
        step.output = i == 0 ? outputs.video : i == 1 ? outputs.left : outputs.right;
        if (WhatIsAt(step.output) == NameHolds::somethingElse) {
            refused_ = NotAFile(step.output);
            return;
        }
        if (FolderReplaced()) {
            refused_ = FolderReplacedReason();
            return;
        }
        if (!MoveAsideWhatIsAt(step.output))
            return;
        step.before = StampAt(step.output);
        ran_ = i + 1;
        try {
            step.result = environment_.launch(step.command, processEvents_, &step.end);
        } catch (...) {
            ToolEnded(i, false);
            throw;
        }
        ToolEnded(i, step.result == 0);
        // Without the soundtrack the audio tools could only fail, each with noise of its own.
        if (i == 0 && step.result != 0)
            return;
    }
}

const MadeFile* EntryConversion::Made(const std::string& path) const
{
    const auto found =
        std::find_if(made_.begin(), made_.end(), [&path](const MadeFile& made) { return made.path == path; });
    return found == made_.end() ? nullptr : &*found;
}

// The one place where tool results and outputs become an outcome. A tool may exit 0 after
// failing (SoX does on a full disk), so the outputs are checked against the soundtrack.
EntryConversion::Assessment EntryConversion::Assess(const std::string& wav, const SourceFile& source,
                                                    const FileStamp& sourceBefore,
                                                    const std::optional<StreamCensus>& census) const
{
    if (!refused_.empty())
        return {false, refused_};
    // A folder swapped for another (a link into another of the user's folders, say) would have the
    // checks below read files that are not the ones the tools wrote for this entry.
    if (FolderReplaced())
        return {false, FolderReplacedReason()};
    for (const Step& step : steps_) {
        if (step.result == 0)
            continue;
        // A user knows a mono source by that, not by the tool's words about channel numbers.
        const std::string mono = &step == &steps_.back() ? NoRightChannel(wav) : "";
        return {false, mono.empty() ? DescribeEnd(step.role, step.result, step.end) : mono};
    }
    for (const Step& step : steps_) {
        const FileStamp after = StampAt(step.output);
        if (!after.exists || after.size == 0)
            return {false, step.output + " is missing or empty"};
        const MadeFile* made = Made(step.output);
        if (!made || !IsStampedFile(after, made->stamp, KnownBy::state))
            return {false, step.output + " is not the file its tool wrote (another program put a file at its name)"};
    }
    const WavCheck soundtrack = ReadWavFacts(wav);
    if (!soundtrack.facts)
        return {false, "the soundtrack " + wav + " " + soundtrack.problem};
    const WavFacts& sound = *soundtrack.facts;
    if (sound.frames == 0)
        return {false, "the soundtrack holds no sound"};
    for (const Step* step : {&steps_[1], &steps_[2]}) {
        const WavCheck channel = ReadWavFacts(step->output);
        if (!channel.facts)
            return {false, step->output + " " + channel.problem};
        const WavFacts& facts = *channel.facts;
        if (facts.channels != 1)
            return {false, step->output + " is not mono"};
        if (facts.format != sound.format || facts.sampleRate != sound.sampleRate ||
            facts.bitsPerSample != sound.bitsPerSample)
            return {false, step->output + " is not in the soundtrack's sample format and rate"};
        if (facts.frames != sound.frames)
            return {false, step->output + " holds " + std::to_string(facts.frames) + " of the soundtrack's " +
                               std::to_string(sound.frames) + " sample frames"};
    }
    if (!(source.Stamp() == sourceBefore))
        return {false, "the source file changed during its conversion"};
    // Someone else took the source away: the outputs, complete, are now all there is of it.
    switch (source.StillAtItsName()) {
    case SourceFile::AtName::same:
        break;
    case SourceFile::AtName::nothing:
        return {true,
                "the source file was removed or moved by someone else during its conversion; the outputs are kept",
                true};
    case SourceFile::AtName::other:
        return {true, "another file took the source file's name during its conversion; the outputs are kept", true};
    }

    // Converted. Whether the source may go, should it be asked to:
    if (sound.channels > 2)
        return {true,
                "it has " + std::to_string(sound.channels) + " audio channels; only the first two are in the outputs"};
    if (!census)
        return {true, "its streams could not be counted (it is not an AVI file Quorvil can read)"};
    if (std::string left = StreamsLeftOut(*census); !left.empty())
        return {true, left};
    if (!census->audioPrecision)
        return {true, "the precision of its audio cannot be told from its headers"};
    if (std::string lost = PrecisionLost(*census->audioPrecision, sound); !lost.empty())
        return {true, lost};
    // The video tool read the file itself: what it says it left out keeps the source too, even where
    // our reading of the headers found nothing.
    if (std::string warning = VideoToolWarning(steps_[0].end.errorTail); !warning.empty())
        return {true, warning};
    return {true, {}};
}

// What a tool made is recorded as it ends, by the files' identity as the tool recorded them before
// naming them: a failed entry takes back those files and no other, whatever has come to their names
// since. A tool not ours records nothing, and what stands at its outputs' names then is taken for its
// own (nothing stood there as it began). A tool that failed or was ended may leave its temporary
// files, named after its process (.vdub-PID-..., .sox-PID-...) in its outputs' folders: they go now.
void EntryConversion::ToolEnded(std::size_t i, bool succeeded)
{
    const Step& step = steps_[i];
    const std::string wav = SoundtrackFile(path_);
    std::vector<std::string> outputs{step.output};
    if (i == 0)
        outputs.push_back(wav); // nothing was there as the entry began
    const auto recordMade = [this, &wav](const std::string& path, const FileStamp& stamp) {
        made_.push_back({path, stamp});
        if (path == wav)
            record_.Scratch(path, stamp);
        else
            record_.File(path, stamp);
    };
    const std::optional<std::vector<ToolOutput>> recorded =
        step.end.pid > 0 ? ReadToolRecord(slot_.records, static_cast<std::uint64_t>(step.end.pid)) : std::nullopt;
    if (recorded) {
        for (const ToolOutput& output : *recorded)
            recordMade(output.path, output.stamp);
    } else {
        for (const std::string& output : outputs) {
            if (const FileStamp now = StampAt(output); now.exists && !(output == step.output && step.before.exists))
                recordMade(output, now);
        }
    }
    // Our tool's own record names its outputs on disk until the entry is over; a tool not ours has none.
    if (recorded)
        toolRecords_.push_back(static_cast<std::uint64_t>(step.end.pid));
    else
        record_.Save();
    if (!succeeded && step.end.pid > 0) {
        const std::string prefix = (i == 0 ? ".vdub-" : ".sox-") + std::to_string(step.end.pid) + "-";
        for (const std::string& output : outputs)
            RemoveFilesStartingWith(DirectoryPart(output, rules_), prefix);
    }
}

// The soundtrack and the script go. A failed entry also takes back the outputs and the directory it
// made, and puts back what it moved aside, so that a retry finds the disk as it was; a directory that
// holds anything else stays. A converted entry's outputs stay recorded until it is over (Finish).
void EntryConversion::CleanUp(bool converted)
{
    const std::string wav = SoundtrackFile(path_);
    for (const MadeFile& file : made_) {
        if (file.path == wav || !converted)
            (void)RemoveIfSame(file.path, file.stamp, KnownBy::birth);
    }
    script_.reset();
    if (converted)
        return;
    if (!madeDirectory_.empty())
        RemoveEmptyFolder(madeDirectory_);
    for (const MovedAside& moved : asides_)
        (void)MoveNoReplace(moved.aside, moved.path);
    record_.End();
    DropToolRecords();
}

// The tools' records go once the entry's own names what they did, or the entry has taken it back.
void EntryConversion::DropToolRecords()
{
    for (const std::uint64_t pid : toolRecords_)
        RemoveToolRecord(slot_.records, pid);
    toolRecords_.clear();
}

// A converted entry is over: its outputs are the user's, and replace what stood at their names.
void EntryConversion::Finish(bool sourceDeleted)
{
    // Outputs whose source was deleted were put on disk first. Others reach the disk when the system
    // writes them back, after their names: the record stays for the next run, which takes back an
    // entry whose outputs a power loss emptied meanwhile, while its source is there to convert again.
    if (!sourceDeleted) {
        record_.Over(); // from here on a later run keeps the outputs, whatever becomes of the source
        record_.Save();
    }
    DropToolRecords();
    for (const MovedAside& moved : asides_)
        (void)RemoveIfSame(moved.aside, moved.stamp);
    if (sourceDeleted) {
        // A tool's record a power loss brought back would name outputs that are all there is of the source.
        if (!slot_.records.folder.empty())
            record_host::FlushFolder(slot_.records.folder);
        record_.End();
    } else {
        record_.Leave();
    }
}

} // namespace quorvil
