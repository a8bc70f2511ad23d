#include "setup/retention_action.h"

#include "keeper/day_files.h"
#include "platform/package_names.h"
#include "setup/custom_actions.h"
#include "setup/retention_property.h"

#include <msiquery.h>

#include <vector>

namespace keyhaven {

const char retention_days_property[] = "KeeperRetentionDays";

namespace {

const char given_property[] = "LOG_RETENTION_DAYS";

std::string property(MSIHANDLE install, const char* name)
{
    char value[64] = {};
    DWORD size = sizeof value;
    // A longer value is no valid one either: it reads as "-", which is refused.
    const UINT read = MsiGetPropertyA(install, name, value, &size);
    return read == ERROR_SUCCESS ? value : read == ERROR_MORE_DATA ? "-" : "";
}

StoredRetention stored_retention()
{
    DWORD days = 0;
    DWORD size = sizeof days;
    const bool present = RegGetValueW(HKEY_LOCAL_MACHINE, package_names::keeper::settings_key, package_names::keeper::retention_value,
                                      RRF_RT_REG_DWORD, nullptr, &days, &size) == ERROR_SUCCESS;
    return {present, days};
}

}  // namespace

bool settle_retention_days(MSIHANDLE install, std::string& refusal)
{
    const std::string given = property(install, given_property);
    unsigned long days = 0;
    if (!given.empty() && !retention_text_valid(given, days)) {
        refusal = std::string(given_property) + "=" + given +
                  " is not an integer from 0 to " + std::to_string(day_files::largest_retention_days) +
                  " (days a day log is kept; 0 keeps every log). "
                  "Nothing was installed or changed.";
        return false;
    }
    // An earlier Keyhaven: this product (a repair) or an older one (an upgrade).
    const bool earlier = !property(install, "Installed").empty() || !property(install, "WIX_UPGRADE_DETECTED").empty();
    const StoredRetention stored = stored_retention();
    days = retention_to_store(given, stored, earlier);
    MsiSetPropertyA(install, retention_days_property, std::to_string(days).c_str());
    install_log(install, std::string(given_property) + " to store: " + std::to_string(days) +
                          (given.empty() ? (stored.present ? " (kept as stored)"
                                                           : earlier ? " (an earlier package kept every log)"
                                                                     : " (a new install)")
                                         : " (given)"));
    return true;
}

}  // namespace keyhaven
