#pragma once
// Turns of the agent's polling cycle as the benchmarks drive them.

#include "core/polling_cycle.h"
#include "benchmark/perf_meter.h"

#include <string>

using namespace keyhaven;

namespace perf {

// Every pause and wait of the agent becomes 0 ms (through the time seam).
void pauses_off();
// Pauses of a thousandth of their product length.
void pauses_shortened();

// Runs turns until two in a row find the carriers unchanged.
void settle(PollingState& state);

// Runs work count times and prints its cost per run as name.wall_ms and
// name.cpu_ms.
template <class Work>
Cost measure(const std::string& name, int count, Work work)
{
    const Reading start = read_meter();
    for (int i = 0; i < count; ++i)
        work();
    const Cost cost = cost_since(start, count);
    sample(name, cost);
    return cost;
}

// Keeps the bench's stand-in provider DLL loaded while it lives. advapi32
// loads a provider for a process's first context and unloads it with the
// last; the stand-in (a MinGW DLL with its own static run-time) leaves a TLS
// slot, two handles and about 70 KiB behind on every unload, so a process
// that loads it about a thousand times aborts. That is the test
// equipment's cost, not the agent's: the benchmarks that open many
// provider contexts keep it loaded (its state lives in files anyway).
class StandinProviderKept {
public:
    StandinProviderKept();
    ~StandinProviderKept();
    StandinProviderKept(const StandinProviderKept&) = delete;
    StandinProviderKept& operator=(const StandinProviderKept&) = delete;

private:
    void* module_;
};

// Runs work until at least min_wall_ms have passed (once at least) and
// prints its cost per run: cheap calls are repeated often enough that
// reading the meter does not count.
template <class Work>
Cost measure_for(const std::string& name, double min_wall_ms, Work work)
{
    const Reading start = read_meter();
    int count = 0;
    do {
        work();
        ++count;
    } while (wall_clock_ms() - start.wall_ms < min_wall_ms);
    const Cost cost = cost_since(start, count);
    sample(name, cost);
    return cost;
}

// Size of today's full log file in c:\nivra, 0 when absent.
long long log_size();

}  // namespace perf
