#pragma once
// A file's security as Windows evaluates it (inherited entries included),
// read for the trust rule of file_trust.h.

#include "platform/file_trust.h"
#include "platform/text.h"

#include <windows.h>

#include <string>

namespace keyhaven {

// The SID of the user this process runs as ("S-1-5-21-..."), "" if unknown.
// Asked once: the process's user never changes.
const std::string& current_user_sid();

// What a handle opened without following (FILE_FLAG_OPEN_REPARSE_POINT)
// stands for, read from the handle alone with the two cheap queries (no
// volume label, which under Wine costs a round trip to another process).
struct FileShape {
    bool read;           // false: the queries failed, GetLastError() says why
    bool reparse_point;  // a link or a mount point, opened itself
    bool folder;
    unsigned long links;  // names the file has; a second one may be any user's link
    unsigned long long size;
};
FileShape shape_of(HANDLE file);

// A file of one name that is neither a folder nor a reparse point.
bool is_plain(const FileShape& shape);

// Owner and DACL of descriptor; false for a descriptor that cannot be read.
bool security_of_descriptor(PSECURITY_DESCRIPTOR descriptor, file_trust::FileSecurity& security);

// Owner and DACL of the file or folder at path, links followed, through
// read_handle_security: ERROR_SUCCESS, or the error that kept them from
// being read (a missing file included).
[[nodiscard]] DWORD read_file_security(const std::string& path, file_trust::FileSecurity& security);

// Owner and DACL of the file or folder an open handle (with READ_CONTROL)
// stands for: ERROR_SUCCESS, or the error that kept them from being read.
[[nodiscard]] DWORD read_handle_security(HANDLE file, file_trust::FileSecurity& security);

// Whether a file opened with READ_CONTROL may be trusted under the rule of
// file_trust::only_trusted_can_change with changing: besides the rule, it has
// one name only and is no reparse point, since a second name may be any
// user's link to a file they cannot change. Judged on the open handle, so
// the file judged is the file then read. On false, reason says why.
[[nodiscard]] bool open_file_trusted(HANDLE file, unsigned long changing, std::string& reason);

}  // namespace keyhaven
