#include "platform/package_folder.h"

#include "platform/data_directory.h"
#include "platform/file_security.h"

namespace keyhaven {

// The drive letter's case and the prefix aside, the final path must be the
// name opened.
bool final_path_is(HANDLE folder, const char* path, std::string& final_path)
{
    char buffer[MAX_PATH * 2];
    const DWORD length = GetFinalPathNameByHandleA(folder, buffer, sizeof buffer, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= sizeof buffer)
        return false;
    final_path.assign(buffer, length);
    const std::string expected = std::string("\\\\?\\") + path;
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, final_path.c_str(), static_cast<int>(final_path.size()),
                          expected.c_str(), static_cast<int>(expected.size())) == CSTR_EQUAL;
}

FileHandle open_folder_held(const char* path, DWORD access)
{
    return FileHandle(CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

bool is_real_folder_at(HANDLE folder, const char* path, std::string& reason)
{
    const DWORD by_path = GetFileAttributesA(path);
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(folder, &info)) {
        reason = with_error("its kind cannot be read", GetLastError());
        return false;
    }
    if ((by_path != INVALID_FILE_ATTRIBUTES && (by_path & FILE_ATTRIBUTE_REPARSE_POINT)) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        reason = "it is a junction or symbolic link";
        return false;
    }
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        reason = "it is a file, not a folder";
        return false;
    }
    std::string final_path;
    if (!final_path_is(folder, path, final_path)) {
        reason = final_path.empty() ? with_error("its final path cannot be read", GetLastError())
                                    : "it leads to " + final_path;
        return false;
    }
    return true;
}

bool read_real_folder_security(HANDLE folder, const char* path, file_trust::FileSecurity& security,
                               std::string& reason)
{
    if (!is_real_folder_at(folder, path, reason))
        return false;
    if (const DWORD error = read_handle_security(folder, security); error != ERROR_SUCCESS) {
        reason = with_error("its security cannot be read", error);
        return false;
    }
    return true;
}

bool data_folder_is_packages()
{
    const FileHandle folder = open_folder_held(package_names::data_folder, READ_CONTROL | FILE_READ_ATTRIBUTES | SYNCHRONIZE);
    file_trust::FileSecurity security;
    std::string reason;
    return folder.held() && read_real_folder_security(folder.get(), package_names::data_folder, security, reason) &&
           file_trust::folder_is_packages(security);
}

}  // namespace keyhaven
