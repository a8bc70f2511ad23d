#include "platform/bounded_open.h"

#include "platform/wide_text.h"

#include <winternl.h>

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

namespace keyhaven {

namespace bounded_open {

namespace {

// The native call's values, named here so that no SDK's macros are needed.
const ULONG open_existing_file = 1;       // FILE_OPEN
const ULONG create_new_file = 2;          // FILE_CREATE
const ULONG synchronous_io = 0x00000020;  // FILE_SYNCHRONOUS_IO_NONALERT
const ULONG not_a_folder = 0x00000040;    // FILE_NON_DIRECTORY_FILE
// Returns at once, with the status below, where the open would otherwise
// wait for another process to acknowledge an opportunistic-lock break.
const ULONG complete_if_oplocked = 0x00000100;    // FILE_COMPLETE_IF_OPLOCKED
const ULONG open_link_itself = 0x00200000;        // FILE_OPEN_REPARSE_POINT
const LONG oplock_break_in_progress = 0x00000108;  // STATUS_OPLOCK_BREAK_IN_PROGRESS
const ULONG case_insensitive = 0x00000040;        // OBJ_CASE_INSENSITIVE
const ULONG inheritable = 0x00000002;             // OBJ_INHERIT

const std::size_t held_paths_remembered = 8;

typedef LONG(NTAPI* NtCreateFileCall)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*, IO_STATUS_BLOCK*, LARGE_INTEGER*,
                                      ULONG, ULONG, ULONG, ULONG, void*, ULONG);
typedef ULONG(NTAPI* StatusToErrorCall)(LONG);
typedef LONG(NTAPI* QueryFileCall)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG, ULONG);
const ULONG file_internal_information = 6;  // FileInternalInformation

struct NativeCalls {
    NativeCalls()
    {
        // Looked up rather than linked: an MSVC build needs no ntdll import
        // library, and ntdll is in every process.
        if (HMODULE ntdll = GetModuleHandleW(L"ntdll.dll")) {
            create = reinterpret_cast<NtCreateFileCall>(
                reinterpret_cast<void*>(GetProcAddress(ntdll, "NtCreateFile")));
            to_error = reinterpret_cast<StatusToErrorCall>(
                reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlNtStatusToDosError")));
            query = reinterpret_cast<QueryFileCall>(
                reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryInformationFile")));
        }
    }
    NtCreateFileCall create = nullptr;
    StatusToErrorCall to_error = nullptr;
    QueryFileCall query = nullptr;
};

const NativeCalls& native_calls()
{
    static const NativeCalls calls;
    return calls;
}

// "c:\nivra\x.log" as the native call names it: "\??\c:\nivra\x.log";
// empty when it cannot be made.
std::wstring native_path(const std::string& path)
{
    const std::wstring wide = wide_from_ansi(path);
    if (wide.empty())
        return std::wstring();
    const DWORD full_size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (full_size == 0)
        return std::wstring();
    std::vector<wchar_t> full(full_size + 1, L'\0');
    const DWORD length = GetFullPathNameW(wide.c_str(), full_size + 1, full.data(), nullptr);
    if (length == 0 || length > full_size)
        return std::wstring();
    const std::wstring name(full.data(), length);
    if (name.compare(0, 4, L"\\\\?\\") == 0)
        return L"\\??\\" + name.substr(4);
    if (name.compare(0, 2, L"\\\\") == 0)
        return L"\\??\\UNC\\" + name.substr(2);
    return L"\\??\\" + name;
}

HANDLE open_with_create_file(const Request& request, DWORD& error)
{
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | (request.open_reparse_point ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    HANDLE file = CreateFileA(request.path.c_str(), request.access, request.share, request.security,
                              request.disposition, flags, nullptr);
    error = file == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

Attempt& current_attempt()
{
    static Attempt attempt = attempt_without_waiting;
    return attempt;
}

struct HeldPaths {
    std::mutex guard;
    std::vector<std::string> paths;  // oldest first
};

HeldPaths& held_paths()
{
    static HeldPaths held;
    return held;
}

bool was_held(const std::string& path)
{
    HeldPaths& held = held_paths();
    const std::lock_guard<std::mutex> taken(held.guard);
    return std::find(held.paths.begin(), held.paths.end(), path) != held.paths.end();
}

void note_hold(const std::string& path, bool held_now)
{
    HeldPaths& held = held_paths();
    const std::lock_guard<std::mutex> taken(held.guard);
    const auto found = std::find(held.paths.begin(), held.paths.end(), path);
    if (found != held.paths.end())
        held.paths.erase(found);
    if (!held_now)
        return;
    if (held.paths.size() >= held_paths_remembered)
        held.paths.erase(held.paths.begin());
    held.paths.push_back(path);
}

}  // namespace

HANDLE attempt_without_waiting(const Request& request, DWORD& error)
{
    const NativeCalls& calls = native_calls();
    if (!calls.create || !calls.to_error)
        return open_with_create_file(request, error);
    std::wstring path = native_path(request.path);
    if (path.empty()) {
        error = ERROR_INVALID_NAME;
        return nullptr;
    }
    if (path.size() * sizeof(wchar_t) > 0xFFFE) {
        error = ERROR_FILENAME_EXCED_RANGE;
        return nullptr;
    }
    UNICODE_STRING name;
    name.Buffer = &path[0];
    name.Length = static_cast<USHORT>(path.size() * sizeof(wchar_t));
    name.MaximumLength = name.Length;
    OBJECT_ATTRIBUTES attributes = {};
    attributes.Length = sizeof attributes;
    attributes.ObjectName = &name;
    attributes.Attributes = case_insensitive;
    if (request.security) {
        attributes.SecurityDescriptor = request.security->lpSecurityDescriptor;
        if (request.security->bInheritHandle)
            attributes.Attributes |= inheritable;
    }
    IO_STATUS_BLOCK io = {};
    HANDLE file = nullptr;
    const ULONG options = synchronous_io | not_a_folder | complete_if_oplocked |
                          (request.open_reparse_point ? open_link_itself : 0);
    // What CreateFile adds to every request: synchronous I/O needs SYNCHRONIZE.
    const LONG status = calls.create(&file, request.access | SYNCHRONIZE | FILE_READ_ATTRIBUTES, &attributes, &io,
                                     nullptr, FILE_ATTRIBUTE_NORMAL, request.share,
                                     request.disposition == CREATE_NEW ? create_new_file : open_existing_file,
                                     options, nullptr, 0);
    if (status == oplock_break_in_progress) {
        CloseHandle(file);
        error = oplock_break_error;
        return nullptr;
    }
    if (status < 0 || !real_handle(file)) {
        error = status < 0 ? calls.to_error(status) : ERROR_OPEN_FAILED;
        // A failure whose code maps to nothing is a failure all the same.
        if (error == ERROR_SUCCESS)
            error = ERROR_OPEN_FAILED;
        // CreateFile's answer for a name already taken by CREATE_NEW.
        if (error == ERROR_ALREADY_EXISTS && request.disposition == CREATE_NEW)
            error = ERROR_FILE_EXISTS;
        return nullptr;
    }
    error = ERROR_SUCCESS;
    return file;
}

bool is_held(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == oplock_break_error;
}

FileHandle open_file(const Request& request, DWORD& error)
{
    const Attempt attempt = current_attempt();
    const bool once = was_held(request.path);
    const ULONGLONG start = GetTickCount64();
    // Counted as well as timed: a coarse clock never buys an extra pause,
    // nor a short last pause an extra attempt.
    DWORD paused_ms = 0;
    DWORD pauses = 0;
    for (;;) {
        FileHandle file(attempt(request, error));
        if (file.held()) {
            note_hold(request.path, false);
            return file;
        }
        if (error == ERROR_SUCCESS)
            error = ERROR_OPEN_FAILED;
        const ULONGLONG waited = std::max<ULONGLONG>(GetTickCount64() - start, paused_ms);
        if (!is_held(error) || once || waited >= hold_budget_ms || pauses >= hold_budget_ms / hold_retry_ms) {
            note_hold(request.path, is_held(error));
            SetLastError(error);
            return FileHandle();
        }
        const DWORD pause = static_cast<DWORD>(std::min<ULONGLONG>(hold_retry_ms, hold_budget_ms - waited));
        Sleep(pause);
        paused_ms += pause;
        ++pauses;
    }
}

bool file_index_of(HANDLE file, unsigned long long& index)
{
    const NativeCalls& calls = native_calls();
    IO_STATUS_BLOCK io = {};
    LARGE_INTEGER number = {};
    if (!calls.query || calls.query(file, &io, &number, sizeof number, file_internal_information) < 0)
        return false;
    index = static_cast<unsigned long long>(number.QuadPart);
    return true;
}

Attempt replace_attempt(Attempt attempt)
{
    return std::exchange(current_attempt(), attempt);
}

}  // namespace bounded_open

}  // namespace keyhaven
