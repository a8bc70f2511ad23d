#include "desktop/viewer_preferences.h"

#include "platform/file_security.h"
#include "diag/log.h"
#include "platform/owned.h"
#include "platform/package_names.h"

#include <windows.h>
#include <shlobj.h>

#include <string>

namespace keyhaven {

namespace {

const char all_users_variable[] = "%ALLUSERSPROFILE%";
const char* const source_below_all_users = package_names::preferences_source;
const char* const folder_below_app_data = package_names::preferences_folder;
const char* const file_in_folder = package_names::preferences_file;

// Open for reading until the copy is done, with nobody else allowed to write,
// rename or delete it: the file judged is the file copied.
HANDLE open_source(const std::string& path)
{
    return CreateFileA(path.c_str(), GENERIC_READ | READ_CONTROL, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

}  // namespace

void copy_viewer_preferences()
{
    char all_users[260] = {};
    DWORD expanded = ExpandEnvironmentStringsA(all_users_variable, all_users, sizeof all_users);
    // A result larger than the buffer is the size the expansion would need:
    // the buffer then holds no path at all.
    if (expanded == 0 || expanded > sizeof all_users) {
        log_write(LogLevel::error, "error obtain [ALL USERS] variable");
        return;
    }
    const std::string source = std::string(all_users) + source_below_all_users;
    // Tested first, so nothing is created in the profile for a missing source.
    const FileHandle held(open_source(source));
    if (!held.held()) {
        log_write(LogLevel::error, "preferences file not exist");
        return;
    }
    // Any user may create the file while it is missing, for every agent to
    // copy into its own user's profile.
    std::string reason;
    if (!open_file_trusted(held.get(), file_trust::changing_rights_with_append, reason)) {
        log_write(LogLevel::warning, "preferences file %s is not copied: %s", source.c_str(), reason.c_str());
        return;
    }

    char app_data[MAX_PATH] = {};
    // The user's folder, not "[ALL USERS]": the line is the agent's own text
    // for this failure too, and administrators' log filters know it.
    if (SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, app_data) < 0) {
        log_write(LogLevel::error, "error obtain [ALL USERS] variable");
        return;
    }
    const std::string folder = std::string(app_data) + folder_below_app_data;
    int created = SHCreateDirectoryExA(nullptr, folder.c_str(), nullptr);
    if (created != ERROR_SUCCESS && created != ERROR_FILE_EXISTS && created != ERROR_ALREADY_EXISTS) {
        log_write(LogLevel::error, "error create destination directory");
        return;
    }

    // Replaces the user's copy: it is refreshed at every start.
    if (CopyFileA(source.c_str(), (folder + file_in_folder).c_str(), FALSE))
        log_write(LogLevel::info, "preferences copied successful");
    else
        log_write(LogLevel::warning, "failed to copy preferences file or file already exists");
}

}  // namespace keyhaven
