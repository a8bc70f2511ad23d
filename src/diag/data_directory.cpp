#include "diag/data_directory.h"

#include <windows.h>

namespace {

const char folder[] = "c:\\nivra";

// A reparse point is refused like a file: through a junction or a link the
// logs and the settings would be wherever its maker points them.
bool is_real_folder(const char* path)
{
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace

std::string data_directory()
{
    const std::string path = folder;
    SetLastError(0);
    if (CreateDirectoryA(path.c_str(), nullptr))
        return path + "\\";
    // CreateDirectoryA answers ERROR_ALREADY_EXISTS for a file of that name
    // too; only a real folder will hold the logs and the settings.
    if (GetLastError() == ERROR_ALREADY_EXISTS && is_real_folder(folder))
        return path + "\\";
    return std::string();
}

std::string existing_data_directory()
{
    return is_real_folder(folder) ? std::string(folder) + "\\" : std::string();
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
