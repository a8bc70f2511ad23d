#pragma once
// c:\nivra as the package's deferred actions, which run as SYSTEM on
// Windows, meet it: only a folder the package made or verified, held open
// while they work in it.

#include "platform/owned.h"

#include <windows.h>
#include <msi.h>

#include <string>

namespace keyhaven {

// Holds c:\nivra open (no reparse point followed, no delete sharing) when it
// is a real folder that only SYSTEM, the Administrators and this account
// may change (file_trust::folder_fit_for_package). On false, reason says
// why, and real_folder whether a real folder stands there all the same.
bool hold_verified_folder(FileHandle& folder, std::string& reason, bool* real_folder = nullptr);

// An unpredictable name in the hex digits of 8 random bytes; false when the
// system gives no random bytes.
bool random_suffix(std::string& suffix);

}  // namespace keyhaven
