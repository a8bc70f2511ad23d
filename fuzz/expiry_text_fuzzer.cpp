// The expiry warnings' calendar and texts with any dates, day counts and
// common names. The calendar is checked against a plain count of days
// between the two dates; the texts never exceed the 1023 bytes the box and
// the log take, cut only the name, and show the name as far as it fits.
//
// Input: bytes 0-1 the day count of the text, bytes 2-9 two dates (today,
// then the expiry: a 16-bit year, a month and a day byte, each folded into
// its range), the rest the common name.
#include "crypt_utils/expiry_rules.h"
#include "fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

using namespace keyhaven;

namespace {

using expiry::CalendarDate;

// Days since 1 March of year 0 of the proleptic Gregorian calendar.
long day_number(const CalendarDate& date)
{
    const long year = date.month <= 2 ? date.year - 1 : date.year;
    const long month = date.month <= 2 ? date.month + 9 : date.month - 3;
    return 365 * year + year / 4 - year / 100 + year / 400 + (153 * month + 2) / 5 + date.day - 1;
}

CalendarDate date_from(const std::uint8_t* data)
{
    // The years a SYSTEMTIME can hold.
    const int year = 1601 + (data[0] | data[1] << 8) % (30827 - 1601 + 1);
    const int month = 1 + data[2] % 12;
    const int day = 1 + data[3] % expiry::days_in_month(year, month);
    return CalendarDate{year, month, day};
}

void check_calendar(const CalendarDate& today, const CalendarDate& expires)
{
    const long apart = day_number(expires) - day_number(today);
    // Only dates on or after today reach the rule: the certificate is valid.
    if (apart < 0)
        return;
    const bool same_month = expires.year == today.year && expires.month == today.month;
    const bool next_month = expires.year == today.year && expires.month == today.month + 1;
    unsigned short days = 0xBEEF;
    const bool warns = expiry::days_left_warning(today, expires, days);
    FUZZ_CHECK(warns == (same_month || (next_month && apart <= 30)));
    if (warns)
        FUZZ_CHECK(days == apart);
}

void check_text(const std::string& text, const std::string& empty_name_text, const std::string& name)
{
    // snprintf stops at a NUL inside the name.
    const std::string shown = name.substr(0, name.find('\0'));
    const std::size_t quote = empty_name_text.find('"');
    FUZZ_CHECK(quote != std::string::npos);
    FUZZ_CHECK(text.size() <= expiry::max_text_length);
    FUZZ_CHECK(text.size() == std::min(expiry::max_text_length, empty_name_text.size() + shown.size()));
    const std::size_t kept = text.size() - empty_name_text.size();
    FUZZ_CHECK(text.compare(0, quote + 1, empty_name_text, 0, quote + 1) == 0);
    FUZZ_CHECK(text.compare(quote + 1, kept, shown, 0, kept) == 0);
    FUZZ_CHECK(text.compare(quote + 1 + kept, std::string::npos, empty_name_text, quote + 1) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 10)
        return 0;
    const unsigned short days = static_cast<unsigned short>(data[0] | data[1] << 8);
    check_calendar(date_from(data + 2), date_from(data + 6));

    const char* form = expiry::day_form(days);
    // The form follows the last digit alone (11 to 14 as well).
    FUZZ_CHECK(form == expiry::day_form(days % 10));

    const std::string name(reinterpret_cast<const char*>(data + 10), size - 10);
    const std::string days_left = expiry::days_left_text(days, name);
    check_text(days_left, expiry::days_left_text(days, ""), name);
    check_text(expiry::expired_text(name), expiry::expired_text(""), name);
    return 0;
}
