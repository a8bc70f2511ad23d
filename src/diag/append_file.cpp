#include "diag/append_file.h"

#include "diag/log_line.h"
#include "diag/owned.h"

#include <windows.h>

namespace {

// A writer holds the turn for one WriteFile; a holder that seems stuck (a
// hung file server) is not waited for longer than this before the line is
// written without the turn: a line possibly mixed is better than one lost.
const int turn_attempts = 200;

OVERLAPPED turn_byte()
{
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(append_turn_offset);
    at.OffsetHigh = static_cast<DWORD>(append_turn_offset >> 32);
    return at;
}

void give_turn_back(HANDLE file)
{
    OVERLAPPED at = turn_byte();
    UnlockFileEx(file, 0, 1, 0, &at);
}

using AppendTurn = Owned<HANDLE, give_turn_back>;

// Windows appends a FILE_APPEND_DATA write at the end as one step, but not
// every file server does: some take the size and then write there, so two
// workstations sharing the folder can overwrite each other's lines. Taking
// turns closes that gap wherever byte-range locks are honoured.
AppendTurn take_turn(HANDLE file)
{
    for (int attempt = 0; attempt < turn_attempts; ++attempt) {
        OVERLAPPED at = turn_byte();
        if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
            return AppendTurn(file);
        if (GetLastError() != ERROR_LOCK_VIOLATION)
            break;  // no locks here (no read access, a file system without them)
        Sleep(1);
    }
    return AppendTurn();
}

// FILE_APPEND_DATA without FILE_WRITE_DATA: every write lands at the end of
// the file as it then is. Read access is only there because a lock needs it;
// a user who may append but not read still logs, without taking turns.
FileHandle open_for_appending(const std::string& path)
{
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    FileHandle file(CreateFileA(path.c_str(), FILE_READ_DATA | FILE_APPEND_DATA, share, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.held())
        file.reset(CreateFileA(path.c_str(), FILE_APPEND_DATA, share, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                               nullptr));
    return file;
}

}  // namespace

bool append_line_to_file(const std::string& path, const char* line)
{
    const FileHandle file = open_for_appending(path);
    if (!file.held())
        return false;
    // What a text-mode stream writes on Windows: CR LF for every line feed.
    const std::string text = log_line::with_crlf(line);
    const AppendTurn turn = take_turn(file.get());
    DWORD written = 0;
    return WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}
