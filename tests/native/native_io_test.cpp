// log_write and read_settings on the native data folder: the file I/O around
// the pure line assembly and settings parser, run under the sanitizers.
#include "diag/log.h"
#include "diag/log_line.h"
#include "settings/settings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

using namespace keyhaven;

namespace {

namespace fs = std::filesystem;

std::tm local_now()
{
    std::time_t now = std::time(nullptr);
    std::tm when = {};
    localtime_r(&now, &when);
    return when;
}

std::string read_whole(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

class NativeDataFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = data_directory();
        ASSERT_FALSE(folder.empty());
        for (const auto& entry : fs::directory_iterator(folder))
            fs::remove(entry.path());
    }

    // The day's files as written between two readings of the clock; a run
    // across midnight cannot tell which day's file to read.
    void log_and_read(LogLevel level, const char* format, const char* argument)
    {
        const std::tm before = local_now();
        log_write(level, format, argument);
        const std::tm after = local_now();
        if (before.tm_mday != after.tm_mday)
            GTEST_SKIP() << "the clock passed midnight";
        full = read_whole(folder + log_line::file_name(after, false));
        minimal_exists = fs::exists(folder + log_line::file_name(after, true));
        minimal = read_whole(folder + log_line::file_name(after, true));
    }

    void write_settings(const std::string& text)
    {
        std::ofstream(folder + "Keyhaven.ini", std::ios::binary) << text;
    }

    Settings settings;
    std::string folder;
    std::string full;
    std::string minimal;
    bool minimal_exists = false;
};

// Everything after the 11-character time stamp.
std::string without_stamp(const std::string& line)
{
    return line.size() < log_line::stamp_length ? line : line.substr(log_line::stamp_length);
}

TEST_F(NativeDataFolder, DebugLinesGoOnlyToTheFullFile)
{
    log_and_read(LogLevel::debug, "%s", "----> calling enum_containers()");
    if (IsSkipped())
        return;
    EXPECT_EQ("[  DEBUG  ]: ----> calling enum_containers()\n", without_stamp(full));
    EXPECT_FALSE(minimal_exists);
}

TEST_F(NativeDataFolder, OtherLinesGoToBothFilesAlike)
{
    log_and_read(LogLevel::error, "settings file exception: %s\n", "unrecognised option '100% sure'");
    if (IsSkipped())
        return;
    EXPECT_EQ("[  ERROR  ]: settings file exception: unrecognised option '100% sure'\n\n", without_stamp(full));
    EXPECT_EQ(full, minimal);
    ASSERT_GE(full.size(), log_line::stamp_length);
    EXPECT_EQ(" > ", full.substr(8, 3));
}

TEST_F(NativeDataFolder, SettingsFileMissingLeavesTheFields)
{
    settings = Settings{1, 1, 7, 1};
    EXPECT_EQ(SettingsRead::not_opened, read_settings("Keyhaven.ini", settings));
    EXPECT_EQ(7, settings.clean_storage);
    EXPECT_EQ(1, settings.mark_default);
}

// A folder that cannot be made, with nothing in its place, holds no settings
// file: the defaults of a missing one, not the hold of 305.
TEST_F(NativeDataFolder, NoDataFolderWithNothingInItsPlaceIsAMissingFile)
{
    write_settings("not a folder");
    const char* chosen = std::getenv("KEYHAVEN_DATA_DIRECTORY");
    const std::string kept = chosen ? chosen : "";
    setenv("KEYHAVEN_DATA_DIRECTORY", (folder + "Keyhaven.ini/below/").c_str(), 1);
    const bool no_folder = data_directory().empty();
    const SettingsRead code = read_settings("no-such-settings.ini", settings);
    setenv("KEYHAVEN_DATA_DIRECTORY", kept.c_str(), 1);
    EXPECT_TRUE(no_folder);
    EXPECT_EQ(SettingsRead::not_opened, code);
}

TEST_F(NativeDataFolder, SettingsFileReadThenReadAgain)
{
    write_settings("[properties]\nclean_storage = 0\n");
    EXPECT_EQ(SettingsRead::changed, read_settings("Keyhaven.ini", settings));
    EXPECT_EQ(0, settings.clean_storage);
    EXPECT_EQ(SettingsRead::unchanged, read_settings("Keyhaven.ini", settings));
}

TEST_F(NativeDataFolder, BrokenSettingsFileIsLoggedAndChangesNothing)
{
    write_settings("[properties]\nmark_default = 1\nclean_storage = true\n");
    const std::tm before = local_now();
    EXPECT_EQ(SettingsRead::not_parsed, read_settings("Keyhaven.ini", settings));
    const std::tm after = local_now();
    EXPECT_EQ(0, settings.mark_default);
    if (before.tm_mday != after.tm_mday)
        GTEST_SKIP() << "the clock passed midnight";
    EXPECT_EQ("[  ERROR  ]: settings file exception: the argument ('true') for option "
              "'properties.clean_storage' is invalid\n\n",
              without_stamp(read_whole(folder + log_line::file_name(after, true))));
}

}  // namespace
