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

enum class Kind { file, folder, source };

// Reads a record written by Save(), line by line; a line cut short (a power loss) ends it.
class RecordReader {
public:
    explicit RecordReader(std::string text) : text_(std::move(text)) {}

    template <class Found> void Each(Found found)
    {
        if (!text_.starts_with(kHeader))
            return;
        at_ = std::string(kHeader).size();
        while (at_ < text_.size()) {
            const std::string kind = Word();
            if (kind == "file" || kind == "source") {
                FileStamp stamp;
                stamp.exists = true;
                if (!Number(stamp.volume) || !Number(stamp.identity) || !Number(stamp.size) || !Number(stamp.modified))
                    return;
                const std::optional<std::string> path = Path();
                if (!path)
                    return;
                found(kind == "file" ? Kind::file : Kind::source, *path, stamp, FolderStamp{});
            } else if (kind == "folder") {
                FolderStamp stamp;
                stamp.exists = true;
                if (!Number(stamp.volume) || !Number(stamp.identity) || !Number(stamp.born) ||
                    !Number(stamp.generation))
                    return;
                const std::optional<std::string> path = Path();
                if (!path)
                    return;
                found(Kind::folder, *path, FileStamp{}, stamp);
            } else {
                return;
            }
        }
    }

private:
    std::string Word()
    {
        const std::size_t space = text_.find(' ', at_);
        if (space == std::string::npos)
            return {};
        std::string word = text_.substr(at_, space - at_);
        at_ = space + 1;
        return word;
    }
    template <class Integer> bool Number(Integer& value)
    {
        const std::string word = Word();
        return !word.empty() &&
               std::from_chars(word.data(), word.data() + word.size(), value).ptr == word.data() + word.size();
    }
    // A path of any bytes: its length, a space, the bytes, a line end.
    std::optional<std::string> Path()
    {
        std::size_t length = 0;
        if (!Number(length) || length == 0 || length >= text_.size() - at_ || text_[at_ + length] != '\n')
            return std::nullopt;
        std::string path = text_.substr(at_, length);
        at_ += length + 1;
        return path;
    }

    std::string text_;
    std::size_t at_ = 0;
};

// Takes back what one record names: files first, so that their folders may then be empty.
// Takes back what records name: every file first, then the folders, so that a folder one record
// names (a run's script folder, say) is empty once the files another names in it have gone.
void TakeBack(const std::vector<std::string>& texts)
{
    std::vector<std::pair<std::string, FolderStamp>> folders;
    for (const std::string& text : texts) {
        RecordReader(text).Each([&](Kind kind, const std::string& path, const FileStamp& file, const FolderStamp& dir) {
            switch (kind) {
            case Kind::folder:
                folders.emplace_back(path, dir);
                break;
            case Kind::file:
                // Another file at the name, or none: it stays as it is. The file itself may be under
                // the name it was being removed by when its run ended.
                if (!RemoveIfSame(path, file).empty()) {
                    if (const std::string aside = FileAsideOf(path, file); !aside.empty())
                        (void)RemoveIfSame(aside, file);
                }
                break;
            case Kind::source:
                // A source whose run ended while removing it comes back; a name taken since keeps it aside.
                if (const std::string aside = FileAsideOf(path, file); !aside.empty())
                    (void)record_host::Rename(aside, path, false);
                break;
            }
        });
    }
    // A folder made later may lie inside one made earlier.
    for (auto it = folders.rbegin(); it != folders.rend(); ++it)
        record_host::RemoveFolderIfSame(it->first, it->second);
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
    made.folder = true;
    made.path = name;
    made.dir = FolderStampAt(path);
    if (made.dir.exists)
        made_.push_back(std::move(made));
}

void EntryRecord::File(const std::string& path, const FileStamp& stamp)
{
    Forget(path);
    if (stamp.exists)
        made_.push_back({false, false, path, stamp, {}});
}

void EntryRecord::Source(const std::string& path, const FileStamp& stamp)
{
    Forget(path);
    made_.push_back({false, true, path, stamp, {}});
}

void EntryRecord::Forget(const std::string& path)
{
    std::erase_if(made_, [&path](const Made& made) {
        return made.path == path || (made.folder && path.starts_with(made.path) && path.size() == made.path.size() + 1);
    });
}

void EntryRecord::Save()
{
    if (path_.empty())
        return;
    std::ostringstream text;
    text << kHeader;
    for (const Made& made : made_) {
        if (made.folder) {
            text << "folder " << made.dir.volume << ' ' << made.dir.identity << ' ' << made.dir.born << ' '
                 << made.dir.generation << ' ' << made.path.size() << ' ' << made.path << '\n';
            continue;
        }
        // A file's line is what our tools write of their outputs; a source's differs in its first word.
        const std::string line =
            RecordLine(made.file.volume, made.file.identity, made.file.size, made.file.modified, made.path);
        text << (made.source ? "source" + line.substr(line.find(' ')) : line);
    }
    // A record that cannot be written leaves the entry as it would be without one.
    const std::string fresh = path_ + kNew;
    written_ = true;
    if (!record_host::WriteDurably(fresh, text.str()) || !record_host::Rename(fresh, path_, true))
        DeleteFileQuietly(fresh);
}

void EntryRecord::End()
{
    made_.clear();
    if (written_)
        DeleteFileQuietly(path_);
    written_ = false;
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
        if (!record_host::Rename(folder + name, taken, false))
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
