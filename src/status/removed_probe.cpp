#include "status/removed_probe.h"

#include "crypt_utils/removed_copies.h"
#include "platform/wide_text.h"

#include <windows.h>

namespace keyhaven {

namespace status {

std::vector<RemovedReport> probe_removed(int days)
{
    std::vector<RemovedReport> found;
    std::string failure;
    const std::wstring folder = crypt_utils::removed_copies_folder(false, failure);
    if (folder.empty())
        return found;
    SYSTEMTIME now = {};
    GetSystemTime(&now);
    const UtcTime today = {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
    const std::string folder_text = utf8_from_wide(folder.c_str());
    for (const crypt_utils::RemovedCopy& copy : crypt_utils::read_removed_index(folder)) {
        if (!removed_within(copy.removed_at, today, days))
            continue;
        // The index is the user's own file, but its names came from
        // certificates: shown escaped like every other text.
        found.push_back({printable(copy.subject_cn), printable(copy.issuer_cn), printable(copy.serial),
                         printable(copy.thumbprint), printable(copy.removed_at), copy.gost_key_link,
                         printable(folder_text + copy.file)});
    }
    return found;
}

}  // namespace status

}  // namespace keyhaven
