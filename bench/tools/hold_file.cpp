// bench_hold_file.exe PATH [SECONDS]: keeps a file open without sharing, the
// way another program can make it unwritable (under Wine, as root, read-only
// attributes and permissions block nothing). Prints "ready" once it holds it.
// bench_hold_file.exe --turn PATH [SECONDS]: opens it shared, as a reader
// may, and keeps the log's turn byte locked instead.

#include "platform/append_file.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace keyhaven;

int main(int argc, char** argv)
{
    const bool turn = argc > 1 && std::strcmp(argv[1], "--turn") == 0;
    if (turn) {
        --argc;
        ++argv;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_hold_file [--turn] PATH [SECONDS]\n");
        return 2;
    }
    // The turn's holder makes no log file: one of its making would not be
    // the agent's.
    HANDLE file = turn ? CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                       : CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "cannot open %s: %lu\n", argv[1], GetLastError());
        return 1;
    }
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(append_lock_offset);
    at.OffsetHigh = static_cast<DWORD>(append_lock_offset >> 32);
    if (turn && !LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        std::fprintf(stderr, "cannot lock the turn of %s: %lu\n", argv[1], GetLastError());
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    Sleep(argc > 2 ? static_cast<DWORD>(std::atof(argv[2]) * 1000) : INFINITE);
    CloseHandle(file);
    return 0;
}
