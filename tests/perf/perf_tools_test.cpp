// The benchmark's own instruments, checked against the workstation: the
// floor must make exactly the census's calls, the meter must see handles,
// threads, memory and CPU as they come and go, and a store snapshot must
// put the store back exactly, key links included.
#include "carriers/census.h"
#include "benchmark/floor_calls.h"
#include "benchmark/perf_meter.h"
#include "benchmark/perf_store.h"
#include "settings/settings.h"
#include "support/bench_carriers.h"
#include "support/bench_provider.h"
#include "support/personal_store.h"

#include "common/bench_files.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

using namespace keyhaven;

namespace {

using bench_carriers::Card;

// A PC/SC call without the handle numbers, which differ between processes
// and runs.
std::string call_text(const bench_carriers::PcscCall& call)
{
    std::string text = call.call + " " + call.reader;
    for (const auto& field : call.fields)
        if (field.first != "context" && field.first != "card")
            text += " " + field.first + "=" + field.second;
    return text;
}

std::vector<std::string> recorded_calls()
{
    std::vector<std::string> calls;
    for (const auto& call : bench_carriers::pcsc_calls())
        calls.push_back(call_text(call));
    return calls;
}

Card replying(std::vector<std::string> replies)
{
    Card card;
    card.replies = std::move(replies);
    return card;
}

class FloorCalls : public ::testing::Test {
protected:
    void SetUp() override { bench_carriers::clear_all(); }
    void TearDown() override { bench_carriers::clear_all(); }
};

TEST_F(FloorCalls, ReadersGetTheCensusCallsInTheCensusOrder)
{
    bench_carriers::add_reader("Perf A");
    bench_carriers::insert_card("Perf A");
    bench_carriers::add_reader("Perf B");
    bench_carriers::insert_card("Perf B", replying({"6110", "00112233445566778899AABBCCDDEEFF9000"}));
    bench_carriers::add_reader("Perf C");
    bench_carriers::insert_card("Perf C", replying({"6D00"}));
    bench_carriers::add_reader("Perf D");
    bench_carriers::add_reader("ACS FT SCR 2");
    bench_carriers::insert_card("ACS FT SCR 2");

    bench_carriers::clear_pcsc_records();
    const int census_cards = CarrierCensus().count_cards();
    const std::vector<std::string> census_calls = recorded_calls();
    bench_carriers::clear_pcsc_records();
    const int floor_cards = floor_calls::readers();

    EXPECT_EQ(2, census_cards);
    EXPECT_EQ(census_cards, floor_cards);
    EXPECT_EQ(census_calls, recorded_calls());
    const auto open = bench_carriers::open_pcsc_handles();
    EXPECT_EQ(0, open.contexts + open.cards + open.lists);
}

TEST_F(FloorCalls, UsbWalkSeesEveryNodeTheCensusWalks)
{
    CarrierCensus census;
    const int nodes = floor_calls::usb_walk();
    bench_carriers::insert_token("PERFTEST1", "0A89", 2);
    bench_carriers::add_usb_device("PERFTEST2", "046D");
    EXPECT_EQ(nodes + 3, floor_calls::usb_walk());
    EXPECT_EQ(2, census.count_tokens());
}

TEST_F(FloorCalls, SettingsFileIsReadWholeOrNotAtAll)
{
    const std::string path = "c:\\nivra\\Keyhaven.ini";
    CreateDirectoryA("c:\\nivra", nullptr);
    const std::string saved = bench::read_file(path);
    const std::string text = "[properties]\r\nclean_storage = 0\r\n" + std::string(5000, '#') + "\r\n";
    bench::write_file(path, text);
    EXPECT_EQ(static_cast<long>(text.size()), floor_calls::settings_file());
    DeleteFileA(path.c_str());
    EXPECT_EQ(0, floor_calls::settings_file());
    if (!saved.empty())
        bench::write_file(path, saved);
}

TEST_F(FloorCalls, MutexIsGoneAfterwardsLikeTheAgents)
{
    floor_calls::mutexes();
    HANDLE left = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, "nivra_crypto_pro_mutex");
    EXPECT_EQ(nullptr, left);
    if (left)
        CloseHandle(left);
}

DWORD WINAPI wait_for(void* event)
{
    WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
    return 0;
}

TEST(Meter, HandleCountFollowsOpenAndClose)
{
    const long before = perf::handle_count();
    ASSERT_GT(before, 0);
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(before + 1, perf::handle_count());
    CloseHandle(event);
    EXPECT_EQ(before, perf::handle_count());
}

TEST(Meter, ThreadCountSeesAThreadUntilItEnds)
{
    const long before = perf::thread_count();
    ASSERT_GE(before, 1);
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, wait_for, release, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    EXPECT_EQ(before + 1, perf::thread_count());
    SetEvent(release);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CloseHandle(release);
    EXPECT_EQ(before, perf::thread_count());
}

TEST(Meter, PrivateBytesSeeCommittedMemoryComeAndGo)
{
    const std::size_t size = 8 << 20;
    const std::size_t before = perf::private_bytes();
    void* block = VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    ASSERT_NE(nullptr, block);
    EXPECT_GE(perf::private_bytes(), before + size);
    VirtualFree(block, 0, MEM_RELEASE);
    EXPECT_LT(perf::private_bytes(), before + size);
}

TEST(Meter, CountsTheProcessAndItsWineserver)
{
    const std::string where = perf::meter_description();
    EXPECT_NE(std::string::npos, where.find("process CPU from Z:")) << where;
    EXPECT_NE(std::string::npos, where.find("wineserver CPU from Z:")) << where;
    const perf::Reading start = perf::read_meter();
    for (int i = 0; i < 3000; ++i)  // each a round trip to the server
        CloseHandle(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    const perf::Reading end = perf::read_meter();
    EXPECT_GT(end.process_cpu_ms, start.process_cpu_ms);
    EXPECT_GT(end.server_cpu_ms, start.server_cpu_ms);
    EXPECT_GT(end.wall_ms, start.wall_ms);
}

class StoreSnapshot : public ::testing::Test {
protected:
    void SetUp() override { personal_store::clear(); }
    void TearDown() override { personal_store::clear(); }

    static std::string certificate(const std::string& serial, const std::string& subject)
    {
        bench_provider::CertificateSpec wanted;
        wanted.serial = serial;
        wanted.subject_cn = subject;
        return bench_provider::make_certificate(wanted);
    }

    // Adds it with a key link, the way an import leaves a certificate.
    static void add_linked(const std::string& der, const wchar_t* container)
    {
        HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"My");
        ASSERT_NE(nullptr, store);
        PCCERT_CONTEXT added = nullptr;
        ASSERT_TRUE(CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                     reinterpret_cast<const BYTE*>(der.data()),
                                                     static_cast<DWORD>(der.size()), CERT_STORE_ADD_NEW, &added));
        CRYPT_KEY_PROV_INFO link = {};
        link.pwszContainerName = const_cast<wchar_t*>(container);
        link.pwszProvName = const_cast<wchar_t*>(L"Keyhaven Test Provider");
        link.dwProvType = 75;
        link.dwKeySpec = AT_KEYEXCHANGE;
        EXPECT_TRUE(CertSetCertificateContextProperty(added, CERT_KEY_PROV_INFO_PROP_ID, 0, &link));
        CertFreeCertificateContext(added);
        CertCloseStore(store, 0);
    }
};

TEST_F(StoreSnapshot, PutsBackExactlyWhatWasThereKeyLinksIncluded)
{
    const std::string linked = certificate("7A01", "Perf Linked");
    add_linked(linked, L"perf-linked");
    const perf_store::Snapshot snapshot = perf_store::Snapshot::take();
    ASSERT_EQ(1u, snapshot.size());

    EXPECT_EQ(2, perf_store::add({certificate("7A02", "Perf Added 2"), certificate("7A03", "Perf Added 3")}));
    EXPECT_TRUE(perf_store::remove(perf_store::thumbprint(linked)));
    ASSERT_TRUE(snapshot.put_back());

    const auto entries = personal_store::list();
    ASSERT_EQ(1u, entries.size());
    EXPECT_EQ("7A01", entries[0].serial);
    EXPECT_TRUE(entries[0].key_link);
    EXPECT_EQ(L"perf-linked", entries[0].container);
    EXPECT_EQ(1u, personal_store::persisted_count());
}

TEST_F(StoreSnapshot, AnEmptySnapshotEmptiesTheStore)
{
    EXPECT_EQ(3, perf_store::add({certificate("7A11", "A"), certificate("7A12", "B"), certificate("7A13", "C")}));
    EXPECT_EQ(3, perf_store::count());
    ASSERT_TRUE(perf_store::Snapshot().put_back());
    EXPECT_EQ(0, perf_store::count());
    EXPECT_EQ(0u, personal_store::persisted_count());
}

TEST_F(StoreSnapshot, ThumbprintFindsAndRemovesOneCertificate)
{
    const std::string kept = certificate("7A21", "Kept"), gone = certificate("7A22", "Gone");
    ASSERT_EQ(2, perf_store::add({kept, gone}));
    EXPECT_EQ(20u, perf_store::thumbprint(gone).size());
    EXPECT_TRUE(perf_store::holds(perf_store::thumbprint(gone)));
    EXPECT_TRUE(perf_store::remove(perf_store::thumbprint(gone)));
    EXPECT_FALSE(perf_store::holds(perf_store::thumbprint(gone)));
    EXPECT_FALSE(perf_store::remove(perf_store::thumbprint(gone)));
    EXPECT_TRUE(perf_store::holds(perf_store::thumbprint(kept)));
    EXPECT_EQ(1u, personal_store::persisted_count());
}

}  // namespace
