// The keeper's name and date rules.
#include "keeper/day_files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace keyhaven;

namespace {

using day_files::Date;

TEST(DayFiles, TodayAndTomorrowAcrossTheYearAsTheAgentNamesThem)
{
    EXPECT_EQ((std::vector<std::string>{"Keyhaven_31_12_2026.log", "Keyhaven_minimal_31_12_2026.log",
                                        "Keyhaven_01_01_2027.log", "Keyhaven_minimal_01_01_2027.log"}),
              day_files::names_to_keep_ready({2026, 12, 31}));
    const Date leap = day_files::next_day({2028, 2, 28});
    EXPECT_EQ(29, leap.day);
    const Date march = day_files::next_day({2027, 2, 28});
    EXPECT_EQ(3, march.month);
    EXPECT_EQ(1, march.day);
}

TEST(DayFiles, OnlyTheAgentsOwnDayLogNamesCarryADate)
{
    Date date = {};
    ASSERT_TRUE(day_files::date_of_day_log("Keyhaven_minimal_29_02_2028.log", date));
    EXPECT_EQ(2028, date.year);
    EXPECT_EQ(2, date.month);
    EXPECT_EQ(29, date.day);
    ASSERT_TRUE(day_files::date_of_day_log("Keyhaven_05_11_2026.log", date));
    EXPECT_EQ(5, date.day);
    for (const char* other : {"Keyhaven.ini", "Keyhaven_5_11_2026.log", "Keyhaven_05_11_2026.log.bak",
                              "keyhaven_05_11_2026.log", "Keyhaven_29_02_2027.log", "Keyhaven_00_01_2027.log",
                              "Keyhaven_01_13_2027.log", "Keyhaven_minimal_01_01_2027.LOG", "Keyhaven_+1_01_2027.log",
                              "Keyhaven_full_01_01_2027.log", "dererarizoduz.dll", ""})
        EXPECT_FALSE(day_files::date_of_day_log(other, date)) << other;
}

TEST(DayFiles, ExpiredOnlyPastTheRetentionAndNeverWithZero)
{
    const Date today = {2027, 3, 1};
    EXPECT_FALSE(day_files::is_expired({2026, 12, 1}, today, 90));  // 90 days before
    EXPECT_TRUE(day_files::is_expired({2026, 11, 30}, today, 90));  // 91
    EXPECT_FALSE(day_files::is_expired({2000, 1, 1}, today, 0));
    EXPECT_FALSE(day_files::is_expired({2000, 1, 1}, today, 3651));
    EXPECT_TRUE(day_files::is_expired({2017, 2, 1}, today, 3650));
    EXPECT_FALSE(day_files::is_expired({2027, 3, 2}, today, 1));  // a clock set back
}

TEST(DayFiles, MadeByTheKeeperMeansSystemAdministratorsOrItsOwnAccount)
{
    EXPECT_TRUE(day_files::made_by_keeper("S-1-5-18", ""));
    EXPECT_TRUE(day_files::made_by_keeper("S-1-5-32-544", "S-1-5-18"));
    EXPECT_TRUE(day_files::made_by_keeper("S-1-5-21-0-0-0-1000", "S-1-5-21-0-0-0-1000"));
    EXPECT_FALSE(day_files::made_by_keeper("S-1-5-21-1-2-3-1001", "S-1-5-18"));
    EXPECT_FALSE(day_files::made_by_keeper("", ""));
    EXPECT_FALSE(day_files::made_by_keeper("S-1-5-7", "S-1-5-18"));  // Anonymous: another Unix owner on the bench
}

}  // namespace
