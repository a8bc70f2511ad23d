// Quiet turns (no carrier change, no pause) and their parts, next to the
// floor: the same Windows calls made bare.
#include "core/provider_lock.h"
#include "perf/floor_calls.h"
#include "perf/perf_modes.h"
#include "perf/perf_turns.h"
#include "settings/settings.h"
#include "support/timing_for_tests.h"

#include <windows.h>

namespace perf {

namespace {

// What a quiet turn does around the lock: the libKestrel probe, the lock,
// its release at the end of the turn.
void lock_part()
{
    if (HANDLE other = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, provider_mutex_name))
        CloseHandle(other);
    if (HANDLE lock = acquire_provider_lock()) {
        ReleaseMutex(lock);
        CloseHandle(lock);
    }
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
void parts_block(PollingState& state, int count)
{
    measure("quiet.part.lock", count, lock_part);
    measure("floor.part.lock", count, floor_calls::mutexes);
    measure("quiet.part.settings", count, [] { read_settings("Keyhaven.ini"); });
    measure("floor.part.settings", count, floor_calls::settings_file);
    measure("quiet.part.cards", count, [&] { state.census.count_cards(); });
    measure("floor.part.cards", count, floor_calls::readers);
    measure("quiet.part.tokens", count, [&] { state.census.count_tokens(); });
    measure("floor.part.tokens", count, floor_calls::usb_walk);
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
        parts_block(state, turns);
    }
    if (log_size() != log_before) {
        note("the log grew during the quiet turns: they were not quiet");
        return 1;
    }
    return 0;
}

}  // namespace perf
