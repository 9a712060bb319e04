#include "folder_stamp.h"

namespace quorvil {

bool IsStampedFolder(const FolderStamp& now, const FolderStamp& stamp)
{
    if (!now.exists || !stamp.exists || now.identity != stamp.identity)
        return false;
    if (stamp.born != 0 || stamp.generation != 0)
        return now.born == stamp.born && now.generation == stamp.generation;
    return now.volume == stamp.volume;
}

} // namespace quorvil
