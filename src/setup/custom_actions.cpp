// The package's own actions, in keyhaven-setup.dll (the package's Binary
// table): Windows Installer loads it only while it installs. Each action
// writes what it did into the install log, every line starting "Keyhaven:".
//
//   CheckInstall   immediate, before anything changes: refuses bad property
//                  values and a c:\nivra that is a junction or link, and
//                  hands the settings to WriteSettings.
//   StopAgents     deferred, as the installing account: ends every session's
//                  keyhaven.exe (and keyhaven-status.exe) before the files
//                  are replaced or removed.
//   WriteSettings  deferred: puts the settings given as properties into
//                  c:\nivra\Keyhaven.ini.
//   StartAgents    commit, once the install has succeeded: starts
//                  keyhaven.exe in every session with a logged-on user,
//                  with that user's token.

#include "diag/owned.h"
#include "setup/settings_edit.h"
#include "setup/custom_actions.h"

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const char data_folder[] = "C:\\nivra";
const char settings_path[] = "C:\\nivra\\Keyhaven.ini";
const DWORD largest_settings_file = 1024 * 1024;

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

// A refusal the administrator must see: in the log, and in a box when the
// install shows one.
void log_refusal(MSIHANDLE install, const std::string& text)
{
    MsiHandle record(MsiCreateRecord(0));
    MsiRecordSetStringA(record.get(), 0, ("Keyhaven: " + text).c_str());
    MsiProcessMessage(install, INSTALLMESSAGE(INSTALLMESSAGE_ERROR | MB_OK | MB_ICONERROR), record.get());
}

bool read_whole_file(const char* path, std::string& text, DWORD& error)
{
    FileHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    if (!file.held() || !GetFileSizeEx(file.get(), &size)) {
        error = GetLastError();
        return false;
    }
    if (size.QuadPart > largest_settings_file) {
        error = ERROR_FILE_TOO_LARGE;
        return false;
    }
    text.assign(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!text.empty() && (!ReadFile(file.get(), &text[0], static_cast<DWORD>(text.size()), &read, nullptr) ||
                          read != text.size())) {
        error = read != text.size() ? ERROR_READ_FAULT : GetLastError();
        return false;
    }
    return true;
}

// The new text goes into a file of a name nobody can have placed (created
// new, never opened over an existing one or a link) and then takes the
// settings file's place: ReplaceFileA keeps the replaced file's security,
// and a running agent, which re-reads the file every second, sees the old
// text or the new, never half of one.
bool replace_settings_file(const std::string& text, DWORD& error)
{
    char temporary[MAX_PATH];
    std::snprintf(temporary, sizeof temporary, "%s\\Keyhaven.ini.%lu-%lu.new", data_folder,
                  GetCurrentProcessId(), GetTickCount());
    {
        FileHandle file(CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!file.held()) {
            error = GetLastError();
            return false;
        }
        if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
            written != text.size() || !FlushFileBuffers(file.get())) {
            error = written != text.size() ? ERROR_WRITE_FAULT : GetLastError();
            file.free_now();
            DeleteFileA(temporary);
            return false;
        }
    }
    if (!ReplaceFileA(settings_path, temporary, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
        error = GetLastError();
        DeleteFileA(temporary);
        return false;
    }
    return true;
}

}  // namespace

void log_line(MSIHANDLE install, const std::string& text)
{
    MsiHandle record(MsiCreateRecord(0));
    MsiRecordSetStringA(record.get(), 0, ("Keyhaven: " + text).c_str());
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record.get());
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
    std::string writer = property(install, "NIVRA_WRITER_SID");
    if (!writer.empty() && !sid_text_valid(writer)) {
        log_refusal(install, "NIVRA_WRITER_SID=" + writer + " is not a SID (S-1-5-21-...). " +
                                 "Nothing was installed or changed.");
        return ERROR_INSTALL_FAILURE;
    }
    DWORD attributes = GetFileAttributesA(data_folder);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        log_refusal(install, std::string(data_folder) + " is a junction or symbolic link, so its files could " +
                                 "be anywhere: remove it, then install again. Nothing was installed or changed.");
        return ERROR_INSTALL_FAILURE;
    }
    if (!values.empty()) {
        log_line(install, "settings to write into " + std::string(settings_path) + ": " +
                              encode_setting_values(values));
        MsiSetPropertyA(install, "WriteSettings", encode_setting_values(values).c_str());
    }
    return ERROR_SUCCESS;
}

extern "C" UINT __stdcall WriteSettings(MSIHANDLE install)
{
    std::vector<SettingValue> values;
    if (!decode_setting_values(custom_action_data(install), values)) {
        log_line(install, "no settings to write (\"" + custom_action_data(install) + "\")");
        return ERROR_INSTALL_FAILURE;
    }
    std::string text;
    DWORD error = 0;
    if (!read_whole_file(settings_path, text, error)) {
        log_line(install, std::string(settings_path) + " cannot be read (error " + std::to_string(error) +
                              "), settings not written");
        return ERROR_INSTALL_FAILURE;
    }
    std::string edited = edit_settings_text(text, values);
    if (edited == text) {
        log_line(install, std::string(settings_path) + " already holds these settings");
        return ERROR_SUCCESS;
    }
    if (!replace_settings_file(edited, error)) {
        log_line(install, std::string(settings_path) + " cannot be replaced (error " + std::to_string(error) +
                              "), settings not written");
        return ERROR_INSTALL_FAILURE;
    }
    log_line(install, "settings written into " + std::string(settings_path) + ": " + encode_setting_values(values));
    return ERROR_SUCCESS;
}
