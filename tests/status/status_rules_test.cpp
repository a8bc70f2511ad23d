// keyhaven-status's rules and outputs, without Windows: options, days left,
// the exit status, the formats of serials and times, the log's ERROR lines.

#include "status/status_output.h"
#include "status/status_rules.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

using namespace keyhaven;

namespace {

using status::Options;
using status::UtcTime;

bool parse(const std::vector<std::string>& arguments, Options& options, std::string& error)
{
    options = Options();
    error.clear();
    return status::parse_options(arguments, options, error);
}

TEST(StatusOptions, DefaultsAndEveryOption)
{
    Options options;
    std::string error;
    ASSERT_TRUE(parse({}, options, error));
    EXPECT_FALSE(options.json || options.all || options.help);
    EXPECT_EQ(30, options.warn_days);
    ASSERT_TRUE(parse({"--json", "--all", "--warn-days", "5"}, options, error));
    EXPECT_TRUE(options.json && options.all);
    EXPECT_EQ(5, options.warn_days);
    ASSERT_TRUE(parse({"--warn-days=0", "--help", "--removed-days", "180"}, options, error));
    EXPECT_EQ(0, options.warn_days);
    EXPECT_EQ(180, options.removed_days);
    EXPECT_TRUE(options.help);
    ASSERT_TRUE(parse({"--removed-days=7"}, options, error));
    EXPECT_EQ((std::vector<int>{30, 7}), (std::vector<int>{options.warn_days, options.removed_days}));
}

TEST(StatusOptions, BadOnesSayWhatIsWrongInOneLine)
{
    Options options;
    std::string error;
    for (const auto& bad : std::vector<std::vector<std::string>>{
             {"--jsn"}, {"-x"}, {"extra"}, {"--warn-days"}, {"--warn-days", "-1"}, {"--warn-days", "ten"},
             {"--warn-days=36501"}, {"--warn-days", "99999999999"}, {"--warn-days="}}) {
        EXPECT_FALSE(parse(bad, options, error)) << bad[0];
        EXPECT_NE(std::string::npos, error.find(bad.back() == "--warn-days" ? "--warn-days" : bad.back().substr(0, 3)))
            << error;
        EXPECT_EQ(std::string::npos, error.find('\n')) << error;
    }
}

TEST(StatusDaysLeft, CalendarDaysAcrossTheYearBoundary)
{
    // 20 December, a certificate expiring 5 January: the agent says nothing, the status 16 days.
    EXPECT_EQ(16, status::days_left({2026, 12, 20, 12, 0, 0}, {2027, 1, 5, 0, 0, 0}, false));
    EXPECT_EQ(29, status::days_left({2028, 1, 31, 0, 0, 0}, {2028, 2, 29, 23, 0, 0}, false));
    EXPECT_EQ(365, status::days_left({2026, 3, 1, 0, 0, 0}, {2027, 3, 1, 0, 0, 0}, false));
    EXPECT_EQ(0, status::days_left({2026, 12, 10, 8, 0, 0}, {2026, 12, 10, 23, 0, 0}, false));
}

TEST(StatusDaysLeft, NegativeOnceExpired)
{
    EXPECT_EQ(-1, status::days_left({2026, 12, 10, 23, 0, 0}, {2026, 12, 10, 8, 0, 0}, true));
    EXPECT_EQ(-40, status::days_left({2027, 1, 9, 0, 0, 0}, {2026, 11, 30, 0, 0, 0}, true));
}

status::StatusReport healthy()
{
    status::StatusReport report;
    report.agent.running = true;
    report.provider.installed = true;
    report.settings.code = SettingsRead::unchanged;
    report.settings.taken = true;
    status::CertificateReport certificate;
    certificate.days_left = 31;
    report.certificates.push_back(certificate);
    return report;
}

TEST(StatusExit, FirstThatAppliesInOrderOneFourThreeFiveTwo)
{
    status::StatusReport report = healthy();
    EXPECT_EQ(0, status::exit_status(report));
    report.certificates[0].days_left = 30;
    EXPECT_EQ(2, status::exit_status(report));
    report.warn_days = 29;
    EXPECT_EQ(0, status::exit_status(report));
    report.certificates[0].expired = true;
    EXPECT_EQ(2, status::exit_status(report));
    report.keeper = {false, false, "", false, {}};  // no package: no keeper to miss
    EXPECT_EQ(2, status::exit_status(report));
    report.keeper = {true, false, "stopped", false, {}};
    EXPECT_EQ(5, status::exit_status(report));
    report.settings.code = SettingsRead::not_trusted;
    report.settings.taken = false;
    EXPECT_EQ(3, status::exit_status(report));
    report.provider.installed = false;
    EXPECT_EQ(4, status::exit_status(report));
    report.agent.running = false;
    EXPECT_EQ(1, status::exit_status(report));
}

TEST(StatusExit, EveryProblemListedMostUrgentFirst)
{
    status::StatusReport report = healthy();
    report.certificates[0].days_left = 6;
    report.certificates.push_back(report.certificates[0]);
    report.settings.code = SettingsRead::not_parsed;
    report.settings.taken = false;
    report.agent.running = false;
    std::vector<int> statuses;
    for (const auto& problem : status::problems(report))
        statuses.push_back(problem.exit_status);
    EXPECT_EQ((std::vector<int>{1, 3, 2, 2}), statuses);
    EXPECT_EQ((std::vector<int>{1, 4, 3, 5, 2}), std::vector<int>(std::begin(status::exit_order), std::end(status::exit_order)));
    const auto document = nlohmann::json::parse(status::json_text(report));
    EXPECT_EQ(4u, document["problems"].size());
    EXPECT_EQ(3, document["problems"][1]["exit_status"]);
    EXPECT_NE(std::string::npos, status::table_text(report).find("\n  3  the agent does not take the settings file"));
}

TEST(StatusRemoved, ListedWithinTheDaysAndInTheDocument)
{
    EXPECT_TRUE(status::removed_within("2026-11-10T23:59:59Z", {2026, 12, 10, 0, 0, 0}, 30));
    EXPECT_FALSE(status::removed_within("2026-11-09T23:59:59Z", {2026, 12, 10, 0, 0, 0}, 30));
    EXPECT_FALSE(status::removed_within("yesterday", {2026, 12, 10, 0, 0, 0}, 30));
    status::StatusReport report = healthy();
    report.removed.push_back({"\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD", "CA", "0A", "AB", "2026-12-01T10:00:00Z", true,
                              "C:\\users\\u\\AB.sst"});
    const auto document = nlohmann::json::parse(status::json_text(report));
    EXPECT_EQ(report.removed[0].subject_cn, document["removed"][0]["subject_cn"]);
    EXPECT_EQ(true, document["removed"][0]["back_with_carrier"]);
    EXPECT_EQ("C:\\users\\u\\AB.sst", document["removed"][0]["file"]);
    EXPECT_EQ(30, document["removed_days"]);
    EXPECT_TRUE(document["provider"]["problem"].is_null());
    EXPECT_NE(std::string::npos, status::table_text(report).find("\n  2026-12-01  \xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD     CA      0A      carrier  C:\\users"));
}

TEST(StatusFormats, HexMostSignificantByteFirstAndIsoUtc)
{
    const unsigned char serial[] = {0x01, 0xAB, 0x00, 0x7F};  // little-endian, as CryptoAPI keeps it
    EXPECT_EQ("7F00AB01", status::hex_digits(serial, sizeof serial, true));
    EXPECT_EQ("01AB007F", status::hex_digits(serial, sizeof serial, false));
    EXPECT_EQ("2027-01-05T07:08:09Z", status::iso_utc({2027, 1, 5, 7, 8, 9}));
}

TEST(StatusFormats, ProgramOfARunValue)
{
    EXPECT_EQ("C:\\Program Files\\Keyhaven\\keyhaven.exe",
              status::program_of_command("\"C:\\Program Files\\Keyhaven\\keyhaven.exe\" /x"));
    EXPECT_EQ("C:\\Program Files\\Keyhaven\\KEYHAVEN.EXE",
              status::program_of_command("  C:\\Program Files\\Keyhaven\\KEYHAVEN.EXE -q"));
    EXPECT_EQ("", status::program_of_command("\"C:\\unterminated"));
}

TEST(StatusLog, CountsErrorLinesInAnyPiecesAndKeepsTheLast)
{
    const std::string text = "10:00:00 > [  ERROR  ]: first\r\n10:00:01 > [  INFO   ]: [  ERROR  ]: no\r\n"
                             "short\r\n\r\n10:00:02 > [  ERROR  ]: settings file exception: x\r\n\r\n"
                             "10:00:03 > [  ERROR  ]: " + std::string(5000, 'x');
    for (std::size_t piece : {std::size_t{1}, std::size_t{7}, text.size()}) {
        status::ErrorLines errors;
        for (std::size_t at = 0; at < text.size(); at += piece)
            errors.feed(text.data() + at, std::min(piece, text.size() - at));
        errors.finish();
        EXPECT_EQ(3, errors.count()) << piece;
        EXPECT_EQ(1034u, errors.last().size()) << "an overlong line is cut";
    }
}

// A line a user appended to the shared log, a subject a certificate's maker
// chose: nothing reaches the console as a control.
TEST(StatusText, ControlCharactersAreShownEscaped)
{
    EXPECT_EQ("[  ERROR  ]: \\x1B[2J\\x0D\\x0Aok\t\\x7F", status::printable("[  ERROR  ]: \x1B[2J\r\nok\t\x7F"));
    EXPECT_EQ("a\\u009B31mb\\u0085", status::printable("a\xC2\x9B" "31mb\xC2\x85"));
    const std::string cyrillic = "\xD0\x98\xD0\xB2\xC2\xA0\xC2";  // "Ив", no-break space, a cut sequence
    EXPECT_EQ(cyrillic, status::printable(cyrillic));
    status::StatusReport report = healthy();
    report.log.readable = true;
    report.log.last_error = status::printable("\x1B]0;owned\x07");
    const std::string json = status::json_text(report);
    EXPECT_EQ(std::string::npos, json.find('\x1B'));
    const auto document = nlohmann::json::parse(json);
    EXPECT_EQ("\\x1B]0;owned\\x07", document["log"]["last_error"].get<std::string>());
    EXPECT_EQ(std::string::npos, status::table_text(report).find('\x1B'));
}

TEST(StatusJson, FieldNamesAndNullsAsFleetToolsRead)
{
    status::StatusReport report = healthy();
    report.agent.version = "1.0.2.1";
    report.log.file = "c:\\nivra\\Keyhaven_10_12_2026.log";
    report.certificates[0].subject_cn = "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD";  // UTF-8 "Иван"
    report.certificates[0].serial = "C001";
    const auto document = nlohmann::json::parse(status::json_text(report));
    EXPECT_EQ(true, document["agent"]["running"]);
    EXPECT_EQ("1.0.2.1", document["agent"]["version"]);
    EXPECT_TRUE(document["agent"]["path"].is_null());
    EXPECT_EQ("read", document["settings"]["state"]);
    EXPECT_EQ(1, document["settings"]["clean_storage"]);
    EXPECT_TRUE(document["log"]["errors"].is_null() && document["log"]["last_error"].is_null());
    const auto& certificate = document["certificates"][0];
    for (const char* field : {"subject_cn", "issuer_cn", "serial", "thumbprint", "not_after", "days_left", "container"})
        EXPECT_TRUE(certificate.contains(field)) << field;
    EXPECT_EQ(report.certificates[0].subject_cn, certificate["subject_cn"]);
    report.certificates[0].subject_cn = "\xC8";  // not UTF-8: replaced, the document still whole
    EXPECT_EQ("\xEF\xBF\xBD", nlohmann::json::parse(status::json_text(report))["certificates"][0]["subject_cn"]);
}

TEST(StatusTable, MarksDueCertificatesAndTheStateOfEachPart)
{
    status::StatusReport report = healthy();
    report.settings.code = SettingsRead::not_parsed;
    report.settings.taken = false;
    report.settings.holds_cleaning = true;
    report.settings.reason = "unrecognised option 'x'";
    report.certificates[0].days_left = 3;
    const std::string table = status::table_text(report);
    EXPECT_NE(std::string::npos, table.find("not_taken")) << table;
    EXPECT_NE(std::string::npos, table.find("unrecognised option 'x'")) << table;
    EXPECT_NE(std::string::npos, table.find("\n  !     3  ")) << table;
}

}  // namespace

namespace {

TEST(StatusKeeper, RunningStoppedAndMissingFilesInTheJsonAndTheTable)
{
    status::StatusReport report = healthy();
    report.keeper = {true, true, "running", true, {}};
    EXPECT_EQ(nlohmann::json::parse(R"({"installed": true, "running": true, "state": "running",
                                        "today_files": true, "missing": []})"),
              nlohmann::json::parse(status::json_text(report))["keeper"]);
    EXPECT_NE(std::string::npos, status::table_text(report).find("\nKeeper        running, today's log files ready\n"));

    report.keeper = {true, false, "stopped", false, {"Keyhaven_minimal_10_12_2026.log"}};
    EXPECT_NE(std::string::npos, status::table_text(report).find(
                                     "\nKeeper        NOT RUNNING (stopped), missing: Keyhaven_minimal_10_12_2026.log\n"));
    report.keeper = {false, false, "", false, {"Keyhaven_10_12_2026.log", "Keyhaven_minimal_10_12_2026.log"}};
    EXPECT_TRUE(nlohmann::json::parse(status::json_text(report))["keeper"]["state"].is_null());
    EXPECT_NE(std::string::npos, status::table_text(report).find("\nKeeper        not installed, missing: "));
}

}  // namespace
