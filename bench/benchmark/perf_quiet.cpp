// Quiet turns (no carrier change, no pause) and their parts, next to the
// floor: the same Windows calls made bare.
#include "core/provider_lock.h"
#include "benchmark/floor_calls.h"
#include "benchmark/perf_modes.h"
#include "benchmark/perf_turns.h"
#include "settings/settings.h"
#include "support/timing_for_tests.h"

#include <windows.h>

using namespace keyhaven;

namespace perf {

namespace {

// What a quiet turn does around the lock: the libKestrel probe, the lock,
// its release at the end of the turn.
void lock_part()
{
    if (HANDLE other = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, package_names::provider_mutex))
        CloseHandle(other);
    const ProviderLock lock = acquire_provider_lock();
}

void add(Cost& total, const Cost& more)
{
    total.wall_ms += more.wall_ms;
    total.cpu_ms += more.cpu_ms;
}

template <class Work>
void run_timed(Cost& total, int turns, Work work)
{
    const Reading start = read_meter();
    for (int i = 0; i < turns; ++i)
        work();
    add(total, cost_since(start));
}

// Quiet turns and floor turns in alternating runs of a few, so that the
// machine's load at any moment reaches both alike.
void paired_block(PollingState& state, int rounds, int turns)
{
    Cost agent{0, 0}, bare{0, 0};
    for (int round = 0; round < rounds; ++round) {
        const auto agent_run = [&] { run_timed(agent, turns, [&] { run_polling_turn(state); }); };
        const auto floor_run = [&] { run_timed(bare, turns, floor_calls::turn); };
        if (round % 2 == 0) {
            agent_run();
            floor_run();
        } else {
            floor_run();
            agent_run();
        }
        test_timing::requested.clear();
    }
    const double count = static_cast<double>(rounds) * turns;
    sample("quiet.turn", Cost{agent.wall_ms / count, agent.cpu_ms / count});
    sample("floor.turn", Cost{bare.wall_ms / count, bare.cpu_ms / count});
}

// The parts one by one, the agent's next to the floor's.
void parts_block(PollingState& state)
{
    const double span_ms = 100;
    measure_for("quiet.part.lock", span_ms, lock_part);
    measure_for("floor.part.lock", span_ms, floor_calls::mutexes);
    measure_for("quiet.part.settings", span_ms, [&] { (void)read_settings("Keyhaven.ini", state.settings); });
    measure_for("floor.part.settings", span_ms, floor_calls::settings_file);
    measure_for("quiet.part.cards", span_ms, [&] { state.census.count_cards(); });
    measure_for("floor.part.cards", span_ms, floor_calls::readers);
    measure_for("quiet.part.tokens", span_ms, [&] { state.census.count_tokens(); });
    measure_for("floor.part.tokens", span_ms, floor_calls::usb_walk);
}

// Where the USB walk's CPU goes: this process or the wineserver.
void walk_split()
{
    const Reading start = read_meter();
    const int nodes = floor_calls::usb_walk();
    const Reading end = read_meter();
    if (nodes <= 0)
        return;
    sample("floor.walk_per_node.process_cpu_ms", (end.process_cpu_ms - start.process_cpu_ms) / nodes);
    sample("floor.walk_per_node.server_cpu_ms", (end.server_cpu_ms - start.server_cpu_ms) / nodes);
}

}  // namespace

int run_quiet(const Options& options)
{
    const int blocks = options.number("blocks", 7);
    const int rounds = options.number("rounds", 5);
    const int turns = options.number("turns", 5);
    note(meter_description());
    pauses_off();
    PollingState state;
    settle(state);
    sample("workstation.usb_nodes", floor_calls::usb_walk());
    sample("workstation.cards", state.census.cards_count);
    sample("workstation.tokens", state.census.tokens_count);

    const long long log_before = log_size();
    for (int block = 0; block < blocks; ++block) {
        paired_block(state, rounds, turns);
        parts_block(state);
        walk_split();
    }
    if (log_size() != log_before) {
        note("the log grew during the quiet turns: they were not quiet");
        return 1;
    }
    return 0;
}

}  // namespace perf
