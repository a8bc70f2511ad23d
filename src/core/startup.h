#pragma once

namespace keyhaven {

// Everything the process does: single-instance guard, start-up lines, the
// settings, the desktop chores, then the polling cycle. Returns the exit code.
[[nodiscard]] int run_agent();

}  // namespace keyhaven
