#include "keeper/day_files.h"

#include "diag/log_line.h"
#include "platform/package_names.h"

#include <cstddef>
#include <ctime>

namespace keyhaven {

namespace day_files {

namespace {

std::tm as_tm(const Date& date)
{
    std::tm when = {};
    when.tm_year = date.year - 1900;
    when.tm_mon = date.month - 1;
    when.tm_mday = date.day;
    return when;
}

// Exactly count decimal digits at text[at...], as a number.
bool digits(const std::string& text, std::size_t at, std::size_t count, int& value)
{
    if (at + count > text.size())
        return false;
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

}  // namespace

Date next_day(const Date& date)
{
    if (date.day < expiry::days_in_month(date.year, date.month))
        return {date.year, date.month, date.day + 1};
    if (date.month < 12)
        return {date.year, date.month + 1, 1};
    return {date.year + 1, 1, 1};
}

std::vector<std::string> day_log_names(const Date& date)
{
    return {log_line::file_name(as_tm(date), false), log_line::file_name(as_tm(date), true)};
}

std::vector<std::string> names_to_keep_ready(const Date& today)
{
    std::vector<std::string> names = day_log_names(today);
    for (const std::string& name : day_log_names(next_day(today)))
        names.push_back(name);
    return names;
}

bool date_of_day_log(const std::string& name, Date& date)
{
    static const std::string prefixes[] = {package_names::minimal_day_file_prefix, package_names::day_file_prefix};
    for (const std::string& prefix : prefixes) {
        // "DD_MM_YYYY.log" after the prefix, nothing more.
        if (name.size() != prefix.size() + 14 || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        const std::size_t at = prefix.size();
        Date found = {};
        if (!digits(name, at, 2, found.day) || name[at + 2] != '_' || !digits(name, at + 3, 2, found.month) ||
            name[at + 5] != '_' || !digits(name, at + 6, 4, found.year) || name.compare(at + 10, 4, ".log") != 0)
            return false;
        if (found.month < 1 || found.month > 12 || found.day < 1 ||
            found.day > expiry::days_in_month(found.year, found.month))
            return false;
        // The name the agent would give that date, byte for byte.
        if (log_line::file_name(as_tm(found), prefix == package_names::minimal_day_file_prefix) != name)
            return false;
        date = found;
        return true;
    }
    return false;
}

bool is_expired(const Date& date, const Date& today, unsigned long retention_days)
{
    if (retention_days == 0 || retention_days > largest_retention_days)
        return false;
    return expiry::days_between(date, today) > static_cast<long>(retention_days);
}

bool made_by_keeper(const std::string& owner, const std::string& own_account)
{
    return owner == "S-1-5-18" || owner == "S-1-5-32-544" || (!own_account.empty() && owner == own_account);
}

}  // namespace day_files

}  // namespace keyhaven
