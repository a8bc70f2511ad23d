// The keeper's pass over a folder of the test workstation, against Wine's
// real files, links and security.
#include "platform/append_file.h"
#include "keeper/day_file_pass.h"
#include "platform/package_names.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

using namespace keyhaven;

namespace {

const std::string folder = "C:\\keeper-pass-test\\";
const day_files::Date today = {2027, 3, 1};

void write(const std::string& name, const std::string& text)
{
    std::ofstream(folder + name, std::ios::binary) << text;
}

std::string read(const std::string& name)
{
    std::ifstream file(folder + name, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

bool exists(const std::string& name)
{
    return GetFileAttributesA((folder + name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

class DayFilePass : public ::testing::Test {
protected:
    void SetUp() override
    {
        empty_folder();
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    }
    void TearDown() override { empty_folder(); }

    static void empty_folder()
    {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do
                DeleteFileA((folder + found.cFileName).c_str());
            while (FindNextFileA(search, &found));
            FindClose(search);
        }
        RemoveDirectoryA(folder.c_str());
    }
};

TEST_F(DayFilePass, MakesTodaysAndTomorrowsFilesOnceThatAnAgentThenAppendsTo)
{
    const keeper::PassResult first = keeper::run_pass(folder, today, 0);
    EXPECT_EQ((std::vector<std::string>{"Keyhaven_01_03_2027.log", "Keyhaven_minimal_01_03_2027.log",
                                        "Keyhaven_02_03_2027.log", "Keyhaven_minimal_02_03_2027.log"}),
              first.made);
    EXPECT_TRUE(first.reports.empty()) << first.reports[0].text;
    EXPECT_EQ("", read("Keyhaven_02_03_2027.log"));
    EXPECT_TRUE(append_line_to_file(folder + "Keyhaven_02_03_2027.log", "line\n"));

    const keeper::PassResult again = keeper::run_pass(folder, today, 0);
    EXPECT_TRUE(again.made.empty());
    EXPECT_TRUE(again.reports.empty()) << again.reports[0].text;
    EXPECT_EQ("line\r\n", read("Keyhaven_02_03_2027.log"));
}

TEST_F(DayFilePass, ASecondLinkAtADayFilesNameIsLeftAloneAndReported)
{
    write("Keyhaven.ini", "[properties]\r\n");
    ASSERT_TRUE(CreateHardLinkA((folder + "Keyhaven_minimal_02_03_2027.log").c_str(),
                                (folder + "Keyhaven.ini").c_str(), nullptr));
    const keeper::PassResult result = keeper::run_pass(folder, today, 0);
    EXPECT_EQ(3u, result.made.size());
    ASSERT_EQ(1u, result.reports.size());
    EXPECT_EQ(keeper::file_left_alone, result.reports[0].finding);
    EXPECT_NE(std::string::npos, result.reports[0].text.find("Keyhaven_minimal_02_03_2027.log was not made by the "
                                                             "keeper and is left alone: it has 2 links"))
        << result.reports[0].text;
    EXPECT_EQ("[properties]\r\n", read("Keyhaven.ini"));
}

TEST_F(DayFilePass, RemovesOnlyDayLogsOlderThanTheRetentionAndNoLink)
{
    for (const char* name : {"Keyhaven_30_11_2026.log", "Keyhaven_minimal_30_11_2026.log", "Keyhaven_01_12_2026.log",
                             "Keyhaven_30_11_2026.log.old", "Keyhaven_1_11_2026.log", "Keyhaven_other.log"})
        write(name, "x");
    EXPECT_TRUE(keeper::run_pass(folder, today, 0).removed.empty());

    ASSERT_TRUE(CreateHardLinkA((folder + "Keyhaven_minimal_29_11_2026.log").c_str(),
                                (folder + "Keyhaven_other.log").c_str(), nullptr));
    const keeper::PassResult result = keeper::run_pass(folder, today, 90);
    EXPECT_EQ((std::vector<std::string>{"Keyhaven_30_11_2026.log", "Keyhaven_minimal_30_11_2026.log"}),
              result.removed);
    for (const char* kept : {"Keyhaven_01_12_2026.log", "Keyhaven_30_11_2026.log.old", "Keyhaven_1_11_2026.log",
                             "Keyhaven_other.log", "Keyhaven_minimal_29_11_2026.log"})
        EXPECT_TRUE(exists(kept)) << kept;
    ASSERT_EQ(1u, result.reports.size());
    EXPECT_EQ(keeper::old_file_kept, result.reports[0].finding);
}

TEST_F(DayFilePass, ManyFindingsGiveBoundedReportsAndACount)
{
    write("target", "x");
    for (int day = 1; day <= 25; ++day) {
        char name[64];
        std::snprintf(name, sizeof name, "Keyhaven_%02d_01_2020.log", day);
        ASSERT_TRUE(CreateHardLinkA((folder + name).c_str(), (folder + "target").c_str(), nullptr));
    }
    const keeper::PassResult result = keeper::run_pass(folder, today, 30);
    EXPECT_EQ(keeper::reports_per_pass, result.reports.size());
    EXPECT_EQ(25u - keeper::reports_per_pass, result.unreported);
}

TEST_F(DayFilePass, AMissingFolderMakesNothingAndIsReported)
{
    empty_folder();
    const keeper::PassResult result = keeper::run_pass(folder, today, 90);
    EXPECT_TRUE(result.made.empty());
    ASSERT_EQ(1u, result.reports.size());
    EXPECT_EQ(keeper::folder_unusable, result.reports[0].finding);
}

// LOG_RETENTION_DAYS as the package stores it, in the test workstation's registry.
TEST(RetentionDays, StoredValueMissingKeepsAllAndAValueNoPackageWritesIsReported)
{
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, package_names::keeper::settings_key, package_names::keeper::retention_value);
    keeper::PassResult result;
    EXPECT_EQ(0u, keeper::read_retention_days(result));
    EXPECT_TRUE(result.reports.empty());

    for (const DWORD stored : {DWORD{30}, DWORD{5000}}) {
        ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, package_names::keeper::settings_key, package_names::keeper::retention_value,
                                                 REG_DWORD, &stored, sizeof stored));
        EXPECT_EQ(stored == 30 ? 30u : 0u, keeper::read_retention_days(result));
    }
    ASSERT_EQ(1u, result.reports.size());
    EXPECT_EQ(keeper::retention_unreadable, result.reports[0].finding);
    EXPECT_NE(std::string::npos, result.reports[0].text.find("(5000 is more than 3650)")) << result.reports[0].text;
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, package_names::keeper::settings_key, package_names::keeper::retention_value);
}

}  // namespace
