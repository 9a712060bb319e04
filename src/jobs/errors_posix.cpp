#include "errors_posix.h"

#include <cerrno>
#include <cstring>

#include "errors.h"

namespace quorvil {

namespace {

// The Windows error code of the same meaning, or 0 when there is none.
int WindowsCode(int error)
{
    switch (error) {
    case EEXIST:
        return 183; // ERROR_ALREADY_EXISTS
    case ENOENT:
    case ENOTDIR:
        return 3; // ERROR_PATH_NOT_FOUND
    case EACCES:
    case EPERM:
    case EROFS:
        return 5; // ERROR_ACCESS_DENIED
    case EMFILE:
    case ENFILE:
        return 4; // ERROR_TOO_MANY_OPEN_FILES
    case ENOSPC:
    case EDQUOT:
        return 112; // ERROR_DISK_FULL
    case ENAMETOOLONG:
        return 206; // ERROR_FILENAME_EXCED_RANGE
    default:
        return 0;
    }
}

} // namespace

std::string IoErrorMessageOfErrno(int error)
{
    if (const int code = WindowsCode(error); code != 0)
        return IoErrorMessage(code);
    return "I/O error: " + std::string(std::strerror(error));
}

} // namespace quorvil
