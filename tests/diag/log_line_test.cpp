#include "diag/log_line.h"
#include "platform/verified_files.h"
#include "diag/repeated_failure.h"

#include <gtest/gtest.h>

#include <string>

using namespace keyhaven;

namespace {

std::tm at(int year, int month, int day, int hour, int minute, int second)
{
    std::tm when = {};
    when.tm_year = year - 1900;
    when.tm_mon = month - 1;
    when.tm_mday = day;
    when.tm_hour = hour;
    when.tm_min = minute;
    when.tm_sec = second;
    return when;
}

std::string line_for(LogLevel level, const std::string& message)
{
    char line[log_line::line_buffer_size];
    log_line::assemble(line, at(2015, 11, 25, 14, 3, 7), level, message.c_str());
    return line;
}

TEST(LogLine, EachLevelHasItsThirteenCharacterLabel)
{
    EXPECT_EQ("[  DEBUG  ]: ", std::string(log_line::label_for(LogLevel::debug)));
    EXPECT_EQ("[  INFO   ]: ", std::string(log_line::label_for(LogLevel::info)));
    EXPECT_EQ("[ WARNING ]: ", std::string(log_line::label_for(LogLevel::warning)));
    EXPECT_EQ("[  ERROR  ]: ", std::string(log_line::label_for(LogLevel::error)));
    EXPECT_EQ("[ DEFAULT ]: ", std::string(log_line::label_for(static_cast<LogLevel>(4))));
    EXPECT_EQ("[ DEFAULT ]: ", std::string(log_line::label_for(static_cast<LogLevel>(0xFFFFFFFFu))));
}

TEST(LogLine, StampLabelMessageAndLineFeed)
{
    EXPECT_EQ("14:03:07 > [  INFO   ]: daemon starts\n", line_for(LogLevel::info, "daemon starts"));
    EXPECT_EQ("14:03:07 > [  INFO   ]: \n", line_for(LogLevel::info, ""));
}

TEST(LogLine, LongMessageIsCutAtTheRoomTheLineLeaves)
{
    EXPECT_EQ(1008u, log_line::message_room);
    std::string exact(1008, 'x');
    EXPECT_EQ("14:03:07 > [  ERROR  ]: " + exact + "\n", line_for(LogLevel::error, exact));
    EXPECT_EQ("14:03:07 > [  ERROR  ]: " + exact + "\n", line_for(LogLevel::error, exact + "yyyy"));
}

TEST(LogLine, DailyFileNamesCarryDayMonthYear)
{
    EXPECT_EQ("Keyhaven_25_11_2015.log", log_line::file_name(at(2015, 11, 25, 0, 0, 0), false));
    EXPECT_EQ("Keyhaven_minimal_25_11_2015.log", log_line::file_name(at(2015, 11, 25, 0, 0, 0), true));
    // Either side of midnight: each line is dated by its own instant.
    EXPECT_EQ("Keyhaven_31_12_2026.log", log_line::file_name(at(2026, 12, 31, 23, 59, 59), false));
    EXPECT_EQ("Keyhaven_01_01_2027.log", log_line::file_name(at(2027, 1, 1, 0, 0, 0), false));
}

TEST(LogLine, ControlCharactersOfANameAreEscapedButTabAndCodePageLetters)
{
    EXPECT_EQ("a\\x0A14:03:07 > [  INFO   ]: b\\x0D\\x00\\x1F\\x7F\tc\\d",
              log_line::escaped_name(std::string("a\n14:03:07 > [  INFO   ]: b\r\0\x1F\x7F\tc\\d", 35)));
    EXPECT_EQ("\xC8\xE2\xE0\xED \x80%s", log_line::escaped_name("\xC8\xE2\xE0\xED \x80%s"));
}

// A file is judged again when its name reaches another file, and each day's
// name afresh; a handful of names is kept, the oldest dropped first.
TEST(VerifiedLogFiles, PassedOnlyAsTheSameFileUnderTheSameName)
{
    const verified_files::Identity file{7, 0, 42}, other{7, 0, 43}, elsewhere{8, 0, 42};
    const std::string today = "c:\\nivra\\Keyhaven_test_01_01_2027.log";
    EXPECT_FALSE(verified_files::passed(today, file) || verified_files::seen(today));
    verified_files::note_passed(today, file);
    EXPECT_TRUE(verified_files::passed(today, file) && verified_files::seen(today));
    EXPECT_FALSE(verified_files::passed(today, other));
    EXPECT_FALSE(verified_files::passed(today, elsewhere));
    EXPECT_FALSE(verified_files::passed("c:\\nivra\\Keyhaven_test_02_01_2027.log", file));
    verified_files::note_passed(today, other);
    EXPECT_FALSE(verified_files::passed(today, file));
    for (int day = 10; day < 18; ++day)
        verified_files::note_passed("c:\\nivra\\Keyhaven_test_" + std::to_string(day) + "_01_2027.log", file);
    EXPECT_FALSE(verified_files::seen(today));
    EXPECT_TRUE(verified_files::passed("c:\\nivra\\Keyhaven_test_17_01_2027.log", file));
}

TEST(RepeatedFailure, WrittenAtStartOnChangeHourlyAndOnceWhenItEnds)
{
    const unsigned long long hour = failure_reminder_ms;
    RepeatedFailure failure;
    const struct {
        bool failing;
        const char* text;
        unsigned long long at;
        FailureStep step;
    } turns[] = {
        {false, "", 0, FailureStep::none},
        {true, "a", 1000, FailureStep::write},
        {true, "a", 2000, FailureStep::quiet},
        {true, "a", 1000 + hour - 1, FailureStep::quiet},
        {true, "a", 1000 + hour, FailureStep::write},
        {true, "b", 1001 + hour, FailureStep::write},
        {true, "b", 500, FailureStep::write},  // a clock that went back
        {false, "", 600, FailureStep::ended},
        {false, "", 700, FailureStep::none},
        {true, "b", 800, FailureStep::write},
    };
    for (const auto& turn : turns)
        EXPECT_EQ(turn.step, follow_failure(failure, turn.failing, turn.text, turn.at, hour)) << turn.at;
}

}  // namespace
