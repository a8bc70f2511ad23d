#pragma once
// Text the programs put into their logs, reports and files; no Windows header.

#include "platform/printf_check.h"

#include <string>

namespace keyhaven {

// printf into a fresh string; the result is cut at 2,047 characters.
std::string format_string(const char* format, ...) KEYHAVEN_PRINTF(1, 2);

// "0x00000020": a Windows error or status code as every program of the
// package writes it.
std::string hex_code(unsigned long code);

// "text (error 0x00000020)": a reason with the Windows error code behind it,
// as the log and keyhaven-status show it.
std::string with_error(const char* text, unsigned long error);

// The line as a text-mode stream writes it on Windows: "\r\n" for every "\n".
std::string with_crlf(const char* line);

}  // namespace keyhaven
