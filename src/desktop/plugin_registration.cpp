#include "desktop/desktop_chores.h"

#include "core/timing.h"
#include "diag/file_security.h"
#include "diag/log.h"

#include <windows.h>
#include <shellapi.h>

#include <string>

namespace {

const char registration_tool[] = "C:/Windows/System32/regsvr32.exe";
const char plugin_folder[] = "C:/nivra/";
const DWORD pause_between_launches_ms = 4000;

// Starts regsvr32 without waiting for it: a result above 32 says only that
// the tool was started, not what it then did.
bool launch_registration_tool(const std::string& parameters)
{
    HINSTANCE result = ShellExecuteA(nullptr, "open", registration_tool, parameters.c_str(), nullptr, SW_HIDE);
    return static_cast<int>(reinterpret_cast<INT_PTR>(result)) > 32;
}

// Whether the plug-in file as Windows evaluates it (inherited entries
// included) may be registered; on false, its WARNING line is written.
bool plugin_may_be_registered(const std::string& dll)
{
    const std::string path = plugin_folder + dll;
    file_trust::FileSecurity security;
    const DWORD error = read_file_security(path, security);
    if (error != ERROR_SUCCESS) {
        log_write(WARNING, "plugin dll %s: its security cannot be read (error 0x%08X), it may be changed by other "
                           "users of this computer, not registered", path.c_str(), static_cast<unsigned>(error));
        return false;
    }
    if (!file_trust::only_trusted_can_change(security, current_user_sid())) {
        log_write(WARNING, "plugin dll %s can be changed by other users of this computer, not registered",
                  path.c_str());
        return false;
    }
    return true;
}

}  // namespace

void reregister_plugin_dll()
{
    const std::string dll = "dererarizoduz.dll";
    if (!plugin_may_be_registered(dll))
        return;
    if (!launch_registration_tool("/u /s " + std::string(plugin_folder) + dll)) {
        log_write(ERROR, "error unregister plugin dll");
        return;
    }
    log_write(INFO, "plugin dll unregistered successful");

    // The only ordering between the two tool processes.
    Sleep(timing_ms(pause_between_launches_ms));

    if (launch_registration_tool("/s " + std::string(plugin_folder) + dll))
        log_write(INFO, "plugin dll registered successful");
    else
        log_write(ERROR, "error register plugin dll");
}
