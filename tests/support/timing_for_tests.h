#pragma once
// In-process tests link this version of the timing seam: every pause and
// wait the agent asks for is recorded, and shortened by divisor.

#include <vector>

namespace test_timing {

extern std::vector<unsigned long> requested;  // product values, in order
extern unsigned long divisor;                  // 1000 unless a test says so

void reset(unsigned long new_divisor = 1000);

}  // namespace test_timing
