#include "diag/log.h"

#include "platform/append_file.h"
#include "diag/log_line.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>

namespace keyhaven {

namespace {

// Opened and closed per line, so other processes (a second agent, a reader)
// may share the file and every line is on disk when log_write returns. A
// line that cannot be written is dropped for that file, without a word.
void append_line(const std::tm& when, bool minimal, const char* line)
{
    (void)append_line_to_file(data_directory() + log_line::file_name(when, minimal), line);
}

}  // namespace

void log_write(LogLevel level, const char* format, ...)
{
    const std::tm when = log_line::local_time(std::time(nullptr));

    char message[log_line::message_buffer_size] = {};
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);

    char line[log_line::line_buffer_size] = {};
    log_line::assemble(line, when, level, message);

    append_line(when, false, line);
    if (level != LogLevel::debug)
        append_line(when, true, line);
}

}  // namespace keyhaven
