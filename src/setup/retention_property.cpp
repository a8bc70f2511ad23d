#include "setup/retention_property.h"

#include "keeper/day_files.h"

namespace keyhaven {

bool retention_text_valid(const std::string& text, unsigned long& days)
{
    if (text.empty() || text.size() > 4)
        return false;
    unsigned long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    if (value > day_files::largest_retention_days)
        return false;
    days = value;
    return true;
}

unsigned long retention_to_store(const std::string& given, const StoredRetention& stored, bool earlier_package)
{
    unsigned long days = 0;
    if (retention_text_valid(given, days))
        return days;
    if (stored.present && stored.days <= day_files::largest_retention_days)
        return stored.days;
    return earlier_package ? 0 : new_install_retention_days;
}

}  // namespace keyhaven
