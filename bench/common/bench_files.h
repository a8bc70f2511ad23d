#pragma once
// Files under C:\bench through which the stand-ins read the bench state and
// leave their records. Stand-in DLLs are loaded and unloaded by the programs
// that use them, so nothing may live in their globals; and none of this may
// disturb the last-error value a stand-in is about to return.

#include <map>
#include <string>
#include <vector>

namespace bench {

// "C:\bench\" + name.
std::string path(const std::string& name);

// Whole file, bytes as stored; empty when absent.
std::string read_file(const std::string& file);
// Lines without their CR LF / LF ends; empty lines kept, a final one dropped.
std::vector<std::string> read_lines(const std::string& file);

void write_file(const std::string& file, const std::string& bytes);
// Appends line + "\r\n" in one write; other processes may append meanwhile.
void append_line(const std::string& file, const std::string& line);

// Counters kept as "name value" lines in one file, changed under a file lock
// so several processes can count together. Returns the new value.
long adjust_counter(const std::string& file, const std::string& name, long delta);
std::map<std::string, long> read_counters(const std::string& file);

// Saves the thread's last-error value and puts it back when it goes.
class KeepLastError {
public:
    KeepLastError();
    ~KeepLastError();
    KeepLastError(const KeepLastError&) = delete;
    KeepLastError& operator=(const KeepLastError&) = delete;

private:
    unsigned long saved_;
};

// "0A1B..." upper-case hex of bytes, and back (blanks ignored; false on junk).
std::string to_hex(const std::string& bytes);
// The fields of text between separators, empty ones kept ("a,,b": a, "", b).
std::vector<std::string> split(const std::string& text, char separator);
bool from_hex(const std::string& hex, std::string& bytes);

}  // namespace bench
