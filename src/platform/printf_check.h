#pragma once
// Lets GCC and Clang check printf-style arguments; expands to nothing elsewhere.
#if defined(__GNUC__) || defined(__clang__)
#define KEYHAVEN_PRINTF(format_index, first_arg) __attribute__((format(printf, format_index, first_arg)))
#else
#define KEYHAVEN_PRINTF(format_index, first_arg)
#endif
