#pragma once

// The agent's main loop; does not return in normal operation.
void run_polling_cycle();
