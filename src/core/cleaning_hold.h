#pragma once
// Cleaning deletes certificates from the user's store, so it acts only on
// settings the agent has read. Until a read is taken, a settings file that is
// there but not taken (rejected, not trusted, unreadable, or no data folder
// to look in) holds it, whatever clean_storage says. A file truly missing
// keeps its old meaning: the defaults, cleaning on. Once a read was taken, a
// later failure keeps the values of that read and holds nothing.

#include "settings/settings.h"

namespace keyhaven {

struct CleaningHold {
    bool settings_taken_once = false;
    bool held = false;  // by the last read's status
};

enum class [[nodiscard]] HoldChange { none, started, ended };

// Takes up one read's status; says whether holding started or ended with it.
HoldChange follow_settings_read(CleaningHold& hold, SettingsRead code);

// Whether the store is cleaned on a carrier change.
bool cleaning_on(const CleaningHold& hold, int clean_storage);

// Why a read status holds cleaning, for the log.
const char* why_settings_hold_cleaning(SettingsRead code);

}  // namespace keyhaven
