#include "setup/day_files.h"

#include "diag/log_line.h"
#include "keeper/day_files.h"

#include <ctime>

namespace keyhaven {

std::vector<std::string> recent_day_files()
{
    std::vector<std::string> names;
    const std::time_t now = std::time(nullptr);
    for (int days_back = 0; days_back < 2; ++days_back) {
        std::tm day = log_line::local_time(now);
        day.tm_mday -= days_back;
        day.tm_hour = 12;  // clear of any change of the clocks
        day.tm_isdst = -1;
        std::mktime(&day);
        names.push_back(log_line::file_name(day, false));
        names.push_back(log_line::file_name(day, true));
    }
    return names;
}

bool is_day_file(const std::string& name)
{
    day_files::Date date = {};
    return day_files::date_of_day_log(name, date);
}

}  // namespace keyhaven
