#pragma once
// LOG_RETENTION_DAYS, the package property the keeper service reads from the
// registry: what the package accepts and what it stores. Text rules only,
// built natively and tested without Windows Installer.

#include <string>

namespace keyhaven {

// An integer from 0 to 3650 in plain decimal digits (at most four of them).
bool retention_text_valid(const std::string& text, unsigned long& days);

// What the registry holds before the install changes anything.
struct StoredRetention {
    bool present;
    unsigned long days;
};

// The days to store. A value given (already valid) wins. Without one, a
// repair or upgrade keeps what is stored; a new install stores 90; an
// earlier package that stored none (an upgrade from a package without
// retention) gets 0, keep for ever, so that no upgrade silently removes the
// logs that record past cleanings.
unsigned long retention_to_store(const std::string& given, const StoredRetention& stored, bool earlier_package);

constexpr unsigned long new_install_retention_days = 90;

}  // namespace keyhaven
