#include "diag/data_directory.h"

#include <windows.h>

const char data_folder_path[] = "c:\\nivra";

namespace {

const char* const folder = data_folder_path;

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

std::string data_directory_path()
{
    return std::string(folder) + "\\";
}
