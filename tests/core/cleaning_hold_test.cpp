// When a settings read holds the cleaning, and when the hold ends.
#include "core/cleaning_hold.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<HoldChange> follow(CleaningHold& hold, const std::vector<int>& codes)
{
    std::vector<HoldChange> changes;
    for (int code : codes)
        changes.push_back(follow_settings_read(hold, code));
    return changes;
}

const HoldChange none = HoldChange::none, started = HoldChange::started, ended = HoldChange::ended;

TEST(CleaningHold, AFileNotTakenHoldsUntilARead)
{
    CleaningHold hold;
    EXPECT_EQ((std::vector<HoldChange>{started, none, none, none}), follow(hold, {302, 302, 303, 305}));
    EXPECT_FALSE(cleaning_on(hold, 1));
    EXPECT_EQ((std::vector<HoldChange>{ended, none, none}), follow(hold, {300, 302, 304}));
    // After a read the last values stand, whatever the file turns into.
    EXPECT_TRUE(cleaning_on(hold, 1));
    EXPECT_FALSE(cleaning_on(hold, 2));
}

TEST(CleaningHold, OnlyATrulyMissingFileMeansTheDefaults)
{
    CleaningHold hold;
    EXPECT_EQ((std::vector<HoldChange>{none, started, ended}), follow(hold, {301, 304, 301}));
    EXPECT_TRUE(cleaning_on(hold, 1));
    EXPECT_EQ(started, follow_settings_read(hold, 303));
    EXPECT_EQ(303, hold.held_by);
    EXPECT_STREQ("the settings file is not trusted", why_settings_hold_cleaning(hold.held_by));
}

}  // namespace
