#include "platform/text.h"

#include <cstdarg>
#include <cstdio>

namespace keyhaven {

std::string format_string(const char* format, ...)
{
    char buffer[2048] = {};
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

std::string hex_code(unsigned long code)
{
    return format_string("0x%08lX", code);
}

std::string with_error(const char* text, unsigned long error)
{
    return std::string(text) + " (error " + hex_code(error) + ")";
}

std::string with_crlf(const char* line)
{
    std::string text;
    for (const char* c = line; *c; ++c) {
        if (*c == '\n')
            text += '\r';
        text += *c;
    }
    return text;
}

}  // namespace keyhaven
