// Many turns in a row, a carrier change every few turns and an expiring
// certificate among the carriers: what the process holds after 100 turns
// and after all of them. Without a display every warning box returns at
// once, so its thread ends.
//
// The stand-in provider's cost per DLL load is measured first; then it is
// kept loaded (see StandinProviderKept), so what grows afterwards is the
// agent's own. The stand-ins' open contexts, keys and PC/SC handles are
// sampled as well: anything the agent forgot to release would show there.
#include "benchmark/perf_modes.h"
#include "benchmark/perf_store.h"
#include "benchmark/perf_turns.h"
#include "support/agent_log.h"
#include "support/bench_carriers.h"
#include "support/bench_provider.h"
#include "support/timing_for_tests.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <string>

using namespace keyhaven;

namespace perf {

namespace {

const char steady_token[] = "PERFSTEADY";
const char steady_container[] = "perf-steady";
const char steady_subject[] = "Perf Steady Expiring";

long long seconds_to_new_year()
{
    SYSTEMTIME now, new_year = {};
    GetSystemTime(&now);
    new_year.wYear = static_cast<WORD>(now.wYear + 1);
    new_year.wMonth = 1;
    new_year.wDay = 1;
    FILETIME a, b;
    SystemTimeToFileTime(&now, &a);
    SystemTimeToFileTime(&new_year, &b);
    const auto ticks = [](const FILETIME& t) {
        return static_cast<long long>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
    };
    return (ticks(b) - ticks(a)) / 10000000LL;
}

// Ten days left, so the agent warns each time it meets it; warned about
// within the same year only, so near New Year an expired one (also warned
// about, also never imported) takes its place.
std::string expiring_certificate()
{
    bench_provider::CertificateSpec wanted;
    wanted.serial = "7B0001";
    wanted.subject_cn = steady_subject;
    wanted.issuer_cn = "Keyhaven Perf CA";
    const long long left = std::min(10LL * 86400, seconds_to_new_year() - 7200);
    if (left > 3600) {
        wanted.not_after = bench_provider::utc_from_now(left);
    } else {
        wanted.not_before = bench_provider::utc_from_now(-2 * 86400);
        wanted.not_after = bench_provider::utc_from_now(-86400);
    }
    return bench_provider::make_certificate(wanted);
}

void checkpoint(int turn)
{
    const std::string prefix = "steady." + std::to_string(turn);
    sample(prefix + ".private_kib", static_cast<double>(private_bytes()) / 1024.0);
    sample(prefix + ".handles", static_cast<double>(handle_count()));
    sample(prefix + ".threads", static_cast<double>(thread_count()));
    const bench_carriers::OpenHandles pcsc = bench_carriers::open_pcsc_handles();
    sample(prefix + ".standin_open", static_cast<double>(bench_provider::open_contexts() + bench_provider::open_keys() +
                                                         pcsc.contexts + pcsc.cards + pcsc.lists));
}

// What one load and unload of the provider stand-in leaves behind.
void standin_cost_per_load()
{
    const int loads = 20;
    const long handles = handle_count();
    const std::size_t bytes = private_bytes();
    for (int i = 0; i < loads; ++i) {
        HCRYPTPROV provider = 0;
        if (CryptAcquireContextA(&provider, nullptr, nullptr, 75, CRYPT_VERIFYCONTEXT))
            CryptReleaseContext(provider, 0);
    }
    sample("steady.standin_load.handles", static_cast<double>(handle_count() - handles) / loads);
    sample("steady.standin_load.private_kib", (static_cast<double>(private_bytes()) - bytes) / 1024.0 / loads);
}

long warnings_about_steady_certificate()
{
    long found = 0;
    for (const auto& entry : agent_log::entries(true))
        if (entry.find(steady_subject) != std::string::npos && entry.find("already imported") == std::string::npos &&
            (entry.find("[ WARNING ]") != std::string::npos || entry.find("[  ERROR  ]") != std::string::npos))
            ++found;
    return found;
}

}  // namespace

int run_steady(const Options& options)
{
    const int turns = options.number("turns", 10000);
    const int every = std::max(1, options.number("every", 10));
    pauses_shortened();
    const perf_store::Snapshot store = perf_store::Snapshot::take();
    const std::string certificate = expiring_certificate();
    bench_provider::add_container(steady_container, std::string("token:") + steady_token, "1", certificate);
    const long warnings_before = warnings_about_steady_certificate();

    standin_cost_per_load();
    const StandinProviderKept provider_kept;
    PollingState state;
    settle(state);
    bool inserted = false;
    for (int turn = 1; turn <= turns; ++turn) {
        if (turn % every == 0) {
            if (inserted)
                bench_carriers::remove_token(steady_token);
            else
                bench_carriers::insert_token(steady_token);
            inserted = !inserted;
        }
        run_polling_turn(state);
        test_timing::requested.clear();
        if (turn == 100 || turn == 1000 || turn == turns)
            checkpoint(turn);
    }
    sample("steady.turns", turns);
    sample("steady.changes", turns / every);
    sample("steady.warnings", static_cast<double>(warnings_about_steady_certificate() - warnings_before));

    if (inserted)
        bench_carriers::remove_token(steady_token);
    bench_provider::remove_container(steady_container);
    return store.put_back() ? 0 : 1;
}

}  // namespace perf
