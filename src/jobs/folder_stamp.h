#pragma once

#include <cstdint>
#include <string>

namespace quorvil {

// A folder as the system tells it from another: its volume and its number there.
struct FolderStamp {
    bool exists = false; // a folder, not a link to one, is there
    std::uint64_t volume = 0;
    std::uint64_t identity = 0;
    // When it was made, and the generation of its number, where the system tells (else 0): a number
    // given anew to a folder made since is then told apart.
    std::int64_t born = 0;
    std::uint64_t generation = 0;

    friend bool operator==(const FolderStamp&, const FolderStamp&) = default;
};
[[nodiscard]] FolderStamp FolderStampAt(const std::string& path);
// Whether the folder now at a name is the folder stamped. Its number with its birth or generation
// names it on any volume (a disk that came back after a power loss may have another number).
[[nodiscard]] bool IsStampedFolder(const FolderStamp& now, const FolderStamp& stamp);

} // namespace quorvil
