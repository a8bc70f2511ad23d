#include "status/status_rules.h"

#include "diag/log_line.h"
#include "diag/log.h"

#include <cstdio>

namespace keyhaven {

namespace status {

namespace {

const char warn_days_option[] = "--warn-days";
const char removed_days_option[] = "--removed-days";

bool parse_days(const std::string& text, int& days)
{
    if (text.empty() || text.size() > 5)
        return false;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    if (value > max_warn_days)
        return false;
    days = value;
    return true;
}

std::string bad_days(const char* option, const std::string& given)
{
    return std::string(option) + " takes a number of days from 0 to " + std::to_string(max_warn_days) +
           (given.empty() ? std::string() : ", not '" + given + "'");
}

}  // namespace

bool parse_options(const std::vector<std::string>& arguments, Options& options, std::string& error)
{
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--json") {
            options.json = true;
        } else if (argument == "--all") {
            options.all = true;
        } else if (argument == "--help" || argument == "-h" || argument == "/?") {
            options.help = true;
        } else if (argument == warn_days_option || argument == removed_days_option) {
            const char* option = argument == warn_days_option ? warn_days_option : removed_days_option;
            int& days = argument == warn_days_option ? options.warn_days : options.removed_days;
            if (i + 1 == arguments.size() || !parse_days(arguments[i + 1], days)) {
                error = bad_days(option, i + 1 < arguments.size() ? arguments[i + 1] : std::string());
                return false;
            }
            ++i;
        } else if (argument.compare(0, sizeof warn_days_option, std::string(warn_days_option) + "=") == 0 ||
                   argument.compare(0, sizeof removed_days_option, std::string(removed_days_option) + "=") == 0) {
            const bool warn = argument.compare(0, sizeof warn_days_option, std::string(warn_days_option) + "=") == 0;
            const std::string value = argument.substr(warn ? sizeof warn_days_option : sizeof removed_days_option);
            if (!parse_days(value, warn ? options.warn_days : options.removed_days)) {
                error = bad_days(warn ? warn_days_option : removed_days_option, value);
                return false;
            }
        } else {
            error = (argument.size() > 1 && (argument[0] == '-' || argument[0] == '/') ? "unknown option '"
                                                                                        : "unexpected argument '") +
                    argument + "' (keyhaven-status --help lists the options)";
            return false;
        }
    }
    return true;
}

std::string help_text()
{
    return "keyhaven-status: is the Keyhaven agent healthy in this session, and which certificates expire.\n"
           "It only reads: it writes no log line and creates nothing, never waits on the agent,\n"
           "never loads or calls the GOST provider and never talks to a card.\n"
           "\n"
           "Usage: keyhaven-status [--json] [--all] [--warn-days N] [--removed-days N]\n"
           "\n"
           "  --json          one JSON document (UTF-8, no byte-order mark) instead of the table:\n"
           "                  agent {running, version, path, source},\n"
           "                  provider {installed, name, default_from, image, problem},\n"
           "                  settings {state, reason, file, code, mark_default, ignore_cards,\n"
           "                            clean_storage, init_plugin, holds_cleaning},\n"
           "                  log {file, last_written_at, errors, last_error, counted, reason},\n"
           "                  certificates [{subject_cn, issuer_cn, serial, thumbprint, not_after,\n"
           "                                 days_left, expired, container}], warn_days,\n"
           "                  removed [{subject_cn, issuer_cn, serial, thumbprint, removed_at,\n"
           "                            back_with_carrier, file}], removed_days,\n"
           "                  problems [{exit_status, text}]\n"
           "  --all           every certificate in the user's store \"My\", not only those linked\n"
           "                  to a container of the GOST provider (type 75)\n"
           "  --warn-days N   the expiry horizon in days, 0 to 36500 (default 30)\n"
           "  --removed-days N  how many days back removed lists, 0 to 36500 (default 30)\n"
           "  --help          this text\n"
           "\n"
           "Reported for the user who runs it, in that user's session:\n"
           "  agent         whether the installed keyhaven.exe (the package's Run value) runs in this\n"
           "                session, else any keyhaven.exe; its version and path\n"
           "  settings      how the agent takes c:\\nivra\\Keyhaven.ini: missing, read, or not_taken with\n"
           "                the reason; the four values it gives (defaults otherwise); whether an agent\n"
           "                starting now would hold cleaning because the file is there but not taken\n"
           "  log           today's full log file and when it was last written; where this user may\n"
           "                read it, how many ERROR lines its last 4 MiB hold and the last one (null,\n"
           "                with the reason, for a file not read: a link, a second name, no right)\n"
           "  certificates  subject and issuer common names, serial and SHA-1 thumbprint (uppercase\n"
           "                hexadecimal, most significant byte first), NotAfter (UTC), whole days left\n"
           "                (negative once expired) and the linked container\n"
           "  provider      the default provider of type 75 (the user's, else the machine's), its\n"
           "                registration and image file, or which of them is missing\n"
           "  removed       certificates the agent's cleaning removed for this user, newest first,\n"
           "                whether they come back with their carrier, and the copy to restore from\n"
           "  problems      every problem found, each with its exit status\n"
           "\n"
           "Exit status, the first that applies:\n"
           "  1   no agent runs in this session, or it was run in session 0 (as a service)\n"
           "  4   no GOST provider of type 75 is installed\n"
           "  3   the settings file is there but the agent does not take it\n"
           "  5   the keeper service is installed but does not run\n"
           "  2   a listed certificate has expired or expires within the horizon\n"
           "  0   otherwise\n"
           "  64  a bad option (one line on standard error)\n"
           "\n"
           "It cannot see other users' sessions and stores, nor certificates on a carrier that was\n"
           "never inserted here.\n";
}

const char* settings_state(const SettingsReport& settings)
{
    if (settings.taken)
        return "read";
    const bool missing = settings.code == SettingsRead::not_opened || settings.code == SettingsRead::no_data_folder;
    return missing ? "missing" : "not_taken";
}

int days_left(const UtcTime& now, const UtcTime& not_after, bool expired)
{
    const int days = expiry::days_between({now.year, now.month, now.day},
                                          {not_after.year, not_after.month, not_after.day});
    return expired && days >= 0 ? -1 : days;
}

bool certificate_due(const CertificateReport& certificate, int warn_days)
{
    return certificate.expired || certificate.days_left <= warn_days;
}

std::vector<Problem> problems(const StatusReport& report)
{
    std::vector<Problem> found;
    if (!report.agent.running)
        found.push_back({exit_no_agent, "no agent runs in this session"});
    if (!report.provider.installed)
        found.push_back({exit_no_provider, "no GOST provider (type 75): " + report.provider.problem});
    if (std::string(settings_state(report.settings)) == "not_taken")
        found.push_back({exit_settings_not_taken, "the agent does not take the settings file " + report.settings.file +
                                                      (report.settings.reason.empty() ? "" : ": " + report.settings.reason)});
    // Under the package only the keeper makes the day's files: stopped, it
    // leaves every agent without a log from the next midnight on.
    if (report.keeper.installed && !report.keeper.running)
        found.push_back({exit_keeper_stopped, "the keeper service is installed but not running (" +
                                                  report.keeper.state + "): agents cannot make the day's log files"});
    for (const auto& certificate : report.certificates)
        if (certificate_due(certificate, report.warn_days))
            found.push_back({exit_certificate_due,
                             "certificate " + certificate.serial + " (" + certificate.subject_cn + ") " +
                                 (certificate.expired ? "has expired" : "expires " + certificate.not_after)});
    std::vector<Problem> ordered;
    for (int status : exit_order)
        for (const Problem& problem : found)
            if (problem.exit_status == status)
                ordered.push_back(problem);
    return ordered;
}

int exit_status(const StatusReport& report)
{
    const std::vector<Problem> found = problems(report);
    return found.empty() ? exit_healthy : found.front().exit_status;
}

bool removed_within(const std::string& removed_at, const UtcTime& now, int days)
{
    crypt_utils::RemovedCopy copy;
    copy.removed_at = removed_at;
    expiry::CalendarDate date{};
    return crypt_utils::removed_on(copy, date) &&
           expiry::days_between(date, {now.year, now.month, now.day}) <= days;
}

std::string iso_utc(const UtcTime& time)
{
    char text[32] = {};
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", time.year, time.month, time.day, time.hour,
                  time.minute, time.second);
    return text;
}

std::string program_of_command(const std::string& command)
{
    const std::size_t start = command.find_first_not_of(" \t");
    if (start == std::string::npos)
        return std::string();
    if (command[start] == '"') {
        const std::size_t end = command.find('"', start + 1);
        return end == std::string::npos ? std::string() : command.substr(start + 1, end - start - 1);
    }
    std::string lower = command;
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    const std::size_t exe = lower.find(".exe", start);
    if (exe != std::string::npos)
        return command.substr(start, exe + 4 - start);
    return command.substr(start, command.find_first_of(" \t", start) - start);
}

std::string printable(const std::string& text)
{
    static const char digits[] = "0123456789ABCDEF";
    const std::string escaped = log_line::escaped_name(text);
    std::string shown;
    shown.reserve(escaped.size());
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(escaped[i]);
        const unsigned char next = i + 1 < escaped.size() ? static_cast<unsigned char>(escaped[i + 1]) : 0;
        if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {
            shown += "\\u00";
            shown += digits[next >> 4];
            shown += digits[next & 0x0F];
            ++i;
        } else {
            shown += escaped[i];
        }
    }
    return shown;
}

void ErrorLines::feed(const char* data, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) {
        if (skipping_) {
            skipping_ = data[i] != '\n';
        } else if (data[i] == '\n') {
            end_line();
        } else if (line_.size() < log_line::line_buffer_size) {
            // The agent writes no longer line; whatever is longer is cut here.
            line_ += data[i];
        }
    }
}

void ErrorLines::finish()
{
    if (!line_.empty())
        end_line();
}

void ErrorLines::end_line()
{
    if (!line_.empty() && line_.back() == '\r')
        line_.pop_back();
    if (line_.size() >= log_line::stamp_length + log_line::label_length &&
        line_.compare(log_line::stamp_length, log_line::label_length, log_line::label_for(LogLevel::error)) == 0) {
        ++count_;
        last_ = line_;
    }
    line_.clear();
}

}  // namespace status

}  // namespace keyhaven
