#include "file_ops.h"

namespace quorvil {

bool IsStampedFile(const FileStamp& now, const FileStamp& stamp, KnownBy knownBy)
{
    if (!now.exists || !stamp.exists || now.identity != stamp.identity)
        return false;
    // A number and a birth time together name one file on any volume, whatever its bytes now are.
    if (knownBy == KnownBy::birth && stamp.born != 0)
        return now.born == stamp.born;
    return now.volume == stamp.volume && now.size == stamp.size && now.modified == stamp.modified &&
           (stamp.born == 0 || now.born == stamp.born);
}

} // namespace quorvil
