#include "diag/format_string.h"

#include <cstdarg>
#include <cstdio>

std::string format_string(const char* format, ...)
{
    char buffer[2048] = {};
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

std::string with_error_code(const char* text, unsigned long error)
{
    return format_string("%s (error 0x%08lX)", text, error);
}
