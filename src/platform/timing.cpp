#include "platform/timing.h"

namespace keyhaven {

unsigned long timing_ms(unsigned long product_ms)
{
    return product_ms;
}

}  // namespace keyhaven
