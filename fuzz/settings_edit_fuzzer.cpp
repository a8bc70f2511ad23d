// The package's edit of Keyhaven.ini on arbitrary file contents: whenever
// the agent's reader takes the file, it takes the edited one too, with the
// values given and every key not named as before. A file the reader refused
// would leave the agent on its defaults, cleaning included.
#include "fuzz_check.h"
#include "settings/settings_parser.h"
#include "setup/settings_edit.h"

#include <cstddef>
#include <cstdint>
#include <string>

using namespace keyhaven;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    Settings before;
    std::string error;
    if (parse_settings_text(text, before, error) == SettingsRead::not_parsed)
        return 0;
    const std::string edited = edit_settings_text(text, {{"clean_storage", "-1"}, {"init_plugin", "7"}});
    Settings after;
    FUZZ_CHECK(parse_settings_text(edited, after, error) != SettingsRead::not_parsed);
    FUZZ_CHECK(after.clean_storage == -1 && after.init_plugin == 7);
    FUZZ_CHECK(after.mark_default == before.mark_default && after.ignore_cards == before.ignore_cards);
    FUZZ_CHECK(edit_settings_text(edited, {{"clean_storage", "-1"}, {"init_plugin", "7"}}) == edited);
    return 0;
}
