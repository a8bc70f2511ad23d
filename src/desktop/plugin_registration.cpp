#include "desktop/plugin_registration.h"

#include "platform/timing.h"
#include "platform/file_security.h"
#include "diag/log.h"
#include "platform/package_folder.h"
#include "platform/package_names.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

namespace keyhaven {

namespace {

const char registration_tool[] = "C:/Windows/System32/regsvr32.exe";
const char* const plugin_folder = package_names::plugin_folder;
const char* const plugin_folder_path = package_names::data_folder;
const DWORD pause_between_launches_ms = 4000;

// Starts regsvr32 without waiting for it: a result above 32 says only that
// the tool was started, not what it then did.
bool launch_registration_tool(const std::string& parameters)
{
    HINSTANCE result = ShellExecuteA(nullptr, "open", registration_tool, parameters.c_str(), nullptr, SW_HIDE);
    return static_cast<int>(reinterpret_cast<INT_PTR>(result)) > 32;
}

// In the package's folder every file was put there by SYSTEM or an
// administrator; one of any other owner was left from before the package
// (or planted past it), and regsvr32 could load it with the plug-in. The
// count is bounded: the package's folder holds a few files a day.
bool package_folder_holds_only_system_files(std::string& reason)
{
    WIN32_FIND_DATAA found;
    const std::string pattern = std::string(plugin_folder_path) + "\\*";
    FindHandle search(FindFirstFileA(pattern.c_str(), &found));
    if (!search.held()) {
        reason = with_error("its folder's list cannot be read", GetLastError());
        return false;
    }
    const int most_files = 100000;
    int seen = 0;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        if (++seen > most_files) {
            reason = "its folder holds more than " + std::to_string(most_files) + " files";
            return false;
        }
        file_trust::FileSecurity security;
        const std::string path = std::string(plugin_folder_path) + "\\" + name;
        const FileHandle file(CreateFileA(path.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                          FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        const DWORD error = file.held() ? read_handle_security(file.get(), security) : GetLastError();
        if (error != ERROR_SUCCESS) {
            reason = with_error(("the owner of " + name + " in its folder cannot be read").c_str(), error);
            return false;
        }
        if (!file_trust::made_by_system_or_servicing(security.owner)) {
            reason = "its folder " + std::string(plugin_folder) + " holds " + name + ", owned by " + security.owner +
                     ", not made by SYSTEM, Administrators or TrustedInstaller";
            return false;
        }
    } while (FindNextFileA(search.get(), &found));
    return true;
}

// regsvr32 loads the DLL with the altered search path: the libraries it
// imports are looked for first in its own folder, so whoever may add a file
// there runs code as this user. The folder is judged on a handle to itself.
// On false, the WARNING line is written.
bool folder_may_hold_plugin(const std::string& dll_path)
{
    const FileHandle held = open_folder_held(plugin_folder_path, READ_CONTROL | FILE_READ_ATTRIBUTES | SYNCHRONIZE);
    file_trust::FileSecurity security;
    const std::string& me = current_user_sid();
    const std::string folder = plugin_folder;
    std::string reason;
    if (!held.held()) {
        reason = with_error(("its folder " + folder + " cannot be opened").c_str(), GetLastError());
    } else if (!read_real_folder_security(held.get(), plugin_folder_path, security, reason)) {
        reason = "its folder " + folder + " cannot be used: " + reason;
    } else if (!file_trust::owner_is_trusted(security.owner, me)) {
        reason = "its folder " + folder + " is owned by " + security.owner +
                 ", not by SYSTEM, Administrators, TrustedInstaller or this user";
    } else if (!file_trust::only_trusted_can_change(security, me, file_trust::folder_changing_rights)) {
        reason = "its folder " + folder + " lets other users of this computer add files or change it";
    } else if (!file_trust::folder_is_packages(security) || package_folder_holds_only_system_files(reason)) {
        return true;
    }
    log_write(LogLevel::warning, "plugin dll %s: %s, not registered", dll_path.c_str(), reason.c_str());
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
        log_write(LogLevel::warning,
                  "plugin dll %s: its security cannot be read (error 0x%08X), it may be changed by other "
                           "users of this computer, not registered", path.c_str(), static_cast<unsigned>(error));
        return false;
    }
    if (!file_trust::only_trusted_can_change(security, current_user_sid())) {
        log_write(LogLevel::warning, "plugin dll %s can be changed by other users of this computer, not registered",
                  path.c_str());
        return false;
    }
    return folder_may_hold_plugin(path);
}

}  // namespace

void reregister_plugin_dll()
{
    const std::string dll = package_names::plugin_dll;
    if (!plugin_may_be_registered(dll))
        return;
    if (!launch_registration_tool("/u /s " + std::string(plugin_folder) + dll)) {
        log_write(LogLevel::error, "error unregister plugin dll");
        return;
    }
    log_write(LogLevel::info, "plugin dll unregistered successful");

    // The only ordering between the two tool processes.
    Sleep(timing_ms(pause_between_launches_ms));

    if (launch_registration_tool("/s " + std::string(plugin_folder) + dll))
        log_write(LogLevel::info, "plugin dll registered successful");
    else
        log_write(LogLevel::error, "error register plugin dll");
}

}  // namespace keyhaven
