#include "desktop/plugin_registration.h"

#include "core/timing.h"
#include "diag/file_security.h"
#include "diag/log.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

namespace {

const char registration_tool[] = "C:/Windows/System32/regsvr32.exe";
const char plugin_folder[] = "C:/nivra/";
const char plugin_folder_path[] = "C:\\nivra";
const DWORD pause_between_launches_ms = 4000;

// Starts regsvr32 without waiting for it: a result above 32 says only that
// the tool was started, not what it then did.
bool launch_registration_tool(const std::string& parameters)
{
    HINSTANCE result = ShellExecuteA(nullptr, "open", registration_tool, parameters.c_str(), nullptr, SW_HIDE);
    return static_cast<int>(reinterpret_cast<INT_PTR>(result)) > 32;
}

// regsvr32 loads the DLL with the altered search path: the libraries it
// imports are looked for first in its own folder, so whoever may add a file
// there runs code as this user. On false, the WARNING line is written.
bool folder_may_hold_plugin(const std::string& dll_path)
{
    file_trust::FileSecurity security;
    const DWORD error = read_file_security(plugin_folder_path, security);
    const std::string me = current_user_sid();
    const std::string folder = plugin_folder;
    std::string reason;
    if (error != ERROR_SUCCESS) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(error));
        reason = "the security of its folder " + folder + " cannot be read (error " + code + ")";
    } else if (security.owner == "S-1-3-4" || !file_trust::is_trusted(security.owner, me)) {
        reason = "its folder " + folder + " is owned by " + security.owner +
                 ", not by SYSTEM, Administrators, TrustedInstaller or this user";
    } else if (!file_trust::only_trusted_can_change(security, me, file_trust::folder_changing_rights)) {
        reason = "its folder " + folder + " lets other users of this computer add files or change it";
    } else {
        return true;
    }
    log_write(WARNING, "plugin dll %s: %s, not registered", dll_path.c_str(), reason.c_str());
    return false;
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
    return folder_may_hold_plugin(path);
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
