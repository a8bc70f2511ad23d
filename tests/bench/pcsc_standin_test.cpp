// The bench's winscard.dll, as any program of the workstation meets it: the
// census tests can only be trusted if it answers with PC/SC's own codes.
#include "common/bench_files.h"
#include "support/bench_carriers.h"
#include "winscard/pcsc_state.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <winscard.h>

#include <cstring>

namespace {

using bench_carriers::Card;

class PcscStandIn : public ::testing::Test {
protected:
    void SetUp() override
    {
        bench_carriers::clear_all();
        ASSERT_EQ(SCARD_S_SUCCESS, SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context));
    }
    void TearDown() override
    {
        for (SCARDHANDLE card : cards)
            SCardDisconnect(card, SCARD_LEAVE_CARD);
        SCardReleaseContext(context);
        const auto open = bench_carriers::open_pcsc_handles();
        EXPECT_EQ(0, open.contexts);
        EXPECT_EQ(0, open.cards);
        EXPECT_EQ(0, open.lists);
        bench_carriers::clear_all();
    }

    LONG connect(const char* reader, DWORD protocols = SCARD_PROTOCOL_T0, DWORD share = SCARD_SHARE_SHARED)
    {
        SCARDHANDLE card = 0;
        active = 0;
        LONG rc = SCardConnectA(context, reader, share, protocols, &card, &active);
        if (rc == SCARD_S_SUCCESS)
            cards.push_back(card);
        return rc;
    }

    LONG transmit(SCARDHANDLE card, std::string& reply, DWORD room = 260)
    {
        const BYTE probe[] = {0x80, 0xFE, 0x06, 0x00, 0x00};
        BYTE buffer[300] = {};
        DWORD length = room;
        LONG rc = SCardTransmit(card, SCARD_PCI_T0, probe, sizeof probe, nullptr, buffer, &length);
        reply = rc == SCARD_S_SUCCESS ? bench::to_hex(std::string(reinterpret_cast<char*>(buffer), length)) : "";
        last_length = length;
        return rc;
    }

    SCARDCONTEXT context = 0;
    std::vector<SCARDHANDLE> cards;
    DWORD active = 0;
    DWORD last_length = 0;
};

TEST_F(PcscStandIn, ListsReadersInStateOrderWithBlanksInNames)
{
    LPSTR list = nullptr;
    DWORD length = SCARD_AUTOALLOCATE;
    EXPECT_EQ(SCARD_E_NO_READERS_AVAILABLE,
              SCardListReadersA(context, nullptr, reinterpret_cast<LPSTR>(&list), &length));

    bench_carriers::add_reader("Zeta reader 0");
    bench_carriers::add_reader("Alpha reader 1");
    length = SCARD_AUTOALLOCATE;
    ASSERT_EQ(SCARD_S_SUCCESS, SCardListReadersA(context, nullptr, reinterpret_cast<LPSTR>(&list), &length));
    const char expected[] = "Zeta reader 0\0Alpha reader 1\0";  // and the literal's NUL ends the list
    ASSERT_EQ(sizeof expected, length);
    EXPECT_EQ(0, std::memcmp(expected, list, sizeof expected));
    EXPECT_EQ(1, bench_carriers::open_pcsc_handles().lists);
    EXPECT_EQ(SCARD_S_SUCCESS, SCardFreeMemory(context, list));
    EXPECT_EQ(0, bench_carriers::open_pcsc_handles().lists);
    EXPECT_NE(SCARD_S_SUCCESS, SCardFreeMemory(context, list));  // a second free is caught

    // Caller's buffer: size query, too small, exact.
    DWORD needed = 0;
    ASSERT_EQ(SCARD_S_SUCCESS, SCardListReadersA(context, nullptr, nullptr, &needed));
    EXPECT_EQ(sizeof expected, needed);
    char small[4];
    length = sizeof small;
    EXPECT_EQ(SCARD_E_INSUFFICIENT_BUFFER, SCardListReadersA(context, nullptr, small, &length));
    std::string exact(needed, 'x');
    length = needed;
    EXPECT_EQ(SCARD_S_SUCCESS, SCardListReadersA(context, nullptr, &exact[0], &length));
    EXPECT_EQ(std::string(expected, sizeof expected), exact);
}

TEST_F(PcscStandIn, ConnectAnswersWithThePcscCodeOfEachSituation)
{
    bench_carriers::add_reader("Empty");
    bench_carriers::add_reader("Card");
    bench_carriers::insert_card("Card");
    Card t1;
    t1.t1_only = true;
    bench_carriers::add_reader("T1");
    bench_carriers::insert_card("T1", t1);
    Card held;
    held.exclusive = true;
    bench_carriers::add_reader("Held");
    bench_carriers::insert_card("Held", held);

    EXPECT_EQ(SCARD_E_UNKNOWN_READER, connect("Absent"));
    EXPECT_EQ(SCARD_W_REMOVED_CARD, connect("Empty"));
    EXPECT_EQ(SCARD_E_SHARING_VIOLATION, connect("Held"));
    EXPECT_EQ(SCARD_E_PROTO_MISMATCH, connect("T1"));
    EXPECT_EQ(SCARD_S_SUCCESS, connect("T1", SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1));
    EXPECT_EQ(static_cast<DWORD>(SCARD_PROTOCOL_T1), active);
    EXPECT_EQ(SCARD_S_SUCCESS, connect("Card"));
    EXPECT_EQ(static_cast<DWORD>(SCARD_PROTOCOL_T0), active);
    EXPECT_EQ(2, bench_carriers::open_pcsc_handles().cards);

    SCARDHANDLE card = 0;
    DWORD protocol = 0;
    EXPECT_EQ(SCARD_E_INVALID_HANDLE,
              SCardConnectA(context + 1000, "Card", SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0, &card, &protocol));
}

TEST_F(PcscStandIn, RepliesComeInOrderPerConnectionAndTheLastRepeats)
{
    Card card;
    card.replies = {"6110", "AABB9000", "6D00"};
    bench_carriers::add_reader("R");
    bench_carriers::insert_card("R", card);
    ASSERT_EQ(SCARD_S_SUCCESS, connect("R"));
    std::string reply;
    for (const char* expected : {"6110", "AABB9000", "6D00", "6D00"}) {
        EXPECT_EQ(SCARD_S_SUCCESS, transmit(cards[0], reply));
        EXPECT_EQ(expected, reply);
    }
    ASSERT_EQ(SCARD_S_SUCCESS, connect("R"));  // a new connection starts over
    EXPECT_EQ(SCARD_S_SUCCESS, transmit(cards[1], reply));
    EXPECT_EQ("6110", reply);
}

TEST_F(PcscStandIn, TransmitFailuresUseTheirRealCodes)
{
    Card failing;
    failing.replies = {"!80100016"};
    bench_carriers::add_reader("Failing");
    bench_carriers::insert_card("Failing", failing);
    Card mute;
    mute.replies = {};
    bench_carriers::add_reader("Mute");
    bench_carriers::insert_card("Mute", mute);
    Card big;
    big.replies = {"00112233449000"};
    bench_carriers::add_reader("Big");
    bench_carriers::insert_card("Big", big);
    ASSERT_EQ(SCARD_S_SUCCESS, connect("Failing"));
    ASSERT_EQ(SCARD_S_SUCCESS, connect("Mute"));
    ASSERT_EQ(SCARD_S_SUCCESS, connect("Big"));

    std::string reply;
    EXPECT_EQ(SCARD_E_NOT_TRANSACTED, transmit(cards[0], reply));
    EXPECT_EQ(SCARD_E_TIMEOUT, transmit(cards[1], reply));
    EXPECT_EQ(SCARD_E_INSUFFICIENT_BUFFER, transmit(cards[2], reply, 4));
    EXPECT_EQ(7u, last_length);

    bench_carriers::remove_card("Big");  // pulled while connected
    EXPECT_EQ(SCARD_W_REMOVED_CARD, transmit(cards[2], reply));
    EXPECT_EQ(SCARD_E_INVALID_HANDLE, transmit(0xDEAD, reply));
}

TEST_F(PcscStandIn, StoppedServiceRefusesContexts)
{
    bench_carriers::stop_pcsc_service(true);
    SCARDCONTEXT second = 0;
    EXPECT_EQ(SCARD_E_NO_SERVICE, SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &second));
    EXPECT_EQ(1, bench_carriers::open_pcsc_handles().contexts);  // only the fixture's
}

TEST_F(PcscStandIn, CountersShowWhatIsStillOpen)
{
    bench_carriers::add_reader("R");
    bench_carriers::insert_card("R");
    ASSERT_EQ(SCARD_S_SUCCESS, connect("R"));
    EXPECT_EQ(1, bench_carriers::open_pcsc_handles().contexts);
    EXPECT_EQ(1, bench_carriers::open_pcsc_handles().cards);
    EXPECT_EQ(SCARD_S_SUCCESS, SCardDisconnect(cards[0], SCARD_LEAVE_CARD));
    EXPECT_EQ(SCARD_E_INVALID_HANDLE, SCardDisconnect(cards[0], SCARD_LEAVE_CARD));
    cards.clear();
    EXPECT_EQ(0, bench_carriers::open_pcsc_handles().cards);
}

TEST(PcscState, LinesRoundTripAndBrokenLinesAreLeftOut)
{
    pcsc_bench::Reader reader;
    ASSERT_TRUE(pcsc_bench::parse_reader("Aktiv Co. Rutoken S 0\tcard\tt1-only,exclusive\t6110;;9000", reader));
    EXPECT_EQ("Aktiv Co. Rutoken S 0", reader.name);
    EXPECT_TRUE(reader.card && reader.t1_only && reader.exclusive);
    EXPECT_EQ((std::vector<std::string>{"6110", "", "9000"}), reader.replies);
    EXPECT_EQ("Aktiv Co. Rutoken S 0\tcard\tt1-only,exclusive\t6110;;9000", pcsc_bench::format_reader(reader));

    EXPECT_EQ(1u,
              pcsc_bench::parse_state({"R\tnone\t-\t-", "R2\tmaybe\t-\t-", "R3\tcard\t-", "", "\tcard\t-\t-"}).size());
}

// The bridge's winscard.dll (bench/workstation create --pcsc system) with no
// Winelib library beside it: a clear failure, as of a stopped service, and
// one record line that says why, never a success.
TEST(PcscBridge, WithoutItsLibraryEveryCallFailsAsWithoutTheService)
{
    bench_carriers::clear_all();
    char program[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, program, MAX_PATH);
    ASSERT_TRUE(length > 0 && length < MAX_PATH);
    std::string bridge(program, length);
    bridge = bridge.substr(0, bridge.find_last_of('\\') + 1) + "pcsc-bridge\\winscard.dll";
    const std::string alone = bench::path("bridge-alone.dll");
    ASSERT_TRUE(CopyFileA(bridge.c_str(), alone.c_str(), FALSE)) << bridge;
    HMODULE module = LoadLibraryA(alone.c_str());
    ASSERT_NE(nullptr, module);

    using Establish = LONG(WINAPI*)(DWORD, LPCVOID, LPCVOID, SCARDCONTEXT*);
    using List = LONG(WINAPI*)(SCARDCONTEXT, LPCSTR, LPSTR, DWORD*);
    using Connect = LONG(WINAPI*)(SCARDCONTEXT, LPCSTR, DWORD, DWORD, SCARDHANDLE*, DWORD*);
    using FreeMemory = LONG(WINAPI*)(SCARDCONTEXT, LPCVOID);
    const auto find = [module](const char* name) { return reinterpret_cast<void*>(GetProcAddress(module, name)); };
    const auto establish = reinterpret_cast<Establish>(find("SCardEstablishContext"));
    const auto list = reinterpret_cast<List>(find("SCardListReadersA"));
    const auto connect = reinterpret_cast<Connect>(find("SCardConnectA"));
    const auto free_memory = reinterpret_cast<FreeMemory>(find("SCardFreeMemory"));
    ASSERT_TRUE(establish && list && connect && free_memory);

    SCARDCONTEXT context = 0;
    EXPECT_EQ(SCARD_E_NO_SERVICE, establish(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context));
    EXPECT_EQ(0u, context);
    DWORD size = SCARD_AUTOALLOCATE;
    LPSTR names = nullptr;
    EXPECT_EQ(SCARD_E_NO_SERVICE, list(1, nullptr, reinterpret_cast<LPSTR>(&names), &size));
    EXPECT_EQ(nullptr, names);
    SCARDHANDLE card = 0;
    DWORD protocol = 0;
    EXPECT_EQ(SCARD_E_NO_SERVICE, connect(1, "R", SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0, &card, &protocol));
    char never_given[4] = {};
    EXPECT_EQ(SCARD_E_INVALID_PARAMETER, free_memory(1, never_given));

    const auto record = bench::read_lines(bench::path(pcsc_bench::record_file));
    ASSERT_EQ(1u, record.size());  // the library is looked for once
    EXPECT_EQ(0u, record[0].find("bridge\tcannot load "));
    EXPECT_NE(std::string::npos, record[0].find("keyhaven_pcsclite.dll.so"));
    FreeLibrary(module);
    DeleteFileA(alone.c_str());
    bench_carriers::clear_all();
}

}  // namespace
