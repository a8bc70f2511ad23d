// append_line_to_file() for the native builds: POSIX O_APPEND, one write,
// the line as it is (a text stream on Linux converts nothing).
#include "platform/append_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

namespace keyhaven {

bool append_line_to_file(const std::string& path, const char* line)
{
    const int file = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
    if (file < 0)
        return false;
    const std::size_t length = std::strlen(line);
    const bool ok = write(file, line, length) == static_cast<ssize_t>(length);
    close(file);
    return ok;
}

}  // namespace keyhaven
