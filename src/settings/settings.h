#pragma once
// The four switches of the agent, read from "Keyhaven.ini" in the data folder.
// Every consumer compares a field with 1: any other value means "off".

#include "diag/repeated_failure.h"

#include <string>

struct Settings {
    int mark_default;
    int ignore_cards;
    int clean_storage;
    int init_plugin;
};

// Written only by read_settings, on the main thread; read in place elsewhere.
extern Settings settings;

enum : int {
    settings_unchanged = 0,
    settings_changed = 300,
    settings_not_opened = 301,      // the file is not there at all
    settings_not_parsed = 302,      // read, but rejected by the parser
    settings_not_trusted = 303,     // someone besides the trusted principals may change it
    settings_not_readable = 304,    // it is there but cannot be opened or read
    settings_no_data_folder = 305,  // something stands at the data folder's place, and no file in the current folder
};

// True for the codes of a file whose values were taken (0 and 300).
bool settings_taken(int code);

// The core of the reader, for every program that reads a settings file:
// neither logs nor creates folders. Takes the file at path into target only
// when its owner and security pass the trust rule with appending counted as a
// change. Returns settings_unchanged / settings_changed when taken;
// settings_not_opened only when the file is truly missing; otherwise
// settings_not_parsed (reason: the parser's message), settings_not_trusted or
// settings_not_readable (reason: a short text), leaving target untouched.
int load_settings_file(const std::string& path, Settings& target, std::string& reason);

// Reads data_directory() + file_name into settings. The codes of
// load_settings_file, with settings_no_data_folder when a file or a reparse
// point stands at the data folder's place and there is no file_name in the
// current folder either (a folder that cannot be made is settings_not_opened).
// A failure's line (the parser's message for 302; a WARNING naming the file
// and the reason for 303 and 304) is written when it starts or changes, again
// after reminder_ms while it lasts, and an INFO line when it ends.
int read_settings(std::string file_name, unsigned long reminder_ms = failure_reminder_ms);
