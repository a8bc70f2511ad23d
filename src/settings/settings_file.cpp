#include "settings/settings.h"

#include "platform/bounded_open.h"
#include "platform/file_security.h"
#include "platform/text.h"
#include "platform/owned.h"
#include "platform/whole_file.h"
#include "settings/settings_parser.h"
#include "settings/settings_text.h"

namespace keyhaven {

namespace {

// Far above any settings file an administrator writes; keeps the read bounded.
const DWORD largest_file = 16 * 1024 * 1024;

// Best-fit mapping is off: it would turn a full-width "#" or "=" into the
// ASCII one and change what a line means.
bool ansi_from_utf16(const std::u16string& units, std::string& text)
{
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t");
    text.clear();
    if (units.empty())
        return true;
    const wchar_t* wide = reinterpret_cast<const wchar_t*>(units.data());
    const int count = static_cast<int>(units.size());
    const int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, count, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return false;
    text.resize(static_cast<std::string::size_type>(size));
    return WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, count, &text[0], size, nullptr, nullptr) == size;
}

// The file's bytes, read up to the size it had when asked; false with the
// reason when they are not read.
bool read_bytes(HANDLE file, std::string& bytes, std::string& reason)
{
    DWORD error = 0;
    switch (read_whole_file(file, largest_file, bytes, error)) {
    case WholeFile::read:
        return true;
    case WholeFile::size_unknown:
        reason = with_error("its size cannot be read", error);
        break;
    case WholeFile::too_large:
        reason = "it is larger than 16 MiB";
        break;
    case WholeFile::not_read:
        reason = with_error("it cannot be read", error);
        break;
    }
    return false;
}

}  // namespace

SettingsRead load_settings_file(const std::string& path, Settings& target, std::string& reason)
{
    reason.clear();
    // Other programs may go on reading and writing it; a link is opened
    // itself, not followed. A program holding it (any user may read it) is
    // waited for briefly, then the turn goes on without it.
    const bounded_open::Request request{path, GENERIC_READ | READ_CONTROL,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING, true,
                                        nullptr};
    DWORD error = ERROR_SUCCESS;
    FileHandle file = bounded_open::open_file(request, error);
    if (!file.held()) {
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return SettingsRead::not_opened;
        reason = with_error(bounded_open::is_held(error) ? "another program holds it" : "it cannot be opened", error);
        return SettingsRead::not_readable;
    }
    if (!open_file_trusted(file.get(), file_trust::changing_rights_with_append, reason))
        return SettingsRead::not_trusted;
    std::string bytes;
    if (!read_bytes(file.get(), bytes, reason))
        return SettingsRead::not_readable;
    file.free_now();

    std::string text;
    if (!settings_text_of(bytes, ansi_from_utf16, text, reason))
        return SettingsRead::not_parsed;
    return parse_settings_text(text, target, reason);
}

}  // namespace keyhaven
