// The two readers of what cleaning keeps, on arbitrary bytes: the index
// (what keyhaven-status lists) and the serialized-store layout of a copy.
// Neither reads past its input; an index read back after writing gives the
// same entries, and never one whose file leaves the copies' folder.
#include "crypt_utils/removed_index.h"
#include "support/serialized_store.h"
#include "fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using namespace keyhaven;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    const std::vector<crypt_utils::RemovedCopy> read = crypt_utils::parse_removed_index(bytes);
    FUZZ_CHECK(read.size() <= 2 * crypt_utils::removed_copies_kept);
    for (const auto& copy : read)
        FUZZ_CHECK(copy.file.find_first_of("\\/:") == std::string::npos);
    const std::vector<crypt_utils::RemovedCopy> again =
        crypt_utils::parse_removed_index(crypt_utils::removed_index_text(read));
    FUZZ_CHECK(again.size() == read.size());
    for (std::size_t i = 0; i < read.size(); ++i)
        FUZZ_CHECK(again[i].subject_cn == read[i].subject_cn && again[i].issuer_cn == read[i].issuer_cn &&
                   again[i].thumbprint == read[i].thumbprint);

    std::vector<serialized_store::StoredCertificate> certificates;
    if (serialized_store::read_serialized_store(bytes, certificates)) {
        for (const auto& certificate : certificates) {
            FUZZ_CHECK(certificate.encoded.size() <= size);
            serialized_store::StoredKeyLink link;
            serialized_store::key_link_of(certificate, link);
        }
    }
    return 0;
}
