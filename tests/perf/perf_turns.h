#pragma once
// Turns of the agent's polling cycle as the benchmarks drive them.

#include "core/polling_cycle.h"
#include "perf/perf_meter.h"

#include <string>

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

// Size of today's full log file in c:\nivra, 0 when absent.
long long log_size();

}  // namespace perf
