#pragma once

namespace keyhaven {
// keyhaven-keeper.exe as a Windows service (LocalSystem, started by the
// service manager): a pass over the data folder at its start, at each local
// midnight, and after the clock or the time zone changes or the machine
// resumes; nothing at all in between.

namespace keeper {

// Hands the process to the service control dispatcher and returns when the
// service has stopped: 0, or the error that kept it from running as a
// service (started by hand, say), which is also reported as an event.
int run_service();

}  // namespace keeper

}  // namespace keyhaven
