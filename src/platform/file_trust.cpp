#include "platform/file_trust.h"

namespace keyhaven {

namespace file_trust {

namespace {

const char everyone[] = "S-1-1-0";
const char owner_rights[] = "S-1-3-4";
const char local_system[] = "S-1-5-18";
const char administrators[] = "S-1-5-32-544";
const char trusted_installer[] = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
const char* const trusted_groups[] = {
    local_system, administrators, trusted_installer, owner_rights,
};

// Calls grant(entry, what it grants beyond what Everyone was denied before
// it) for each allowed entry that applies to the file itself, in DACL order,
// while grant returns true. False when grant refuses one, or when an entry
// cannot be read.
template <typename Grant>
bool every_grant(const FileSecurity& security, Grant grant)
{
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
        if (!grant(entry, entry.mask & ~denied_to_everyone))
            return false;
    }
    return true;
}

}  // namespace

bool owner_is_trusted(const std::string& owner, const std::string& current_user)
{
    return owner != owner_rights && is_trusted(owner, current_user);
}

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
    return every_grant(security, [&](const AccessEntry& entry, unsigned long granted) {
        return is_trusted(entry.sid, current_user) || (granted & changing) == 0;
    });
}

bool log_file_keeps_lines_private(const FileSecurity& security, const std::string& current_user)
{
    if (security.owner.empty() || security.owner == owner_rights || !security.has_dacl)
        return false;
    const bool owner_trusted = is_trusted(security.owner, current_user);
    // Any entry for OWNER RIGHTS, a deny entry too, takes the owner's
    // implicit rights (to read and re-permission the file) away.
    bool owner_capped = false;
    for (const AccessEntry& entry : security.dacl)
        owner_capped = owner_capped || (!entry.inherit_only && entry.sid == owner_rights);
    const bool lines_private = every_grant(security, [&](const AccessEntry& entry, unsigned long granted) {
        const bool trusted = entry.sid == owner_rights ? owner_trusted : is_trusted(entry.sid, current_user);
        return trusted || (granted & (changing_rights | reading_rights)) == 0;
    });
    return lines_private && (owner_trusted || owner_capped);
}

namespace {

bool system_or_administrators(const std::string& sid)
{
    return sid == local_system || sid == administrators;
}

}  // namespace

bool folder_is_packages(const FileSecurity& folder)
{
    if (!system_or_administrators(folder.owner) || !folder.has_dacl)
        return false;
    return every_grant(folder, [&](const AccessEntry& entry, unsigned long granted) {
        return system_or_administrators(entry.sid) || entry.sid == owner_rights ||
               (granted & folder_keeping_rights) == 0;
    });
}

bool folder_fit_for_package(const FileSecurity& folder, const std::string& installing_account)
{
    const bool owner_fit = system_or_administrators(folder.owner) ||
                           (!installing_account.empty() && folder.owner == installing_account);
    return owner_fit && only_trusted_can_change(folder, installing_account, folder_keeping_rights);
}

bool made_by_system(const std::string& owner)
{
    return system_or_administrators(owner);
}

bool made_by_system_or_servicing(const std::string& owner)
{
    return system_or_administrators(owner) || owner == trusted_installer;
}

}  // namespace file_trust

}  // namespace keyhaven
