#pragma once
// Stand-ins for two routines other branches are adding, with their final
// signatures, so keyhaven-status builds now: the data folder without
// creating it, and the settings file read from a path without a log line.
// Replaced by diag/data_directory.h and settings/settings.h once those land.

#include "settings/settings.h"

#include <string>

// "c:\nivra\" only when it exists as a real folder; never creates it.
std::string existing_data_directory();

// Reads the file at path into target. settings_unchanged or settings_changed
// when taken; settings_not_opened only when the file is missing; otherwise a
// code the agent does not take, with the reason in reason.
int load_settings_file(const std::string& path, Settings& target, std::string& reason);

bool settings_taken(int code);
