#pragma once
// The agent's only diagnostic output: one time-stamped, labelled line appended
// to the day's full log file and, unless it is a DEBUG line, to the minimal one.

#include "platform/data_directory.h"
#include "diag/log_line.h"
#include "platform/printf_check.h"

#include <string>

namespace keyhaven {

// Never fails towards the caller and needs no initialisation. (log.cpp)
void log_write(LogLevel level, const char* format, ...) KEYHAVEN_PRINTF(2, 3);

// A name from a carrier, the provider or a certificate as a log line may
// hold it (see log_line::escaped_name); only for the log's text, never for
// the name passed back to the provider. Inline, so that log.cpp defines
// log_write alone: a program that must not write the agent's logs
// (keyhaven-status) links a log_write of its own in its place.
inline std::string log_name(const std::string& name)
{
    return log_line::escaped_name(name);
}

}  // namespace keyhaven
