// Cleaning the personal store against the certificates of the containers,
// and the two routines it reads them with.
#include "crypt_utils/call_trace.h"
#include "crypt_utils/container_certificates.h"
#include "crypt_utils/store_cleaning.h"
#include "crypt_utils/removed_copies.h"
#include "support/serialized_store.h"

#include "certificate_fixture.h"
#include "trace_lines.h"

#include <gmock/gmock.h>

#include <cstdio>
#include <vector>

using namespace keyhaven;

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;
using Lines = std::vector<std::string>;

const std::string info = "[  INFO   ]: ";

// The INFO lines of the cleaning pass, banners included.
Lines cleaning_lines()
{
    Lines lines;
    for (const auto& entry : agent_log::entries(true))
        lines.push_back(entry);
    return lines;
}

using StoreCleaning = CertificateTest;

TEST_F(StoreCleaning, EmptyListEmptiesTheStoreAndTheDeletionsPersist)
{
    ASSERT_TRUE(personal_store::add(certificate("0A", "First")));
    ASSERT_TRUE(personal_store::add(certificate("0B", "Second")));
    std::vector<std::string> order;
    for (const auto& entry : personal_store::list())
        order.push_back(info + "\t * " + entry.subject_cn);

    EXPECT_EQ(0, crypt_utils::clean_local_storage({}));

    Lines expected{info + " === cleaning [MY] storage: ==="};
    expected.insert(expected.end(), order.begin(), order.end());
    expected.push_back(info + " === end of clean ===");
    EXPECT_EQ(expected, cleaning_lines());
    EXPECT_THAT(personal_store::serials(), IsEmpty());
    EXPECT_EQ(0u, personal_store::persisted_count());
}

std::string file_bytes(const std::wstring& path)
{
    std::string bytes;
    if (FILE* file = _wfopen(path.c_str(), L"rb")) {
        char chunk[4096];
        for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
            bytes.append(chunk, got);
        std::fclose(file);
    }
    return bytes;
}

// The index is the user's own and outlives a test: the newest entry of a serial.
crypt_utils::RemovedCopy newest_removed(const std::wstring& folder, const std::string& serial)
{
    for (const auto& entry : crypt_utils::read_removed_index(folder))
        if (entry.serial == serial)
            return entry;
    return {};
}

// Wine's crypt32 cannot read such a store back, so the copy is read by its layout.
TEST_F(StoreCleaning, EachDeletedCertificateIsKeptWithItsPropertiesAndIndexed)
{
    const std::string token_der = certificate("41", "Token owner");
    const std::string linked = container("linked", token_der);
    ASSERT_EQ(0, crypt_utils::import_certificate(linked));
    const std::string by_hand_der = certificate("42", "By hand", "Another CA");
    ASSERT_TRUE(personal_store::add(by_hand_der));

    EXPECT_EQ(0, crypt_utils::clean_local_storage({}));

    std::string failure;
    const std::wstring folder = crypt_utils::removed_copies_folder(false, failure);
    ASSERT_FALSE(folder.empty()) << failure;
    const crypt_utils::RemovedCopy from_token = newest_removed(folder, "41"), by_hand = newest_removed(folder, "42");
    EXPECT_EQ((std::vector<std::string>{"Token owner", "Keyhaven Test CA", "By hand", "Another CA"}),
              (std::vector<std::string>{from_token.subject_cn, from_token.issuer_cn, by_hand.subject_cn, by_hand.issuer_cn}));
    EXPECT_EQ((std::vector<bool>{true, false}), (std::vector<bool>{from_token.gost_key_link, by_hand.gost_key_link}));

    std::vector<serialized_store::StoredCertificate> stored;
    ASSERT_TRUE(serialized_store::read_serialized_store(file_bytes(folder + std::wstring(from_token.file.begin(), from_token.file.end())), stored));
    ASSERT_EQ(1u, stored.size());
    EXPECT_EQ(token_der, stored[0].encoded);
    serialized_store::StoredKeyLink link;
    ASSERT_TRUE(serialized_store::key_link_of(stored[0], link));
    EXPECT_EQ((std::vector<std::string>{linked}), (std::vector<std::string>{std::string(link.container.begin(), link.container.end())}));
    EXPECT_EQ(75u, link.provider_type);

    ASSERT_TRUE(serialized_store::read_serialized_store(file_bytes(folder + std::wstring(by_hand.file.begin(), by_hand.file.end())), stored));
    ASSERT_EQ(1u, stored.size());
    EXPECT_EQ(by_hand_der, stored[0].encoded);
    EXPECT_FALSE(serialized_store::key_link_of(stored[0], link));

    EXPECT_THAT(agent_log::entries(), ::testing::Contains("[  DEBUG  ]: \t   serial: 42, issuer: Another CA, thumbprint: " +
                                                          by_hand.thumbprint + ", copy: " + by_hand.file));
}

// A copy that cannot be kept is a warning; the deletion stands.
TEST_F(StoreCleaning, CopyThatCannotBeKeptWarnsAndTheDeletionStands)
{
    std::string failure;
    ASSERT_TRUE(personal_store::add(certificate("43", "Uncopied")));
    ASSERT_EQ(0, crypt_utils::clean_local_storage({}));  // the folder exists from here on
    ASSERT_TRUE(personal_store::add(certificate("44", "Uncopied")));
    std::wstring folder = crypt_utils::removed_copies_folder(false, failure);
    ASSERT_FALSE(folder.empty()) << failure;
    folder.pop_back();
    const std::wstring aside = folder + L" aside";
    ASSERT_TRUE(MoveFileW(folder.c_str(), aside.c_str()));
    HANDLE blocker = CreateFileW(folder.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    CloseHandle(blocker);
    agent_log::clear();

    EXPECT_EQ(0, crypt_utils::clean_local_storage({}));

    DeleteFileW(folder.c_str());
    ASSERT_TRUE(MoveFileW(aside.c_str(), folder.c_str()));
    ASSERT_NE(INVALID_HANDLE_VALUE, blocker);
    EXPECT_THAT(personal_store::serials(), IsEmpty());
    EXPECT_THAT(cleaning_lines(), ElementsAre(info + " === cleaning [MY] storage: ===", info + "\t * Uncopied",
                                              "[ WARNING ]: copy of removed certificate 44 is not kept: a file or "
                                              "link stands where its folder belongs",
                                              info + " === end of clean ==="));
}

TEST_F(StoreCleaning, CertificatesOfListedContainersStayByTheirSerialNumber)
{
    std::string kept = container("kept", certificate("11", "Kept"));
    ASSERT_TRUE(personal_store::add(certificate("11", "Kept")));
    // Another issuer, the same serial number: the serial alone decides.
    ASSERT_TRUE(personal_store::add(certificate("11", "Other issuer", "Another CA")));
    ASSERT_TRUE(personal_store::add(certificate("12", "Stranger")));

    EXPECT_EQ(0, crypt_utils::clean_local_storage({kept, kept}));
    EXPECT_THAT(personal_store::serials(), ElementsAre("11", "11"));
    EXPECT_THAT(cleaning_lines(), ElementsAre(info + " === cleaning [MY] storage: ===", info + "\t * Stranger",
                                              info + " === end of clean ==="));
    EXPECT_EQ(2u, personal_store::persisted_count());
}

TEST_F(StoreCleaning, ContainersWhoseCertificateCannotBeReadProtectNothing)
{
    std::string no_certificate = container("bare", "");
    std::string no_key = container("keyless", certificate("21", "Keyless"), "none");
    ASSERT_TRUE(personal_store::add(certificate("21", "Keyless")));
    EXPECT_EQ(0, crypt_utils::clean_local_storage({no_certificate, no_key, "", "\\\\.\\Token C001\\absent"}));
    EXPECT_THAT(personal_store::serials(), IsEmpty());
}

TEST_F(StoreCleaning, CertificateWithoutCommonNameIsDeletedWithAnEmptyName)
{
    bench_provider::CertificateSpec wanted;
    wanted.serial = "31";
    wanted.with_cn = false;
    ASSERT_TRUE(personal_store::add(bench_provider::make_certificate(wanted)));
    (void)crypt_utils::clean_local_storage({});
    EXPECT_THAT(cleaning_lines(), ElementsAre(info + " === cleaning [MY] storage: ===", info + "\t * ",
                                              info + " === end of clean ==="));
}

TEST_F(StoreCleaning, PassLogsItsTraceAndClosesTheStore)
{
    (void)crypt_utils::clean_local_storage({});
    EXPECT_EQ((Lines{"[  DEBUG  ]: ----> calling clean_local_storage()", info + " === cleaning [MY] storage: ===",
                     info + " === end of clean ===", "[  DEBUG  ]: clean up:", "[  DEBUG  ]: \t- h_cert_store",
                     "[  DEBUG  ]: <--- closing clean_local_storage(), rc=0|0x00000000"}),
              trace_lines::entries());
}

// A certificate read that fails without an error code says nothing about
// the store: the pass deletes nothing rather than a present container's
// certificate.
TEST_F(StoreCleaning, ContainerReadFailingWithoutAnErrorCodeDeletesNothing)
{
    std::string kept = container("kept", certificate("21", "Kept"));
    ASSERT_TRUE(personal_store::add(certificate("21", "Kept")));
    ASSERT_TRUE(personal_store::add(certificate("22", "Stranger")));
    for (const char* operation : {"acquire", "user_key", "certificate"}) {
        agent_log::clear();
        bench_provider::fail_without_code(operation);
        EXPECT_EQ(crypt_utils::rc_failed_without_code, crypt_utils::clean_local_storage({kept})) << operation;
        EXPECT_THAT(personal_store::serials(), UnorderedElementsAre("21", "22")) << operation;
        EXPECT_THAT(cleaning_lines(), ::testing::Contains("[ WARNING ]: certificate of container " + kept +
                                                         " could not be read, [MY] storage is not cleaned"));
        EXPECT_EQ("[  DEBUG  ]: <--- closing clean_local_storage(), rc=-1|0xFFFFFFFF", trace_lines::entries().back());
        bench_provider::fail(operation, 0);
    }
}

using CertContext = CertificateTest;

PCCERT_CONTEXT certificate_of(const std::string& container)
{
    int rc = 0;
    return crypt_utils::get_cert_context(container, rc).detach();
}

TEST_F(CertContext, SignatureOnlyKeyStillGivesItsCertificate)
{
    std::string name = container("signer", certificate("41", "Signer"), "2");
    PCCERT_CONTEXT found = certificate_of(name);
    ASSERT_NE(nullptr, found);
    EXPECT_EQ("Signer", crypt_utils::extract_cert_attribute(found));
    CertFreeCertificateContext(found);
    EXPECT_EQ((Lines{"[  DEBUG  ]: ----> calling get_cert_context(" + name + ")", "[  DEBUG  ]: clean up:",
                     "[  DEBUG  ]: \t- cert_buffer", "[  DEBUG  ]: \t- prov",
                     "[  DEBUG  ]: <--- closing get_cert_context(), rc=0|0x00000000",
                     "[  DEBUG  ]: ----> calling extract_cert_attribute(2.5.4.3)", "[  DEBUG  ]: clean up:",
                     "[  DEBUG  ]: \t- cert_subject",
                     "[  DEBUG  ]: <--- closing extract_cert_attribute(), rc=0|0x00000000"}),
              trace_lines::entries());
}

TEST_F(CertContext, FailuresGiveNullWithOneErrorLine)
{
    EXPECT_EQ(nullptr, certificate_of("\\\\.\\Token C001\\absent"));
    std::string keyless = container("keyless", certificate("51", "K"), "none");
    EXPECT_EQ(nullptr, certificate_of(keyless));
    std::string bare = container("bare", "");
    EXPECT_EQ(nullptr, certificate_of(bare));
    std::string junk = container("junk", "not a certificate");
    EXPECT_EQ(nullptr, certificate_of(junk));

    Lines errors;
    for (const auto& line : trace_lines::entries(true))
        errors.push_back(line.substr(0, line.find(" error, code:")));
    EXPECT_THAT(errors, ElementsAre("[  ERROR  ]: CryptAcquireContext(\\\\.\\Token C001\\absent, null, 75, CRYPT_SILENT)",
                                    "[  ERROR  ]: CryptGetUserKey(2)", "[  ERROR  ]: CryptGetKeyParam(KP_CERTIFICATE)",
                                    "[  ERROR  ]: CertCreateCertificateContext()"));
    EXPECT_NE(std::string::npos, trace_lines::entries(true)[0].find(
                                     "error, code: 0x80090016, line: N, func: crypt_utils::get_cert_context"));
}

TEST_F(CertContext, CyrillicCommonNameComesBackInTheAnsiCodePage)
{
    // "Иванов" in UTF-8 inside the certificate, Windows-1251 for the agent.
    std::string name = container("ivanov", certificate("61", "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD\xD0\xBE\xD0\xB2"));
    PCCERT_CONTEXT found = certificate_of(name);
    ASSERT_NE(nullptr, found);
    EXPECT_EQ("\xC8\xE2\xE0\xED\xEE\xE2", crypt_utils::extract_cert_attribute(found));
    EXPECT_EQ("Keyhaven Test CA", crypt_utils::extract_issuer_attribute(found));
    CertFreeCertificateContext(found);
}

}  // namespace
