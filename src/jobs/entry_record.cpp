#include "entry_record.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <sstream>

#include "output_record.h"

namespace quorvil {

namespace {

constexpr const char* kHeader = kRecordHeader;
constexpr const char* kNew = ".new";

constexpr const char* kOwnerPrefix = "owner-";

// Letters and digits no other run is likely to have drawn.
std::string RandomToken()
{
    thread_local std::mt19937_64 random{std::random_device{}()};
    char text[33];
    std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(random()),
                  static_cast<unsigned long long>(random()));
    return text;
}

// A name no other record has: its kind ("entry" while the entry runs, "undo" while a later run takes
// it back), its owner, and a number of its own.
std::string RecordName(const char* kind, const RecordOwner& owner)
{
    static std::atomic<unsigned> count{0};
    thread_local std::mt19937 random{std::random_device{}()};
    char tail[32];
    std::snprintf(tail, sizeof tail, "%u.%08x", count++, static_cast<unsigned>(random()));
    return std::string(kind) + "-" + owner.token + "-" + tail;
}

bool IsToken(const std::string& text)
{
    return !text.empty() && text.find_first_not_of("0123456789abcdefghijklmnopqrstuvwxyz") == std::string::npos;
}

// The owner a record's name gives; nothing for any other file.
std::optional<RecordOwner> OwnerOfRecord(std::string name)
{
    if (name.ends_with(kNew))
        name.resize(name.size() - std::string(kNew).size());
    const std::size_t first = name.find('-');
    const std::size_t second = first == std::string::npos ? first : name.find('-', first + 1);
    if (second == std::string::npos || name.find('-', second + 1) != std::string::npos)
        return std::nullopt;
    const std::string kind = name.substr(0, first);
    RecordOwner owner{name.substr(first + 1, second - first - 1)};
    if ((kind != "entry" && kind != "undo") || !IsToken(owner.token) || second + 1 == name.size())
        return std::nullopt;
    return owner;
}

// What one record names, as read.
struct RecordedEntry {
    struct Line {
        std::string path;
        FileStamp file;
        FolderStamp dir;
        std::string aside;
    };
    std::optional<Line> source;
    std::vector<Line> files, scratch, folders, asides;
    bool deleting = false;
    bool over = false;
};

// Reads a record written by Save() or by a tool, line by line; a line cut short (a power loss) ends
// it. Records of the first form have no birth times, and name a source only while removing it.
class RecordReader {
public:
    explicit RecordReader(std::string text) : text_(std::move(text)) {}

    RecordedEntry Read()
    {
        RecordedEntry entry;
        const bool withBirth = text_.starts_with(kHeader);
        if (!withBirth && !text_.starts_with(kRecordHeaderWithoutBirth))
            return entry;
        at_ = std::string(kHeader).size();
        while (at_ < text_.size()) {
            const std::string kind = Word();
            if (kind == "deleting" || kind == "over") {
                (kind == "over" ? entry.over : entry.deleting) = true;
                continue;
            }
            RecordedEntry::Line line;
            if (kind == "folder") {
                if (!Number(line.dir.volume) || !Number(line.dir.identity) || !Number(line.dir.born) ||
                    !Number(line.dir.generation))
                    break;
                line.dir.exists = line.dir.identity != 0; // a folder named before it was made has no number
            } else if (kind == "file" || kind == "scratch" || kind == "source" || kind == "aside") {
                FileStamp& stamp = line.file;
                stamp.exists = true;
                if (!Number(stamp.volume) || !Number(stamp.identity) || !Number(stamp.size) ||
                    !Number(stamp.modified) || (withBirth && !Number(stamp.born)))
                    break;
            } else {
                break;
            }
            const std::optional<std::string> path = Path(kind == "aside" ? ' ' : '\n');
            std::optional<std::string> aside;
            if (!path || (kind == "aside" && !(aside = Path('\n'))))
                break;
            line.path = *path;
            if (kind == "aside")
                line.aside = *aside;
            if (kind == "folder")
                entry.folders.push_back(std::move(line));
            else if (kind == "file")
                entry.files.push_back(std::move(line));
            else if (kind == "scratch")
                entry.scratch.push_back(std::move(line));
            else if (kind == "aside")
                entry.asides.push_back(std::move(line));
            else {
                entry.source = std::move(line);
                entry.deleting = entry.deleting || !withBirth;
            }
        }
        return entry;
    }

private:
    // A word ends at a space or at the line's end.
    std::string Word()
    {
        const std::size_t end = text_.find_first_of(" \n", at_);
        if (end == std::string::npos)
            return {};
        std::string word = text_.substr(at_, end - at_);
        at_ = end + 1;
        return word;
    }
    template <class Integer> bool Number(Integer& value)
    {
        const std::string word = Word();
        return !word.empty() &&
               std::from_chars(word.data(), word.data() + word.size(), value).ptr == word.data() + word.size();
    }
    // A path of any bytes: its length, a space, the bytes, then `end` (a line end, or the space before
    // another path).
    std::optional<std::string> Path(char end)
    {
        std::size_t length = 0;
        if (!Number(length) || length == 0 || length >= text_.size() - at_ || text_[at_ + length] != end)
            return std::nullopt;
        std::string path = text_.substr(at_, length);
        at_ += length + 1;
        return path;
    }

    std::string text_;
    std::size_t at_ = 0;
};

// Removes a file an entry made while it is that very file, also from under the name its removal had
// moved it to when its run ended.
void RemoveMade(const std::string& path, const FileStamp& stamp)
{
    if (!RemoveIfSame(path, stamp, KnownBy::birth).empty()) {
        if (const std::string aside = FileAsideOf(path, stamp, KnownBy::birth); !aside.empty())
            (void)RemoveIfSame(aside, stamp, KnownBy::birth);
    }
}

// Whether an entry's outputs are the user's now: it was over, or it was deleting its source and the
// source is gone. A source its run had moved aside to remove goes if it was being deleted (its outputs
// were on disk before), else it comes back.
bool OutputsAreTheUsers(const RecordedEntry& entry)
{
    if (!entry.source)
        return entry.over;
    const RecordedEntry::Line& source = *entry.source;
    if (entry.over) {
        // Lost: the very file, untouched since (a user's edit changes its time), but shorter.
        const bool lost = std::any_of(entry.files.begin(), entry.files.end(), [](const RecordedEntry::Line& file) {
            const FileStamp now = StampAt(file.path);
            return IsStampedFile(now, file.file, KnownBy::birth) && now.modified == file.file.modified &&
                   now.size < file.file.size;
        });
        return !lost || !IsStampedFile(StampAt(source.path), source.file, KnownBy::birth);
    }
    if (const std::string aside = FileAsideOf(source.path, source.file, KnownBy::birth); !aside.empty()) {
        if (entry.deleting && RemoveIfSame(aside, source.file).empty())
            return true;
        (void)MoveNoReplace(aside, source.path);
    }
    return entry.deleting && !IsStampedFile(StampAt(source.path), source.file, KnownBy::birth);
}

// The file of the user's that an entry moved aside from an output's name, wherever a removal of it
// had moved it since; empty when it is nowhere.
std::string MovedAsideNow(const RecordedEntry::Line& file)
{
    if (IsStampedFile(StampAt(file.aside), file.file, KnownBy::birth))
        return file.aside;
    return FileAsideOf(file.path, file.file, KnownBy::birth);
}

// Takes back what records name: every file first, then what was moved aside, then the folders, so
// that a folder one record names (a run's script folder, say) is empty once the files another names
// in it have gone. A file an entry whose outputs are the user's names stays, whatever other record
// names it too (a tool's, whose removal a power loss undid).
void TakeBack(const std::vector<std::string>& texts)
{
    std::vector<RecordedEntry> entries;
    std::vector<bool> kept;
    std::vector<std::string> users; // files that are the user's now
    for (const std::string& text : texts) {
        entries.push_back(RecordReader(text).Read());
        kept.push_back(OutputsAreTheUsers(entries.back()));
        if (kept.back()) {
            for (const RecordedEntry::Line& file : entries.back().files)
                users.push_back(file.path);
        }
    }
    const auto theUsers = [&users](const std::string& path) {
        return std::find(users.begin(), users.end(), path) != users.end();
    };
    for (std::size_t i = 0; i < entries.size(); ++i) {
        for (const RecordedEntry::Line& file : entries[i].scratch) {
            if (file.file.identity != 0)
                RemoveMade(file.path, file.file);
            else if (WhatIsAt(file.path) == NameHolds::regularFile) // named before it was made, in a folder of ours
                DeleteFileQuietly(file.path);
        }
        for (const RecordedEntry::Line& file : entries[i].files) {
            if (!kept[i] && !theUsers(file.path))
                RemoveMade(file.path, file.file);
        }
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        // The user's file at the name again; or, the entry's output having replaced it, gone.
        for (const RecordedEntry::Line& file : entries[i].asides) {
            if (const std::string at = MovedAsideNow(file); at.empty())
                continue;
            else if (kept[i])
                (void)RemoveIfSame(at, file.file, KnownBy::birth);
            else
                (void)MoveNoReplace(at, file.path);
        }
    }
    // A folder made later may lie inside one made earlier.
    for (std::size_t i = entries.size(); i-- > 0;) {
        if (kept[i])
            continue;
        for (auto it = entries[i].folders.rbegin(); it != entries[i].folders.rend(); ++it)
            record_host::RemoveFolderIfSame(it->path, it->dir);
    }
}

// The beginning of the names of the tools' records of a run: records of its owner, as its entries'.
std::string ToolRecordPrefix(const RecordPlace& place)
{
    return place.folder.empty() ? std::string() : place.folder + "entry-" + place.owner.token + "-tool";
}

} // namespace

ToolRecords::ToolRecords(const RecordPlace& place)
{
    record_host::SetToolEnvironment(kOutputRecordVariable, ToolRecordPrefix(place));
}

ToolRecords::~ToolRecords()
{
    record_host::SetToolEnvironment(kOutputRecordVariable, {});
}

void RemoveToolRecord(const RecordPlace& place, std::uint64_t processId)
{
    if (!place.folder.empty())
        DeleteFileQuietly(ToolRecordName(ToolRecordPrefix(place), processId));
}

std::optional<std::vector<ToolOutput>> ReadToolRecord(const RecordPlace& place, std::uint64_t processId)
{
    if (place.folder.empty())
        return std::nullopt;
    const std::optional<std::string> text = record_host::ReadRecord(ToolRecordName(ToolRecordPrefix(place), processId));
    if (!text)
        return std::nullopt;
    std::vector<ToolOutput> outputs;
    for (const RecordedEntry::Line& line : RecordReader(*text).Read().files)
        outputs.push_back({line.path, line.file});
    return outputs;
}

OwnerLock::OwnerLock(const std::string& folder, bool removeFolderWhenEmpty)
    : folder_(folder), removeFolderWhenEmpty_(removeFolderWhenEmpty)
{
    if (folder.empty())
        return;
    owner_.token = RandomToken();
    path_ = folder + kOwnerPrefix + owner_.token;
    // A run that ends may remove the folder between its making and the lock: made again then.
    for (int attempt = 0; attempt < 3 && !Held(); ++attempt) {
        handle_ = record_host::TakeOwnerLock(path_);
        if (!Held() && !record_host::MakeFolder(folder))
            break;
    }
}

OwnerLock::~OwnerLock()
{
    if (!Held())
        return;
    record_host::LetGoOwnerLock(handle_, path_);
    if (removeFolderWhenEmpty_) {
        // The folder itself, not what a link in its place leads to; the system removes only an empty one.
        const std::string folder = folder_.substr(0, folder_.size() - 1);
        record_host::RemoveFolderIfSame(folder, FolderStampAt(folder));
    }
}

bool StillRuns(const std::string& folder, const RecordOwner& owner)
{
    return record_host::OwnerLockState(folder + kOwnerPrefix + owner.token) == record_host::LockState::held;
}

RecordFolder PrepareRecordFolder(const std::string& chosen)
{
    std::string folder = chosen.empty() ? record_host::StateFolder() : chosen;
    if (folder.empty() || !record_host::MakeFolder(folder))
        return {};
    if (folder.back() != '/' && folder.back() != '\\')
        folder += folder.find('\\') != std::string::npos ? '\\' : '/';
    if (!record_host::Private(folder))
        return {{},
                "Quorvil keeps no records this run and takes none back: " + folder +
                    " is not a folder of yours alone (it belongs to another user, or others can write to it)"};
    return {folder, {}, chosen.empty()};
}

EntryRecord::EntryRecord(std::string folder, const RecordOwner& owner)
{
    if (!folder.empty())
        path_ = folder + RecordName("entry", owner);
}

EntryRecord::~EntryRecord()
{
    End();
}

void EntryRecord::Folder(const std::string& path)
{
    std::string name = path;
    while (name.size() > 1 && (name.back() == '/' || name.back() == '\\'))
        name.pop_back(); // the folder itself, never what a link in its place leads to
    Forget(name);
    Made made;
    made.kind = Kind::folder;
    made.path = name;
    made.dir = FolderStampAt(path);
    made_.push_back(std::move(made));
}

void EntryRecord::File(const std::string& path, const FileStamp& stamp)
{
    Forget(path);
    if (stamp.exists)
        made_.push_back({Kind::file, path, stamp, {}, {}});
}

void EntryRecord::Scratch(const std::string& path, const FileStamp& stamp)
{
    Forget(path);
    made_.push_back({Kind::scratch, path, stamp, {}, {}});
}

void EntryRecord::Source(const std::string& path, const FileStamp& stamp)
{
    Forget(path);
    made_.push_back({Kind::source, path, stamp, {}, {}});
}

void EntryRecord::Aside(const std::string& path, const std::string& aside, const FileStamp& stamp)
{
    made_.push_back({Kind::aside, path, stamp, {}, aside});
}

void EntryRecord::Deleting()
{
    deleting_ = true;
    named_ = false;
}

void EntryRecord::Over()
{
    over_ = true;
    // What was moved aside goes next, once the record says so on disk; else an older record will do.
    named_ =
        named_ && std::none_of(made_.begin(), made_.end(), [](const Made& made) { return made.kind == Kind::aside; });
}

void EntryRecord::Forget(const std::string& path)
{
    std::erase_if(made_, [&path](const Made& made) {
        return made.kind != Kind::aside && made.kind != Kind::source &&
               (made.path == path ||
                (made.kind == Kind::folder && path.starts_with(made.path) && path.size() == made.path.size() + 1));
    });
}

void EntryRecord::Save()
{
    if (path_.empty())
        return;
    std::ostringstream text;
    text << kHeader;
    for (const Made& made : made_) {
        switch (made.kind) {
        case Kind::folder:
            text << "folder " << made.dir.volume << ' ' << made.dir.identity << ' ' << made.dir.born << ' '
                 << made.dir.generation << ' ' << made.path.size() << ' ' << made.path << '\n';
            break;
        case Kind::file:
            text << RecordLine(made.file.volume, made.file.identity, made.file.size, made.file.modified, made.file.born,
                               made.path);
            break;
        default: {
            // The line of a file our tools write, under another first word.
            const std::string line = RecordLine(made.file.volume, made.file.identity, made.file.size,
                                                made.file.modified, made.file.born, made.path);
            const char* kind = made.kind == Kind::scratch ? "scratch" : made.kind == Kind::source ? "source" : "aside";
            text << kind << line.substr(line.find(' '), line.size() - line.find(' ') - 1);
            if (made.kind == Kind::aside)
                text << ' ' << made.aside.size() << ' ' << made.aside;
            text << '\n';
        }
        }
    }
    if (deleting_)
        text << "deleting\n";
    if (over_)
        text << "over\n";
    // A record that cannot be written leaves the entry as it would be without one.
    const std::string fresh = path_ + kNew;
    written_ = true;
    if (!record_host::WriteDurably(fresh, text.str()) || !record_host::Replace(fresh, path_)) {
        DeleteFileQuietly(fresh);
        return;
    }
    if (!named_) {
        record_host::FlushFolder(path_.substr(0, path_.find_last_of("/\\") + 1));
        named_ = true;
    }
}

void EntryRecord::Leave()
{
    made_.clear();
    deleting_ = over_ = named_ = written_ = false;
}

void EntryRecord::End()
{
    made_.clear();
    deleting_ = over_ = false;
    if (written_)
        DeleteFileQuietly(path_);
    written_ = false;
    named_ = false;
}

std::string TakeBackWhatDeadRunsLeft(const std::string& folder, const RecordOwner& self)
{
    if (folder.empty())
        return {};
    std::size_t refused = 0;
    std::vector<std::string> texts;      // of the records taken
    std::vector<std::string> takenNames; // their names, removed once all are taken back
    std::vector<std::string> owners;     // the lock files seen, and the owners whose records remain
    std::vector<std::string> remaining;
    for (const std::string& name : record_host::NamesIn(folder)) {
        // A lock file a run was killed making: free, it is no one's.
        if (name.starts_with(std::string(".") + kOwnerPrefix)) {
            if (record_host::OwnerLockState(folder + name) == record_host::LockState::free)
                DeleteFileQuietly(folder + name);
            continue;
        }
        if (name.starts_with(kOwnerPrefix)) {
            owners.push_back(name.substr(std::string(kOwnerPrefix).size()));
            continue;
        }
        const std::optional<RecordOwner> owner = OwnerOfRecord(name);
        if (!owner)
            continue;
        if (owner->token == self.token || StillRuns(folder, *owner)) {
            remaining.push_back(owner->token);
            continue;
        }
        // A record that is not the user's own plain file is never acted on, nor moved.
        if (!record_host::ReadRecord(folder + name)) {
            ++refused;
            remaining.push_back(owner->token);
            continue;
        }
        // Taken under a name of our own first: of two runs that start at once, one takes it back.
        const std::string taken = folder + RecordName("undo", self);
        if (!MoveNoReplace(folder + name, taken).empty())
            continue;
        if (std::optional<std::string> text = record_host::ReadRecord(taken))
            texts.push_back(std::move(*text));
        takenNames.push_back(taken);
    }
    TakeBack(texts);
    for (const std::string& taken : takenNames)
        DeleteFileQuietly(taken);
    // The lock file of a run that has ended, once no record of its own remains.
    for (const std::string& token : owners) {
        if (token != self.token && std::find(remaining.begin(), remaining.end(), token) == remaining.end() &&
            record_host::OwnerLockState(folder + kOwnerPrefix + token) == record_host::LockState::free)
            DeleteFileQuietly(folder + kOwnerPrefix + token);
    }
    if (refused == 0)
        return {};
    return std::to_string(refused) + (refused == 1 ? " record" : " records") + " in " + folder +
           " left as found: not a file of yours alone";
}

} // namespace quorvil
