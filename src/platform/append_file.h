#pragma once
// Appending one log line to a file that other processes append to as well.

#include <cstddef>
#include <string>

namespace keyhaven {

// Appends the line (text, "\n" line ends) at the end of the file at path,
// creating it when missing, in one write, so that the lines of two agents
// never mix within a line. The file is opened for appending only and shared
// for reading and writing: a user who may append to a file but not rewrite
// or read it can still log. A missing file is made with the log's own
// security. False when the file cannot be opened or written, and when it is
// not taken: a second link to it, a reparse point, or, made by someone
// else, a security that lets another user read or re-permission it.
[[nodiscard]] bool append_line_to_file(const std::string& path, const char* line);

// The security every log file is made with, whoever makes it (an agent,
// the package), as SDDL without an owner.
extern const char log_file_sddl[];

// Writers sharing a file lock this one byte, far past the end of any log,
// around each write (the write lock); every version of the agent must agree
// on it.
const unsigned long long append_lock_offset = 0x4000000000000000ull;

// Makes a new, empty log file at path with the log's own security, the one
// every agent gives the files it makes; never opens what already stands at
// that name (a file, a link). 0 when made, otherwise the Windows error
// (ERROR_FILE_EXISTS when anything stands there).
[[nodiscard]] unsigned long create_log_file(const std::string& path);

}  // namespace keyhaven
