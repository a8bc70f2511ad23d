// The calendar of the expiry warnings, the plural forms and the two texts.
// Expected texts are written here in UTF-8 and turned into Windows-1251, so
// that a wrong byte in the product's encoded strings shows.
#include "crypt_utils/expiry_rules.h"

#include <gtest/gtest.h>

#include <string>

using namespace keyhaven;

namespace {

using expiry::CalendarDate;

// UTF-8 to Windows-1251 for ASCII and the Russian alphabet (А-я, Ё, ё).
std::string cp1251(const std::string& utf8)
{
    std::string out;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const unsigned char lead = static_cast<unsigned char>(utf8[i]);
        if (lead < 0x80) {
            out += static_cast<char>(lead);
            continue;
        }
        const unsigned code = ((lead & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3Fu);
        if (code == 0x401)
            out += '\xA8';
        else if (code == 0x451)
            out += '\xB8';
        else
            out += static_cast<char>(code - 0x410 + 0xC0);
    }
    return out;
}

// Days left between two dates, or -1 when no warning is due.
int warning_days(CalendarDate today, CalendarDate expires)
{
    unsigned short days = 0xBEEF;
    return expiry::days_left_warning(today, expires, days) ? days : -1;
}

TEST(ExpiryCalendar, DaysInMonth)
{
    EXPECT_EQ(28, expiry::days_in_month(2027, 2));
    EXPECT_EQ(29, expiry::days_in_month(2028, 2));
    EXPECT_EQ(28, expiry::days_in_month(1900, 2));
    EXPECT_EQ(29, expiry::days_in_month(2000, 2));
    EXPECT_EQ(28, expiry::days_in_month(2100, 2));
    for (int month : {4, 6, 9, 11})
        EXPECT_EQ(30, expiry::days_in_month(2027, month)) << month;
    for (int month : {1, 3, 5, 7, 8, 10, 12})
        EXPECT_EQ(31, expiry::days_in_month(2027, month)) << month;
}

TEST(ExpiryCalendar, SameMonthCountsTheDaysLeft)
{
    EXPECT_EQ(0, warning_days({2027, 5, 10}, {2027, 5, 10}));  // later today
    EXPECT_EQ(1, warning_days({2027, 5, 10}, {2027, 5, 11}));
    EXPECT_EQ(30, warning_days({2027, 5, 1}, {2027, 5, 31}));
}

TEST(ExpiryCalendar, NextMonthWarnsUpToThirtyDays)
{
    EXPECT_EQ(30, warning_days({2027, 2, 28}, {2027, 3, 30}));
    EXPECT_EQ(-1, warning_days({2027, 2, 28}, {2027, 3, 31}));
    // February of a leap year has one day more.
    EXPECT_EQ(-1, warning_days({2028, 2, 28}, {2028, 3, 30}));
    EXPECT_EQ(30, warning_days({2028, 2, 29}, {2028, 3, 30}));
    EXPECT_EQ(1, warning_days({2027, 4, 30}, {2027, 5, 1}));
    EXPECT_EQ(11, warning_days({2027, 11, 25}, {2027, 12, 6}));
}

TEST(ExpiryCalendar, LaterMonthsAndOtherYearsNeverWarn)
{
    // 29 days away, but two calendar months ahead.
    EXPECT_EQ(-1, warning_days({2027, 1, 31}, {2027, 3, 1}));
    EXPECT_EQ(-1, warning_days({2028, 1, 31}, {2028, 3, 1}));
    // Early January is not announced in December.
    EXPECT_EQ(-1, warning_days({2027, 12, 20}, {2028, 1, 5}));
    EXPECT_EQ(-1, warning_days({2027, 12, 31}, {2028, 1, 1}));
    EXPECT_EQ(-1, warning_days({2027, 5, 10}, {2028, 5, 10}));
}

TEST(ExpiryPluralForms, EachDayCountOfTheRange)
{
    const std::string one = cp1251("день"), few = cp1251("дня"), many = cp1251("дней");
    for (unsigned days : {1u, 11u, 21u})
        EXPECT_EQ(one, expiry::day_form(days)) << days;
    for (unsigned days : {2u, 3u, 4u, 12u, 13u, 14u, 22u, 23u, 24u})
        EXPECT_EQ(few, expiry::day_form(days)) << days;
    for (unsigned days : {0u, 5u, 6u, 7u, 8u, 9u, 10u, 15u, 16u, 17u, 18u, 19u, 20u, 25u, 26u, 27u, 28u, 29u, 30u})
        EXPECT_EQ(many, expiry::day_form(days)) << days;
}

std::string days_left_expected(const std::string& name, const std::string& days_and_form)
{
    return cp1251("Срок действия сертификата на имя \"") + name +
           cp1251("\" истекает через " + days_and_form +
                  "!\nПожалуйста, обратитесь за перевыпуском сертификата.\n"
                  "В противном случае, работа c ним в системе станет невозможной через " +
                  days_and_form + ".");
}

std::string expired_expected(const std::string& name)
{
    return cp1251("Срок действия сертификата на имя \"") + name +
           cp1251("\" истёк. Дальнейшая работа с ним в системе невозможна.");
}

TEST(ExpiryTexts, DaysLeftTextByteForByte)
{
    const std::string name = cp1251("Иванов Иван");
    EXPECT_EQ(days_left_expected(name, "1 день"), expiry::days_left_text(1, name));
    EXPECT_EQ(days_left_expected(name, "12 дня"), expiry::days_left_text(12, name));
    EXPECT_EQ(days_left_expected(name, "0 дней"), expiry::days_left_text(0, name));
    EXPECT_EQ(days_left_expected("", "30 дней"), expiry::days_left_text(30, ""));
}

TEST(ExpiryTexts, ExpiredTextByteForByte)
{
    EXPECT_EQ(expired_expected(cp1251("ООО Ромашка")), expiry::expired_text(cp1251("ООО Ромашка")));
    EXPECT_EQ(expired_expected(""), expiry::expired_text(""));
}

// The two texts have always differed in one letter: a Latin "c" (0x63) in the
// days-left text, a Cyrillic "с" (0xF1) in the expired one.
TEST(ExpiryTexts, LatinAndCyrillicLetterInWorkWithIt)
{
    EXPECT_NE(std::string::npos, expiry::days_left_text(5, "x").find("\xF0\xE0\xE1\xEE\xF2\xE0 c \xED\xE8\xEC"));
    EXPECT_NE(std::string::npos, expiry::expired_text("x").find("\xF0\xE0\xE1\xEE\xF2\xE0 \xF1 \xED\xE8\xEC"));
}

TEST(ExpiryTexts, PercentSignsInTheNameAreCopiedLiterally)
{
    const std::string name = "100% %s %d %n %%";
    EXPECT_EQ(days_left_expected(name, "3 дня"), expiry::days_left_text(3, name));
    EXPECT_EQ(expired_expected(name), expiry::expired_text(name));
}

TEST(ExpiryCaption, ManagerOfCertificates)
{
    EXPECT_EQ(cp1251("Менеджер сертификатов"), expiry::box_caption);
}

// A name too long for the 1024-byte buffer is cut so that the text fills
// exactly 1023 bytes; a name that just fits is kept whole.
TEST(ExpiryTexts, LongNamesAreShortenedToFitTheBuffer)
{
    const std::size_t days_left_fixed = days_left_expected("", "30 дней").size();
    const std::size_t expired_fixed = expired_expected("").size();
    const std::string fits_days_left(expiry::max_text_length - days_left_fixed, 'N');
    const std::string fits_expired(expiry::max_text_length - expired_fixed, 'N');

    EXPECT_EQ(days_left_expected(fits_days_left, "30 дней"), expiry::days_left_text(30, fits_days_left));
    EXPECT_EQ(days_left_expected(fits_days_left, "30 дней"), expiry::days_left_text(30, fits_days_left + "XY"));
    EXPECT_EQ(expired_expected(fits_expired), expiry::expired_text(fits_expired));
    EXPECT_EQ(expired_expected(fits_expired), expiry::expired_text(fits_expired + "X"));

    const std::string huge(5000, '\xC0');
    EXPECT_EQ(1023u, expiry::days_left_text(1, huge).size());
    EXPECT_EQ(1023u, expiry::days_left_text(30, huge).size());
    EXPECT_EQ(1023u, expiry::expired_text(huge).size());
    // The text still ends as it should, after the shortened name.
    const std::string tail = cp1251("\" истёк. Дальнейшая работа с ним в системе невозможна.");
    const std::string cut = expiry::expired_text(huge);
    EXPECT_EQ(tail, cut.substr(cut.size() - tail.size()));
}

}  // namespace
