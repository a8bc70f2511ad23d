#pragma once
// A file's security as Windows evaluates it (inherited entries included),
// read for the trust rule of file_trust.h.

#include "platform/file_trust.h"
#include "platform/text.h"

#include <windows.h>

#include <string>

// The SID of the user this process runs as ("S-1-5-21-..."), "" if unknown.
std::string current_user_sid();

// Owner and DACL of descriptor; false for a descriptor that cannot be read.
bool security_of_descriptor(PSECURITY_DESCRIPTOR descriptor, file_trust::FileSecurity& security);

// Owner and DACL of the file or folder at path: ERROR_SUCCESS, or the error
// that kept them from being read (a missing file included).
DWORD read_file_security(const std::string& path, file_trust::FileSecurity& security);

// Owner and DACL of the file or folder an open handle (with READ_CONTROL)
// stands for: ERROR_SUCCESS, or the error that kept them from being read.
DWORD read_handle_security(HANDLE file, file_trust::FileSecurity& security);

// file_trust::only_trusted_can_change over a descriptor; false for one that
// cannot be read.
bool descriptor_lets_only_trusted_change(PSECURITY_DESCRIPTOR descriptor, const std::string& current_user,
                                         unsigned long changing = file_trust::changing_rights);

// Whether a file opened with READ_CONTROL may be trusted under the rule of
// file_trust::only_trusted_can_change with changing: besides the rule, it has
// one name only and is no reparse point, since a second name may be any
// user's link to a file they cannot change. Judged on the open handle, so
// the file judged is the file then read. On false, reason says why.
bool open_file_trusted(HANDLE file, unsigned long changing, std::string& reason);
