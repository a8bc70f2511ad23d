// What the agent's building blocks cost one at a time on this workstation:
// a log line, the data folder, opening the personal store, reading one
// container's certificate, asking the provider for a container.
#include "crypt_utils/certificates.h"
#include "crypt_utils/containers.h"
#include "diag/log.h"
#include "benchmark/perf_modes.h"
#include "benchmark/perf_store.h"
#include "benchmark/perf_turns.h"

#include <windows.h>
#include <wincrypt.h>

namespace perf {

int run_units(const Options& options)
{
    const int count = options.number("count", 10);
    const int reps = options.number("reps", 5);
    std::vector<std::string> containers;
    crypt_utils::enum_containers(containers);
    if (containers.empty()) {
        note("the provider shows no container");
        return 1;
    }
    const std::string& container = containers.front();
    sample("units.store_certificates", perf_store::count());
    for (int rep = 0; rep < reps; ++rep) {
        measure("units.data_directory", count, [] { data_directory(); });
        measure("units.log_debug", count, [] { log_write(DEBUG, "bench_perf: a debug line"); });
        measure("units.log_info", count, [] { log_write(INFO, "bench_perf: an info line"); });
        measure("units.store_open", count, [] {
            HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"My");
            if (store)
                CertCloseStore(store, CERT_CLOSE_STORE_FORCE_FLAG);
        });
        measure("units.provider_acquire", count, [&] {
            HCRYPTPROV provider = 0;
            if (CryptAcquireContextA(&provider, container.c_str(), nullptr, 75, CRYPT_SILENT))
                CryptReleaseContext(provider, 0);
        });
        {
            const StandinProviderKept provider_kept;
            measure("units.provider_acquire_kept_loaded", count, [&] {
                HCRYPTPROV provider = 0;
                if (CryptAcquireContextA(&provider, container.c_str(), nullptr, 75, CRYPT_SILENT))
                    CryptReleaseContext(provider, 0);
            });
        }
        measure("units.get_cert_context", count, [&] {
            int rc = 0;
            const crypt_utils::CertContext certificate = crypt_utils::get_cert_context(container, rc);
        });
        measure("units.import_known", count, [&] { crypt_utils::import_if_not_exists(container); });
    }
    return 0;
}

}  // namespace perf
