#include "crypt_utils/expiry_rules.h"

#include <cstdio>
#include <vector>

namespace keyhaven {

namespace expiry {

namespace {

// The texts are Windows-1251 bytes, written as escapes so that the binary
// holds them whatever the compiler's source encoding. The days-left text has
// a Latin "c" in "работа c ним", the expired text a Cyrillic one: both as
// users have always seen them.
//
// Срок действия сертификата на имя "%s" истекает через %hu %s!
// Пожалуйста, обратитесь за перевыпуском сертификата.
// В противном случае, работа c ним в системе станет невозможной через %hu %s.
const char days_left_format[] =
    "\xD1\xF0\xEE\xEA \xE4\xE5\xE9\xF1\xF2\xE2\xE8\xFF \xF1\xE5\xF0\xF2\xE8\xF4\xE8\xEA\xE0\xF2\xE0 \xED\xE0 \xE8\xEC\xFF \"%s\" \xE8\xF1\xF2\xE5\xEA\xE0\xE5\xF2 \xF7\xE5\xF0\xE5\xE7 %hu %s!\n\xCF\xEE\xE6\xE0\xEB\xF3\xE9\xF1\xF2\xE0, \xEE\xE1\xF0\xE0\xF2\xE8\xF2\xE5\xF1\xFC \xE7\xE0 \xEF\xE5\xF0\xE5\xE2\xFB\xEF\xF3\xF1\xEA\xEE\xEC \xF1\xE5\xF0\xF2\xE8\xF4\xE8\xEA\xE0\xF2\xE0.\n\xC2 \xEF\xF0\xEE\xF2\xE8\xE2\xED\xEE\xEC \xF1\xEB\xF3\xF7\xE0\xE5, \xF0\xE0\xE1\xEE\xF2\xE0 c \xED\xE8\xEC \xE2 \xF1\xE8\xF1\xF2\xE5\xEC\xE5 \xF1\xF2\xE0\xED\xE5\xF2 \xED\xE5\xE2\xEE\xE7\xEC\xEE\xE6\xED\xEE\xE9 \xF7\xE5\xF0\xE5\xE7 %hu %s.";

// Срок действия сертификата на имя "%s" истёк. Дальнейшая работа с ним в системе невозможна.
const char expired_format[] =
    "\xD1\xF0\xEE\xEA \xE4\xE5\xE9\xF1\xF2\xE2\xE8\xFF \xF1\xE5\xF0\xF2\xE8\xF4\xE8\xEA\xE0\xF2\xE0 \xED\xE0 \xE8\xEC\xFF \"%s\" \xE8\xF1\xF2\xB8\xEA. \xC4\xE0\xEB\xFC\xED\xE5\xE9\xF8\xE0\xFF \xF0\xE0\xE1\xEE\xF2\xE0 \xF1 \xED\xE8\xEC \xE2 \xF1\xE8\xF1\xF2\xE5\xEC\xE5 \xED\xE5\xE2\xEE\xE7\xEC\xEE\xE6\xED\xE0.";

const char form_one[] = "\xE4\xE5\xED\xFC";    // день
const char form_few[] = "\xE4\xED\xFF";      // дня
const char form_many[] = "\xE4\xED\xE5\xE9";  // дней

// The text with the name cut so that the whole stays within the limit.
template <typename Format>
std::string fitted(const std::string& name, Format format)
{
    const std::size_t fixed = format("").size();
    const std::size_t room = fixed < max_text_length ? max_text_length - fixed : 0;
    return format(name.size() > room ? name.substr(0, room) : name);
}

std::string formatted(const char* format, const std::string& name, unsigned short days, const char* form)
{
    std::vector<char> text(max_text_length + 1 + name.size(), 0);
    if (form)
        std::snprintf(text.data(), text.size(), format, name.c_str(), days, form, days, form);
    else
        std::snprintf(text.data(), text.size(), format, name.c_str());
    return text.data();
}

}  // namespace

// Менеджер сертификатов
const char box_caption[] = "\xCC\xE5\xED\xE5\xE4\xE6\xE5\xF0 \xF1\xE5\xF0\xF2\xE8\xF4\xE8\xEA\xE0\xF2\xEE\xE2";

int days_in_month(int year, int month)
{
    switch (month) {
    case 2:
        return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0 ? 29 : 28;
    case 4:
    case 6:
    case 9:
    case 11:
        return 30;
    default:
        return 31;
    }
}

bool inside_validity_period(unsigned long long now, unsigned long long not_before, unsigned long long not_after)
{
    return not_before < now && now < not_after;
}

namespace {

// Days since 1 March of year 0 in the proleptic Gregorian calendar: a year
// that starts in March has its leap day last, so months need no table.
long day_number(const CalendarDate& date)
{
    const long year = date.month <= 2 ? date.year - 1L : date.year;
    const long month = date.month <= 2 ? date.month + 9L : date.month - 3L;
    const long era = (year >= 0 ? year : year - 399) / 400;
    const long year_of_era = year - era * 400;
    const long day_of_year = (153 * month + 2) / 5 + date.day - 1;
    return era * 146097 + year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
}

}  // namespace

int days_between(const CalendarDate& from, const CalendarDate& to)
{
    return static_cast<int>(day_number(to) - day_number(from));
}

bool days_left_warning(const CalendarDate& today, const CalendarDate& expires, unsigned short& days)
{
    // Only the current month or the next month of the same year: across the
    // year boundary the agent stays silent, however close the date.
    const bool this_month = expires.year == today.year && expires.month == today.month;
    const bool next_month = expires.year == today.year && expires.month == today.month + 1;
    if (!this_month && !next_month)
        return false;
    const int left = days_between(today, expires);
    if (left > 30)
        return false;
    days = static_cast<unsigned short>(left);
    return true;
}

// The fixed rule on purpose, not Russian grammar: 11 takes "день" and 12 to 14 take "дня".
const char* day_form(unsigned days)
{
    if (days == 1 || days % 10 == 1)
        return form_one;
    if ((days > 1 && days < 5) || (days % 10 > 1 && days % 10 < 5))
        return form_few;
    return form_many;
}

std::string days_left_text(unsigned short days, const std::string& common_name)
{
    return fitted(common_name,
                  [days](const std::string& name) { return formatted(days_left_format, name, days, day_form(days)); });
}

std::string expired_text(const std::string& common_name)
{
    return fitted(common_name, [](const std::string& name) { return formatted(expired_format, name, 0, nullptr); });
}

}  // namespace expiry

}  // namespace keyhaven
