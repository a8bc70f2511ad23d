#pragma once
// The calendar rules of the expiry warnings and their Russian texts
// (Windows-1251 bytes, as the ANSI message box and the log take them).

#include <string>

namespace keyhaven {

namespace expiry {

struct CalendarDate {
    int year;
    int month;  // 1 to 12
    int day;    // 1 to 31
};

int days_in_month(int year, int month);

// Calendar days from one date to another (negative when to lies before
// from), across months and years alike.
int days_between(const CalendarDate& from, const CalendarDate& to);

// Strictly after the start and strictly before the end, on 64-bit FILETIME
// values: a certificate that ends exactly now has expired.
bool inside_validity_period(unsigned long long now, unsigned long long not_before, unsigned long long not_after);

// For a certificate inside its validity period: true, with the days left,
// when it expires in the current month, or in the next month of the same
// year no more than 30 days ahead. A certificate expiring early in January
// is not announced in December.
bool days_left_warning(const CalendarDate& today, const CalendarDate& expires, unsigned short& days);

// "день", "дня" or "дней" for a number of days.
const char* day_form(unsigned days);

constexpr std::size_t max_text_length = 1023;  // the message buffer holds 1024 bytes with its NUL

// The two warning texts, at most max_text_length bytes: a common name too
// long for the rest of the text is shortened to fit.
std::string days_left_text(unsigned short days, const std::string& common_name);
std::string expired_text(const std::string& common_name);

// The caption of every warning box: "Менеджер сертификатов".
extern const char box_caption[];

}  // namespace expiry

}  // namespace keyhaven
