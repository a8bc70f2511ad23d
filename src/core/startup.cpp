#include "core/startup.h"

#include "core/polling_cycle.h"
#include "crypt_utils/provider_version.h"
#include "desktop/plugin_registration.h"
#include "desktop/viewer_preferences.h"
#include "diag/log.h"
#include "platform/owned.h"
#include "diag/versions.h"
#include "settings/settings.h"
#include "platform/package_names.h"

#include <windows.h>

#include <string>
#include <utility>

namespace keyhaven {

namespace {

const DWORD instance_wait_ms = 2000;
const int exit_other_instance = 1;
const int exit_cycle_returned = 0;

// Waits on a "keyhaven_mutex" that another process made; true when this
// process may start (the other one ended without releasing it).
bool may_start_after_waiting_on(HANDLE instance)
{
    switch (WaitForSingleObject(instance, instance_wait_ms)) {
    case WAIT_OBJECT_0:
        log_write(LogLevel::warning, "keyhaven already running, mutex state: WAIT_OBJECT_0, shutting down...");
        return false;
    case WAIT_ABANDONED:
        log_write(LogLevel::warning, "keyhaven is not running, mutex state: WAIT_ABANDONED, starting...");
        return true;
    default:
        log_write(LogLevel::warning, "keyhaven already running, mutex state: WAIT_TIMEOUT, shutting down...");
        return false;
    }
}

// Returns false when another agent runs in this session. On true, instance
// owns the mutex for this process's life (or is empty if none could be
// made), and probe is any earlier handle kept with it.
bool claim_single_instance(MutexOwnership& instance, KernelHandle& probe)
{
    probe.reset(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, package_names::instance_mutex));
    if (probe.held() && !may_start_after_waiting_on(probe.get()))
        return false;

    SetLastError(ERROR_SUCCESS);
    MutexHandle created(CreateMutexA(nullptr, TRUE, package_names::instance_mutex));
    // Two agents started together can both miss each other at the probe;
    // the one whose creation found the mutex there treats it as the probe's.
    if (!probe.held() && created.held() && GetLastError() == ERROR_ALREADY_EXISTS &&
        !may_start_after_waiting_on(created.get()))
        return false;
    // Made by this call, or taken over from an agent that ended holding it.
    instance = MutexOwnership(std::move(created), true);
    return true;
}

void log_versions()
{
    std::string module_version;
    if (get_module_version(module_version))
        log_write(LogLevel::info, "module version: %s", module_version.c_str());

    // Logged even when the provider cannot say: the lines then stay empty.
    std::string product_version;
    std::string kernel_version;
    (void)crypt_utils::get_provider_version(product_version, kernel_version);
    log_write(LogLevel::info, "Crypto-Pro CSP product version: %s", product_version.c_str());
    log_write(LogLevel::info, "Crypto-Pro SKZI kernel version: %s KC1", kernel_version.c_str());

    log_write(LogLevel::info, "OS version: %s", get_os_version().c_str());
}

SettingsRead read_initial_settings(Settings& settings)
{
    const SettingsRead code = read_settings(package_names::settings_file, settings);
    log_write(LogLevel::info,
              "initial settings read: [mark_default=%d, ignore_cards=%d, clean_storage=%d, init_plugin=%d]",
              settings.mark_default, settings.ignore_cards, settings.clean_storage, settings.init_plugin);
    if (settings_taken(code))
        log_write(LogLevel::info, "settings read status { OK, code=0 }");
    else
        log_write(LogLevel::error, "settings read status { ERROR, code=%d }", static_cast<int>(code));
    return code;
}

}  // namespace

int run_agent()
{
    // Released and closed when the process leaves this function.
    MutexOwnership instance;
    KernelHandle probe;
    if (!claim_single_instance(instance, probe))
        return exit_other_instance;

    log_write(LogLevel::info, "daemon starts");
    log_versions();
    Settings settings;
    CleaningHold hold;
    hold_cleaning_by_settings_read(hold, read_initial_settings(settings));
    if (settings.init_plugin == 1) {
        copy_viewer_preferences();
        reregister_plugin_dll();
    }

    run_polling_cycle(settings, hold);
    return exit_cycle_returned;
}

}  // namespace keyhaven
