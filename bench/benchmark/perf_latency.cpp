// Beside a running keyhaven.exe with its real timing: a token arrives, and
// the time until its certificate is in the user's store is taken. The store
// is watched through its registry backing, which is where the certificate
// lands when the agent closes the store after the import.
#include "benchmark/perf_modes.h"
#include "benchmark/perf_meter.h"
#include "benchmark/perf_store.h"
#include "support/bench_carriers.h"
#include "support/bench_provider.h"

#include <windows.h>

#include <cstdio>
#include <ctime>
#include <string>

namespace perf {

namespace {

const char latency_token[] = "PERFLATENCY";
const char latency_container[] = "perf-latency";

std::string registry_key(const std::string& thumbprint)
{
    std::string key = "Software\\Microsoft\\SystemCertificates\\My\\Certificates\\";
    char digits[3];
    for (unsigned char byte : thumbprint) {
        std::snprintf(digits, sizeof digits, "%02X", byte);
        key += digits;
    }
    return key;
}

bool key_exists(const std::string& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::string fresh_certificate(int insertion)
{
    char serial[32], subject[32];
    std::snprintf(serial, sizeof serial, "7D%08lX%02X", static_cast<unsigned long>(std::time(nullptr)), insertion);
    std::snprintf(subject, sizeof subject, "Perf Latency %02d", insertion);
    bench_provider::CertificateSpec wanted;
    wanted.serial = serial;
    wanted.subject_cn = subject;
    wanted.issuer_cn = "Keyhaven Perf CA";
    return bench_provider::make_certificate(wanted);
}

// Milliseconds from the token's arrival to its certificate in the store,
// or a negative value when it did not arrive within the limit.
double one_insertion(int insertion, DWORD limit_ms)
{
    const std::string der = fresh_certificate(insertion);
    const std::string thumbprint = perf_store::thumbprint(der);
    const std::string key = registry_key(thumbprint);
    bench_provider::add_container(latency_container, std::string("token:") + latency_token, "1", der);

    bench_carriers::insert_token(latency_token);
    const Reading start = read_meter();
    while (!key_exists(key) && cost_since(start).wall_ms < limit_ms)
        Sleep(5);
    const double latency = cost_since(start).wall_ms;
    const bool arrived = perf_store::holds(thumbprint);

    bench_carriers::remove_token(latency_token);
    Sleep(2500);  // the agent sees the token go before the next one comes
    perf_store::remove(thumbprint);
    return arrived ? latency : -1.0;
}

}  // namespace

int run_latency(const Options& options)
{
    const int insertions = options.number("insertions", 10);
    const DWORD limit_ms = static_cast<DWORD>(options.number("limit_ms", 15000));
    int missed = 0;
    for (int i = 1; i <= insertions; ++i) {
        // Arrivals at varied points of the agent's one-second period.
        Sleep(static_cast<DWORD>((i * 389) % 1000));
        const double latency = one_insertion(i, limit_ms);
        if (latency < 0) {
            note("insertion " + std::to_string(i) + ": the certificate did not reach the store");
            ++missed;
            continue;
        }
        sample("latency.insertion_ms", latency);
    }
    bench_provider::remove_container(latency_container);
    return missed;
}

}  // namespace perf
