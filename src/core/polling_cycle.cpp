#include "core/polling_cycle.h"

#include <windows.h>

void run_polling_cycle()
{
    // Until the carriers are watched, keep the process (and its instance
    // mutex) alive.
    for (;;)
        Sleep(INFINITE);
}
