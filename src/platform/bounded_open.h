#pragma once
// Opening a shared file (the settings file, a day's log) without waiting on
// another process: a file another program holds open without sharing, or
// under an opportunistic lock whose break it never acknowledges, is tried
// again for at most hold_budget_ms in all and then reported as held. The
// caller then goes on without it; no thread is started to wait.

#include "platform/owned.h"

#include <windows.h>

#include <string>

namespace keyhaven {

namespace bounded_open {

struct Request {
    std::string path;  // in the ANSI code page, as the callers name it
    DWORD access;
    DWORD share;
    DWORD disposition;         // OPEN_EXISTING or CREATE_NEW
    bool open_reparse_point;   // a link at path is opened itself, not followed
    SECURITY_ATTRIBUTES* security;  // for a file it makes; may be null
};

// All the waiting one open may do for another process's hold, in pauses of
// at most hold_retry_ms between attempts.
constexpr DWORD hold_budget_ms = 200;
constexpr DWORD hold_retry_ms = 20;

// ERROR_OPLOCK_BREAK_IN_PROGRESS, which not every SDK names.
constexpr DWORD oplock_break_error = 742;

// One attempt that never waits for a hold: the handle, or null with the
// Windows error in error. A file whose opportunistic lock is being broken
// answers oplock_break_error, with no handle: I/O through that
// handle could wait for the break.
typedef HANDLE (*Attempt)(const Request& request, DWORD& error);

// The native open with the option that completes at once when an
// opportunistic lock is held.
HANDLE attempt_without_waiting(const Request& request, DWORD& error);

// Whether error is another process's hold: a sharing or lock violation, or an
// opportunistic-lock break in progress.
bool is_held(DWORD error);

// Opens as request says. On a hold it tries again until hold_budget_ms have
// passed since the first attempt; a path found held the last time it was
// opened is tried once only, so that a file held for long costs one wait,
// not one per line or per turn. Null with the error otherwise (the last
// hold's error when the budget ran out).
FileHandle open_file(const Request& request, DWORD& error);

// The file's index on its volume (FileInternalInformation), which the file
// system answers from the file alone; false when it cannot be read.
bool file_index_of(HANDLE file, unsigned long long& index);

// The attempt open_file makes; tests put one in that reports a hold. Returns
// the one it replaces.
Attempt replace_attempt(Attempt attempt);

}  // namespace bounded_open

}  // namespace keyhaven
