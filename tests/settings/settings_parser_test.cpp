// The settings file format, as the reader meets every kind of line.
#include "settings/settings_parser.h"
#include "settings/settings_text.h"

#include <gtest/gtest.h>

#include <string>

using namespace keyhaven;

// Found by argument-dependent lookup, so beside Settings in its namespace.
namespace keyhaven {

static std::ostream& operator<<(std::ostream& out, const Settings& s)
{
    return out << "[mark_default=" << s.mark_default << ", ignore_cards=" << s.ignore_cards
               << ", clean_storage=" << s.clean_storage << ", init_plugin=" << s.init_plugin << "]";
}

}  // namespace keyhaven

namespace {

// What the agent starts from, before any file is read.
const Settings start_values;

struct Read {
    int code;
    Settings values;
    std::string error;
};

Read read(const std::string& text, Settings before = start_values)
{
    Read r{0, before, ""};
    r.code = static_cast<int>(parse_settings_text(text, r.values, r.error));
    return r;
}

TEST(SettingsFile, DefaultsAreTheValuesOfAMissingFile)
{
    EXPECT_EQ((Settings{0, 0, 1, 0}), start_values);
    EXPECT_EQ(0, static_cast<int>(SettingsRead::unchanged));
    EXPECT_EQ(300, static_cast<int>(SettingsRead::changed));
    EXPECT_EQ(305, static_cast<int>(SettingsRead::no_data_folder));
    EXPECT_TRUE(settings_taken(SettingsRead::unchanged));
    EXPECT_TRUE(settings_taken(SettingsRead::changed));
    EXPECT_FALSE(settings_taken(SettingsRead::not_opened));
    EXPECT_FALSE(settings_taken(SettingsRead::not_parsed));
}

TEST(SettingsFile, EmptyOrCommentOnlyFilesGiveTheDefaults)
{
    for (const char* text : {"", "\n\n", "# nothing here\n   \t\n# [properties]\n"}) {
        Read r = read(text);
        EXPECT_EQ(0, r.code) << text;
        EXPECT_EQ(start_values, r.values);
    }
    Read later = read("", Settings{1, 1, 0, 1});
    EXPECT_EQ(300, later.code);
    EXPECT_EQ(start_values, later.values);
}

TEST(SettingsFile, ChangedValueReportsChangeOnceThenNoChange)
{
    Read first = read("[properties]\nclean_storage = 0\n");
    EXPECT_EQ(300, first.code);
    EXPECT_EQ((Settings{0, 0, 0, 0}), first.values);

    Read second = read("[properties]\nclean_storage = 0\n", first.values);
    EXPECT_EQ(0, second.code);

    Read line_deleted = read("[properties]\n", second.values);
    EXPECT_EQ(300, line_deleted.code);
    EXPECT_EQ(1, line_deleted.values.clean_storage);
}

TEST(SettingsFile, AcceptedSpellings)
{
    EXPECT_EQ(2, read("[properties]\nclean_storage = 2\n").values.clean_storage);
    EXPECT_EQ(1, read("[properties]\ninit_plugin = +1\n").values.init_plugin);
    EXPECT_EQ(1, read("[properties]\n \t init_plugin=1 \t \n").values.init_plugin);
    EXPECT_EQ(1, read("[properties]\nmark_default = 1 # comment\n").values.mark_default);
    EXPECT_EQ(0, read("properties.clean_storage = 0\n").values.clean_storage);
    EXPECT_EQ(-1, read("[properties]\r\nignore_cards = -1\r\n").values.ignore_cards);
    EXPECT_EQ(0, read("[properties]\nclean_storage = 00\n").values.clean_storage);
    EXPECT_EQ(0, read("[properties.]\nclean_storage = 0\n").values.clean_storage);
    EXPECT_EQ((Settings{1, 1, 0, 1}),
              read("[properties]\ninit_plugin=1\nclean_storage=0\nignore_cards=1\nmark_default=1").values);
}

struct Rejected {
    const char* text;
    const char* message;
};

class SettingsFileRejects : public ::testing::TestWithParam<Rejected> {};

TEST_P(SettingsFileRejects, WithTheLibrarysMessageAndNoFieldChanged)
{
    const Settings before = {1, 1, 5, 1};
    // A valid line before the bad one must not take effect either.
    Read r = read(std::string("[properties]\nmark_default = 0\n") + GetParam().text, before);
    EXPECT_EQ(302, r.code);
    EXPECT_EQ(GetParam().message, r.error);
    EXPECT_EQ(before, r.values);
}

INSTANTIATE_TEST_SUITE_P(
    EdgeList, SettingsFileRejects,
    ::testing::Values(
        Rejected{"clean_storage = true\n", "the argument ('true') for option 'properties.clean_storage' is invalid"},
        Rejected{"clean_storage =\n", "the argument for option 'properties.clean_storage' is invalid"},
        Rejected{"clean_storage = 0x1\n", "the argument ('0x1') for option 'properties.clean_storage' is invalid"},
        Rejected{"clean_storage = 1 2\n", "the argument ('1 2') for option 'properties.clean_storage' is invalid"},
        Rejected{"clean_storage = 99999999999\n",
                 "the argument ('99999999999') for option 'properties.clean_storage' is invalid"},
        Rejected{"; comment\n", "the options configuration file contains an invalid line '; comment'"},
        Rejected{"clean_storage = 1\nclean_storage = 1\n",
                 "option 'properties.clean_storage' cannot be specified more than once"},
        Rejected{"[other]\nclean_storage = 1\n", "unrecognised option 'other.clean_storage'"},
        Rejected{"[ properties ]\nclean_storage = 1\n", "unrecognised option ' properties .clean_storage'"},
        Rejected{"CLEAN_STORAGE = 1\n", "unrecognised option 'properties.CLEAN_STORAGE'"}));

TEST(SettingsFile, ShortNameBeforeAnySectionIsUnknown)
{
    Read r = read("clean_storage = 1\n[properties]\n");
    EXPECT_EQ(302, r.code);
    EXPECT_EQ("unrecognised option 'clean_storage'", r.error);
}

TEST(SettingsFile, ByteOrderMarkMakesTheFirstLineInvalid)
{
    Read r = read("\xEF\xBB\xBF[properties]\nclean_storage = 0\n");
    EXPECT_EQ(302, r.code);
    EXPECT_EQ("the options configuration file contains an invalid line '\xEF\xBB\xBF[properties]'", r.error);
}

// An empty section name opens the prefix ".", so its keys are unknown, and a
// later section works as usual.
TEST(SettingsFile, EmptySectionNameIsReadAsADot)
{
    Read unknown = read("[]\nclean_storage = 0\n");
    EXPECT_EQ(302, unknown.code);
    EXPECT_EQ("unrecognised option '.clean_storage'", unknown.error);

    Read later = read("  [] # empty\n[properties]\nclean_storage = 0\n");
    EXPECT_EQ(300, later.code);
    EXPECT_EQ(0, later.values.clean_storage);
}

TEST(SettingsFile, GuardTouchesOnlyEmptySectionLines)
{
    EXPECT_EQ("[.]\n[properties]\r\nx = 1 # [] \r\n[.]", guard_empty_sections("[]\n[properties]\r\nx = 1 # [] \r\n\t[] #c"));
    std::string binary("a\0b\n[x]\n", 8);
    EXPECT_EQ(binary, guard_empty_sections(binary));
}

// Stands for WideCharToMultiByte: shows which units it got, and refuses none
// at all, to show a refusal.
bool units_as_numbers(const std::u16string& units, std::string& text)
{
    for (char16_t unit : units)
        text += unit < 0x80 ? std::string(1, static_cast<char>(unit)) : "<" + std::to_string(unit) + ">";
    return !text.empty();
}

TEST(SettingsText, MarksAreDroppedAndUtf16IsConverted)
{
    const struct {
        std::string bytes;
        bool read;
        std::string text;  // or the reason
    } cases[] = {
        {"\xEF\xBB\xBF[properties]\r\n", true, "[properties]\r\n"},
        {std::string("\xFF\xFE[\0\x1A\x04", 6), true, "[<1050>"},
        {std::string("\xFE\xFF\0=\x04\x1A", 6), true, "=<1050>"},
        {"a=1\xFF\xFE", true, "a=1\xFF\xFE"},  // no mark at the start: as it is
        {"a = 0\r\n\x1A", true, "a = 0\r\n"},       // Ctrl-Z ends the text, as in text mode
        {"\xEF\xBB\xBF" "a = 0\x1A[b]\x1A", true, "a = 0"},
        {std::string("\xFF\xFE" "a\0b", 5), false, "the UTF-16 text ends in half a character"},
        {"\xFE\xFF", false, "the UTF-16 text cannot be converted to the ANSI code page"},
    };
    for (const auto& c : cases) {
        std::string text, reason;
        EXPECT_EQ(c.read, settings_text_of(c.bytes, units_as_numbers, text, reason)) << c.bytes;
        EXPECT_EQ(c.text, c.read ? text : reason) << c.bytes;
    }
}

}  // namespace
