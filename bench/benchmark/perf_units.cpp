// What the agent's building blocks cost one at a time on this workstation:
// a log line, the data folder, opening the personal store, reading one
// container's certificate, asking the provider for a container.
#include "crypt_utils/container_certificates.h"
#include "crypt_utils/enum_containers.h"
#include "platform/append_file.h"
#include "diag/log.h"
#include "diag/log_line.h"
#include "platform/text.h"
#include "benchmark/perf_modes.h"
#include "benchmark/perf_store.h"
#include "benchmark/perf_turns.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <ctime>

using namespace keyhaven;

namespace perf {

namespace {

// Another process keeps the turn byte of today's two files the whole time:
// the worst wait of a line (the first ones, until turns are given up for the
// day) and the cost of the lines after. Yields, not sleeps: no timer tick.
void measure_turn_held()
{
    log_write(LogLevel::info, "bench_perf: a line before the turn is held");
    const std::time_t now = std::time(nullptr);
    std::tm when = {};
    localtime_s(&when, &now);
    HANDLE holders[2] = {};
    for (int minimal = 0; minimal < 2; ++minimal) {
        const std::string path = data_directory() + log_line::file_name(when, minimal != 0);
        holders[minimal] = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(append_lock_offset);
        at.OffsetHigh = static_cast<DWORD>(append_lock_offset >> 32);
        if (!LockFileEx(holders[minimal], LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
            note("the turn of " + path + " could not be held");
    }
    double worst = 0;
    for (int line = 0; line < 6; ++line)
        worst = std::max(worst, measure("units.log_info_turn_held", 1, [] {
                                    log_write(LogLevel::info, "bench_perf: an info line while the turn is held");
                                }).wall_ms);
    sample("units.log_info_turn_held_worst.wall_ms", worst);
    for (HANDLE holder : holders)
        if (holder != INVALID_HANDLE_VALUE)
            CloseHandle(holder);
}

// A DEBUG line as it was written before the shared-computer checks: the
// same text, folder and turn, opened by name and written, with no refusal
// of links, no link count, no security read and no bounded open. The
// agent's line is measured against it side by side.
void bare_debug_line()
{
    const std::time_t now = std::time(nullptr);
    std::tm when = {};
    localtime_s(&when, &now);
    char line[log_line::line_buffer_size] = {};
    log_line::assemble(line, when, LogLevel::debug, "bench_perf: a debug line");
    const std::string text = with_crlf(line);
    const std::string path = data_directory() + log_line::file_name(when, false);
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(append_lock_offset);
    at.OffsetHigh = static_cast<DWORD>(append_lock_offset >> 32);
    const bool turn = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != FALSE;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    if (turn)
        UnlockFileEx(file, 0, 1, 0, &at);
    CloseHandle(file);
}

}  // namespace

int run_units(const Options& options)
{
    const int count = options.number("count", 10);
    const int reps = options.number("reps", 5);
    std::vector<std::string> containers;
    const Settings settings;
    (void)crypt_utils::enum_containers(settings, containers);
    if (containers.empty()) {
        note("the provider shows no container");
        return 1;
    }
    const std::string& container = containers.front();
    sample("units.store_certificates", perf_store::count());
    for (int rep = 0; rep < reps; ++rep) {
        measure("units.data_directory", count, [] { data_directory(); });
        measure("units.log_debug", count, [] { log_write(LogLevel::debug, "bench_perf: a debug line"); });
        measure("units.log_debug_unchecked", count, [] { bare_debug_line(); });
        measure("units.log_info", count, [] { log_write(LogLevel::info, "bench_perf: an info line"); });
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
        measure("units.import_known", count, [&] { (void)crypt_utils::import_if_not_exists(container, settings); });
    }
    measure_turn_held();
    return 0;
}

}  // namespace perf
