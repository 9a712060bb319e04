#include "folder_stamp.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "handles_posix.h"

namespace quorvil {

FolderStamp FolderStampAt(const std::string& path)
{
    const UniqueFd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folder.get() < 0)
        return {};
    struct statx info {};
    if (::statx(folder.get(), "", AT_EMPTY_PATH, STATX_TYPE | STATX_INO | STATX_BTIME, &info) != 0 ||
        !S_ISDIR(info.stx_mode))
        return {};
    const std::int64_t born =
        (info.stx_mask & STATX_BTIME)
            ? static_cast<std::int64_t>(info.stx_btime.tv_sec) * 1000000000 + info.stx_btime.tv_nsec
            : 0;
    // Times have the clock's coarse step; the generation (where the file system keeps one) differs anyway.
    // The request is declared as giving a long: a FUSE file system may write all of one.
    unsigned long generation = 0;
    if (::ioctl(folder.get(), FS_IOC_GETVERSION, &generation) != 0)
        generation = 0;
    return {true, ::makedev(info.stx_dev_major, info.stx_dev_minor), static_cast<std::uint64_t>(info.stx_ino), born,
            generation};
}

} // namespace quorvil
