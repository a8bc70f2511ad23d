// bench_hold_file.exe PATH [SECONDS]: keeps a file open without sharing, the
// way another program can make it unwritable (under Wine, as root, read-only
// attributes and permissions block nothing). Prints "ready" once it holds it.

#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_hold_file PATH [SECONDS]\n");
        return 2;
    }
    HANDLE file = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "cannot open %s: %lu\n", argv[1], GetLastError());
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    Sleep(argc > 2 ? static_cast<DWORD>(std::atof(argv[2]) * 1000) : INFINITE);
    CloseHandle(file);
    return 0;
}
