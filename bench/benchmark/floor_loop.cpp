// bench_perf_floor.exe [SECONDS]: the floor's calls once a second with the
// agent's pause between them, for as long as asked (default: until
// stopped), so its CPU use can be measured the same way as the idle agent's.
#include "benchmark/floor_calls.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    const long seconds = argc > 1 ? std::atol(argv[1]) : 0;
    std::printf("ready\n");
    std::fflush(stdout);
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
    while (seconds <= 0 || GetTickCount64() < end) {
        floor_calls::turn();
        Sleep(1000);
    }
    return 0;
}
