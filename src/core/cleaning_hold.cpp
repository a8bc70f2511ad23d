#include "core/cleaning_hold.h"

#include "settings/settings.h"

HoldChange follow_settings_read(CleaningHold& hold, int code)
{
    const bool taken = settings_taken(code);
    hold.settings_taken_once = hold.settings_taken_once || taken;
    const bool holds = !hold.settings_taken_once && !taken && code != settings_not_opened;
    const bool held = hold.held_by != 0;
    hold.held_by = holds ? code : 0;
    if (holds == held)
        return HoldChange::none;
    return holds ? HoldChange::started : HoldChange::ended;
}

bool cleaning_on(const CleaningHold& hold, int clean_storage)
{
    return hold.held_by == 0 && clean_storage == 1;
}

const char* why_settings_hold_cleaning(int code)
{
    switch (code) {
    case settings_not_parsed:
        return "the settings file was rejected";
    case settings_not_trusted:
        return "the settings file is not trusted";
    case settings_not_readable:
        return "the settings file cannot be opened or read";
    case settings_no_data_folder:
        return "there is no data folder to read the settings file from";
    default:
        return "the settings file was not read";
    }
}
