#pragma once
// Whether a file another user of this computer could have planted or changed
// may be trusted: only when nobody but SYSTEM, the Administrators,
// TrustedInstaller or the user whose agent this is could have changed it.
// What the agent then does with it (run it through regsvr32, take settings
// from it) runs with this user's rights, an administrator's too. No Windows
// header here: a file's security arrives as SID strings and access masks.

#include <string>
#include <vector>

namespace keyhaven {

namespace file_trust {

// One entry of a file's DACL, in DACL order.
struct AccessEntry {
    enum Kind { allowed, denied, other } kind;  // other: an entry this rule cannot read
    std::string sid;                            // "S-1-5-18"
    unsigned long mask;
    bool inherit_only;  // applies to what the folder holds, not to the file
};

struct FileSecurity {
    std::string owner;
    bool has_dacl;  // false: a null DACL, which grants everyone everything
    std::vector<AccessEntry> dacl;
};

// What lets a principal put files into a folder or change it: add a file, add
// a subfolder, delete what it holds, delete it, write DAC, write owner,
// generic write, generic all. A library planted beside a DLL is loaded first.
constexpr unsigned long folder_changing_rights = 0x00000002UL | 0x00000004UL | 0x00000040UL | 0x00010000UL |
                                                 0x00040000UL | 0x00080000UL | 0x40000000UL | 0x10000000UL;

// What changes a DLL's code or a file's security: write data, delete, write
// DAC, write owner, generic write, generic all. Appending changes no code.
constexpr unsigned long changing_rights = 0x00000002UL | 0x00010000UL | 0x00040000UL | 0x00080000UL |
                                          0x40000000UL | 0x10000000UL;
// For a file whose lines are read as settings, appending a line changes it.
constexpr unsigned long changing_rights_with_append = changing_rights | 0x00000004UL;
// What reads a file's text: read data, generic read, generic all.
constexpr unsigned long reading_rights = 0x00000001UL | 0x80000000UL | 0x10000000UL;

// What keeps a folder as it is besides: writing its attributes (hidden,
// read-only, and the like).
constexpr unsigned long folder_keeping_rights = folder_changing_rights | 0x00000100UL;

// SYSTEM, Administrators, TrustedInstaller, OWNER RIGHTS (the owner, who is
// checked on its own) and the current user.
bool is_trusted(const std::string& sid, const std::string& current_user);

// Whether a file's owner is one the agent trusts: is_trusted, but never
// OWNER RIGHTS, which owns nothing itself.
bool owner_is_trusted(const std::string& owner, const std::string& current_user);

// True when the owner is trusted and no one else is granted a right in
// changing. A deny entry for Everyone takes its rights away from the entries
// after it; other deny entries are not counted on (whom they cover is not
// known here), and an entry that cannot be read makes the file untrusted.
bool only_trusted_can_change(const FileSecurity& security, const std::string& current_user,
                             unsigned long changing = changing_rights);

// Whether the agent may append to a day's log file that already exists. Any
// user's agent may have made it, so its owner may be any user; what counts is
// that nobody but the trusted principals (is_trusted) may read its lines,
// rewrite or delete them, or re-permission the file. An owner that is not
// trusted keeps its implicit right to re-permission unless an OWNER RIGHTS
// entry caps it, and that entry is then read as the owner's own.
bool log_file_keeps_lines_private(const FileSecurity& security, const std::string& current_user);

// Whether c:\nivra reads as the package's own: owned by SYSTEM or the
// Administrators, and nobody else granted a right in folder_keeping_rights
// (an OWNER RIGHTS entry stands for that owner; entries that reach only what
// the folder holds do not count). No user can then have put a file into it.
bool folder_is_packages(const FileSecurity& folder);

// Whether the package may keep using a folder it finds: owned by SYSTEM, the
// Administrators or the account the package's actions run as, and nobody
// but the trusted principals (is_trusted) granted a right in
// folder_keeping_rights.
bool folder_fit_for_package(const FileSecurity& folder, const std::string& installing_account);

// Whether a file in the package's folder was made by SYSTEM or the
// Administrators, the only makers of files there: an agent appends to no
// other day file.
bool made_by_system(const std::string& owner);
// The same, TrustedInstaller (which services Windows) included: the plug-in
// is not registered while a file of any other owner is in the folder.
bool made_by_system_or_servicing(const std::string& owner);

}  // namespace file_trust

}  // namespace keyhaven
