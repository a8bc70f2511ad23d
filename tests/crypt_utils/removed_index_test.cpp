// The index of the copies cleaning keeps, and the serialized-store layout
// the copies are read back by. No Windows header: built natively as well.
#include "crypt_utils/removed_index.h"
#include "support/serialized_store.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace keyhaven;

namespace {

using crypt_utils::RemovedCopy;

RemovedCopy copy(const std::string& thumbprint, const std::string& removed_at)
{
    RemovedCopy entry;
    entry.removed_at = removed_at;
    entry.thumbprint = thumbprint;
    entry.serial = "0A";
    entry.file = crypt_utils::removed_copy_file(thumbprint);
    entry.subject_cn = "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD\xD0\xBE\xD0\xB2\tA\\B\n";  // "Иванов", a tab, a backslash, a line end
    entry.issuer_cn = "CA";
    return entry;
}

TEST(RemovedIndex, TextReadsBackEntryForEntryAndRefusesForeignLines)
{
    RemovedCopy gost = copy("AB12", "2027-01-05T13:04:59Z");
    gost.gost_key_link = true;
    const std::vector<RemovedCopy> written = {gost, copy("CD34", "2027-01-04T00:00:00Z")};
    std::string text = crypt_utils::removed_index_text(written);
    text += "2027-01-04T00:00:00Z\tEE\t01\tother\t..\\..\\evil.sst\tx\ty\n";  // a file that is not its thumbprint's
    text += "2027-13-04T00:00:00Z\tEF\t01\tother\tEF.sst\tx\ty\r\n";          // no such month
    const std::vector<RemovedCopy> read = crypt_utils::parse_removed_index(text);
    ASSERT_EQ(2u, read.size());
    EXPECT_EQ(written[0].subject_cn, read[0].subject_cn);
    EXPECT_EQ((std::vector<std::string>{"AB12", "AB12.sst", "CD34"}),
              (std::vector<std::string>{read[0].thumbprint, read[0].file, read[1].thumbprint}));
    EXPECT_EQ((std::vector<bool>{true, false}), (std::vector<bool>{read[0].gost_key_link, read[1].gost_key_link}));
}

TEST(RemovedIndex, OneCopyPerThumbprintBoundedInNumberAndDays)
{
    std::vector<RemovedCopy> index;
    for (int i = 0; i < 500; ++i)
        index.push_back(copy(crypt_utils::hex_digits(reinterpret_cast<const unsigned char*>(&i), sizeof i, false),
                             "2027-01-01T00:00:00Z"));
    index.push_back(copy("0100", "2026-07-04T00:00:00Z"));  // 181 days before 2027-01-01: too old anyway
    index[10].removed_at = "2026-07-05T00:00:00Z";          // 180 days: still kept

    // The same certificate again: its one copy moves to the front, nothing else goes.
    crypt_utils::RemovedIndexUpdate update = crypt_utils::record_removed_copy(index, index[3], {2027, 1, 1});
    EXPECT_EQ(500u, update.kept.size());
    EXPECT_EQ(index[3].thumbprint, update.kept[0].thumbprint);
    EXPECT_EQ(std::vector<std::string>{"0100.sst"}, update.files_to_delete);

    // A new one pushes the oldest out.
    update = crypt_utils::record_removed_copy(index, copy("FFFF", "2027-01-01T10:00:00Z"), {2027, 1, 1});
    EXPECT_EQ(500u, update.kept.size());
    EXPECT_EQ("FFFF", update.kept[0].thumbprint);
    EXPECT_EQ(index[10].thumbprint, update.kept[11].thumbprint);
    EXPECT_EQ((std::vector<std::string>{index[499].file, "0100.sst"}), update.files_to_delete);
}

void le32(std::string& bytes, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
}

void element(std::string& bytes, std::uint32_t id, const std::string& value)
{
    le32(bytes, id);
    le32(bytes, 1);
    le32(bytes, static_cast<std::uint32_t>(value.size()));
    bytes += value;
}

std::string utf16(const std::u16string& text)
{
    std::string bytes;
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes + std::string(2, '\0');
}

// The layout Windows writes: the key link's record (pointers as offsets),
// then the certificate it belongs to.
TEST(SerializedStore, CertificateAndItsKeyLinkComeBackFromTheBytes)
{
    const std::u16string container = u"\\\\.\\USB\\\u0442\u043E\u043A\u0435\u043D";
    const std::u16string provider = u"GOST provider";
    std::string link;
    le32(link, 28);
    le32(link, 28 + static_cast<std::uint32_t>(container.size() + 1) * 2);
    le32(link, 75);
    le32(link, 0);
    le32(link, 0);
    le32(link, 0);
    le32(link, 1);
    link += utf16(container) + utf16(provider);
    const std::string der = "\x30\x82\x01\x00 certificate";
    std::string bytes;
    le32(bytes, 0);
    bytes += "CERT";
    element(bytes, 3, std::string(20, 'h'));  // its SHA-1 hash
    element(bytes, serialized_store::stored_key_link_id, link);
    element(bytes, serialized_store::stored_certificate_id, der);

    std::vector<serialized_store::StoredCertificate> read;
    ASSERT_TRUE(serialized_store::read_serialized_store(bytes, read));
    ASSERT_EQ(1u, read.size());
    EXPECT_EQ(der, read[0].encoded);
    serialized_store::StoredKeyLink key_link;
    ASSERT_TRUE(serialized_store::key_link_of(read[0], key_link));
    EXPECT_EQ(container, key_link.container);
    EXPECT_EQ(provider, key_link.provider);
    EXPECT_EQ((std::vector<std::uint32_t>{75, 1}), (std::vector<std::uint32_t>{key_link.provider_type, key_link.key_spec}));

    EXPECT_FALSE(serialized_store::read_serialized_store(bytes.substr(0, bytes.size() - 1), read));
    EXPECT_FALSE(serialized_store::read_serialized_store("\x01\x00\x00\x00" "CERT", read));
    EXPECT_FALSE(serialized_store::read_stored_key_link(link.substr(0, 27), key_link));
    EXPECT_FALSE(serialized_store::read_stored_key_link(link.substr(0, 40), key_link));  // a name that never ends
}

}  // namespace
