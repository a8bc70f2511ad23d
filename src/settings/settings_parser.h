#pragma once
// The settings file format as Boost.Program_options reads it, apart from the
// file access: kept separate so it can be driven from memory.

#include "settings/settings.h"

#include <string>

namespace keyhaven {

// Parses text into target. Returns unchanged or changed after a complete
// read; not_parsed with the library's message in error otherwise, leaving
// target untouched.
[[nodiscard]] SettingsRead parse_settings_text(const std::string& text, Settings& target, std::string& error);

// Boost 1.74 reads before the start of an empty string on a section line
// "[]". Such a line means the prefix ".", which "[.]" says without that read.
std::string guard_empty_sections(const std::string& text);

}  // namespace keyhaven
