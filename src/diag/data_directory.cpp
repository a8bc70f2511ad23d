#include "diag/log.h"

#include <windows.h>

std::string data_directory()
{
    std::string path = "c:\\nivra";
    SetLastError(0);
    if (CreateDirectoryA(path.c_str(), nullptr))
        return path + "\\";
    // CreateDirectoryA answers ERROR_ALREADY_EXISTS for a file of that name
    // too; only a real folder will hold the logs and the settings.
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        DWORD attributes = GetFileAttributesA(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return path + "\\";
    }
    return std::string();
}
