// The package's edits of Keyhaven.ini, read back by the agent's own reader.
#include "settings/settings_parser.h"
#include "setup/retention_property.h"
#include "setup/settings_edit.h"

#include <gtest/gtest.h>

#include <string>

using namespace keyhaven;

namespace {

Settings read_back(const std::string& text)
{
    Settings values;
    std::string error;
    EXPECT_NE(SettingsRead::not_parsed, parse_settings_text(text, values, error)) << error << "\n" << text;
    return values;
}

const std::string shipped = "# comment\r\n[properties]\r\n\r\n# 1: clean\r\nclean_storage = 1\r\n"
                            "mark_default = 0\r\nignore_cards = 0 # cards\r\ninit_plugin = 0\r\n";

TEST(SettingsEdit, NamedKeysGetTheirValueInPlaceAndOtherLinesStay)
{
    std::string edited = edit_settings_text(shipped, {{"clean_storage", "0"}, {"ignore_cards", "1"}});
    EXPECT_EQ("# comment\r\n[properties]\r\n\r\n# 1: clean\r\nclean_storage = 0\r\n"
              "mark_default = 0\r\nignore_cards = 1\r\ninit_plugin = 0\r\n", edited);
    Settings values = read_back(edited);
    EXPECT_EQ(0, values.clean_storage);
    EXPECT_EQ(1, values.ignore_cards);
    EXPECT_EQ(0, values.mark_default);
}

TEST(SettingsEdit, MissingKeysFollowTheSectionLineAndAMissingSectionIsAdded)
{
    EXPECT_EQ("[properties]\r\ninit_plugin = 1\r\nclean_storage = 1\n",
              edit_settings_text("[properties]\r\nclean_storage = 1\n", {{"init_plugin", "1"}}));
    std::string edited = edit_settings_text("# only a comment", {{"mark_default", "1"}});
    EXPECT_EQ("# only a comment\r\n[properties]\r\nmark_default = 1\r\n", edited);
    EXPECT_EQ(1, read_back(edited).mark_default);
}

TEST(SettingsEdit, DottedNamesCountAndARepeatedKeyIsLeftOnce)
{
    std::string edited = edit_settings_text(
        "properties.clean_storage = 1\r\n[other]\r\nclean_storage = 1\r\n[properties]\r\nclean_storage = 1\r\n",
        {{"clean_storage", "0"}});
    EXPECT_EQ("properties.clean_storage = 0\r\n[other]\r\nclean_storage = 1\r\n[properties]\r\n", edited);
}

TEST(SettingsEdit, ValuesFromTheCommandLine)
{
    for (const char* good : {"0", "1"})
        EXPECT_TRUE(setting_value_valid(good)) << good;
    for (const char* bad : {"", "2", "+1", "-1", "00", "yes", "1 ", "0x1", "1.5", "1;init_plugin=1", "+"})
        EXPECT_FALSE(setting_value_valid(bad)) << bad;
}

TEST(SettingsEdit, ScriptDataRoundTripsAndRefusesWhatWasNotEncoded)
{
    std::vector<SettingValue> values;
    ASSERT_TRUE(decode_setting_values(encode_setting_values({{"clean_storage", "0"}, {"init_plugin", "1"}}), values));
    ASSERT_EQ(2u, values.size());
    EXPECT_EQ("init_plugin", values[1].key);
    for (const char* bad : {"", "clean_storage=yes", "other=1", "clean_storage"})
        EXPECT_FALSE(decode_setting_values(bad, values)) << bad;
}

}  // namespace

// LOG_RETENTION_DAYS as the package takes and stores it.
namespace {

TEST(RetentionProperty, AnIntegerFromZeroTo3650Only)
{
    unsigned long days = 7;
    EXPECT_TRUE(retention_text_valid("0", days));
    EXPECT_EQ(0u, days);
    EXPECT_TRUE(retention_text_valid("3650", days));
    EXPECT_EQ(3650u, days);
    for (const char* refused : {"", "3651", "-1", "+5", "90 ", "1e3", "0x10", "00090", "ninety"})
        EXPECT_FALSE(retention_text_valid(refused, days)) << refused;
}

TEST(RetentionProperty, GivenWinsStoredStaysNewInstallsKeep90AndOldPackagesKeepForEver)
{
    EXPECT_EQ(30u, retention_to_store("30", {true, 400}, true));
    EXPECT_EQ(400u, retention_to_store("", {true, 400}, true));   // repair or upgrade without it
    EXPECT_EQ(90u, retention_to_store("", {false, 0}, false));   // a new install
    EXPECT_EQ(0u, retention_to_store("", {false, 0}, true));     // over a package that had no retention
    EXPECT_EQ(0u, retention_to_store("", {true, 99999}, true));  // a stored value no package writes
}

}  // namespace
