// Reader names, token instance IDs, the service's reader list and the rule
// that turns two pairs of counts into a verdict.
#include "carriers/census_rules.h"

#include <gtest/gtest.h>

using namespace keyhaven;

namespace {

using census_rules::judge_counts;

TEST(CensusNames, ReadersNamingTheTwoSkippedFamiliesAnywhereAreSkipped)
{
    EXPECT_TRUE(census_rules::is_skipped_reader("FT SCR2000 0"));
    EXPECT_TRUE(census_rules::is_skipped_reader("Feitian FT SCR 1"));
    EXPECT_TRUE(census_rules::is_skipped_reader("Aktiv Rutoken Magistra 0"));
    EXPECT_TRUE(census_rules::is_skipped_reader("Rutoken Magistra"));

    EXPECT_FALSE(census_rules::is_skipped_reader("ft scr 0"));              // case-sensitive
    EXPECT_FALSE(census_rules::is_skipped_reader("Aktiv Rutoken ECP 0"));  // family, not the model
    EXPECT_FALSE(census_rules::is_skipped_reader("FTSCR 0"));
    EXPECT_FALSE(census_rules::is_skipped_reader("ACS ACR38U 0"));
    EXPECT_FALSE(census_rules::is_skipped_reader(""));
}

TEST(CensusNames, TokenInstanceIdsCarryOneOfTheThreeVendors)
{
    EXPECT_TRUE(census_rules::is_token_instance_id("USB\\VID_0A89&PID_0030\\0001"));
    EXPECT_TRUE(census_rules::is_token_instance_id("USB\\VID_0529&PID_0620\\5&1A2B&0&1"));
    EXPECT_TRUE(census_rules::is_token_instance_id("USB\\VID_096E&PID_0006&MI_01\\0001&MI_01"));

    EXPECT_FALSE(census_rules::is_token_instance_id("USB\\VID_046D&PID_C077\\0001"));
    EXPECT_FALSE(census_rules::is_token_instance_id("USB\\vid_0a89&pid_0030\\0001"));  // case-sensitive
    EXPECT_FALSE(census_rules::is_token_instance_id("USB\\VID_0A8&PID_0030\\0001"));
    EXPECT_FALSE(census_rules::is_token_instance_id("USB\\VID_1234&PID_0A89\\0A89"));
    EXPECT_FALSE(census_rules::is_token_instance_id(""));
}

TEST(ReaderList, SplitsAtNulsAndStopsAtTheEmptyName)
{
    const char list[] = "ACS ACR38U 0\0Aktiv Rutoken ECP 1\0\0";
    EXPECT_EQ((std::vector<std::string>{"ACS ACR38U 0", "Aktiv Rutoken ECP 1"}),
              census_rules::split_reader_list(list, sizeof list - 1));
    EXPECT_TRUE(census_rules::split_reader_list("\0", 2).empty());
    EXPECT_TRUE(census_rules::split_reader_list(nullptr, 0).empty());
}

TEST(ReaderList, NeverReadsBeyondTheLengthGiven)
{
    // No terminator within the length: the name ends where the length does.
    const char unterminated[] = {'A', 'B', 'C', 'X', 'Y'};
    EXPECT_EQ((std::vector<std::string>{"ABC"}), census_rules::split_reader_list(unterminated, 3));
    const char one_nul[] = {'R', '1', '\0', 'R', '2'};
    EXPECT_EQ((std::vector<std::string>{"R1", "R2"}), census_rules::split_reader_list(one_nul, 5));
}

TEST(CensusVerdict, SameCountsLogNothingAndChangeNothing)
{
    for (int ignore : {0, 1}) {
        auto v = judge_counts(2, 1, 2, 1, ignore);
        EXPECT_FALSE(v.log_change);
        EXPECT_FALSE(v.changed);
    }
}

TEST(CensusVerdict, TokenDifferenceAlwaysCounts)
{
    for (int ignore : {0, 1, 2}) {
        auto v = judge_counts(0, 0, 1, 0, ignore);
        EXPECT_TRUE(v.log_change);
        EXPECT_TRUE(v.changed);
        EXPECT_TRUE(judge_counts(3, 0, 2, 0, ignore).changed);
    }
}

TEST(CensusVerdict, CardDifferenceCountsUnlessCardsAreIgnoredWithExactlyOne)
{
    auto ignored = judge_counts(0, 0, 0, 1, 1);
    EXPECT_TRUE(ignored.log_change);
    EXPECT_TRUE(ignored.cards_ignored);
    EXPECT_FALSE(ignored.changed);

    for (int not_one : {0, 2, -1}) {
        auto v = judge_counts(0, 1, 0, 0, not_one);
        EXPECT_TRUE(v.log_change);
        EXPECT_FALSE(v.cards_ignored);
        EXPECT_TRUE(v.changed);
    }
}

TEST(CensusVerdict, BothDifferWhileCardsAreIgnoredIsAChange)
{
    auto v = judge_counts(0, 0, 1, 1, 1);
    EXPECT_TRUE(v.changed);
    EXPECT_TRUE(v.cards_ignored);
}

}  // namespace
