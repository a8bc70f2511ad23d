#include "benchmark/perf_turns.h"

#include "support/timing_for_tests.h"

#include <windows.h>

#include <climits>
#include <cstdio>
#include <ctime>

using namespace keyhaven;

namespace perf {

void pauses_off()
{
    test_timing::reset(ULONG_MAX);
}

void pauses_shortened()
{
    test_timing::reset(1000);
}

void settle(PollingState& state)
{
    int unchanged = 0;
    for (int turn = 0; turn < 50 && unchanged < 2; ++turn) {
        const int tokens = state.census.tokens_count, cards = state.census.cards_count;
        run_polling_turn(state);
        // The recorded pauses would grow without bound over a long run.
        test_timing::requested.clear();
        unchanged = tokens == state.census.tokens_count && cards == state.census.cards_count ? unchanged + 1 : 0;
    }
}

StandinProviderKept::StandinProviderKept() : module_(LoadLibraryA("bench_gost_csp.dll"))
{
    if (!module_)
        note("the stand-in provider DLL could not be kept loaded");
}

StandinProviderKept::~StandinProviderKept()
{
    if (module_)
        FreeLibrary(static_cast<HMODULE>(module_));
}

long long log_size()
{
    const std::time_t now = std::time(nullptr);
    std::tm when = {};
    localtime_s(&when, &now);
    char path[64];
    std::snprintf(path, sizeof path, "c:\\nivra\\Keyhaven_%02d_%02d_%04d.log", when.tm_mday, when.tm_mon + 1,
                  when.tm_year + 1900);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return 0;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace perf
