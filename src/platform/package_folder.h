#pragma once
// c:\nivra as the package makes it: a folder of the system's, where users
// append to the day's files and create nothing. Judged on a handle to the
// folder itself, never on a path looked up again.

#include "platform/file_trust.h"
#include "platform/owned.h"

#include <windows.h>

#include <string>

namespace keyhaven {

// Opens the folder at path itself (a reparse point is opened, not followed)
// with access, shared for reading and writing but not for deleting, so that
// nobody renames or replaces it while it is held. Empty on failure, with
// the error in GetLastError().
FileHandle open_folder_held(const char* path, DWORD access);

// Whether the handle's final path is path itself ("\\?\C:\nivra" names
// "c:\nivra"); final_path is what it is, empty when it cannot be read.
bool final_path_is(HANDLE folder, const char* path, std::string& final_path);

// Whether folder, opened by open_folder_held(path), is a real folder at
// path: not a reparse point by its path or by its handle (a Unix link reads
// as one only by path under Wine), and the handle's final path is path
// itself. On false, reason says what it is instead.
bool is_real_folder_at(HANDLE folder, const char* path, std::string& reason);

// Reads the security of folder (opened with READ_CONTROL) after
// is_real_folder_at; false with reason when either fails.
bool read_real_folder_security(HANDLE folder, const char* path, file_trust::FileSecurity& security,
                               std::string& reason);

// Whether c:\nivra is there and reads as the package's own
// (file_trust::folder_is_packages). Outside the package (no such folder,
// one the agent made, one a user made, any the bench shows) false.
bool data_folder_is_packages();

}  // namespace keyhaven
