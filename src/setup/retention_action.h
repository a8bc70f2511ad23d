#pragma once
// CheckInstall's part for LOG_RETENTION_DAYS (retention_property.h): the
// value is checked, and the days to store go into the private property the
// package's registry row for the keeper writes.

#include <windows.h>
#include <msi.h>

#include <string>

namespace keyhaven {

// The private property holding the days the package stores.
extern const char retention_days_property[];

// False, with refusal set, for a value the package refuses; otherwise sets
// retention_days_property and logs what will be stored and why.
bool settle_retention_days(MSIHANDLE install, std::string& refusal);

}  // namespace keyhaven
