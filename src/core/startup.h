#pragma once

// Everything the process does: single-instance guard, start-up lines, the
// settings, the desktop chores, then the polling cycle. Returns the exit code.
int run_agent();
