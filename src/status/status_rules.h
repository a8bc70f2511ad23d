#pragma once
// keyhaven-status: what it reports, as plain records, and the rules that
// turn what it found into days left and an exit status. No Windows header:
// the probes fill the records, the output files print them.
//
// Every text in these records is UTF-8; an empty text is "not known".

#include "crypt_utils/expiry_rules.h"
#include "crypt_utils/removed_index.h"
#include "settings/settings.h"
#include "status/keeper_probe.h"

#include <cstddef>
#include <string>
#include <vector>

namespace keyhaven {

namespace status {

// --- command line -------------------------------------------------------------

struct Options {
    bool json = false;
    bool all = false;   // every certificate in "My", not only those of type 75 containers
    bool help = false;
    int warn_days = 30;  // the expiry horizon
    int removed_days = 30;  // how far back removed[] goes
};

constexpr int max_warn_days = 36500;

// False with one line (no line end) in error for an option it does not know,
// a missing or bad number, or a stray argument.
bool parse_options(const std::vector<std::string>& arguments, Options& options, std::string& error);

std::string help_text();

// --- what is reported -----------------------------------------------------------

struct AgentReport {
    bool running = false;
    std::string version;
    std::string path;
    std::string source;  // "installed" (the Run value) or "running" (the process found)
};

struct SettingsReport {
    std::string file;
    SettingsRead code = SettingsRead::not_opened;  // as the settings reader returned it
    bool taken = false;
    std::string reason;
    Settings values;
    bool holds_cleaning = false;  // an agent starting now would not clean the store
};

// "missing", "read" or "not_taken" (the file is there but the agent does not take it).
const char* settings_state(const SettingsReport& settings);

// Only this much of the end of the log is read; its ERROR lines are counted.
constexpr unsigned long long log_tail_mib = 4;

struct LogReport {
    std::string file;
    std::string last_written_at;  // empty when the file is not there
    bool readable = false;        // errors and last_error mean something only then
    long long errors = 0;
    std::string last_error;
    bool tail_only = false;  // errors counted in the last log_tail_mib MiB only
    std::string reason;      // why a file that is there was not read
};

struct UtcTime {
    int year, month, day, hour, minute, second;
};

struct CertificateReport {
    std::string subject_cn;
    std::string issuer_cn;
    std::string serial;
    std::string thumbprint;
    std::string not_after;
    int days_left = 0;
    bool expired = false;
    std::string container;  // empty: no key link
};

// A certificate cleaning removed for this user, from the index beside the copies.
struct RemovedReport {
    std::string subject_cn;
    std::string issuer_cn;
    std::string serial;
    std::string thumbprint;
    std::string removed_at;
    bool back_with_carrier = false;  // linked to a GOST container: the agent imports it again
    std::string file;                // the copy to restore from
};

// The GOST provider (type 75) as CryptAcquireContext would find it, looked
// at without loading it.
struct ProviderReport {
    bool installed = false;
    std::string name;
    std::string default_from;  // "user" or "machine"
    std::string image;         // the image file, expanded and looked for
    std::string problem;       // why it is not installed; empty when it is
};

struct Problem {
    int exit_status;
    std::string text;
};

struct StatusReport {
    int warn_days = 30;
    int removed_days = 30;
    AgentReport agent;
    ProviderReport provider;
    SettingsReport settings;
    LogReport log;
    KeeperReport keeper;
    std::vector<CertificateReport> certificates;
    std::vector<RemovedReport> removed;
};

// --- rules ----------------------------------------------------------------------

enum : int {
    exit_healthy = 0,
    exit_no_agent = 1,
    exit_certificate_due = 2,
    exit_settings_not_taken = 3,
    exit_no_provider = 4,
    exit_keeper_stopped = 5,
    exit_bad_option = 64,
};

// The exit statuses from the most to the least urgent.
constexpr int exit_order[] = {exit_no_agent, exit_no_provider, exit_settings_not_taken, exit_keeper_stopped,
                              exit_certificate_due};

// Whole calendar days from today to the expiry date, both UTC, as the agent
// counts them; once expired never 0 or more, so a negative count always
// means expired.
int days_left(const UtcTime& now, const UtcTime& not_after, bool expired);

bool certificate_due(const CertificateReport& certificate, int warn_days);

// Every problem the report shows, most urgent first (exit_order), each
// certificate due its own entry.
std::vector<Problem> problems(const StatusReport& report);

// The first problem's exit status; exit_healthy without one.
int exit_status(const StatusReport& report);

// Whether a removal at removed_at lies within days of today (UTC dates).
bool removed_within(const std::string& removed_at, const UtcTime& now, int days);

// "2027-01-05T00:00:00Z"
std::string iso_utc(const UtcTime& time);

using crypt_utils::hex_digits;

// The program of a Run value's command line: the quoted part, or up to the
// end of the first ".exe" when unquoted.
std::string program_of_command(const std::string& command);

// A UTF-8 text read from a file, the store or a certificate as the report
// may print it: control characters escaped as the log escapes names
// ("\x1B"), and the C1 controls (U+0080 to U+009F), which some terminals
// obey too, as "\u009B". No byte then moves a console's cursor or colours.
std::string printable(const std::string& text);

// Counts the ERROR lines of a log file fed in pieces of any size, keeping
// the last one (without its line end); memory stays bounded whatever the
// file holds.
class ErrorLines {
public:
    void feed(const char* data, std::size_t size);
    // For a read that starts inside the file: the piece of a line before the
    // first line end is not counted.
    void skip_to_next_line() { skipping_ = true; }
    void finish();
    long long count() const { return count_; }
    const std::string& last() const { return last_; }

private:
    void end_line();
    std::string line_;
    long long count_ = 0;
    std::string last_;
    bool skipping_ = false;
};

}  // namespace status

}  // namespace keyhaven
