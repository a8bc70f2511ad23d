#include "core/polling_cycle.h"

#include "core/new_containers.h"
#include "core/provider_lock.h"
#include "platform/timing.h"
#include "crypt_utils/container_certificates.h"
#include "crypt_utils/store_cleaning.h"
#include "crypt_utils/enum_containers.h"
#include "diag/log.h"
#include "platform/owned.h"
#include "platform/package_names.h"

#include <windows.h>

namespace keyhaven {

namespace {

const DWORD poll_period_ms = 1000;
const int poll_period_logged_s = 1;
const int retry_limit = 100;
const DWORD retry_pause_ms = 3000;
const double retry_pause_logged_s = 3.0;

enum class Enumeration { listed, aborted, failed };

bool provider_used_by_kestrel()
{
    return KernelHandle(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, package_names::provider_mutex)).held();
}

void reread_settings(PollingState& state)
{
    Settings& settings = state.settings;
    const SettingsRead code = read_settings(package_names::settings_file, settings, state.failure_reminder_ms);
    if (code == SettingsRead::changed)
        log_write(LogLevel::info,
                  "settings are changed: [mark_default=%d, ignore_cards=%d, clean_storage=%d, init_plugin=%d]",
                  settings.mark_default, settings.ignore_cards, settings.clean_storage, settings.init_plugin);
    hold_cleaning_by_settings_read(state.cleaning_hold, code);
}

// Enumerates, retrying while the provider reports its containers busy,
// unless every carrier leaves meanwhile. current_containers ends up with the
// containers found, or empty.
Enumeration enumerate_with_retries(PollingState& state)
{
    int rc = crypt_utils::enum_containers(state.settings, state.current_containers);
    for (int retry = 1; rc != 0 && retry <= retry_limit; ++retry) {
        if (state.census.take_census(state.settings).total == 0) {
            log_write(LogLevel::warning, "aborting enumeration process: all carriers were ejected");
            return Enumeration::aborted;
        }
        log_write(LogLevel::warning,
                  "error enumeration containers (ERROR_NO_MORE_ITEMS) - containers are busy by another program");
        log_write(LogLevel::warning, "waiting %4.1f seconds and retrying <%d/%d> enumerate containers...",
                  retry_pause_logged_s,
                  retry, retry_limit);
        Sleep(timing_ms(retry_pause_ms));
        rc = crypt_utils::enum_containers(state.settings, state.current_containers);
    }
    return rc == 0 ? Enumeration::listed : Enumeration::failed;
}

void list_new_containers(const std::vector<std::string>& fresh)
{
    if (fresh.empty()) {
        log_write(LogLevel::info, "no new containers found");
        return;
    }
    log_write(LogLevel::info, " === found %d container(s) to import: ===", static_cast<int>(fresh.size()));
    for (const auto& name : fresh)
        log_write(LogLevel::info, "\t * %s", log_name(name).c_str());
    log_write(LogLevel::info, " === end of list ===");
}

void handle_carrier_change(PollingState& state, const CensusResult& census)
{
    const bool cleaning = cleaning_on(state.cleaning_hold, state.settings.clean_storage);
    if (census.total == 0 && cleaning) {
        state.known_containers.clear();
        // Each of these routines logs its own outcome; the turn goes on whatever it was.
        (void)crypt_utils::clean_local_storage({});
        return;
    }
    const Enumeration outcome = enumerate_with_retries(state);
    const std::vector<std::string> fresh = new_containers(state.current_containers, state.known_containers);
    state.known_containers = state.current_containers;
    // A provider that stayed busy gave no list at all: cleaning against its
    // empty answer would delete the certificates of carriers still inserted.
    if (cleaning) {
        if (outcome == Enumeration::failed)
            log_write(LogLevel::warning, "containers could not be enumerated, [MY] storage is not cleaned");
        else
            (void)crypt_utils::clean_local_storage(state.current_containers);
    }
    list_new_containers(fresh);
    for (const auto& name : fresh)
        (void)crypt_utils::import_if_not_exists(name, state.settings);
}

}  // namespace

void hold_cleaning_by_settings_read(CleaningHold& hold, SettingsRead code)
{
    switch (follow_settings_read(hold, code)) {
    case HoldChange::started:
        log_write(LogLevel::warning, "[MY] storage is not cleaned until the settings file is read: %s (code=%d)",
                  why_settings_hold_cleaning(code), static_cast<int>(code));
        break;
    case HoldChange::ended:
        log_write(LogLevel::info, "[MY] storage cleaning follows the settings again (code=%d)", static_cast<int>(code));
        break;
    case HoldChange::none:
        break;
    }
}

void run_polling_turn(PollingState& state)
{
    if (provider_used_by_kestrel()) {
        log_write(LogLevel::warning, "libKestrel mutex is active, idling...");
        Sleep(timing_ms(poll_period_ms));
        return;
    }

    {
        // Released and closed at the end of the work, before the pause,
        // whether or not the wait obtained it.
        const ProviderLock lock = acquire_provider_lock();
        reread_settings(state);
        const CensusResult census = state.census.take_census(state.settings);
        if (census.changed)
            handle_carrier_change(state, census);
    }
    Sleep(timing_ms(poll_period_ms));
}

void run_polling_cycle(const Settings& settings, const CleaningHold& hold)
{
    PollingState state;
    state.settings = settings;
    state.cleaning_hold = hold;
    state.failure_reminder_ms = timing_ms(failure_reminder_ms);
    log_write(LogLevel::info, "start polling, timeout=%ds", poll_period_logged_s);
    for (;;)
        run_polling_turn(state);
}

}  // namespace keyhaven
