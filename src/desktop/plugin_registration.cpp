#include "desktop/desktop_chores.h"
#include "desktop/plugin_security.h"
#include "desktop/plugin_trust.h"

#include "core/timing.h"
#include "diag/log.h"
#include "diag/owned.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shellapi.h>

#include <string>

namespace {

const char registration_tool[] = "C:/Windows/System32/regsvr32.exe";
const char plugin_folder[] = "C:/nivra/";
const DWORD pause_between_launches_ms = 4000;

// Starts regsvr32 without waiting for it: a result above 32 says only that
// the tool was started, not what it then did.
bool launch_registration_tool(const std::string& parameters)
{
    HINSTANCE result = ShellExecuteA(nullptr, "open", registration_tool, parameters.c_str(), nullptr, SW_HIDE);
    return static_cast<int>(reinterpret_cast<INT_PTR>(result)) > 32;
}

std::string sid_text(PSID sid)
{
    LocalMemory text;
    if (!sid || !ConvertSidToStringSidA(sid, reinterpret_cast<LPSTR*>(text.put())))
        return std::string();
    return static_cast<const char*>(text.get());
}

plugin_trust::AccessEntry entry_of(const ACE_HEADER* header)
{
    plugin_trust::AccessEntry entry{plugin_trust::AccessEntry::other, std::string(), 0, false};
    entry.inherit_only = (header->AceFlags & INHERIT_ONLY_ACE) != 0;
    if (header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_DENIED_ACE_TYPE) {
        // Both records have the same layout: header, mask, SID.
        const ACCESS_ALLOWED_ACE* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
        entry.kind = header->AceType == ACCESS_ALLOWED_ACE_TYPE ? plugin_trust::AccessEntry::allowed
                                                                : plugin_trust::AccessEntry::denied;
        entry.mask = ace->Mask;
        entry.sid = sid_text(const_cast<DWORD*>(&ace->SidStart));
    }
    return entry;
}

// Whether the plug-in file as Windows evaluates it (inherited entries
// included) may be registered; on false, its WARNING line is written.
bool plugin_may_be_registered(const std::string& dll)
{
    const std::string path = plugin_folder + dll;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    LocalMemory descriptor;
    const DWORD error = GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT,
                                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                                              &dacl, nullptr, descriptor.put());
    if (error != ERROR_SUCCESS) {
        log_write(WARNING, "plugin dll %s: its security cannot be read (error 0x%08X), it may be changed by other "
                           "users of this computer, not registered", path.c_str(), static_cast<unsigned>(error));
        return false;
    }
    if (!plugin_security_allows_registration(descriptor.get(), current_user_sid())) {
        log_write(WARNING, "plugin dll %s can be changed by other users of this computer, not registered",
                  path.c_str());
        return false;
    }
    return true;
}

}  // namespace

std::string current_user_sid()
{
    KernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()))
        return std::string();
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } info;
    DWORD length = 0;
    if (!GetTokenInformation(token.get(), TokenUser, &info, sizeof info, &length))
        return std::string();
    return sid_text(info.user.User.Sid);
}

bool plugin_security_allows_registration(PSECURITY_DESCRIPTOR descriptor, const std::string& current_user)
{
    if (!descriptor || !IsValidSecurityDescriptor(descriptor))
        return false;
    plugin_trust::FileSecurity security{std::string(), false, {}};
    PSID owner = nullptr;
    BOOL owner_defaulted = FALSE;
    BOOL present = FALSE;
    BOOL dacl_defaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &owner_defaulted) ||
        !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &dacl_defaulted))
        return false;
    security.owner = sid_text(owner);
    // No DACL at all, like a null one, leaves the file open to everyone.
    security.has_dacl = present && dacl;
    for (DWORD i = 0; security.has_dacl && i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace))
            return false;
        security.dacl.push_back(entry_of(static_cast<const ACE_HEADER*>(ace)));
    }
    return plugin_trust::only_trusted_can_change(security, current_user);
}

void reregister_plugin_dll()
{
    const std::string dll = "dererarizoduz.dll";
    if (!plugin_may_be_registered(dll))
        return;
    if (!launch_registration_tool("/u /s " + std::string(plugin_folder) + dll)) {
        log_write(ERROR, "error unregister plugin dll");
        return;
    }
    log_write(INFO, "plugin dll unregistered successful");

    // The only ordering between the two tool processes.
    Sleep(timing_ms(pause_between_launches_ms));

    if (launch_registration_tool("/s " + std::string(plugin_folder) + dll))
        log_write(INFO, "plugin dll registered successful");
    else
        log_write(ERROR, "error register plugin dll");
}
