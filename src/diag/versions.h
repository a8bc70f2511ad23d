#pragma once

#include <string>

namespace keyhaven {

// Product version of the running executable, "%u.%u.%u.%u"; out is left
// untouched when the version resource cannot be read.
bool get_module_version(std::string& out);

// The same for any executable file, given its full path.
bool get_file_version(const std::string& path, std::string& out);

// "major.minor.build" as the system reports it to this process.
std::string get_os_version();

}  // namespace keyhaven
