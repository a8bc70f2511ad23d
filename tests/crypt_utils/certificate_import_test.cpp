// Importing containers' certificates into the personal store.
#include "crypt_utils/call_trace.h"
#include "crypt_utils/container_certificates.h"
#include "crypt_utils/expiry_rules.h"

#include "certificate_fixture.h"
#include "trace_lines.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <vector>

using namespace keyhaven;

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Lines = std::vector<std::string>;

const std::string info = "[  INFO   ]: ";
const wchar_t provider[] = L"Crypto-Pro GOST R 34.10-2001 Cryptographic Service Provider";

std::wstring wide(const std::string& ansi)
{
    std::wstring out(ansi.size(), L'\0');
    int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), &out[0],
                                static_cast<int>(out.size()));
    out.resize(n);
    return out;
}

Lines minimal_lines()
{
    return trace_lines::entries(true);
}

using Import = CertificateTest;

TEST_F(Import, ValidCertificateEntersTheStoreLinkedToItsContainer)
{
    std::string name = container("alpha", certificate("0A01", "Alpha"));
    EXPECT_EQ(0, crypt_utils::import_if_not_exists(name, settings));
    EXPECT_THAT(minimal_lines(), ElementsAre(info + "skip putting a default mark according to service settings",
                                             info + "certificate { CN=Alpha } not found in [MY] store, importing...",
                                             info + "certificate imported successfully"));
    auto entries = personal_store::list();
    ASSERT_EQ(1u, entries.size());
    EXPECT_EQ("0A01", entries[0].serial);
    EXPECT_TRUE(entries[0].key_link);
    EXPECT_EQ(wide(name), entries[0].container);
    EXPECT_EQ(provider, entries[0].provider);
    EXPECT_EQ(75u, entries[0].provider_type);
    EXPECT_EQ(static_cast<DWORD>(AT_KEYEXCHANGE), entries[0].key_spec);
    EXPECT_EQ(1u, personal_store::persisted_count());
}

// The exchange key is asked first, the signature key second, and the key
// link names the one the certificate came from.
TEST_F(Import, SignatureOnlyContainerIsImportedWithKeySpecTwo)
{
    std::string signer = container("signer", certificate("0A02", "Signer"), "2");
    std::string both = container("both", certificate("0A03", "Both"), "both");
    EXPECT_EQ(0, crypt_utils::import_if_not_exists(signer, settings));
    EXPECT_EQ(0, crypt_utils::import_if_not_exists(both, settings));
    auto entries = personal_store::list();
    ASSERT_EQ(2u, entries.size());
    for (const auto& entry : entries)
        EXPECT_EQ(entry.serial == "0A02" ? DWORD(AT_SIGNATURE) : DWORD(AT_KEYEXCHANGE), entry.key_spec) << entry.serial;
}

TEST_F(Import, CallsFailingWithoutAnErrorCodeNeverReadAsSuccess)
{
    std::string name = container("silent", certificate("0A11", "Silent"));
    for (const char* operation : {"acquire", "user_key", "certificate"}) {
        bench_provider::fail_without_code(operation);
        EXPECT_EQ(crypt_utils::rc_failed_without_code, crypt_utils::import_if_not_exists(name, settings)) << operation;
        bench_provider::fail(operation, 0);
    }
    // import_certificate fails on its own step; import_if_not_exists reports
    // an attempted import, as for any failed import.
    bench_provider::fail_without_code("container_name");
    EXPECT_EQ(0, crypt_utils::import_if_not_exists(name, settings));
    EXPECT_THAT(personal_store::serials(), IsEmpty());
    Lines closing;
    for (const auto& line : trace_lines::entries())
        if (line.find("<--- closing import_") != std::string::npos)
            closing.push_back(line.substr(line.find("<---")));
    EXPECT_THAT(closing, ElementsAre("<--- closing import_if_not_exists(), rc=-1|0xFFFFFFFF",
                                     "<--- closing import_if_not_exists(), rc=-1|0xFFFFFFFF",
                                     "<--- closing import_if_not_exists(), rc=-1|0xFFFFFFFF",
                                     "<--- closing import_certificate(), rc=-1|0xFFFFFFFF",
                                     "<--- closing import_if_not_exists(), rc=0|0x00000000"));
}

TEST_F(Import, CertificateAlreadyInTheStoreIsLeftAsItIs)
{
    std::string der = certificate("0A04", "Present");
    ASSERT_TRUE(personal_store::add(der));  // without a key link
    std::string name = container("present", der);
    EXPECT_EQ(crypt_utils::rc_already_in_store, crypt_utils::import_if_not_exists(name, settings));
    EXPECT_THAT(minimal_lines(),
                ElementsAre(info + "skip putting a default mark according to service settings",
                            "[ WARNING ]: certificate { CN=Present } was already imported to [MY] before, skipping..."));
    auto entries = personal_store::list();
    ASSERT_EQ(1u, entries.size());
    EXPECT_FALSE(entries[0].key_link);
}

// Replacing asks the store for CERT_STORE_ADD_REPLACE_EXISTING; on Windows
// the new copy (with its key link) takes the old one's place, while Wine 8
// keeps the old copy. Either way there is one copy and the call succeeds.
TEST_F(Import, DirectImportOfAPresentCertificateLeavesOneCopy)
{
    std::string der = certificate("0A05", "Replaced");
    ASSERT_TRUE(personal_store::add(der));
    std::string name = container("replaced", der);
    EXPECT_EQ(0, crypt_utils::import_certificate(name));
    EXPECT_THAT(personal_store::serials(), ElementsAre("0A05"));
}

TEST_F(Import, CertificateOutsideItsValidityIsRefused)
{
    std::string expired = container("expired", certificate("0A06", "Expired", "Keyhaven Test CA", -1));
    bench_provider::CertificateSpec future;
    future.serial = "0A07";
    future.subject_cn = "Future";
    future.not_before = bench_provider::utc_from_now(3600);
    std::string early = container("early", bench_provider::make_certificate(future));

    EXPECT_EQ(crypt_utils::rc_outside_validity, crypt_utils::import_if_not_exists(expired, settings));
    EXPECT_EQ(crypt_utils::rc_outside_validity, crypt_utils::import_if_not_exists(early, settings));
    EXPECT_THAT(personal_store::serials(), IsEmpty());
    Lines lines = minimal_lines();
    ASSERT_EQ(6u, lines.size());
    EXPECT_EQ(info + "certificate { CN=Expired } not found in [MY] store, importing...", lines[1]);
    EXPECT_EQ("[  ERROR  ]: " + expiry::expired_text("Expired").substr(0, 1008), lines[2].substr(0, 13 + 1008));
    EXPECT_EQ("[  ERROR  ]: " + expiry::expired_text("Future"), lines[5]);
}

TEST_F(Import, MarkDefaultMarksEveryHandledContainerInTurn)
{
    settings.mark_default = 1;
    std::string der = certificate("0A08", "Present");
    ASSERT_TRUE(personal_store::add(der));
    std::string first = container("first", certificate("0A09", "First"));
    std::string second = container("second", der);
    (void)crypt_utils::import_if_not_exists(first, settings);
    (void)crypt_utils::import_if_not_exists(second, settings);  // already in the store: marked all the same
    EXPECT_THAT(bench_provider::marks(), ElementsAre(first, second));
    Lines lines = minimal_lines();
    EXPECT_EQ(2, std::count(lines.begin(), lines.end(), info + "container was marked as default container"));

    settings.mark_default = 2;
    agent_log::clear();
    (void)crypt_utils::import_if_not_exists(first, settings);
    EXPECT_EQ(2u, bench_provider::marks().size());
    EXPECT_EQ(info + "skip putting a default mark according to service settings", minimal_lines().at(0));
}

TEST_F(Import, FailedDefaultMarkIsOnlyAWarning)
{
    settings.mark_default = 1;
    bench_provider::fail("mark", 0x80090020);  // NTE_FAIL
    std::string name = container("alpha", certificate("0A0A", "Alpha"));
    EXPECT_EQ(0, crypt_utils::import_if_not_exists(name, settings));
    EXPECT_EQ("[ WARNING ]: CryptSetProvParam(PP_CONTAINER_DEFAULT) error, code: 0x80090020, line: N, func: "
              "crypt_utils::import_if_not_exists",
              minimal_lines().at(0));
    EXPECT_THAT(personal_store::serials(), ElementsAre("0A0A"));
}

// A key link is never cut, however long the container's name.
TEST_F(Import, LongContainerNameKeepsItsWholeKeyLink)
{
    std::string name = container(std::string(400, 'n'), certificate("0A0B", "Long"));
    ASSERT_GT(name.size(), 400u);
    EXPECT_EQ(0, crypt_utils::import_if_not_exists(name, settings));
    auto entries = personal_store::list();
    ASSERT_EQ(1u, entries.size());
    EXPECT_EQ(wide(name), entries[0].container);
}

TEST_F(Import, FailuresStopWithTheErrorLineOfTheirStep)
{
    std::string keyless = container("keyless", certificate("0A0C", "K"), "none");
    std::string bare = container("bare", "");
    std::string junk = container("junk", "\x30\x03\x02\x01\x01");
    EXPECT_EQ(static_cast<int>(NTE_NO_KEY), crypt_utils::import_if_not_exists(keyless, settings));
    EXPECT_NE(0, crypt_utils::import_if_not_exists(bare, settings));
    EXPECT_NE(0, crypt_utils::import_if_not_exists(junk, settings));
    EXPECT_EQ(static_cast<int>(NTE_BAD_KEYSET),
              crypt_utils::import_if_not_exists("\\\\.\\Token C001\\absent", settings));

    Lines errors;
    for (const auto& line : minimal_lines())
        if (line.rfind("[  ERROR  ]: ", 0) == 0)
            errors.push_back(line.substr(0, line.find(" error, code:")));
    EXPECT_THAT(errors, ElementsAre("[  ERROR  ]: CryptGetUserKey(2)", "[  ERROR  ]: CryptGetKeyParam(KP_CERTIFICATE, null)",
                                    "[  ERROR  ]: CertCreateCertificateContext()",
                                    "[  ERROR  ]: CryptAcquireContext(\\\\.\\Token C001\\absent, null, 75, "
                                    "CRYPT_MACHINE_KEYSET)"));
    EXPECT_THAT(personal_store::serials(), IsEmpty());
}

TEST_F(Import, ClosingLinesShowTheCleanUpOrder)
{
    std::string name = container("alpha", certificate("0A0D", "Alpha"));
    (void)crypt_utils::import_if_not_exists(name, settings);
    Lines debug;
    for (const auto& line : trace_lines::entries())
        if (line.rfind("[  DEBUG  ]: \t- ", 0) == 0 || line.rfind("[  DEBUG  ]: <---", 0) == 0)
            debug.push_back(line.substr(13));
    EXPECT_THAT(debug, ElementsAre("\t- user_cert", "\t- cert_buffer", "\t- h_cert_store", "\t- prov",
                                   "\t- cont_friendly_name", "<--- closing import_certificate(), rc=0|0x00000000",
                                   "\t- user_cert", "\t- cert_buffer", "\t- h_cert_store", "\t- subject_buffer",
                                   "\t- key", "\t- prov", "<--- closing import_if_not_exists(), rc=0|0x00000000"));
}

}  // namespace
