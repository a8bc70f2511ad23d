#pragma once
// What the package's actions share.

#include <windows.h>
#include <msi.h>

#include <string>

namespace keyhaven {

// One line "Keyhaven: text" in the install log.
void install_log(MSIHANDLE install, const std::string& text);

// A refusal the administrator must see: in the log, and in a box when the
// install shows one.
void log_refusal(MSIHANDLE install, const std::string& text);

// What a deferred or commit action was given when the script was written.
std::string custom_action_data(MSIHANDLE install);

}  // namespace keyhaven
