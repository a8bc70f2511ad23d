#pragma once
// The keeper's only output: its failures, as events of the Application log
// under the source the package registers (platform/package_names.h). It never writes
// into the agents' logs.

#include <string>

namespace keyhaven {

namespace keeper {

enum EventKind { event_error, event_warning };

// One event: id is a day_file_pass.h Finding, text its one insertion
// string (the package's message table shows it as it is). Returns whether
// the event log took it; an event that cannot be written has nowhere else
// to go.
bool report_event(EventKind kind, unsigned long id, const std::string& text);

}  // namespace keeper

}  // namespace keyhaven
