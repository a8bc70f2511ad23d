#include "platform/data_directory.h"

#include "platform/owned.h"
#include "platform/sddl_security.h"

#include <windows.h>

namespace keyhaven {

// What the agent gives the folder when it makes it, protected from the
// "Modify" C:\ passes on to every user: SYSTEM and Administrators full
// control; users list it, read, and add files (each day's log), and read
// the files placed in it; the OWNER RIGHTS entry leaves its maker, any
// user, the same and no right to re-permission it. Unlike the package's
// folder, users may add files here: without the keeper service each agent
// makes the day's logs itself.
const char data_folder_sddl[] =
    "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200ab;;;BU)(A;OIIO;0x1200a9;;;BU)(A;;0x1200ab;;;OW)";

namespace {

const char* const folder = package_names::data_folder;

// A reparse point is refused like a file: through a junction or a link the
// logs and the settings would be wherever its maker points them. Judged by
// path (Wine shows a Unix link to a folder as a reparse point only so) and
// on a handle that follows whatever stands there: a folder that ends
// anywhere but at its own name was reached through a link.
bool is_real_folder(const char* path)
{
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    FileHandle opened(CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!opened.held() || !GetFileInformationByHandle(opened.get(), &information) ||
        !(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    wchar_t final_path[MAX_PATH + 1] = {};
    const DWORD length = GetFinalPathNameByHandleW(opened.get(), final_path, MAX_PATH, FILE_NAME_NORMALIZED);
    return length > 0 && length < MAX_PATH &&
           CompareStringOrdinal(final_path, static_cast<int>(length), package_names::data_folder_final_path, -1, TRUE) == CSTR_EQUAL;
}

// Null when the descriptor cannot be made: then no folder is made either.
SECURITY_ATTRIBUTES* folder_security()
{
    static SddlSecurity security(data_folder_sddl);
    return security.attributes();
}

}  // namespace

std::string data_directory()
{
    const std::string path = folder;
    SECURITY_ATTRIBUTES* security = folder_security();
    SetLastError(0);
    if (security && CreateDirectoryA(path.c_str(), security))
        return is_real_folder(folder) ? path + "\\" : std::string();
    // CreateDirectoryA answers ERROR_ALREADY_EXISTS for a file of that name
    // too; only a real folder will hold the logs and the settings.
    if ((!security || GetLastError() == ERROR_ALREADY_EXISTS) && is_real_folder(folder))
        return path + "\\";
    return std::string();
}

std::string existing_data_directory()
{
    return is_real_folder(folder) ? std::string(folder) + "\\" : std::string();
}

std::string data_directory_path()
{
    return std::string(folder) + "\\";
}

bool something_stands_at_data_directory()
{
    if (GetFileAttributesA(folder) != INVALID_FILE_ATTRIBUTES)
        return true;
    // Only a clear "not there" says so: a C:\ this user may not list may hide
    // anything.
    const DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

}  // namespace keyhaven
