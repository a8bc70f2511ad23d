#pragma once
// The index of the copies cleaning keeps of the certificates it deletes:
// one entry per certificate (by thumbprint), newest first, bounded in number
// and age. keyhaven-status lists from it; the agent rewrites it after each
// copy. Texts are UTF-8. No Windows header.

#include "crypt_utils/expiry_rules.h"

#include <cstddef>
#include <string>
#include <vector>

namespace keyhaven {

namespace crypt_utils {

constexpr std::size_t removed_copies_kept = 500;
constexpr int removed_copies_days = 180;
// An index larger than this is not one the agent wrote; read no further.
constexpr std::size_t removed_index_largest = 1024 * 1024;

struct RemovedCopy {
    std::string removed_at;  // "2027-01-05T13:04:59Z"
    std::string thumbprint;  // SHA-1, uppercase hexadecimal
    std::string serial;      // uppercase hexadecimal, most significant byte first
    bool gost_key_link = false;  // linked to a container of the GOST provider: back with its carrier
    std::string file;        // the copy's file name, beside the index
    std::string subject_cn;
    std::string issuer_cn;
};

// The copy's file name for a certificate: its thumbprint, as a serialized store.
std::string removed_copy_file(const std::string& thumbprint);

std::string removed_index_text(const std::vector<RemovedCopy>& copies);

// Entries of an index text, in its order; lines that are not entries are
// passed over, and at most twice removed_copies_kept entries are taken.
std::vector<RemovedCopy> parse_removed_index(const std::string& text);

// The date part of removed_at, false when it is not one.
bool removed_on(const RemovedCopy& copy, expiry::CalendarDate& date);

struct RemovedIndexUpdate {
    std::vector<RemovedCopy> kept;            // the new index, newest first
    std::vector<std::string> files_to_delete;  // copies no entry names any more
};

// Puts added in front, in place of an entry of the same thumbprint, then lets
// go of entries older than removed_copies_days (or undated) and of the oldest
// beyond removed_copies_kept.
RemovedIndexUpdate record_removed_copy(const std::vector<RemovedCopy>& index, const RemovedCopy& added,
                                       const expiry::CalendarDate& today);

// Uppercase hexadecimal without separators; reversed turns a little-endian
// number (as CryptoAPI keeps serials) most significant byte first.
std::string hex_digits(const unsigned char* bytes, std::size_t size, bool reversed);

}  // namespace crypt_utils

}  // namespace keyhaven
