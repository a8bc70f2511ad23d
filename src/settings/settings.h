#pragma once
// The four switches of the agent, read from "Keyhaven.ini" in the data folder.
// Every consumer compares a field with 1: any other value means "off".

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
    settings_not_opened = 301,
    settings_not_parsed = 302,
};

// Reads data_directory() + file_name. 0 or 300 on success (300: some field
// changed); 301 when the file cannot be opened, 302 when it cannot be parsed
// (logged). On failure no field changes.
int read_settings(std::string file_name);
