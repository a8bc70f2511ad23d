#pragma once
// The four switches of the agent, read from "Keyhaven.ini" in the data folder.
// Every consumer compares a field with 1: any other value means "off".

#include "diag/repeated_failure.h"

#include <string>

namespace keyhaven {

// A Settings made without a file holds the defaults: what the agent uses
// until a file is taken, and what a key missing from a file stands for.
struct Settings {
    int mark_default = 0;
    int ignore_cards = 0;
    int clean_storage = 1;
    int init_plugin = 0;

    bool operator==(const Settings&) const = default;
};

// The status of one read; the values are the numbers the log writes.
enum class [[nodiscard]] SettingsRead : int {
    unchanged = 0,
    changed = 300,
    not_opened = 301,      // the file is not there at all
    not_parsed = 302,      // read, but rejected by the parser
    not_trusted = 303,     // someone besides the trusted principals may change it
    not_readable = 304,    // it is there but cannot be opened or read
    no_data_folder = 305,  // something stands at the data folder's place, and no file in the current folder
};

// True for the statuses of a file whose values were taken (unchanged and changed).
bool settings_taken(SettingsRead code);

// The core of the reader, for every program that reads a settings file:
// neither logs nor creates folders. Takes the file at path into target only
// when its owner and security pass the trust rule with appending counted as a
// change. Returns unchanged / changed when taken; not_opened only when the
// file is truly missing; otherwise not_parsed (reason: the parser's message),
// not_trusted or not_readable (reason: a short text), leaving target untouched.
[[nodiscard]] SettingsRead load_settings_file(const std::string& path, Settings& target, std::string& reason);

// Reads data_directory() + file_name into target, which the caller keeps
// from one read to the next. The statuses of load_settings_file, with
// no_data_folder when a file or a reparse point stands at the data folder's
// place and there is no file_name in the current folder either (a folder that
// cannot be made is not_opened).
// A failure's line (the parser's message for 302; a WARNING naming the file
// and the reason for 303 and 304) is written when it starts or changes, again
// after reminder_ms while it lasts, and an INFO line when it ends.
[[nodiscard]] SettingsRead read_settings(const std::string& file_name, Settings& target,
                                         unsigned long reminder_ms = failure_reminder_ms);

}  // namespace keyhaven
