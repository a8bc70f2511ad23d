#pragma once
// Reading a serialized certificate store (CertSaveStore's
// CERT_STORE_SAVE_AS_STORE layout) without CryptoAPI: a 4-byte zero, "CERT",
// then elements of property id, encoding type and length (little-endian,
// 32 bits each) followed by their bytes. A certificate's properties come
// before its own element (id 32). No Windows header: the tests read the
// copies cleaning keeps with it, natively too, where the platform's own
// reader cannot.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace serialized_store {

constexpr std::uint32_t stored_certificate_id = 32;
constexpr std::uint32_t stored_key_link_id = 2;  // CERT_KEY_PROV_INFO_PROP_ID

struct StoredCertificate {
    std::string encoded;  // the certificate's DER bytes
    std::vector<std::pair<std::uint32_t, std::string>> properties;  // in file order
};

// False for bytes that are not such a store (or end inside an element);
// properties after the last certificate (none are written) are ignored.
bool read_serialized_store(const std::string& bytes, std::vector<StoredCertificate>& certificates);

// A key link as a serialized store keeps it: the record of
// CRYPT_KEY_PROV_INFO with its pointers as offsets from the record's start.
struct StoredKeyLink {
    std::u16string container;
    std::u16string provider;
    std::uint32_t provider_type = 0;
    std::uint32_t flags = 0;
    std::uint32_t key_spec = 0;
};

bool read_stored_key_link(const std::string& property, StoredKeyLink& link);

// The key link among a certificate's properties, if it has one that reads.
bool key_link_of(const StoredCertificate& certificate, StoredKeyLink& link);

}  // namespace serialized_store
