// PrepareDataFolder, the deferred action that runs before Windows Installer
// creates folders or installs files: c:\nivra is kept only when it is a real
// folder that nobody but SYSTEM, the Administrators and the installing
// account may change. Any other (a folder a user made, one of an older
// package where users could add files, a junction, a link, a file) is moved
// aside under an unpredictable name and a fresh folder with the package's
// security takes its place, so that every later step by path meets that
// folder. Only what the agents need is carried over, by copying bytes into
// new files: the settings and the plug-in when their owner is trusted, and
// today's and yesterday's log lines.

#include "desktop/plugin_registration.h"
#include "platform/append_file.h"
#include "platform/data_directory.h"
#include "platform/file_security.h"
#include "platform/package_folder.h"
#include "setup/custom_actions.h"
#include "setup/data_folder.h"
#include "setup/day_files.h"
#include "platform/package_names.h"

#include <aclapi.h>
#include <bcrypt.h>
#include <sddl.h>

#include <vector>

namespace keyhaven {

namespace {

const DWORD folder_access = READ_CONTROL | FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY | SYNCHRONIZE;
// Far above any settings file, plug-in or day's log; a file past it is no
// file of ours and stays where it is.
const long long largest_carried_file = 256LL * 1024 * 1024;
const std::size_t names_listed = 20;

std::string number(DWORD value)
{
    return std::to_string(value);
}

std::string in_folder(const std::string& folder, const std::string& name)
{
    return folder + "\\" + name;
}

// A descriptor from SDDL for a new object; attributes point into it.
struct NewSecurity {
    LocalMemory descriptor;
    SECURITY_ATTRIBUTES attributes = {};
};

bool new_security(const std::string& sddl, NewSecurity& security)
{
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                              security.descriptor.put(), nullptr))
        return false;
    security.attributes = SECURITY_ATTRIBUTES{sizeof security.attributes, security.descriptor.get(), FALSE};
    return true;
}

// The log's own security, owned by the account the action runs as: SYSTEM,
// the only maker of day files an agent appends to in the package's folder.
bool day_file_security(NewSecurity& security)
{
    const std::string me = current_user_sid();
    return !me.empty() && new_security("O:" + me + log_file_sddl, security);
}

// Opened for reading as itself: a link is opened, never followed, and then
// refused by the callers' checks.
FileHandle open_to_read(const std::string& path)
{
    return FileHandle(CreateFileA(path.c_str(), GENERIC_READ | READ_CONTROL, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

bool is_plain_file(HANDLE file, LARGE_INTEGER& size)
{
    const FileShape shape = shape_of(file);
    size.QuadPart = static_cast<LONGLONG>(shape.size);
    return is_plain(shape) && shape.size <= static_cast<unsigned long long>(largest_carried_file);
}

// The bytes of from into a file made new at path; error holds the failed
// call's code on false, and nothing is left at path then.
bool copy_into_new_file(HANDLE from, const std::string& path, SECURITY_ATTRIBUTES* security, DWORD& error)
{
    FileHandle to(CreateFileA(path.c_str(), GENERIC_WRITE, 0, security, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!to.held()) {
        error = GetLastError();
        return false;
    }
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(from, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
            error = GetLastError();
            break;
        }
        if (read == 0) {
            if (FlushFileBuffers(to.get()))
                return true;
            error = GetLastError();
            break;
        }
        DWORD written = 0;
        if (!WriteFile(to.get(), buffer.data(), read, &written, nullptr)) {
            error = GetLastError();
            break;
        }
    }
    to.free_now();
    DeleteFileA(path.c_str());
    return false;
}

// What the settings file or the plug-in needs to be carried over: the trust
// rule the agent applies to it. Returns what the install log says of it.
std::string carry_trusted(const std::string& aside, const std::string& name, unsigned long changing,
                          std::vector<std::string>& carried)
{
    FileHandle from = open_to_read(in_folder(aside, name));
    if (!from.held())
        return GetLastError() == ERROR_FILE_NOT_FOUND ? std::string()
                                                      : name + " cannot be read (error " + number(GetLastError()) + ")";
    std::string why;
    LARGE_INTEGER size;
    if (!open_file_trusted(from.get(), changing, why))
        return name + " is not carried over: " + why;
    if (!is_plain_file(from.get(), size))
        return name + " is not carried over: it is larger than " + std::to_string(largest_carried_file) + " bytes";
    DWORD error = 0;
    if (!copy_into_new_file(from.get(), in_folder(package_names::data_folder, name), nullptr, error))
        return name + " cannot be carried over (error " + number(error) + ")";
    carried.push_back(name);
    return std::string();
}

std::string carry_day_file(const std::string& aside, const std::string& name, SECURITY_ATTRIBUTES* security,
                           std::vector<std::string>& carried)
{
    FileHandle from = open_to_read(in_folder(aside, name));
    if (!from.held())
        return GetLastError() == ERROR_FILE_NOT_FOUND ? std::string()
                                                      : name + " cannot be read (error " + number(GetLastError()) + ")";
    LARGE_INTEGER size;
    if (!is_plain_file(from.get(), size))
        return name + " is not carried over: it is a link, or larger than " +
               std::to_string(largest_carried_file) + " bytes";
    DWORD error = 0;
    if (!copy_into_new_file(from.get(), in_folder(package_names::data_folder, name), security, error))
        return name + " cannot be carried over (error " + number(error) + ")";
    carried.push_back(name);
    return std::string();
}

std::string listed(const std::vector<std::string>& names)
{
    std::string text;
    for (std::size_t i = 0; i < names.size() && i < names_listed; ++i)
        text += (i ? ", " : "") + names[i];
    if (names.size() > names_listed)
        text += " and " + std::to_string(names.size() - names_listed) + " more";
    return text.empty() ? "nothing" : text;
}

std::vector<std::string> names_in(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    FindHandle search(FindFirstFileA(in_folder(folder, "*").c_str(), &found));
    for (bool more = search.held(); more; more = FindNextFileA(search.get(), &found) != FALSE)
        if (std::string(found.cFileName) != "." && std::string(found.cFileName) != "..")
            names.push_back(found.cFileName);
    return names;
}

void carry_over(MSIHANDLE install, const std::string& aside)
{
    std::vector<std::string> carried, notes;
    const char* const trusted_files[] = {package_names::settings_file, package_names::plugin_dll};
    const unsigned long changing[] = {file_trust::changing_rights_with_append, file_trust::changing_rights};
    for (int i = 0; i < 2; ++i)
        notes.push_back(carry_trusted(aside, trusted_files[i], changing[i], carried));
    NewSecurity day_security;
    const bool secured = day_file_security(day_security);
    for (const std::string& name : recent_day_files())
        notes.push_back(secured ? carry_day_file(aside, name, &day_security.attributes, carried)
                                : name + " is not carried over: the log's security cannot be made");
    for (const std::string& note : notes)
        if (!note.empty())
            install_log(install, note);
    std::vector<std::string> left;
    for (const std::string& name : names_in(aside)) {
        bool was_carried = false;
        for (const std::string& done : carried)
            was_carried = was_carried || CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, done.c_str(), -1,
                                                        name.c_str(), -1) == CSTR_EQUAL;
        if (!was_carried)
            left.push_back(name);
    }
    install_log(install, "carried over into the new " + std::string(package_names::data_folder) + ": " + listed(carried));
    install_log(install, "left in " + aside + ": " + listed(left));
}

// The day files of a folder the package keeps take the log's security and
// SYSTEM as their owner, whoever made them, so that an agent appends to them.
void secure_day_files(MSIHANDLE install)
{
    NewSecurity security;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    if (!day_file_security(security) || !GetSecurityDescriptorOwner(security.descriptor.get(), &owner, &defaulted) ||
        !GetSecurityDescriptorDacl(security.descriptor.get(), &present, &dacl, &defaulted)) {
        install_log(install, "the log's security cannot be made (error " + number(GetLastError()) +
                              "): day files keep theirs");
        return;
    }
    int secured = 0;
    for (const std::string& name : names_in(package_names::data_folder)) {
        if (!is_day_file(name))
            continue;
        FileHandle file(CreateFileA(in_folder(package_names::data_folder, name).c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        LARGE_INTEGER size;
        if (!file.held() || !is_plain_file(file.get(), size)) {
            install_log(install, name + " is not a plain file here (error " + number(GetLastError()) +
                                  "): its security is left as it is");
            continue;
        }
        const DWORD error = SetSecurityInfo(file.get(), SE_FILE_OBJECT,
                                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                                PROTECTED_DACL_SECURITY_INFORMATION,
                                            owner, nullptr, dacl, nullptr);
        if (error != ERROR_SUCCESS)
            install_log(install, name + ": the log's security cannot be set (error " + number(error) + ")");
        else
            ++secured;
    }
    install_log(install, std::to_string(secured) + " day files given the log's security");
}

// Whether a rename of path moves what the handle opened at path without
// following a reparse point: a junction or link itself on Windows; not so
// where the path reads as a link but the handle reached what it leads to (a
// Unix link under Wine, whose rename would move the folder it leads to).
bool rename_moves_what_is_held(HANDLE held, std::string& why)
{
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(held, &info)) {
        why = with_error("its kind cannot be read", GetLastError());
        return false;
    }
    const DWORD by_path = GetFileAttributesA(package_names::data_folder);
    const bool path_link = by_path != INVALID_FILE_ATTRIBUTES && (by_path & FILE_ATTRIBUTE_REPARSE_POINT);
    const bool handle_link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    std::string final_path;
    if (path_link != handle_link || (!handle_link && !final_path_is(held, package_names::data_folder, final_path))) {
        why = "a link this system cannot move by itself, only what it leads to";
        return false;
    }
    return true;
}

// A folder that cannot be moved aside fails the install before anything
// else is done; the administrator is told which and what to do.
UINT take_over(MSIHANDLE install, const std::string& reason, bool real_folder, NewSecurity& folder_security)
{
    {
        FileHandle held = open_folder_held(package_names::data_folder, folder_access);
        std::string why;
        if (!held.held() || !rename_moves_what_is_held(held.get(), why)) {
            log_refusal(install, std::string(package_names::data_folder) + " " + reason + ", and it cannot be moved aside (" +
                                     (why.empty() ? with_error("it cannot be opened", GetLastError()) : why) +
                                     "): remove the link itself (not what it leads to), or move " +
                                     std::string(package_names::data_folder) + " away yourself, then install again. " +
                                     "Nothing was changed.");
            return ERROR_INSTALL_FAILURE;
        }
    }
    std::string suffix;
    if (!random_suffix(suffix)) {
        log_refusal(install, std::string(package_names::data_folder) + " " + reason + ", and no random name to move it " +
                                 "aside to can be made (error " + number(GetLastError()) + "). Nothing was changed.");
        return ERROR_INSTALL_FAILURE;
    }
    const std::string aside = std::string(package_names::data_folder) + ".moved-aside-" + suffix;
    if (!MoveFileExA(package_names::data_folder, aside.c_str(), MOVEFILE_WRITE_THROUGH)) {
        log_refusal(install, std::string(package_names::data_folder) + " " + reason + ", and it cannot be moved aside (error " +
                                 number(GetLastError()) + "): close what holds a file in it open (an editor, a " +
                                 "console, a running keyhaven.exe), or move it away yourself, then install again. " +
                                 "Nothing was changed.");
        return ERROR_INSTALL_FAILURE;
    }
    install_log(install, std::string(package_names::data_folder) + " " + reason + ": moved aside to " + aside);
    if (!CreateDirectoryA(package_names::data_folder, &folder_security.attributes)) {
        log_refusal(install, "a new " + std::string(package_names::data_folder) + " cannot be made (error " +
                                 number(GetLastError()) + "); the old one is " + aside + ". Install again.");
        return ERROR_INSTALL_FAILURE;
    }
    FileHandle fresh = open_folder_held(package_names::data_folder, folder_access);
    std::string why;
    if (!fresh.held() || !is_real_folder_at(fresh.get(), package_names::data_folder, why)) {
        log_refusal(install, "the new " + std::string(package_names::data_folder) + " is not the folder made (" +
                                 (why.empty() ? "error " + number(GetLastError()) : why) + "). Install again.");
        return ERROR_INSTALL_FAILURE;
    }
    // What a link or junction leads to is not the old folder: nothing is
    // read through it.
    if (real_folder)
        carry_over(install, aside);
    else
        install_log(install, "nothing carried over: " + std::string(package_names::data_folder) + " was no real folder");
    return ERROR_SUCCESS;
}

}  // namespace

bool random_suffix(std::string& suffix)
{
    unsigned char bytes[8];
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
        return false;
    const char digits[] = "0123456789abcdef";
    suffix.clear();
    for (const unsigned char value : bytes) {
        suffix += digits[value >> 4];
        suffix += digits[value & 15];
    }
    return true;
}

bool hold_verified_folder(FileHandle& folder, std::string& reason, bool* real_folder)
{
    folder = open_folder_held(package_names::data_folder, folder_access);
    if (!folder.held()) {
        reason = with_error("cannot be opened", GetLastError());
        return false;
    }
    if (!is_real_folder_at(folder.get(), package_names::data_folder, reason))
        return false;
    if (real_folder)
        *real_folder = true;
    file_trust::FileSecurity security;
    if (!read_real_folder_security(folder.get(), package_names::data_folder, security, reason))
        return false;
    if (!file_trust::folder_fit_for_package(security, current_user_sid())) {
        reason = "is owned by " + security.owner + " or lets others than SYSTEM, the Administrators and " +
                 "this account add to it, delete from it or change it";
        return false;
    }
    return true;
}

// CustomActionData: the folder's security as SDDL, the package's row for it.
extern "C" UINT __stdcall PrepareDataFolder(MSIHANDLE install)
{
    const std::string sddl = custom_action_data(install);
    NewSecurity folder_security;
    if (!new_security(sddl, folder_security)) {
        log_refusal(install, "the data folder's security \"" + sddl + "\" cannot be read (error " +
                                 number(GetLastError()) + "). Nothing was changed.");
        return ERROR_INSTALL_FAILURE;
    }
    if (GetFileAttributesA(package_names::data_folder) == INVALID_FILE_ATTRIBUTES &&
        (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND)) {
        if (!CreateDirectoryA(package_names::data_folder, &folder_security.attributes)) {
            log_refusal(install, std::string(package_names::data_folder) + " cannot be made (error " + number(GetLastError()) +
                                     "). Nothing was changed.");
            return ERROR_INSTALL_FAILURE;
        }
        install_log(install, std::string(package_names::data_folder) + " made with the package's security");
        return ERROR_SUCCESS;
    }
    FileHandle folder;
    std::string reason;
    bool real_folder = false;
    if (hold_verified_folder(folder, reason, &real_folder)) {
        install_log(install, std::string(package_names::data_folder) + " kept: a real folder only SYSTEM, the Administrators " +
                              "and this account may change");
        secure_day_files(install);
        return ERROR_SUCCESS;
    }
    folder.free_now();
    return take_over(install, reason, real_folder, folder_security);
}

}  // namespace keyhaven
