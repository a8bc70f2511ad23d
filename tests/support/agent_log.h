#pragma once
// The agent's log files as an in-process test sees them.

#include <string>
#include <vector>

namespace agent_log {

// Today's full (or minimal) file in c:\nivra.
std::string path(bool minimal = false);

// Its bytes as written; "" if absent.
std::string read(bool minimal = false);

// Its lines without the "hh:mm:ss > " stamp and without the CR LF ending.
std::vector<std::string> entries(bool minimal = false);

// Removes every Keyhaven*.log from c:\nivra.
void clear();

}  // namespace agent_log
