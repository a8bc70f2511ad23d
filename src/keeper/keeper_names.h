#pragma once
// The names the package and keyhaven-status know the keeper by. The package
// build (package/make_package.py) reads them from here, so the service the
// package installs and the one the programs look for cannot drift apart.

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
