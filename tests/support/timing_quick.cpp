#include "platform/timing.h"

namespace keyhaven {

// keyhaven_quick.exe: every pause and wait a twentieth of the product's
// (poll 50 ms, retry 150 ms, provider-lock wait 1.5 s, plug-in pause 200 ms).
unsigned long timing_ms(unsigned long product_ms)
{
    return product_ms / 20;
}

}  // namespace keyhaven
