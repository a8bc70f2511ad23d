#include "core/cleaning_hold.h"

namespace keyhaven {

HoldChange follow_settings_read(CleaningHold& hold, SettingsRead code)
{
    const bool taken = settings_taken(code);
    hold.settings_taken_once = hold.settings_taken_once || taken;
    const bool holds = !hold.settings_taken_once && !taken && code != SettingsRead::not_opened;
    const bool held = hold.held;
    hold.held = holds;
    if (holds == held)
        return HoldChange::none;
    return holds ? HoldChange::started : HoldChange::ended;
}

bool cleaning_on(const CleaningHold& hold, int clean_storage)
{
    return !hold.held && clean_storage == 1;
}

const char* why_settings_hold_cleaning(SettingsRead code)
{
    switch (code) {
    case SettingsRead::not_parsed:
        return "the settings file was rejected";
    case SettingsRead::not_trusted:
        return "the settings file is not trusted";
    case SettingsRead::not_readable:
        return "the settings file cannot be opened or read";
    case SettingsRead::no_data_folder:
        return "there is no data folder to read the settings file from";
    default:
        return "the settings file was not read";
    }
}

}  // namespace keyhaven
