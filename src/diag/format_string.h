#pragma once

#include "diag/printf_check.h"

#include <string>

// printf into a fresh string; the result is cut at 2,047 characters.
std::string format_string(const char* format, ...) KEYHAVEN_PRINTF(1, 2);

// "text (error 0x00000020)": a reason with the Windows error code behind it,
// as the log and keyhaven-status show it.
std::string with_error_code(const char* text, unsigned long error);
