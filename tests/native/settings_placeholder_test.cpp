// Settings lines holding "%": the library's message placeholders in a name,
// a value or a bad line once kept the reader in an endless loop. The read
// fails as any bad line does, and the message shows the text as written.
#include "settings/settings_parser.h"

#include <gtest/gtest.h>

#include <string>

using namespace keyhaven;

namespace {

std::string error_for(const std::string& text)
{
    Settings values;
    std::string error;
    EXPECT_EQ(SettingsRead::not_parsed, parse_settings_text(text, values, error)) << text;
    EXPECT_EQ(1, values.clean_storage);
    return error;
}

TEST(SettingsPlaceholders, ValueHoldingItsOwnPlaceholder)
{
    EXPECT_EQ("the argument ('%value%') for option 'properties.clean_storage' is invalid",
              error_for("[properties]\nclean_storage = %value%\n"));
    EXPECT_EQ("the argument ('100%') for option 'properties.clean_storage' is invalid",
              error_for("[properties]\nclean_storage = 100%\n"));
}

TEST(SettingsPlaceholders, NameOrLineHoldingAPlaceholder)
{
    EXPECT_EQ("unrecognised option 'properties.%canonical_option%'",
              error_for("[properties]\n%canonical_option% = 1\n"));
    EXPECT_EQ("unrecognised option '%prefix%%original_token%.%value%'",
              error_for("[%prefix%%original_token%]\n%value% = 1\n"));
    EXPECT_EQ("the options configuration file contains an invalid line '; %invalid_line%'",
              error_for("; %invalid_line%\n"));
    EXPECT_EQ("option 'properties.clean_storage' cannot be specified more than once",
              error_for("[properties]\nclean_storage = 1\nclean_storage = 1 # %canonical_option%\n"));
}

// The escape that carries "%" through the library is itself carried as is.
TEST(SettingsPlaceholders, ControlBytesInNamesAreShownUnchanged)
{
    EXPECT_EQ("unrecognised option 'properties.x\x01p\x01'", error_for("[properties]\nx\x01p\x01 = 1\n"));
}

TEST(SettingsPlaceholders, PercentInACommentIsHarmless)
{
    Settings values;
    std::string error;
    EXPECT_EQ(SettingsRead::changed,
              parse_settings_text("# 100% sure\n[properties] # %value%\nclean_storage = 0 # %\n", values, error));
    EXPECT_EQ(0, values.clean_storage);
}

}  // namespace
