#include "diag/file_trust.h"

namespace file_trust {

namespace {

const char everyone[] = "S-1-1-0";
const char owner_rights[] = "S-1-3-4";
const char* const trusted_groups[] = {
    "S-1-5-18",      // SYSTEM
    "S-1-5-32-544",  // Administrators
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",  // TrustedInstaller
    "S-1-3-4",       // OWNER RIGHTS
};

}  // namespace

bool is_trusted(const std::string& sid, const std::string& current_user)
{
    for (const char* group : trusted_groups)
        if (sid == group)
            return true;
    return !current_user.empty() && sid == current_user;
}

bool only_trusted_can_change(const FileSecurity& security, const std::string& current_user, unsigned long changing)
{
    if (security.owner == owner_rights || !is_trusted(security.owner, current_user) || !security.has_dacl)
        return false;
    unsigned long denied_to_everyone = 0;
    for (const AccessEntry& entry : security.dacl) {
        if (entry.inherit_only)
            continue;
        if (entry.kind == AccessEntry::other)
            return false;
        if (entry.kind == AccessEntry::denied) {
            if (entry.sid == everyone)
                denied_to_everyone |= entry.mask;
            continue;
        }
        if (!is_trusted(entry.sid, current_user) && (entry.mask & changing & ~denied_to_everyone) != 0)
            return false;
    }
    return true;
}

bool log_file_keeps_lines_private(const FileSecurity& security, const std::string& current_user)
{
    if (security.owner.empty() || security.owner == owner_rights || !security.has_dacl)
        return false;
    const bool owner_trusted = is_trusted(security.owner, current_user);
    bool owner_capped = false;
    unsigned long denied_to_everyone = 0;
    for (const AccessEntry& entry : security.dacl) {
        if (entry.inherit_only)
            continue;
        if (entry.kind == AccessEntry::other)
            return false;
        const bool for_owner = entry.sid == owner_rights;
        // A deny entry for OWNER RIGHTS takes the implicit rights away too.
        owner_capped = owner_capped || for_owner;
        if (entry.kind == AccessEntry::denied) {
            if (entry.sid == everyone)
                denied_to_everyone |= entry.mask;
            continue;
        }
        const bool trusted = for_owner ? owner_trusted : is_trusted(entry.sid, current_user);
        if (!trusted && (entry.mask & (changing_rights | reading_rights) & ~denied_to_everyone) != 0)
            return false;
    }
    return owner_trusted || owner_capped;
}

}  // namespace file_trust
