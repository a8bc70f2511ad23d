#include "support/timing_for_tests.h"

#include "platform/timing.h"

using namespace keyhaven;

namespace test_timing {

std::vector<unsigned long> requested;
unsigned long divisor = 1000;

void reset(unsigned long new_divisor)
{
    requested.clear();
    divisor = new_divisor;
}

}  // namespace test_timing

unsigned long keyhaven::timing_ms(unsigned long product_ms)
{
    test_timing::requested.push_back(product_ms);
    return product_ms / test_timing::divisor;
}
