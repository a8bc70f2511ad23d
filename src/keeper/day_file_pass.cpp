#include "keeper/day_file_pass.h"

#include "platform/append_file.h"
#include "platform/file_security.h"
#include "platform/owned.h"
#include "platform/package_names.h"

#include <windows.h>

#include <cctype>

namespace keyhaven {

namespace keeper {

namespace {

void report(PassResult& result, Finding finding, const std::string& text)
{
    if (result.reports.size() < reports_per_pass)
        result.reports.push_back({finding, text});
    else
        ++result.unreported;
}

// The names of package_names.h are plain ASCII.
std::string narrow(const wchar_t* text)
{
    std::string narrowed;
    for (; *text; ++text)
        narrowed += static_cast<char>(*text);
    return narrowed;
}

std::string lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The handle's own path, as Windows resolved it: a link or a mount point
// anywhere on the way shows as another path than the one opened.
bool resolves_to(HANDLE handle, const std::string& path)
{
    char resolved[MAX_PATH + 8] = {};
    const DWORD length = GetFinalPathNameByHandleA(handle, resolved, sizeof resolved, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= sizeof resolved)
        return false;
    std::string final_path(resolved, length);
    if (final_path.compare(0, 4, "\\\\?\\") == 0)
        final_path.erase(0, 4);
    return lower(final_path) == lower(path);
}

// Why what stands at path is no plain file of its one name; "" when it is.
std::string why_not_plain(HANDLE file, const std::string& path)
{
    const FileShape shape = shape_of(file);
    if (!shape.read)
        return "its attributes cannot be read (error " + std::to_string(GetLastError()) + ")";
    // Wine shows a Unix link as a reparse point only by its path.
    const DWORD by_path = GetFileAttributesA(path.c_str());
    if (shape.reparse_point || (by_path != INVALID_FILE_ATTRIBUTES && (by_path & FILE_ATTRIBUTE_REPARSE_POINT)))
        return "it is a reparse point (a link or a mount point)";
    if (shape.folder)
        return "it is a folder";
    if (shape.links != 1)
        return "it has " + std::to_string(shape.links) + " links";
    if (!resolves_to(file, path))
        return "it leads to another file";
    return "";
}

FileHandle open_without_following(const std::string& path, DWORD access)
{
    return FileHandle(CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                  nullptr));
}

// The folder, held without delete sharing for the pass, so that (on
// Windows) nobody renames it and puts another in its place meanwhile.
FileHandle hold_folder(const std::string& folder, PassResult& result)
{
    const std::string path = folder.substr(0, folder.size() - 1);
    FileHandle held(CreateFileA(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!held.held()) {
        report(result, folder_unusable,
               path + " cannot be opened (error " + std::to_string(GetLastError()) +
                   "): no day file was made. Repair the Keyhaven package to make the folder again.");
        return held;
    }
    BY_HANDLE_FILE_INFORMATION information = {};
    const DWORD by_path = GetFileAttributesA(path.c_str());
    const bool real = GetFileInformationByHandle(held.get(), &information) &&
                      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                      !((information.dwFileAttributes | by_path) & FILE_ATTRIBUTE_REPARSE_POINT) &&
                      by_path != INVALID_FILE_ATTRIBUTES && resolves_to(held.get(), path);
    if (!real) {
        report(result, folder_unusable,
               path + " is not a real folder (a file, a link or a mount point stands there): no day file was "
                      "made. Remove it and repair the Keyhaven package.");
        return FileHandle();
    }
    return held;
}

void keep_ready(const std::string& folder, const std::string& name, const std::string& own_account,
                PassResult& result)
{
    const std::string path = folder + name;
    const unsigned long made = create_log_file(path);
    if (made == ERROR_SUCCESS) {
        result.made.push_back(name);
        return;
    }
    if (made != ERROR_FILE_EXISTS && made != ERROR_ALREADY_EXISTS) {
        report(result, file_not_made,
               path + " cannot be made (error " + std::to_string(made) +
                   "): agents cannot log on that day until it exists.");
        return;
    }
    const FileHandle file = open_without_following(path, READ_CONTROL | FILE_READ_ATTRIBUTES | SYNCHRONIZE);
    std::string why = file.held() ? why_not_plain(file.get(), path)
                                  : "it cannot be opened (error " + std::to_string(GetLastError()) + ")";
    file_trust::FileSecurity security;
    if (why.empty()) {
        const DWORD read = read_handle_security(file.get(), security);
        if (read != ERROR_SUCCESS)
            why = "its owner cannot be read (error " + std::to_string(read) + ")";
        else if (!day_files::made_by_keeper(security.owner, own_account))
            why = "its owner is " + security.owner + ", not SYSTEM or the Administrators";
    }
    if (!why.empty())
        report(result, file_left_alone,
               path + " was not made by the keeper and is left alone: " + why +
                   ". Agents do not write such a file under the package; remove it, and the keeper makes it "
                   "afresh at its next pass (restart the service to run one now).");
}

void remove_if_expired(const std::string& folder, const WIN32_FIND_DATAA& found, const day_files::Date& today,
                       unsigned long retention_days, PassResult& result)
{
    day_files::Date date = {};
    if (!day_files::date_of_day_log(found.cFileName, date) || !day_files::is_expired(date, today, retention_days))
        return;
    const std::string path = folder + found.cFileName;
    const FileHandle file = open_without_following(path, DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE);
    std::string why = file.held() ? why_not_plain(file.get(), path)
                                  : "it cannot be opened (error " + std::to_string(GetLastError()) + ")";
    if (why.empty()) {
        FILE_DISPOSITION_INFO disposition = {TRUE};
        if (SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof disposition)) {
            result.removed.push_back(found.cFileName);
            return;
        }
        why = "it cannot be deleted (error " + std::to_string(GetLastError()) + ")";
    }
    report(result, old_file_kept, path + " is older than LOG_RETENTION_DAYS but stays: " + why + ".");
}

void remove_expired(const std::string& folder, const day_files::Date& today, unsigned long retention_days,
                    PassResult& result)
{
    if (retention_days == 0)
        return;
    WIN32_FIND_DATAA found = {};
    const FindHandle search(
        FindFirstFileExA((folder + package_names::day_file_pattern).c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                         nullptr, 0));
    if (!search.held())
        return;  // no day log at all
    do {
        remove_if_expired(folder, found, today, retention_days, result);
    } while (FindNextFileA(search.get(), &found));
}

}  // namespace

PassResult run_pass(const std::string& folder, const day_files::Date& today, unsigned long retention_days)
{
    PassResult result;
    const FileHandle held = hold_folder(folder, result);
    if (!held.held())
        return result;
    const std::string own_account = current_user_sid();
    for (const std::string& name : day_files::names_to_keep_ready(today))
        keep_ready(folder, name, own_account, result);
    remove_expired(folder, today, retention_days, result);
    return result;
}

unsigned long read_retention_days(PassResult& result)
{
    DWORD days = 0;
    DWORD size = sizeof days;
    const LSTATUS read = RegGetValueW(HKEY_LOCAL_MACHINE, package_names::keeper::settings_key, package_names::keeper::retention_value,
                                      RRF_RT_REG_DWORD, nullptr, &days, &size);
    if (read == ERROR_FILE_NOT_FOUND)
        return 0;
    if (read != ERROR_SUCCESS || days > day_files::largest_retention_days) {
        report(result, retention_unreadable,
               "LOG_RETENTION_DAYS as stored (HKLM\\" + narrow(package_names::keeper::settings_key) + ", " + narrow(package_names::keeper::retention_value) +
                   ") cannot be used " +
                   (read != ERROR_SUCCESS ? "(error " + std::to_string(read) + ")"
                                          : "(" + std::to_string(days) + " is more than " +
                                          std::to_string(day_files::largest_retention_days) + ")") +
                   ": every day log is kept. Repair the package with LOG_RETENTION_DAYS=N to set it.");
        return 0;
    }
    return days;
}

}  // namespace keeper

}  // namespace keyhaven
