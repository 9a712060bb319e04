#include "append_record.h"

#include <fcntl.h>
#include <unistd.h>

void AppendRecord(const std::string& path, const std::string& bytes)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0)
        return;
    (void)!::write(fd, bytes.data(), bytes.size());
    ::close(fd);
}
