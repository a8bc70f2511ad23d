#pragma once
// What keyhaven-status looks at, for the user who runs it. Every probe only
// reads: no log line, no folder, no provider call, no wait on the agent.

#include "status/status_rules.h"

namespace keyhaven {

namespace status {

StatusReport gather_status(const Options& options);

}  // namespace status

}  // namespace keyhaven
