#pragma once
// Whether the keeper service runs and today's two day files exist: without
// them, under the package, no agent can log today. Read-only: the service
// manager is asked, nothing is started. No Windows header here, so the
// report's records stay platform-free.

#include <string>
#include <vector>

namespace keyhaven {

namespace status {

struct KeeperReport {
    bool installed = false;
    bool running = false;
    std::string state;                   // "running", "stopped", ..., or "" when not installed
    bool today_files = false;            // both of today's day files exist
    std::vector<std::string> missing;    // those of today's names that do not
};

// folder: the data folder with its backslash, or "" when there is none.
KeeperReport probe_keeper(const std::string& folder);

}  // namespace status

}  // namespace keyhaven
