// data_directory() for the native builds, where there is no c:\nivra: the
// folder named by KEYHAVEN_DATA_DIRECTORY, or one of this process under the
// temporary directory, so that sanitizer and fuzzer runs never write log
// files into the working directory. Created on demand like the real one;
// empty when it cannot be made, so callers fall back to bare file names.
#include "diag/log.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace keyhaven {

std::string data_directory()
{
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path folder;
    const char* chosen = std::getenv("KEYHAVEN_DATA_DIRECTORY");
    if (chosen && *chosen) {
        folder = chosen;
    } else {
        const fs::path temporary = fs::temp_directory_path(error);
        if (error)
            return std::string();
        folder = temporary / ("keyhaven-native-" + std::to_string(getpid()));
    }
    fs::create_directories(folder, error);
    if (!fs::is_directory(folder, error))
        return std::string();
    std::string path = folder.string();
    if (path.back() != '/')
        path += '/';
    return path;
}

// The native folder is made on demand or named by the run: nothing of
// anyone else's stands in its place.
bool something_stands_at_data_directory()
{
    return false;
}

}  // namespace keyhaven
