#pragma once
// The agent's main loop: about once a second, unless libKestrel holds the
// provider, take the provider lock, re-read the settings and count the
// carriers; on a change, enumerate the containers, clean the personal store
// and import the certificates of the new ones.

#include "carriers/census.h"
#include "core/cleaning_hold.h"
#include "diag/repeated_failure.h"
#include "settings/settings.h"

#include <string>
#include <vector>

namespace keyhaven {

// What the cycle keeps from one turn to the next, for the process's life.
struct PollingState {
    Settings settings;  // as the last read left them
    CarrierCensus census;
    std::vector<std::string> known_containers;    // names of the last enumeration
    std::vector<std::string> current_containers;  // filled by each enumeration
    CleaningHold cleaning_hold;                   // until settings are taken
    // How often a failure repeating on every turn is logged again; the cycle
    // passes the product's hour through the timing seam once.
    unsigned long failure_reminder_ms = keyhaven::failure_reminder_ms;
};

// Takes up a settings read's status: one WARNING when it starts holding the
// cleaning, one INFO line when that ends.
void hold_cleaning_by_settings_read(CleaningHold& hold, SettingsRead code);

// One turn, its closing pause included.
void run_polling_turn(PollingState& state);

// Logs the start and runs turns for ever, from the settings and the hold
// start-up's read left.
void run_polling_cycle(const Settings& settings, const CleaningHold& hold);

}  // namespace keyhaven
