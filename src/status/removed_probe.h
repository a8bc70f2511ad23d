#pragma once
// The certificates cleaning removed for this user, from the index beside
// their copies (never from the log).

#include "status/status_rules.h"

#include <vector>

namespace keyhaven {

namespace status {

// Newest first, those removed within days of today (UTC).
std::vector<RemovedReport> probe_removed(int days);

}  // namespace status

}  // namespace keyhaven
