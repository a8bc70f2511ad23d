#include "diag/log_line.h"

#include "platform/package_names.h"

#include <cstdio>
#include <cstring>

namespace keyhaven {

namespace log_line {

std::tm local_time(std::time_t when)
{
    std::tm local = {};
#ifdef _WIN32
    localtime_s(&local, &when);
#else
    localtime_r(&when, &local);
#endif
    return local;
}

const char* label_for(LogLevel level)
{
    switch (level) {
    case LogLevel::debug: return "[  DEBUG  ]: ";
    case LogLevel::info: return "[  INFO   ]: ";
    case LogLevel::warning: return "[ WARNING ]: ";
    case LogLevel::error: return "[  ERROR  ]: ";
    }
    return "[ DEFAULT ]: ";
}

void assemble(char* line, const std::tm& when, LogLevel level, const char* message)
{
    std::snprintf(line, line_buffer_size, "%02d:%02d:%02d > ", when.tm_hour, when.tm_min, when.tm_sec);
    std::size_t used = std::strlen(line);
    const char* label = label_for(level);
    std::memcpy(line + used, label, label_length);
    used += label_length;

    // Within the line whatever the time fields hold: a stamp of valid ones
    // leaves exactly message_room.
    const std::size_t room = line_buffer_size - used - 2;
    std::size_t length = std::strlen(message);
    if (length > room)
        length = room;
    std::memcpy(line + used, message, length);
    used += length;
    line[used++] = '\n';
    line[used] = '\0';
}

std::string escaped_name(const std::string& name)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(name.size());
    for (const char c : name) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && byte != '\t') || byte == 0x7F) {
            text += "\\x";
            text += digits[byte >> 4];
            text += digits[byte & 0x0F];
        } else {
            text += c;
        }
    }
    return text;
}

std::string file_name(const std::tm& when, bool minimal)
{
    char date[64] = {};
    // Widened before the additions, which would overflow for the largest years.
    std::snprintf(date, sizeof date, "%02d_%02lld_%04lld.log", when.tm_mday, when.tm_mon + 1LL, when.tm_year + 1900LL);
    return (minimal ? package_names::minimal_day_file_prefix : package_names::day_file_prefix) + std::string(date);
}

}  // namespace log_line

}  // namespace keyhaven
