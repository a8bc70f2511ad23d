// The log's text handling with hostile arguments: very long, with "%" signs,
// control bytes and bytes of no code page. Line assembly and file names with
// any time fields, format_string, and log_write itself into a scratch data
// folder, whose files must then hold exactly the expected line.
//
// Input: byte 0 the level (4 and above stretched to large values), byte 1
// which of the agent's formats carries the argument, bytes 2-25 six time
// fields (hour, minute, second, day, month, year), the rest the argument.
#include "platform/text.h"
#include "diag/log.h"
#include "diag/log_line.h"
#include "fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

using namespace keyhaven;

namespace {

namespace fs = std::filesystem;

// Formats the agent logs a name or a library message through.
const char* const formats[] = {"%s", "\t * %s", "settings file exception: %s\n", "\t- %s"};

std::string scratch_folder;

void remove_scratch_folder()
{
    std::error_code error;
    fs::remove_all(scratch_folder, error);
}

bool in_range(int value, int low, int high)
{
    return value >= low && value <= high;
}

bool valid_time(const std::tm& when)
{
    return in_range(when.tm_hour, 0, 23) && in_range(when.tm_min, 0, 59) && in_range(when.tm_sec, 0, 60);
}

void check_assembly(const std::tm& when, LogLevel level, const char* message)
{
    // Exactly as large as the log's buffer, so a write past it is caught.
    std::unique_ptr<char[]> line(new char[log_line::line_buffer_size]);
    log_line::assemble(line.get(), when, level, message);
    const std::size_t length = std::strlen(line.get());
    FUZZ_CHECK(length < log_line::line_buffer_size);
    FUZZ_CHECK(line[length - 1] == '\n');
    if (!valid_time(when))
        return;
    const std::string text(line.get(), length);
    FUZZ_CHECK(text.compare(8, 3, " > ") == 0);
    FUZZ_CHECK(text.compare(log_line::stamp_length, log_line::label_length, log_line::label_for(level)) == 0);
    const std::size_t kept = std::min(std::strlen(message), log_line::message_room);
    FUZZ_CHECK(length == log_line::stamp_length + log_line::label_length + kept + 1);
    FUZZ_CHECK(std::memcmp(text.data() + log_line::stamp_length + log_line::label_length, message, kept) == 0);
}

void check_file_names(const std::tm& when)
{
    for (bool minimal : {false, true}) {
        const std::string name = log_line::file_name(when, minimal);
        FUZZ_CHECK(name.size() < 512);
        FUZZ_CHECK(name.compare(0, 9, "Keyhaven_") == 0);
    }
}

void check_format_string(const char* format, const char* argument)
{
    char expected[2048];
    std::snprintf(expected, sizeof expected, format, argument);
    FUZZ_CHECK(format_string(format, argument) == expected);
    const std::string number = format_string("%d|%u|%08X", static_cast<int>(std::strlen(argument)), 0u, ~0u);
    FUZZ_CHECK(number.find("|0|FFFFFFFF") != std::string::npos);
}

std::string read_whole(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// One log_write: its line, whole, in the day's full file and, unless DEBUG,
// in the minimal one; nothing else in the folder.
void check_log_write(LogLevel level, const char* format, const char* argument)
{
    log_write(level, format, argument);

    char message[log_line::message_buffer_size];
    std::snprintf(message, sizeof message, format, argument);
    const std::string expected = std::string(log_line::label_for(level)) +
                                 std::string(message, std::min(std::strlen(message), log_line::message_room)) + "\n";
    int files = 0;
    std::string full, minimal;
    for (const auto& entry : fs::directory_iterator(scratch_folder)) {
        ++files;
        const std::string name = entry.path().filename().string();
        (name.compare(0, 17, "Keyhaven_minimal_") == 0 ? minimal : full) = read_whole(entry.path());
        fs::remove(entry.path());
    }
    FUZZ_CHECK(files == (level == LogLevel::debug ? 1 : 2));
    FUZZ_CHECK(full.size() == log_line::stamp_length + expected.size());
    FUZZ_CHECK(full.compare(log_line::stamp_length, std::string::npos, expected) == 0);
    FUZZ_CHECK(level == LogLevel::debug || minimal == full);
}

int field(const std::uint8_t* data)
{
    std::int32_t value;
    std::memcpy(&value, data, sizeof value);
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    std::string pattern = (fs::temp_directory_path() / "keyhaven-log-fuzz-XXXXXX").string();
    const char* made = mkdtemp(pattern.data());
    if (!made)
        std::abort();
    scratch_folder = std::string(made) + "/";
    setenv("KEYHAVEN_DATA_DIRECTORY", scratch_folder.c_str(), 1);
    std::atexit(remove_scratch_folder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 26)
        return 0;
    const LogLevel level = static_cast<LogLevel>(data[0] < 4 ? data[0] : data[0] * 0x01010101u);
    const char* format = formats[data[1] % (sizeof formats / sizeof formats[0])];
    std::tm when = {};
    when.tm_hour = field(data + 2);
    when.tm_min = field(data + 6);
    when.tm_sec = field(data + 10);
    when.tm_mday = field(data + 14);
    when.tm_mon = field(data + 18);
    when.tm_year = field(data + 22);
    const std::string argument(reinterpret_cast<const char*>(data + 26), size - 26);

    check_assembly(when, level, argument.c_str());
    check_file_names(when);
    check_format_string(format, argument.c_str());
    check_log_write(level, format, argument.c_str());
    return 0;
}
