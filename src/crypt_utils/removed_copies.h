#pragma once
// The copies cleaning keeps of the certificates it deletes, in the user's own
// local application-data folder (never the shared data folder): one
// serialized store per certificate, with its properties and key link (no
// private key: the key stays where it was), and the index beside them.

#include "crypt_utils/removed_index.h"

#include <windows.h>
#include <wincrypt.h>

#include <string>

namespace keyhaven {

namespace crypt_utils {

// A certificate about to be deleted, described and serialized while its
// context is still held.
struct RemovedCertificate {
    RemovedCopy entry;
    std::string issuer_for_log;  // the issuer's common name as the log writes names
    std::string store_bytes;     // empty when it could not be serialized
    std::string failure;         // why, then
};

RemovedCertificate describe_removed(PCCERT_CONTEXT certificate);

// Writes the copy and records it in the index, for a deletion that
// succeeded; false with a short reason.
[[nodiscard]] bool keep_removed_copy(const RemovedCertificate& removed, std::string& failure);

// "<local application data>\Keyhaven\Removed certificates\" of this
// process's user; created when create is set. Empty, with a reason, on failure.
std::wstring removed_copies_folder(bool create, std::string& failure);

// The index's entries as written, bounded; empty without one.
std::vector<RemovedCopy> read_removed_index(const std::wstring& folder);

}  // namespace crypt_utils

}  // namespace keyhaven
