// The validity check on real certificate contexts, against today's date:
// outcomes are computed from the calendar rule for the day the test runs.
#include "crypt_utils/expiry_check.h"
#include "crypt_utils/expiry_rules.h"
#include "support/agent_log.h"
#include "support/bench_provider.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

using namespace keyhaven;

namespace {

using Lines = std::vector<std::string>;

PCCERT_CONTEXT context_of(const std::string& der)
{
    return CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                        reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size()));
}

PCCERT_CONTEXT certificate_ending_in(long long seconds, const std::string& cn = "Subject")
{
    bench_provider::CertificateSpec wanted;
    wanted.subject_cn = cn;
    wanted.not_after = bench_provider::utc_from_now(seconds);
    return context_of(bench_provider::make_certificate(wanted));
}

// The messages of the minimal log file, as logged. A warning text spans
// lines: the log's text mode writes its line feeds as CR LF.
Lines messages()
{
    Lines lines;
    std::string text = agent_log::read(true);
    std::string::size_type start = 0;
    while (start < text.size()) {
        std::string::size_type next = text.find("\r\n", start);
        // A continuation line has no time stamp of its own.
        bool stamped = text.size() - start > 11 && text.compare(start + 8, 3, " > ") == 0;
        std::string line = text.substr(start, next - start);
        if (stamped || lines.empty())
            lines.push_back(line.substr(stamped ? 11 : 0));
        else
            lines.back() += "\n" + line;
        start = next == std::string::npos ? text.size() : next + 2;
    }
    return lines;
}

int thread_count()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    return count;
}

// What the rule says for a certificate ending that many seconds from now.
std::string expected_warning(long long seconds, const std::string& cn)
{
    SYSTEMTIME now, end;
    GetSystemTime(&now);
    FILETIME ft;
    SystemTimeToFileTime(&now, &ft);
    ULARGE_INTEGER t;
    t.LowPart = ft.dwLowDateTime;
    t.HighPart = ft.dwHighDateTime;
    t.QuadPart += static_cast<unsigned long long>(seconds) * 10000000ULL;
    ft.dwLowDateTime = t.LowPart;
    ft.dwHighDateTime = t.HighPart;
    FileTimeToSystemTime(&ft, &end);
    unsigned short days = 0;
    if (!expiry::days_left_warning({now.wYear, now.wMonth, now.wDay}, {end.wYear, end.wMonth, end.wDay}, days))
        return std::string();
    return "[ WARNING ]: " + expiry::days_left_text(days, cn);
}

class ExpiryCheck : public ::testing::Test {
protected:
    void SetUp() override { agent_log::clear(); }
};

TEST_F(ExpiryCheck, ExpiredOrNotYetValidWarnsAtErrorAndVetoes)
{
    PCCERT_CONTEXT expired = certificate_ending_in(-60, "Old");
    bench_provider::CertificateSpec wanted;
    wanted.subject_cn = "Early";
    wanted.not_before = bench_provider::utc_from_now(3600);
    PCCERT_CONTEXT early = context_of(bench_provider::make_certificate(wanted));

    EXPECT_TRUE(crypt_utils::check_cert_expiration(expired));
    EXPECT_TRUE(crypt_utils::check_cert_expiration(early));
    EXPECT_EQ((Lines{"[  ERROR  ]: " + expiry::expired_text("Old"), "[  ERROR  ]: " + expiry::expired_text("Early")}),
              messages());
    CertFreeCertificateContext(expired);
    CertFreeCertificateContext(early);
}

TEST_F(ExpiryCheck, ValidCertificatesWarnByTheCalendarRule)
{
    for (long long days : {0LL, 1LL, 11LL, 12LL, 21LL, 30LL, 45LL, 400LL}) {
        agent_log::clear();
        long long seconds = days == 0 ? 60 : days * 86400;
        PCCERT_CONTEXT certificate = certificate_ending_in(seconds, "Rule");
        EXPECT_FALSE(crypt_utils::check_cert_expiration(certificate));
        std::string expected = expected_warning(seconds, "Rule");
        EXPECT_EQ(expected.empty() ? Lines{} : Lines{expected}, messages()) << days << " days";
        CertFreeCertificateContext(certificate);
    }
}

// Boxes run on threads of their own that the caller never waits for; each
// ends once its box is gone (at once here, without a display), and takes
// its request with it.
int settled_thread_count()
{
    int count = thread_count();
    for (int i = 0; i < 100; ++i) {
        Sleep(50);
        int now = thread_count();
        if (now == count)
            return now;
        count = now;
    }
    return count;
}

TEST_F(ExpiryCheck, FiftyWarningsStartFiftyThreadsThatAllEnd)
{
    PCCERT_CONTEXT expired = certificate_ending_in(-60, "Fifty");
    // The first box brings up the window system's own threads, which stay.
    EXPECT_TRUE(crypt_utils::check_cert_expiration(expired));
    const int before = settled_thread_count();
    for (int i = 0; i < 50; ++i)
        EXPECT_TRUE(crypt_utils::check_cert_expiration(expired));
    CertFreeCertificateContext(expired);
    EXPECT_EQ(51u, messages().size());
    for (int i = 0; i < 100 && thread_count() > before; ++i)
        Sleep(50);
    EXPECT_LE(thread_count(), before);
}

TEST_F(ExpiryCheck, HugeCommonNameStillWarns)
{
    PCCERT_CONTEXT expired = certificate_ending_in(-60, std::string(10000, 'W') + "%s%n");
    EXPECT_TRUE(crypt_utils::check_cert_expiration(expired));
    CertFreeCertificateContext(expired);
    Lines lines = messages();
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(13u + 1008u, lines[0].size());  // the log cuts it; the box gets the 1023-byte text
}

}  // namespace
