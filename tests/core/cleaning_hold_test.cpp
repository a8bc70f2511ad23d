// When a settings read holds the cleaning, and when the hold ends.
#include "core/cleaning_hold.h"

#include <gtest/gtest.h>

using namespace keyhaven;

namespace {

const HoldChange none = HoldChange::none, started = HoldChange::started, ended = HoldChange::ended;

TEST(CleaningHold, AFileNotTakenHoldsUntilARead)
{
    CleaningHold hold;
    const struct {
        int code;
        HoldChange change;
        bool cleaning;  // with clean_storage 1
    } reads[] = {
        {301, none, true},      // truly missing: the defaults, cleaning on
        {302, started, false},  // one line when the hold starts
        {303, none, false},
        {305, none, false},
        {301, ended, true},
        {304, started, false},
        {300, ended, true},
        {302, none, true},  // after a read, the last values stand
        {303, none, true},
    };
    for (const auto& read : reads) {
        EXPECT_EQ(read.change, follow_settings_read(hold, static_cast<SettingsRead>(read.code))) << read.code;
        EXPECT_EQ(read.cleaning, cleaning_on(hold, 1)) << read.code;
    }
    EXPECT_FALSE(cleaning_on(hold, 2));
}

}  // namespace
