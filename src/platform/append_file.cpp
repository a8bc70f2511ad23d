#include "platform/append_file.h"

#include "platform/bounded_open.h"
#include "platform/file_security.h"
#include "platform/owned.h"
#include "platform/package_folder.h"
#include "platform/sddl_security.h"
#include "platform/text.h"
#include "platform/verified_files.h"

#include <windows.h>

#include <utility>
#include <vector>

namespace keyhaven {

// Protected from what the folder would pass on: SYSTEM and Administrators
// full control; users append, read the attributes and the security, and
// wait on the file, but read no line. The OWNER RIGHTS entry gives the
// file's maker the same and nothing more: without it the owner could
// re-permission the file and read every other user's lines.
const char log_file_sddl[] = "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x120084;;;BU)(A;;0x120084;;;OW)";

namespace {

// What every opening asks for; reading the data only where it is granted
// (administrators, the file's maker at creation), for the write lock below.
const DWORD appending = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;

// Windows appends a FILE_APPEND_DATA write at the end as one step on a local
// volume, and so do file servers that honour an append-only handle, so locks
// are not what keeps lines whole there; an ordinary user, who may not read a
// log, cannot take one anyway. They are kept, cheap and bounded, for writers
// that can lock (administrators, Wine, which appends by size and offset, a
// server that takes the size and then writes) and never count on another
// process: a writer holds the lock for one WriteFile, so one not given
// within lock_budget_us is not waited for, and after locks_refused_limit
// such lines in a row the day's file is written without the lock. The path
// carries the date, so the next day starts afresh.
const long long lock_budget_us = 2000;
const int locks_refused_limit = 3;
const std::size_t paths_remembered = 8;

struct RefusedLocks {
    SRWLOCK guard = SRWLOCK_INIT;
    std::vector<std::pair<std::string, int>> paths;  // path, refusals in a row
};

RefusedLocks& refused_locks()
{
    static RefusedLocks refused;
    return refused;
}

void release_guard(SRWLOCK* guard)
{
    ReleaseSRWLockExclusive(guard);
}

using Guard = Owned<SRWLOCK*, release_guard>;

Guard guard_of(RefusedLocks& refused)
{
    AcquireSRWLockExclusive(&refused.guard);
    return Guard(&refused.guard);
}

int refusals(const std::string& path)
{
    RefusedLocks& refused = refused_locks();
    const Guard held = guard_of(refused);
    for (const auto& entry : refused.paths)
        if (entry.first == path)
            return entry.second;
    return 0;
}

void count_refusal(const std::string& path, bool refused_now)
{
    RefusedLocks& refused = refused_locks();
    const Guard held = guard_of(refused);
    for (auto& entry : refused.paths)
        if (entry.first == path) {
            entry.second = refused_now ? entry.second + 1 : 0;
            return;
        }
    if (!refused_now)
        return;
    if (refused.paths.size() >= paths_remembered)
        refused.paths.erase(refused.paths.begin());  // an earlier day's
    refused.paths.emplace_back(path, 1);
}

OVERLAPPED lock_byte()
{
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(append_lock_offset);
    at.OffsetHigh = static_cast<DWORD>(append_lock_offset >> 32);
    return at;
}

void unlock_byte(HANDLE file)
{
    OVERLAPPED at = lock_byte();
    UnlockFileEx(file, 0, 1, 0, &at);
}

using WriteLock = Owned<HANDLE, unlock_byte>;

long long microseconds_since(const LARGE_INTEGER& start)
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (now.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart;
}

// Yields rather than sleeps: Sleep(1) lasts a timer tick, 15.6 ms on Windows.
WriteLock take_write_lock(HANDLE file, const std::string& path)
{
    if (refusals(path) >= locks_refused_limit)
        return WriteLock();
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    for (;;) {
        OVERLAPPED at = lock_byte();
        if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
            count_refusal(path, false);
            return WriteLock(file);
        }
        if (GetLastError() != ERROR_LOCK_VIOLATION)
            return WriteLock();  // no read access, a file system without locks
        if (microseconds_since(start) >= lock_budget_us) {
            count_refusal(path, true);
            return WriteLock();
        }
        SwitchToThread();
    }
}

// Null when it could not be made: then no log file is made either.
SECURITY_ATTRIBUTES* log_file_security()
{
    static SddlSecurity security(log_file_sddl);
    return security.attributes();
}

// Never follows a reparse point: a link at the log's name is opened itself
// and then refused. Reading the data is asked for first, for the write lock. A file
// another process holds is waited for briefly; the line is then dropped.
FileHandle open_log(const std::string& path, DWORD disposition, SECURITY_ATTRIBUTES* security)
{
    bounded_open::Request request{path, appending | FILE_READ_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  disposition, true, security};
    DWORD error = ERROR_SUCCESS;
    FileHandle file = bounded_open::open_file(request, error);
    if (!file.held() && error == ERROR_ACCESS_DENIED) {
        request.access = appending;
        file = bounded_open::open_file(request, error);
    }
    return file;
}

// Which file the handle reaches: its index, asked of the file alone. Every
// name judged lies in the data folder, which is checked to be the real
// c:\nivra before each line, so the volume is C:'s; asking for it (the
// whole record of GetFileInformationByHandle, or FileIdInfo) asks the volume
// for its label too, which under Wine costs a round trip to another process
// and is most of a line's cost.
bool identity_of(HANDLE file, verified_files::Identity& identity)
{
    unsigned long long index = 0;
    if (!bounded_open::file_index_of(file, index))
        return false;
    identity = verified_files::Identity{0, 0, index};
    return true;
}

// One name, one file: a second link would carry the lines into a file its
// maker chose (the settings file, another user's), a reparse point anywhere.
// Checked on every line; identity says which file the handle reaches.
bool is_plain_file(HANDLE file, verified_files::Identity& identity)
{
    return is_plain(shape_of(file)) && identity_of(file, identity);
}

// A file the agent did not just make was made by someone: by another user's
// agent, or by a user with a security of their own that would let them read
// or re-permission it. In the package's folder only SYSTEM (the keeper)
// makes the day's files: one of any other owner was made by a user, by some
// route, whatever its security says. The folder is read only for such a file.
bool keeps_lines_private(HANDLE file)
{
    file_trust::FileSecurity security;
    return read_handle_security(file, security) == ERROR_SUCCESS &&
           file_trust::log_file_keeps_lines_private(security, current_user_sid()) &&
           (file_trust::made_by_system(security.owner) || !data_folder_is_packages());
}

// FILE_APPEND_DATA without FILE_WRITE_DATA: every write lands at the end of
// the file as it then is. A new file gets the log's own security.
FileHandle open_for_appending(const std::string& path)
{
    SECURITY_ATTRIBUTES* security = log_file_security();
    // A file that passed today is most likely there still: one open, not two.
    const bool seen = verified_files::seen(path);
    FileHandle file = seen ? open_log(path, OPEN_EXISTING, nullptr) : FileHandle();
    bool made = false;
    if (!file.held() && (!seen || GetLastError() == ERROR_FILE_NOT_FOUND)) {
        file = security ? open_log(path, CREATE_NEW, security) : FileHandle();
        made = file.held();
        if (!made && (!security || GetLastError() == ERROR_FILE_EXISTS))
            file = open_log(path, OPEN_EXISTING, nullptr);
    }
    if (!file.held())
        return file;
    verified_files::Identity identity = {};
    if (!is_plain_file(file.get(), identity))
        return FileHandle();
    // A file's security is judged once a day: who may re-permission a file
    // that passed is a trusted principal, or its maker under an OWNER RIGHTS
    // entry that lets them append and nothing more.
    if (!made && !verified_files::passed(path, identity) && !keeps_lines_private(file.get()))
        return FileHandle();
    verified_files::note_passed(path, identity);
    return file;
}

}  // namespace

bool append_line_to_file(const std::string& path, const char* line)
{
    const FileHandle file = open_for_appending(path);
    if (!file.held())
        return false;
    // What a text-mode stream writes on Windows: CR LF for every line feed.
    const std::string text = with_crlf(line);
    const WriteLock lock = take_write_lock(file.get(), path);
    DWORD written = 0;
    return WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

unsigned long create_log_file(const std::string& path)
{
    SECURITY_ATTRIBUTES* security = log_file_security();
    if (!security)
        return ERROR_INVALID_SECURITY_DESCR;
    const FileHandle file = open_log(path, CREATE_NEW, security);
    if (!file.held()) {
        const DWORD error = GetLastError();
        return error ? error : ERROR_GEN_FAILURE;
    }
    return ERROR_SUCCESS;
}

}  // namespace keyhaven
