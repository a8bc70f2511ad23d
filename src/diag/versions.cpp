#include "diag/versions.h"

#include "platform/text.h"
#include "diag/log.h"

#include <windows.h>

#include <vector>

namespace keyhaven {

bool get_module_version(std::string& out)
{
    char path[MAX_PATH + 1] = {};
    if (GetModuleFileNameA(nullptr, path, MAX_PATH) == 0) {
        log_write(LogLevel::debug, "GetModuleFileName() failed with error: 0x%08X",
                  static_cast<unsigned>(GetLastError()));
        return false;
    }
    return get_file_version(path, out);
}

bool get_file_version(const std::string& path, std::string& out)
{
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    if (size == 0) {
        log_write(LogLevel::debug, "GetFileVersionInfoSize() failed with error: 0x%08X",
                  static_cast<unsigned>(GetLastError()));
        return false;
    }
    std::vector<unsigned char> block(size, 0);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, block.data())) {
        log_write(LogLevel::debug, "GetFileVersionInfo failed with error: 0x%08X",
                  static_cast<unsigned>(GetLastError()));
        return false;
    }
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    // Only a whole fixed record is read; anything less takes the failure path.
    if (!VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&info), &length) || !info ||
        length < sizeof(VS_FIXEDFILEINFO)) {
        log_write(LogLevel::debug, "VerQueryValue() failed with error: 0x%08X", static_cast<unsigned>(GetLastError()));
        return false;
    }
    out = format_string("%u.%u.%u.%u", static_cast<unsigned>(HIWORD(info->dwProductVersionMS)),
                        static_cast<unsigned>(LOWORD(info->dwProductVersionMS)),
                        static_cast<unsigned>(HIWORD(info->dwProductVersionLS)),
                        static_cast<unsigned>(LOWORD(info->dwProductVersionLS)));
    return true;
}

std::string get_os_version()
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;  // 148 bytes, the basic record
    static_assert(sizeof(OSVERSIONINFOA) == 148, "basic version record");
#if defined(_MSC_VER)
#pragma warning(suppress : 4996)  // deprecated, and kept: the manifest decides what it reports
#endif
    GetVersionExA(&version);
    return format_string("%lu.%lu.%lu", version.dwMajorVersion, version.dwMinorVersion, version.dwBuildNumber);
}

}  // namespace keyhaven
