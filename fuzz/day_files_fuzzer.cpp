// The keeper's day-log name rule on any bytes: a name it dates is exactly
// one of the two names the agent gives that date, so the keeper never
// removes or judges a file the agent would not have made; and the package's
// retention text gives only values from 0 to 3650 written in plain digits.
#include "fuzz_check.h"
#include "keeper/day_files.h"
#include "setup/retention_property.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using namespace keyhaven;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);

    day_files::Date date = {};
    if (day_files::date_of_day_log(text, date)) {
        const std::vector<std::string> names = day_files::day_log_names(date);
        FUZZ_CHECK(text == names[0] || text == names[1]);
        FUZZ_CHECK(!day_files::is_expired(date, date, 1));
        FUZZ_CHECK(day_files::is_expired(date, day_files::next_day(day_files::next_day(date)), 1));
    }

    unsigned long days = 0;
    if (retention_text_valid(text, days)) {
        FUZZ_CHECK(days <= day_files::largest_retention_days);
        FUZZ_CHECK(std::stoul(text) == days && text.find_first_not_of("0123456789") == std::string::npos);
        FUZZ_CHECK(retention_to_store(text, {true, 7}, true) == days);
    }
    return 0;
}
