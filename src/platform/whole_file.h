#pragma once
// Reading a whole file through a handle the caller opened (and judged).

#include <windows.h>

#include <string>

namespace keyhaven {

enum class [[nodiscard]] WholeFile { read, size_unknown, too_large, not_read };

// The file's bytes from where its pointer stands, up to the size it had when
// asked (a file that grows meanwhile is read up to that size; one that
// shrinks, as far as it goes), when that size is at most limit. On
// size_unknown and not_read, error is the failed call's own code.
WholeFile read_whole_file(HANDLE file, unsigned long long limit, std::string& bytes, DWORD& error);

}  // namespace keyhaven
