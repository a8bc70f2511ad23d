#pragma once
// The log's day files as the package's actions meet them.

#include <string>
#include <vector>

namespace keyhaven {

// Today's and yesterday's day files by local time, full and minimal.
std::vector<std::string> recent_day_files();

// Whether name is a day file's name, for any date.
bool is_day_file(const std::string& name);

}  // namespace keyhaven
