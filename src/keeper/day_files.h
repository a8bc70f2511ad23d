#pragma once
// Which files in the data folder are day logs, which of them the keeper
// makes, and which are old enough to go: names and dates only, no I/O.

#include "crypt_utils/expiry_rules.h"

#include <string>
#include <vector>

namespace keyhaven {

namespace day_files {

using Date = expiry::CalendarDate;

// The day after date, across months and years.
Date next_day(const Date& date);

// The two files (full, minimal) the agents write into on date, named as
// the agent's log names them.
std::vector<std::string> day_log_names(const Date& date);

// Today's and tomorrow's: the four files the keeper keeps ready.
std::vector<std::string> names_to_keep_ready(const Date& today);

// The date a day-log name carries ("Keyhaven_DD_MM_YYYY.log" or
// "Keyhaven_minimal_DD_MM_YYYY.log", exactly, a real calendar date); false
// for every other name, so nothing else in the folder is ever touched.
bool date_of_day_log(const std::string& name, Date& date);

// LOG_RETENTION_DAYS: 0 keeps every day log, otherwise at most this.
constexpr unsigned long largest_retention_days = 3650;

// Whether a day log of date is to be removed on today with retention_days:
// only when it lies more than retention_days whole days before today. 0, or
// a value past largest_retention_days (never stored by the package), keeps
// everything, and so does a date after today (a clock set back).
bool is_expired(const Date& date, const Date& today, unsigned long retention_days);

// Whether a day-log file's owner (a SID string) is one the keeper's own
// files have: SYSTEM, the Administrators, or the account the keeper runs
// as (SYSTEM on Windows). A file of any other owner was made by someone
// else and is left alone.
bool made_by_keeper(const std::string& owner, const std::string& own_account);

}  // namespace day_files

}  // namespace keyhaven
