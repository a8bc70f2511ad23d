#pragma once

#include "diag/printf_check.h"

#include <string>

// printf into a fresh string; the result is cut at 2,047 characters.
std::string format_string(const char* format, ...) KEYHAVEN_PRINTF(1, 2);
