#pragma once
// One pass of the keeper over the data folder: today's and tomorrow's day
// files made by SYSTEM with the log's security, expired day logs removed.
// Never through a reparse point or a second link: what stands at a day
// file's name that the keeper did not make is left alone and reported.

#include "keeper/day_files.h"

#include <string>
#include <vector>

namespace keyhaven {

namespace keeper {

// What a pass met that an administrator must hear of. The value is the
// event ID the keeper reports it under in the Application log.
enum Finding : unsigned long {
    folder_unusable = 1,       // the data folder is missing, a link, or cannot be held
    file_not_made = 2,         // a day's file could not be created
    file_left_alone = 3,       // a day file's name holds something the keeper did not make
    old_file_kept = 4,         // an expired day log could not be removed
    retention_unreadable = 5,  // the stored LOG_RETENTION_DAYS cannot be used
    reports_dropped = 6,       // more findings in one pass than are reported one by one
    service_failed = 7,        // the service itself cannot wait or run (keeper_service.cpp)
};

struct Report {
    Finding finding;
    std::string text;
};

struct PassResult {
    std::vector<std::string> made;     // file names
    std::vector<std::string> removed;  // file names
    std::vector<Report> reports;       // at most reports_per_pass
    unsigned long unreported = 0;      // findings past reports_per_pass
};

// A folder full of files the keeper may not touch gives this many reports
// and one that counts the rest (reports_dropped), not an event per file.
constexpr std::size_t reports_per_pass = 20;

// folder ends with a backslash ("c:\nivra\"); today is the local date.
// retention_days as read by read_retention_days (0 keeps every file).
PassResult run_pass(const std::string& folder, const day_files::Date& today, unsigned long retention_days);

// LOG_RETENTION_DAYS as the package stored it for the keeper: 0 (keep every
// file) when none is stored; a value that is not one the package writes is
// reported into result and keeps every file too.
unsigned long read_retention_days(PassResult& result);

}  // namespace keeper

}  // namespace keyhaven
