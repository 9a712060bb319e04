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

namespace quorvil {

namespace {

constexpr const char* kHeader = "quorvil entry record 1\n";
constexpr const char* kNew = ".new";

// A digest of the machine's name, for record names: letters and digits only.
std::string HostDigest(const std::string& name)
{
    std::uint64_t hash = 14695981039346656037ull; // FNV-1a
    for (const unsigned char c : name) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
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
    return std::string(kind) + "-" + owner.host + "-" + std::to_string(owner.pid) + "-" + owner.start + "-" + tail;
}

// The owner a record's name gives; nothing for any other file.
std::optional<RecordOwner> OwnerOfRecord(std::string name)
{
    if (name.ends_with(kNew))
        name.resize(name.size() - std::string(kNew).size());
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (std::size_t dash; (dash = name.find('-', from)) != std::string::npos; from = dash + 1)
        parts.push_back(name.substr(from, dash - from));
    parts.push_back(name.substr(from));
    if (parts.size() != 5 || (parts[0] != "entry" && parts[0] != "undo"))
        return std::nullopt;
    RecordOwner owner{parts[1], 0, parts[3]};
    const std::string& pid = parts[2];
    if (std::from_chars(pid.data(), pid.data() + pid.size(), owner.pid).ptr != pid.data() + pid.size() ||
        owner.pid <= 0 || owner.host.empty() || owner.start.empty())
        return std::nullopt;
    return owner;
}

std::string ReadWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

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
            if (kind == "file") {
                FileStamp stamp;
                stamp.exists = true;
                if (!Number(stamp.volume) || !Number(stamp.identity) || !Number(stamp.size) || !Number(stamp.modified))
                    return;
                const std::optional<std::string> path = Path();
                if (!path)
                    return;
                found(false, *path, stamp, FolderStamp{});
            } else if (kind == "folder") {
                FolderStamp stamp;
                stamp.exists = true;
                if (!Number(stamp.volume) || !Number(stamp.identity) || !Number(stamp.born) ||
                    !Number(stamp.generation))
                    return;
                const std::optional<std::string> path = Path();
                if (!path)
                    return;
                found(true, *path, FileStamp{}, stamp);
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
void TakeBack(const std::string& record)
{
    RecordReader reader(ReadWhole(record));
    std::vector<std::pair<std::string, FolderStamp>> folders;
    reader.Each([&](bool folder, const std::string& path, const FileStamp& file, const FolderStamp& dir) {
        if (folder)
            folders.emplace_back(path, dir);
        else
            (void)RemoveIfSame(path, file); // another file at the name, or none: it stays as it is
    });
    // A folder made later may lie inside one made earlier.
    for (auto it = folders.rbegin(); it != folders.rend(); ++it)
        record_host::RemoveFolderIfSame(it->first, it->second);
}

} // namespace

RecordOwner ThisProcess()
{
    const long pid = record_host::ProcessId();
    std::string start = record_host::ProcessStart(pid);
    if (start.empty() || start == "?")
        start = "0"; // never told by ProcessStart: a record of ours then counts as one of a running process
    return {HostDigest(record_host::HostName()), pid, start};
}

bool StillRuns(const RecordOwner& owner)
{
    if (owner.host != HostDigest(record_host::HostName()))
        return true;
    const std::string start = record_host::ProcessStart(owner.pid);
    return !start.empty() && (start == "?" || start == owner.start);
}

std::string PrepareRecordFolder(const std::string& chosen)
{
    std::string folder = chosen.empty() ? record_host::StateFolder() : chosen;
    if (folder.empty() || !record_host::MakeFolder(folder))
        return {};
    if (folder.back() != '/' && folder.back() != '\\')
        folder += folder.find('\\') != std::string::npos ? '\\' : '/';
    return folder;
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
        made_.push_back({false, path, stamp, {}});
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
        if (made.folder)
            text << "folder " << made.dir.volume << ' ' << made.dir.identity << ' ' << made.dir.born << ' '
                 << made.dir.generation;
        else
            text << "file " << made.file.volume << ' ' << made.file.identity << ' ' << made.file.size << ' '
                 << made.file.modified;
        text << ' ' << made.path.size() << ' ' << made.path << '\n';
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

void TakeBackWhatDeadRunsLeft(const std::string& folder)
{
    if (folder.empty())
        return;
    const RecordOwner self = ThisProcess();
    for (const std::string& name : record_host::NamesIn(folder)) {
        const std::optional<RecordOwner> owner = OwnerOfRecord(name);
        if (!owner || StillRuns(*owner))
            continue;
        // Taken under a name of our own first: of two runs that start at once, one takes it back.
        const std::string taken = folder + RecordName("undo", self);
        if (!record_host::Rename(folder + name, taken, false))
            continue;
        TakeBack(taken);
        DeleteFileQuietly(taken);
    }
}

} // namespace quorvil
