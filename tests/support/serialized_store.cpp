#include "support/serialized_store.h"

namespace serialized_store {

namespace {

const std::size_t element_header = 12;
const std::size_t key_link_record = 28;  // seven 32-bit fields

std::uint32_t le32(const std::string& bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
    return value;
}

// A NUL-terminated UTF-16 text at offset; an offset of 0 is "none".
bool text_at(const std::string& bytes, std::uint32_t offset, std::u16string& text)
{
    text.clear();
    if (offset == 0)
        return true;
    if (offset < key_link_record)
        return false;
    for (std::size_t at = offset; at + 2 <= bytes.size(); at += 2) {
        const char16_t unit = static_cast<char16_t>(static_cast<unsigned char>(bytes[at]) |
                                                    (static_cast<unsigned char>(bytes[at + 1]) << 8));
        if (unit == 0)
            return true;
        text += unit;
    }
    return false;
}

}  // namespace

bool read_serialized_store(const std::string& bytes, std::vector<StoredCertificate>& certificates)
{
    certificates.clear();
    if (bytes.size() < 8 || le32(bytes, 0) != 0 || bytes.compare(4, 4, "CERT") != 0)
        return false;
    StoredCertificate pending;
    std::size_t at = 8;
    while (at < bytes.size()) {
        if (bytes.size() - at < element_header)
            return false;
        const std::uint32_t id = le32(bytes, at);
        const std::uint32_t length = le32(bytes, at + 8);
        at += element_header;
        if (length > bytes.size() - at)
            return false;
        std::string value = bytes.substr(at, length);
        at += length;
        if (id == 0 && length == 0)
            break;  // the end marker some writers add
        if (id == stored_certificate_id) {
            pending.encoded = std::move(value);
            certificates.push_back(std::move(pending));
            pending = StoredCertificate();
        } else {
            pending.properties.emplace_back(id, std::move(value));
        }
    }
    return true;
}

bool read_stored_key_link(const std::string& property, StoredKeyLink& link)
{
    if (property.size() < key_link_record)
        return false;
    link.provider_type = le32(property, 8);
    link.flags = le32(property, 12);
    link.key_spec = le32(property, 24);
    return text_at(property, le32(property, 0), link.container) && text_at(property, le32(property, 4), link.provider);
}

bool key_link_of(const StoredCertificate& certificate, StoredKeyLink& link)
{
    for (const auto& property : certificate.properties)
        if (property.first == stored_key_link_id)
            return read_stored_key_link(property.second, link);
    return false;
}

}  // namespace serialized_store
