// The package's own actions, in keyhaven-setup.dll (the package's Binary
// table): Windows Installer loads it only while it installs. Each action
// writes what it did into the install log, every line starting "Keyhaven:".
//
//   CheckInstall       immediate, before anything changes: refuses bad
//                      property values and hands the settings to
//                      WriteSettings.
//   StopAgents         deferred, as the installing account: ends the
//                      installed keyhaven.exe (and keyhaven-status.exe) in
//                      every session before the files are replaced or
//                      removed. (sessions.cpp)
//   PrepareDataFolder  deferred, before folders and files: keeps c:\nivra
//                      or takes it over. (data_folder.cpp)
//   WriteSettings      deferred: puts the settings given as properties into
//                      c:\nivra\Keyhaven.ini.
//   StartAgents        commit, once the install has succeeded: starts
//                      keyhaven.exe in every session with a logged-on user,
//                      with that user's token. (sessions.cpp)

#include "platform/data_directory.h"
#include "platform/whole_file.h"
#include "platform/file_security.h"
#include "platform/owned.h"
#include "setup/custom_actions.h"
#include "setup/data_folder.h"
#include "setup/retention_action.h"
#include "setup/settings_edit.h"
#include "platform/package_names.h"

#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <restartmanager.h>
#include <winternl.h>
#include <aclapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace keyhaven {

namespace {

const DWORD largest_settings_file = 1024 * 1024;
// Another program (a backup, a scanner, an editor) may hold the settings
// file for a moment; one that holds it longer fails the install with its
// name rather than stall it.
const DWORD settings_held_wait_ms = 10000;
const DWORD settings_held_retry_ms = 100;

void close_msi_handle(MSIHANDLE handle)
{
    MsiCloseHandle(handle);
}
using MsiHandle = Owned<MSIHANDLE, close_msi_handle>;

std::string property(MSIHANDLE install, const char* name)
{
    char small[256];
    DWORD size = sizeof small;
    UINT result = MsiGetPropertyA(install, name, small, &size);
    if (result == ERROR_SUCCESS)
        return small;
    if (result != ERROR_MORE_DATA)
        return std::string();
    std::vector<char> large(size + 1);
    size = static_cast<DWORD>(large.size());
    return MsiGetPropertyA(install, name, large.data(), &size) == ERROR_SUCCESS ? large.data() : std::string();
}

std::string settings_path()
{
    return std::string(package_names::data_folder) + "\\" + package_names::settings_file;
}

bool held_by_another(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_OPLOCK_NOT_GRANTED;
}

// The programs Restart Manager names as holding path, or what is known.
std::string holders_of(const std::string& path)
{
    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    if (RmStartSession(&session, 0, key) != ERROR_SUCCESS)
        return "a program Windows does not name";
    std::wstring wide(path.begin(), path.end());  // c:\nivra\Keyhaven.ini: ASCII
    LPCWSTR files[] = {wide.c_str()};
    RM_PROCESS_INFO found[8];
    UINT needed = 0, count = sizeof found / sizeof found[0];
    DWORD reasons = 0;
    std::string names;
    if (RmRegisterResources(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS &&
        RmGetList(session, &needed, &count, found, &reasons) == ERROR_SUCCESS) {
        for (UINT i = 0; i < count; ++i) {
            char name[CCH_RM_MAX_APP_NAME + 1] = {};
            WideCharToMultiByte(CP_ACP, 0, found[i].strAppName, -1, name, sizeof name, nullptr, nullptr);
            names += (names.empty() ? "" : ", ") + std::string(name) + " (process " +
                     std::to_string(found[i].Process.dwProcessId) + ")";
        }
    }
    RmEndSession(session);
    return names.empty() ? "a program Windows does not name" : names;
}

// The native open, so that an opportunistic lock another program holds on
// the file (a batch lock it never lets go of) is answered at once instead
// of waited for: such an open counts as held, and nothing is read through
// it. Opened as itself (a link is opened, not followed, and then refused by
// the trust rule), shared for reading only.
FileHandle open_settings_once(DWORD& error)
{
    const NTSTATUS oplock_break_in_progress = 0x00000108;
    const std::string path = "\\??\\" + settings_path();
    const std::wstring wide(path.begin(), path.end());  // c:\nivra\Keyhaven.ini: ASCII
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, wide.c_str());
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    IO_STATUS_BLOCK io = {};
    HANDLE opened = nullptr;
    const NTSTATUS status = NtCreateFile(&opened, GENERIC_READ | READ_CONTROL | SYNCHRONIZE, &attributes, &io, nullptr,
                                         FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ, FILE_OPEN,
                                         FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT |
                                             FILE_OPEN_REPARSE_POINT | FILE_COMPLETE_IF_OPLOCKED,
                                         nullptr, 0);
    FileHandle file(status >= 0 ? opened : nullptr);
    if (status == oplock_break_in_progress) {
        error = ERROR_OPLOCK_NOT_GRANTED;
        return FileHandle();
    }
    if (status < 0) {
        error = RtlNtStatusToDosError(status);
        return FileHandle();
    }
    return file;
}

// Retried while another program holds the file, for a bounded time.
FileHandle open_settings(DWORD& error)
{
    for (DWORD waited = 0;; waited += settings_held_retry_ms) {
        FileHandle file = open_settings_once(error);
        if (file.held() || !held_by_another(error) || waited >= settings_held_wait_ms)
            return file;
        Sleep(settings_held_retry_ms);
    }
}

// The text of the open file, at most largest_settings_file bytes; error is
// the failed call's own code.
bool read_settings_text(HANDLE file, std::string& text, DWORD& error)
{
    switch (read_whole_file(file, largest_settings_file, text, error)) {
    case WholeFile::read:
        return true;
    case WholeFile::too_large:
        error = ERROR_FILE_TOO_LARGE;
        return false;
    case WholeFile::size_unknown:
    case WholeFile::not_read:
        break;
    }
    return false;
}

// The settings file's own access list, protected, for the file that takes
// its place: the new file has its final security from its first byte.
bool security_of_settings(HANDLE file, LocalMemory& descriptor, DWORD& error)
{
    PACL dacl = nullptr;
    error = GetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                            descriptor.put());
    if (error != ERROR_SUCCESS)
        return false;
    if (!SetSecurityDescriptorControl(descriptor.get(), SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
        error = GetLastError();
        return false;
    }
    return true;
}

// The new text goes into a file of a name nobody can foresee, made new with
// the settings file's security, and then takes the settings file's place in
// one rename: a running agent, which re-reads the file every second, sees
// the old text or the new, never half of one.
bool replace_settings_file(const std::string& text, PSECURITY_DESCRIPTOR security, DWORD& error)
{
    std::string suffix;
    if (!random_suffix(suffix)) {
        error = GetLastError();
        return false;
    }
    const std::string temporary = settings_path() + "." + suffix + ".new";
    SECURITY_ATTRIBUTES attributes{sizeof attributes, security, FALSE};
    {
        FileHandle file(CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.held()) {
            error = GetLastError();
            return false;
        }
        DWORD written = 0;
        bool done = true;
        for (std::size_t at = 0; done && at < text.size(); at += written)
            done = WriteFile(file.get(), text.data() + at, static_cast<DWORD>(text.size() - at), &written, nullptr) &&
                   written > 0;
        if (!done || !FlushFileBuffers(file.get())) {
            error = GetLastError();
            file.free_now();
            DeleteFileA(temporary.c_str());
            return false;
        }
    }
    if (!MoveFileExA(temporary.c_str(), settings_path().c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
        DeleteFileA(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace

void install_log(MSIHANDLE install, const std::string& text)
{
    MsiHandle record(MsiCreateRecord(0));
    MsiRecordSetStringA(record.get(), 0, ("Keyhaven: " + text).c_str());
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record.get());
}

void log_refusal(MSIHANDLE install, const std::string& text)
{
    MsiHandle record(MsiCreateRecord(0));
    MsiRecordSetStringA(record.get(), 0, ("Keyhaven: " + text).c_str());
    MsiProcessMessage(install, INSTALLMESSAGE(INSTALLMESSAGE_ERROR | MB_OK | MB_ICONERROR), record.get());
}

std::string custom_action_data(MSIHANDLE install)
{
    return property(install, "CustomActionData");
}

extern "C" UINT __stdcall CheckInstall(MSIHANDLE install)
{
    std::vector<SettingValue> values;
    for (const SettingProperty& setting : setting_properties) {
        std::string value = property(install, setting.property);
        if (value.empty())
            continue;
        if (!setting_value_valid(value)) {
            log_refusal(install, std::string(setting.property) + "=" + value + " must be 0 or 1. " +
                                     "Nothing was installed or changed.");
            return ERROR_INSTALL_FAILURE;
        }
        values.push_back({setting.key, value});
    }
    // Retired: the package's folder needs no writer any more, and a folder
    // one user may add files to is one the plug-in rule refuses.
    std::string writer = property(install, "NIVRA_WRITER_SID");
    if (!writer.empty()) {
        log_refusal(install, "NIVRA_WRITER_SID is no longer used: no user creates files in " +
                                 std::string(package_names::data_folder) + " any more, and the plug-in is registered " +
                                 "without it. Install again without NIVRA_WRITER_SID. Nothing was installed or " +
                                 "changed.");
        return ERROR_INSTALL_FAILURE;
    }
    // LOG_RETENTION_DAYS, stored for the keeper service.
    std::string retention_refusal;
    if (!settle_retention_days(install, retention_refusal)) {
        log_refusal(install, retention_refusal);
        return ERROR_INSTALL_FAILURE;
    }
    if (!values.empty()) {
        install_log(install, "settings to write into " + settings_path() + ": " +
                              encode_setting_values(values));
        MsiSetPropertyA(install, "WriteSettings", encode_setting_values(values).c_str());
    }
    return ERROR_SUCCESS;
}

extern "C" UINT __stdcall WriteSettings(MSIHANDLE install)
{
    std::vector<SettingValue> values;
    if (!decode_setting_values(custom_action_data(install), values)) {
        install_log(install, "no settings to write (\"" + custom_action_data(install) + "\")");
        return ERROR_INSTALL_FAILURE;
    }
    // Held until the new file is in place: nobody renames or replaces the
    // folder meanwhile.
    FileHandle folder;
    std::string reason;
    if (!hold_verified_folder(folder, reason)) {
        log_refusal(install, std::string(package_names::data_folder) + " " + reason + ": settings not written. Install " +
                                 "again: the package then makes a new one.");
        return ERROR_INSTALL_FAILURE;
    }
    DWORD error = 0;
    FileHandle settings = open_settings(error);
    if (!settings.held()) {
        log_refusal(install, settings_path() + (held_by_another(error)
                                                    ? " is held open by another program (" + holders_of(settings_path()) +
                                                          ", error " + std::to_string(error) + ") for " +
                                                          std::to_string(settings_held_wait_ms / 1000) +
                                                          " s: close it, then install again"
                                                    : " cannot be opened (error " + std::to_string(error) + ")") +
                                 ". Settings not written.");
        return ERROR_INSTALL_FAILURE;
    }
    if (!open_file_trusted(settings.get(), file_trust::changing_rights_with_append, reason)) {
        log_refusal(install, settings_path() + " is not used: " + reason + ". Settings not written.");
        return ERROR_INSTALL_FAILURE;
    }
    std::string text;
    LocalMemory security;
    if (!read_settings_text(settings.get(), text, error) || !security_of_settings(settings.get(), security, error)) {
        log_refusal(install, settings_path() + " cannot be read (error " + std::to_string(error) +
                                 "). Settings not written.");
        return ERROR_INSTALL_FAILURE;
    }
    settings.free_now();
    std::string edited = edit_settings_text(text, values);
    if (edited == text) {
        install_log(install, settings_path() + " already holds these settings");
        return ERROR_SUCCESS;
    }
    if (!replace_settings_file(edited, security.get(), error)) {
        log_refusal(install, settings_path() + " cannot be replaced (error " + std::to_string(error) +
                                 "). Settings not written.");
        return ERROR_INSTALL_FAILURE;
    }
    install_log(install, "settings written into " + settings_path() + ": " + encode_setting_values(values));
    return ERROR_SUCCESS;
}

}  // namespace keyhaven
