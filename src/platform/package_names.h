#pragma once

namespace keyhaven {
// Every fixed path and name the package's programs share: the agent, the
// keeper, keyhaven-status and the package's own actions. The package build
// (package/make_package.py) reads the keeper's names from here, so the
// service the package installs and the one the programs look for cannot
// drift apart. No Windows header.

namespace package_names {

// The data folder every user's agent shares, without the trailing
// backslash, and as a handle's final path names it.
constexpr char data_folder[] = "c:\\nivra";
constexpr wchar_t data_folder_final_path[] = L"\\\\?\\c:\\nivra";

// The settings file, in the data folder.
constexpr char settings_file[] = "Keyhaven.ini";

// The day files: "Keyhaven_DD_MM_YYYY.log" and
// "Keyhaven_minimal_DD_MM_YYYY.log", and a pattern that finds both.
constexpr char day_file_prefix[] = "Keyhaven_";
constexpr char minimal_day_file_prefix[] = "Keyhaven_minimal_";
constexpr char day_file_pattern[] = "Keyhaven_*.log";

// The portal's plug-in, in the data folder, and that folder as regsvr32 is
// given it and the log names it.
constexpr char plugin_dll[] = "dererarizoduz.dll";
constexpr char plugin_folder[] = "C:/nivra/";

// The viewer's preferences: the copy under %ALLUSERSPROFILE% and where each
// user's viewer reads them, under the roaming application data.
constexpr char preferences_source[] = "\\Nivra\\Prefs\\prefs.config";
constexpr char preferences_folder[] = "\\PureEdge\\Viewer 7.5\\prefs";
constexpr char preferences_file[] = "\\prefs.config";

// The programs whose processes the package and keyhaven-status look for.
constexpr char agent_program[] = "keyhaven.exe";
constexpr char status_program[] = "keyhaven-status.exe";

// Session mutexes. The agent holds the first for its life, one agent a
// session; any program may create it, so it tells nobody else that an agent
// runs. The second is shared with the maker's security library libKestrel:
// the two keep out of each other's way around the provider through it.
constexpr char instance_mutex[] = "keyhaven_mutex";
constexpr char provider_mutex[] = "nivra_crypto_pro_mutex";

// The value under HKCU\...\Run that starts each user's agent.
constexpr char run_value[] = "Keyhaven";

// Copies of the certificates cleaning removed: these folders, one in the
// other, below %LOCALAPPDATA%.
constexpr const wchar_t* removed_copies_folders[] = {L"Keyhaven", L"Removed certificates"};

namespace keeper {

// The service's key name (sc query KeyhavenKeeper) and what the Services
// console shows.
constexpr wchar_t service_name[] = L"KeyhavenKeeper";
constexpr wchar_t display_name[] = L"Keyhaven Keeper";
// Its own failures in the Application event log come from this source.
constexpr wchar_t event_source[] = L"Keyhaven Keeper";
// HKLM key and value that hold LOG_RETENTION_DAYS, as the package stored it.
constexpr wchar_t settings_key[] = L"SOFTWARE\\Nivra\\Keyhaven";
constexpr wchar_t retention_value[] = L"LogRetentionDays";

}  // namespace keeper

}  // namespace package_names

}  // namespace keyhaven
