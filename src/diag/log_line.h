#pragma once
// Assembly of one log line and of the daily file names; no I/O here.

#include <cstddef>
#include <ctime>
#include <string>

namespace keyhaven {

// What a line is labelled with; each level's number is what the log has
// always known it by, and a number beyond them reads "[ DEFAULT ]".
enum class LogLevel : unsigned int { debug = 0, info = 1, warning = 2, error = 3 };

namespace log_line {

constexpr std::size_t message_buffer_size = 1024;  // NUL included
constexpr std::size_t line_buffer_size = 1034;      // NUL included
constexpr std::size_t stamp_length = 11;            // "hh:mm:ss > "
constexpr std::size_t label_length = 13;            // "[  INFO   ]: "
// What the line leaves for the message once stamp, label, "\n" and NUL are in.
constexpr std::size_t message_room = line_buffer_size - stamp_length - label_length - 2;

const char* label_for(LogLevel level);

// The local time of when, by which lines are stamped and day files named.
std::tm local_time(std::time_t when);

// Writes stamp + label + message (cut to message_room) + "\n" into line,
// which must hold line_buffer_size bytes.
void assemble(char* line, const std::tm& when, LogLevel level, const char* message);

// A name read from a carrier, the provider or a certificate as a log line
// may hold it: every control character but tab (CR and LF included) becomes
// "\xHH" (two uppercase hex digits), so that no name can end the line and
// start one of its own. Bytes from 0x80 up are letters of the code page and
// are kept.
std::string escaped_name(const std::string& name);

// "Keyhaven_DD_MM_YYYY.log" or "Keyhaven_minimal_DD_MM_YYYY.log".
std::string file_name(const std::tm& when, bool minimal);

}  // namespace log_line

}  // namespace keyhaven
