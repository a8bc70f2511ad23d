// The stand-in GOST provider as CryptoAPI serves it: what the agent's
// routines rely on (the provider interface table), the carriers its
// containers follow, its fault switches and its records; and the test
// certificates crypt32 must accept.
#include "support/bench_carriers.h"
#include "support/bench_provider.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

namespace {

using Names = std::vector<std::string>;

const DWORD provider_type = 75;
const DWORD qualified = 8;

// 0, or the error code the failing call left.
DWORD acquire(HCRYPTPROV& prov, const std::string& container, DWORD flags)
{
    prov = 0;
    if (CryptAcquireContextA(&prov, container.empty() ? nullptr : container.c_str(), nullptr, provider_type, flags))
        return 0;
    return GetLastError();
}

// The size call, then the data call with a buffer of that size.
DWORD read_param(HCRYPTPROV prov, DWORD param, DWORD flags, std::string& value)
{
    DWORD size = 0;
    if (!CryptGetProvParam(prov, param, nullptr, &size, flags))
        return GetLastError();
    std::string buffer(size, '\0');
    if (!CryptGetProvParam(prov, param, reinterpret_cast<BYTE*>(&buffer[0]), &size, flags))
        return GetLastError();
    value = buffer.substr(0, size);
    return 0;
}

std::string text(const std::string& bytes)
{
    return bytes.substr(0, bytes.find('\0'));
}

// The whole walk with a buffer of the size call's size, renewed each call.
DWORD walk(Names& names, DWORD name_flag = qualified)
{
    names.clear();
    HCRYPTPROV prov = 0;
    if (DWORD code = acquire(prov, "", CRYPT_VERIFYCONTEXT))
        return code;
    DWORD size = 0;
    DWORD code = 0;
    if (CryptGetProvParam(prov, PP_ENUMCONTAINERS, nullptr, &size, CRYPT_FIRST)) {
        for (DWORD flags = CRYPT_FIRST | name_flag;; flags = CRYPT_NEXT | name_flag) {
            std::string buffer(size, '\0');
            DWORD length = size;
            if (!CryptGetProvParam(prov, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(&buffer[0]), &length, flags)) {
                code = GetLastError();
                break;
            }
            names.push_back(text(buffer));
        }
    } else {
        code = GetLastError();
    }
    CryptReleaseContext(prov, 0);
    return code;
}

class StandInProvider : public ::testing::Test {
protected:
    void SetUp() override
    {
        bench_carriers::clear_all();
        bench_provider::clear();
    }
    void TearDown() override
    {
        EXPECT_EQ(0, bench_provider::open_contexts());
        EXPECT_EQ(0, bench_provider::open_keys());
    }
};

// Loaded and unloaded with every first and last context, the DLL's static
// run-times would leak a TLS slot each time until a long-running agent fails.
TEST_F(StandInProvider, StaysLoadedOnceTheLastContextIsGone)
{
    HCRYPTPROV prov = 0;
    ASSERT_TRUE(CryptAcquireContextA(&prov, nullptr, nullptr, 75, CRYPT_VERIFYCONTEXT));
    EXPECT_TRUE(CryptReleaseContext(prov, 0));
    EXPECT_NE(nullptr, GetModuleHandleA("bench_gost_csp.dll"));
}

TEST_F(StandInProvider, TokenContainerIsThereExactlyWhileItsTokenIsPluggedIn)
{
    bench_provider::add_container("alpha", "token:0001");
    const std::string full = bench_provider::qualified_name("alpha", "token:0001");
    EXPECT_EQ("\\\\.\\Token 0001\\alpha", full);
    HCRYPTPROV prov = 0;
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_KEYSET), acquire(prov, "alpha", 0));

    bench_carriers::insert_token("0001", "0A89", 2);
    for (DWORD flags : {0x0ul, 0x20ul, 0x40ul, 0x60ul}) {
        for (const std::string& name : {std::string("alpha"), full}) {
            ASSERT_EQ(0u, acquire(prov, name, flags)) << name << " flags " << flags;
            EXPECT_EQ(1, bench_provider::open_contexts());
            EXPECT_TRUE(CryptReleaseContext(prov, 0));
        }
    }
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_KEYSET), acquire(prov, "\\\\.\\Token 0002\\alpha", 0));
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_KEYSET), acquire(prov, "beta", 0));

    bench_carriers::remove_token("0001");
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_KEYSET), acquire(prov, "alpha", 0));
}

TEST_F(StandInProvider, CardContainerFollowsTheCardAndNamesItsReader)
{
    bench_carriers::add_reader("Bench Reader 0");
    bench_provider::add_container("on card", "card:Bench Reader 0");
    HCRYPTPROV prov = 0;
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_KEYSET), acquire(prov, "on card", 0));

    bench_carriers::insert_card("Bench Reader 0");
    ASSERT_EQ(0u, acquire(prov, "on card", 0));
    std::string reader;
    EXPECT_EQ(0u, read_param(prov, PP_SMARTCARD_READER, 0, reader));
    EXPECT_EQ(std::string("Bench Reader 0\0", 15), reader);

    // The card goes while the context is open.
    bench_carriers::remove_card("Bench Reader 0");
    EXPECT_EQ(static_cast<DWORD>(SCARD_W_REMOVED_CARD), read_param(prov, PP_SMARTCARD_READER, 0, reader));
    EXPECT_TRUE(CryptReleaseContext(prov, 0));
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_KEYSET), acquire(prov, "on card", 0));
}

TEST_F(StandInProvider, OnlyCardContainersHaveAReader)
{
    bench_carriers::insert_token("0007");
    bench_provider::add_container("in registry", "registry");
    bench_provider::add_container("on token", "token:0007");
    for (const char* name : {"in registry", "on token"}) {
        HCRYPTPROV prov = 0;
        ASSERT_EQ(0u, acquire(prov, name, 0)) << name;
        std::string reader;
        EXPECT_NE(0u, read_param(prov, PP_SMARTCARD_READER, 0, reader)) << name;
        CryptReleaseContext(prov, 0);
    }
    HCRYPTPROV verify = 0;
    ASSERT_EQ(0u, acquire(verify, "", CRYPT_VERIFYCONTEXT));
    std::string reader;
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_KEYSET), read_param(verify, PP_SMARTCARD_READER, 0, reader));
    CryptReleaseContext(verify, 0);
}

TEST_F(StandInProvider, WalkGivesQualifiedNamesWithFlag8AndPlainOnesWithout)
{
    bench_carriers::insert_token("0001");
    bench_carriers::add_reader("R1");
    bench_carriers::insert_card("R1");
    bench_provider::add_container("a", "token:0001");
    bench_provider::add_container("b", "registry");
    bench_provider::add_container("c", "card:R1");
    bench_provider::add_container("d", "token:0404");  // its token is not plugged in

    Names names;
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_ITEMS), walk(names));
    EXPECT_EQ((Names{"\\\\.\\Token 0001\\a", "\\\\.\\REGISTRY\\b", "\\\\.\\R1\\c"}), names);
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_ITEMS), walk(names, 0));
    EXPECT_EQ((Names{"a", "b", "c"}), names);
}

TEST_F(StandInProvider, SizeCallFitsTheLongestNameAndFailsWhenThereIsNone)
{
    HCRYPTPROV prov = 0;
    ASSERT_EQ(0u, acquire(prov, "", CRYPT_VERIFYCONTEXT));
    DWORD size = 0;
    EXPECT_FALSE(CryptGetProvParam(prov, PP_ENUMCONTAINERS, nullptr, &size, CRYPT_FIRST));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_ITEMS), GetLastError());

    bench_provider::add_container("x", "registry");
    bench_provider::add_container("a much longer name", "registry");
    ASSERT_TRUE(CryptGetProvParam(prov, PP_ENUMCONTAINERS, nullptr, &size, CRYPT_FIRST));
    EXPECT_EQ(sizeof "\\\\.\\REGISTRY\\a much longer name", size);

    // A buffer one byte short: ERROR_MORE_DATA with the length needed, and
    // the walk stays on that name.
    const std::string short_name = "\\\\.\\REGISTRY\\x";
    const std::string long_name = "\\\\.\\REGISTRY\\a much longer name";
    std::string buffer(64, '\0');
    DWORD length = static_cast<DWORD>(short_name.size());
    EXPECT_FALSE(CryptGetProvParam(prov, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(&buffer[0]), &length, 9));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA), GetLastError());
    EXPECT_EQ(short_name.size() + 1, length);
    length = static_cast<DWORD>(buffer.size());
    ASSERT_TRUE(CryptGetProvParam(prov, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(&buffer[0]), &length, 10));
    EXPECT_EQ(short_name, text(buffer));
    EXPECT_EQ(short_name.size() + 1, length);
    length = static_cast<DWORD>(long_name.size());
    EXPECT_FALSE(CryptGetProvParam(prov, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(&buffer[0]), &length, 10));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA), GetLastError());
    EXPECT_EQ(size, length);
    length = static_cast<DWORD>(buffer.size());
    ASSERT_TRUE(CryptGetProvParam(prov, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(&buffer[0]), &length, 10));
    EXPECT_EQ(long_name, text(buffer));
    length = static_cast<DWORD>(buffer.size());
    EXPECT_FALSE(CryptGetProvParam(prov, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(&buffer[0]), &length, 10));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_ITEMS), GetLastError());

    bench_provider::set_busy(true);
    EXPECT_FALSE(CryptGetProvParam(prov, PP_ENUMCONTAINERS, nullptr, &size, CRYPT_FIRST));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_ITEMS), GetLastError());
    CryptReleaseContext(prov, 0);
}

TEST_F(StandInProvider, ContainerNameWithFlag8IsAcceptedBack)
{
    bench_carriers::insert_token("0001");
    bench_provider::add_container("Контейнер 1", "token:0001");
    HCRYPTPROV prov = 0;
    ASSERT_EQ(0u, acquire(prov, "Контейнер 1", CRYPT_MACHINE_KEYSET));
    std::string name;
    ASSERT_EQ(0u, read_param(prov, PP_CONTAINER, qualified, name));
    EXPECT_EQ("\\\\.\\Token 0001\\Контейнер 1", text(name));
    EXPECT_EQ(name.size(), text(name).size() + 1);
    ASSERT_EQ(0u, read_param(prov, PP_CONTAINER, 0, name));
    EXPECT_EQ("Контейнер 1", text(name));
    CryptReleaseContext(prov, 0);

    ASSERT_EQ(0u, acquire(prov, "\\\\.\\Token 0001\\Контейнер 1", CRYPT_SILENT));
    CryptReleaseContext(prov, 0);
}

TEST_F(StandInProvider, UserKeysFollowTheKeySpecsAndCarryTheCertificate)
{
    const std::string certificate = bench_provider::make_certificate(bench_provider::CertificateSpec());
    bench_provider::add_container("exchange", "registry", "1", certificate);
    bench_provider::add_container("signature", "registry", "2", certificate);
    bench_provider::add_container("both", "registry", "both");
    bench_provider::add_container("none", "registry", "none", certificate);

    struct Case {
        const char* name;
        bool exchange;
        bool signature;
    };
    for (const Case& c : {Case{"exchange", true, false}, Case{"signature", false, true}, Case{"both", true, true},
                          Case{"none", false, false}}) {
        HCRYPTPROV prov = 0;
        ASSERT_EQ(0u, acquire(prov, c.name, CRYPT_SILENT));
        for (DWORD key_spec : {DWORD{AT_KEYEXCHANGE}, DWORD{AT_SIGNATURE}}) {
            const bool wanted = key_spec == AT_KEYEXCHANGE ? c.exchange : c.signature;
            HCRYPTKEY key = 0;
            EXPECT_EQ(wanted, CryptGetUserKey(prov, key_spec, &key) != FALSE) << c.name << " key spec " << key_spec;
            if (!wanted) {
                EXPECT_EQ(static_cast<DWORD>(NTE_NO_KEY), GetLastError());
                continue;
            }
            EXPECT_EQ(1, bench_provider::open_keys());
            EXPECT_TRUE(CryptDestroyKey(key));
        }
        CryptReleaseContext(prov, 0);
    }
}

TEST_F(StandInProvider, CertificateComesInTwoCallsAndItsAbsenceIsAnError)
{
    const std::string certificate("\x30\x03\x02\x01\x07", 5);  // not a certificate: served all the same
    bench_provider::add_container("with", "registry", "1", certificate);
    bench_provider::add_container("without", "registry", "1");
    HCRYPTPROV prov = 0;
    HCRYPTKEY key = 0;
    ASSERT_EQ(0u, acquire(prov, "with", CRYPT_SILENT));
    ASSERT_TRUE(CryptGetUserKey(prov, AT_KEYEXCHANGE, &key));
    DWORD size = 0;
    ASSERT_TRUE(CryptGetKeyParam(key, KP_CERTIFICATE, nullptr, &size, 0));
    EXPECT_EQ(5u, size);
    std::string bytes(16, '\0');
    size = 4;
    EXPECT_FALSE(CryptGetKeyParam(key, KP_CERTIFICATE, reinterpret_cast<BYTE*>(&bytes[0]), &size, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA), GetLastError());
    size = static_cast<DWORD>(bytes.size());
    ASSERT_TRUE(CryptGetKeyParam(key, KP_CERTIFICATE, reinterpret_cast<BYTE*>(&bytes[0]), &size, 0));
    EXPECT_EQ(certificate, bytes.substr(0, size));
    CryptDestroyKey(key);
    CryptReleaseContext(prov, 0);

    ASSERT_EQ(0u, acquire(prov, "without", CRYPT_SILENT));
    ASSERT_TRUE(CryptGetUserKey(prov, AT_KEYEXCHANGE, &key));
    EXPECT_FALSE(CryptGetKeyParam(key, KP_CERTIFICATE, nullptr, &size, 0));
    EXPECT_EQ(static_cast<DWORD>(SCARD_E_NO_SUCH_CERTIFICATE), GetLastError());
    CryptDestroyKey(key);
    CryptReleaseContext(prov, 0);
}

TEST_F(StandInProvider, DefaultMarksAreRecordedInOrder)
{
    bench_provider::add_container("one", "registry");
    bench_provider::add_container("two", "registry");
    HCRYPTPROV prov = 0;
    ASSERT_EQ(0u, acquire(prov, "two", CRYPT_MACHINE_KEYSET));
    const std::string full = "\\\\.\\REGISTRY\\one";
    EXPECT_TRUE(CryptSetProvParam(prov, 135, reinterpret_cast<const BYTE*>(full.c_str()), 0));
    EXPECT_TRUE(CryptSetProvParam(prov, 135, reinterpret_cast<const BYTE*>("two"), 0));
    EXPECT_FALSE(CryptSetProvParam(prov, 135, reinterpret_cast<const BYTE*>("three"), 0));
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_KEYSET), GetLastError());
    CryptReleaseContext(prov, 0);
    EXPECT_EQ((Names{full, "two"}), bench_provider::marks());

    // A context without a container name opens the default one.
    ASSERT_EQ(0u, acquire(prov, "", 0));
    std::string name;
    EXPECT_EQ(0u, read_param(prov, PP_CONTAINER, 0, name));
    EXPECT_EQ("two", text(name));
    CryptReleaseContext(prov, 0);
}

TEST_F(StandInProvider, AcquisitionsAreRecordedWithTheirFlags)
{
    bench_provider::add_container("one", "registry");
    HCRYPTPROV prov = 0;
    ASSERT_EQ(0u, acquire(prov, "one", CRYPT_SILENT));
    CryptReleaseContext(prov, 0);
    EXPECT_NE(0u, acquire(prov, "missing", 0));
    ASSERT_EQ(0u, acquire(prov, "", CRYPT_VERIFYCONTEXT));
    CryptReleaseContext(prov, 0);
    EXPECT_EQ((Names{"0x00000040 one", "0x00000000 missing", "0xF0000000 "}), bench_provider::acquisitions());
}

TEST_F(StandInProvider, WalkFaultHitsTheChosenNamedCallForTheChosenNumberOfWalks)
{
    for (const char* name : {"a", "b", "c"})
        bench_provider::add_container(name, "registry");
    bench_provider::fail_walk(2, static_cast<unsigned long>(NTE_FAIL), 1);
    Names names;
    EXPECT_EQ(static_cast<DWORD>(NTE_FAIL), walk(names));
    EXPECT_EQ((Names{"\\\\.\\REGISTRY\\a"}), names);
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_ITEMS), walk(names));
    EXPECT_EQ(3u, names.size());

    bench_provider::fail_walk(1, ERROR_NO_MORE_ITEMS);
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_ITEMS), walk(names));
        EXPECT_TRUE(names.empty());
    }
}

TEST_F(StandInProvider, OperationFaultsAndTheVanishingCarriers)
{
    bench_provider::add_container("a", "registry", "1", "cert");
    HCRYPTPROV prov = 0;
    bench_provider::fail("acquire", static_cast<unsigned long>(NTE_FAIL));
    EXPECT_EQ(static_cast<DWORD>(NTE_FAIL), acquire(prov, "", CRYPT_VERIFYCONTEXT));
    bench_provider::fail("acquire", 0);
    bench_provider::fail("certificate", static_cast<unsigned long>(NTE_BAD_KEYSET));
    ASSERT_EQ(0u, acquire(prov, "a", 0));
    HCRYPTKEY key = 0;
    ASSERT_TRUE(CryptGetUserKey(prov, AT_KEYEXCHANGE, &key));
    DWORD size = 0;
    EXPECT_FALSE(CryptGetKeyParam(key, KP_CERTIFICATE, nullptr, &size, 0));
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_KEYSET), GetLastError());
    CryptDestroyKey(key);
    CryptReleaseContext(prov, 0);

    bench_provider::vanish_after_walk(true);
    Names names;
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_ITEMS), walk(names));
    EXPECT_EQ(1u, names.size());
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_KEYSET), acquire(prov, "a", 0));
    bench_provider::set_hidden(false);
    EXPECT_EQ(0u, acquire(prov, "a", 0));
    CryptReleaseContext(prov, 0);
}

TEST_F(StandInProvider, ReportsItsVersionWordAndRecord)
{
    HCRYPTPROV prov = 0;
    ASSERT_EQ(0u, acquire(prov, "", CRYPT_VERIFYCONTEXT));
    bench_provider::set_version(0x10405, 1234, 5678, 1, 0, 0);
    DWORD word = 0;
    DWORD size = sizeof word;
    ASSERT_TRUE(CryptGetProvParam(prov, PP_VERSION, reinterpret_cast<BYTE*>(&word), &size, 0));
    EXPECT_EQ(0x10405u, word);
    std::string record;
    ASSERT_EQ(0u, read_param(prov, 138, 0, record));
    const DWORD expected[5] = {1234, 5678, 1, 0, 0};
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(expected), sizeof expected), record);

    bench_provider::drop_version_ex();
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_TYPE), read_param(prov, 138, 0, record));
    CryptReleaseContext(prov, 0);
}

// --- test certificates -------------------------------------------------------

std::string common_name(PCCERT_CONTEXT certificate, DWORD which)
{
    wchar_t name[256] = {};
    CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, which, const_cast<char*>(szOID_COMMON_NAME), name, 256);
    char utf8[1024] = {};
    WideCharToMultiByte(CP_UTF8, 0, name, -1, utf8, sizeof utf8, nullptr, nullptr);
    return utf8;
}

SYSTEMTIME system_time(const FILETIME& when)
{
    SYSTEMTIME t = {};
    FileTimeToSystemTime(&when, &t);
    return t;
}

TEST(TestCertificates, Crypt32ReadsWhatWasAskedFor)
{
    bench_provider::CertificateSpec wanted;
    wanted.serial = "000A1B2C";
    wanted.subject_cn = "Иванов Иван Иванович";
    wanted.issuer_cn = "Тестовый УЦ";
    wanted.not_before = {2024, 2, 29, 23, 59, 58};
    wanted.not_after = {2051, 1, 2, 3, 4, 5};  // after 2049: GeneralizedTime
    const std::string der = bench_provider::make_certificate(wanted);
    PCCERT_CONTEXT certificate = CertCreateCertificateContext(
        X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size()));
    ASSERT_NE(nullptr, certificate) << std::hex << GetLastError();
    const CERT_INFO* info = certificate->pCertInfo;
    EXPECT_EQ(static_cast<DWORD>(CERT_V3), info->dwVersion);
    ASSERT_EQ(3u, info->SerialNumber.cbData);  // leading zero byte dropped, stored little-endian
    EXPECT_EQ(0x2C, info->SerialNumber.pbData[0]);
    EXPECT_EQ(0x0A, info->SerialNumber.pbData[2]);
    EXPECT_EQ("Иванов Иван Иванович", common_name(certificate, 0));
    EXPECT_EQ("Тестовый УЦ", common_name(certificate, CERT_NAME_ISSUER_FLAG));
    SYSTEMTIME before = system_time(info->NotBefore);
    SYSTEMTIME after = system_time(info->NotAfter);
    EXPECT_EQ(2024, before.wYear);
    EXPECT_EQ(29, before.wDay);
    EXPECT_EQ(58, before.wSecond);
    EXPECT_EQ(2051, after.wYear);
    EXPECT_EQ(5, after.wSecond);
    CertFreeCertificateContext(certificate);
}

TEST(TestCertificates, SubjectWithoutCommonNameAndHighSerialByte)
{
    bench_provider::CertificateSpec wanted;
    wanted.with_cn = false;
    wanted.serial = "FF";
    const std::string der = bench_provider::make_certificate(wanted);
    PCCERT_CONTEXT certificate = CertCreateCertificateContext(
        X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size()));
    ASSERT_NE(nullptr, certificate);
    EXPECT_EQ("", common_name(certificate, 0));
    EXPECT_EQ("Keyhaven Test CA", common_name(certificate, CERT_NAME_ISSUER_FLAG));
    // 0xFF needs a sign byte to stay positive; crypt32 keeps it.
    ASSERT_EQ(2u, certificate->pCertInfo->SerialNumber.cbData);
    EXPECT_EQ(0xFF, certificate->pCertInfo->SerialNumber.pbData[0]);
    EXPECT_EQ(0x00, certificate->pCertInfo->SerialNumber.pbData[1]);
    CertFreeCertificateContext(certificate);
}

TEST(TestCertificates, DefaultValidityRunsFromYesterdayForAYear)
{
    const std::string der = bench_provider::make_certificate(bench_provider::CertificateSpec());
    PCCERT_CONTEXT certificate = CertCreateCertificateContext(
        X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size()));
    ASSERT_NE(nullptr, certificate);
    EXPECT_EQ(0, CertVerifyTimeValidity(nullptr, certificate->pCertInfo));
    CertFreeCertificateContext(certificate);
}

}  // namespace
