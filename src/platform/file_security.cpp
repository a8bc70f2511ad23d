#include "platform/file_security.h"

#include "platform/owned.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstdio>

namespace keyhaven {

namespace {

std::string sid_text(PSID sid)
{
    LocalMemory text;
    if (!sid || !ConvertSidToStringSidA(sid, reinterpret_cast<LPSTR*>(text.put())))
        return std::string();
    return static_cast<const char*>(text.get());
}

file_trust::AccessEntry entry_of(const ACE_HEADER* header)
{
    file_trust::AccessEntry entry{file_trust::AccessEntry::other, std::string(), 0, false};
    entry.inherit_only = (header->AceFlags & INHERIT_ONLY_ACE) != 0;
    if (header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_DENIED_ACE_TYPE) {
        // Both records have the same layout: header, mask, SID.
        const ACCESS_ALLOWED_ACE* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
        entry.kind = header->AceType == ACCESS_ALLOWED_ACE_TYPE ? file_trust::AccessEntry::allowed
                                                                : file_trust::AccessEntry::denied;
        entry.mask = ace->Mask;
        entry.sid = sid_text(const_cast<DWORD*>(&ace->SidStart));
    }
    return entry;
}

}  // namespace

namespace {

std::string sid_of_process_user()
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

}  // namespace

const std::string& current_user_sid()
{
    static const std::string sid = sid_of_process_user();
    return sid;
}

FileShape shape_of(HANDLE file)
{
    FileShape shape = {false, false, false, 0, 0};
    FILE_STANDARD_INFO standard = {};
    FILE_ATTRIBUTE_TAG_INFO kind = {};
    if (!GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard) ||
        !GetFileInformationByHandleEx(file, FileAttributeTagInfo, &kind, sizeof kind))
        return shape;
    shape.read = true;
    shape.reparse_point = (kind.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    shape.folder = standard.Directory || (kind.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    shape.links = standard.NumberOfLinks;
    shape.size = static_cast<unsigned long long>(standard.EndOfFile.QuadPart);
    return shape;
}

bool is_plain(const FileShape& shape)
{
    return shape.read && !shape.reparse_point && !shape.folder && shape.links == 1;
}

bool security_of_descriptor(PSECURITY_DESCRIPTOR descriptor, file_trust::FileSecurity& security)
{
    security = file_trust::FileSecurity{std::string(), false, {}};
    if (!descriptor || !IsValidSecurityDescriptor(descriptor))
        return false;
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
    return true;
}

DWORD read_handle_security(HANDLE file, file_trust::FileSecurity& security)
{
    PSID owner = nullptr;
    PACL dacl = nullptr;
    LocalMemory descriptor;
    const DWORD error = GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                        &owner, nullptr, &dacl, nullptr, descriptor.put());
    if (error != ERROR_SUCCESS)
        return error;
    return security_of_descriptor(descriptor.get(), security) ? ERROR_SUCCESS : ERROR_INVALID_SECURITY_DESCR;
}

DWORD read_file_security(const std::string& path, file_trust::FileSecurity& security)
{
    const FileHandle file(CreateFileA(path.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.held()) {
        const DWORD error = GetLastError();
        return error ? error : ERROR_GEN_FAILURE;
    }
    return read_handle_security(file.get(), security);
}

bool open_file_trusted(HANDLE file, unsigned long changing, std::string& reason)
{
    const FileShape shape = shape_of(file);
    if (!shape.read) {
        reason = with_error("its kind cannot be read", GetLastError());
        return false;
    }
    if (shape.links != 1 || shape.reparse_point) {
        reason = "it is a link to another file";
        return false;
    }
    file_trust::FileSecurity security;
    if (const DWORD error = read_handle_security(file, security); error != ERROR_SUCCESS) {
        reason = with_error("its security cannot be read", error);
        return false;
    }
    const std::string& me = current_user_sid();
    if (!file_trust::owner_is_trusted(security.owner, me)) {
        reason = "its owner " + security.owner + " is not SYSTEM, Administrators, TrustedInstaller or this user";
        return false;
    }
    if (!file_trust::only_trusted_can_change(security, me, changing)) {
        reason = "other users of this computer may change it";
        return false;
    }
    return true;
}

}  // namespace keyhaven
