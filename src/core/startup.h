#pragma once

namespace keyhaven {

// Exists exactly while an agent runs in the session: the agent holds it for
// its life. Any program may create it, so it tells nobody else that an
// agent runs.
constexpr char instance_mutex_name[] = "keyhaven_mutex";

// Everything the process does: single-instance guard, start-up lines, the
// settings, the desktop chores, then the polling cycle. Returns the exit code.
[[nodiscard]] int run_agent();

}  // namespace keyhaven
