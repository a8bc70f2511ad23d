// The census against the workstation: the bench's winscard.dll serves the
// readers and cards, Wine's SetupAPI the USB device keys. Every test ends
// with nothing of PC/SC left open.
#include "carriers/apdu.h"
#include "carriers/census.h"
#include "settings/settings.h"
#include "support/agent_log.h"
#include "support/bench_carriers.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <winscard.h>

#include <cstddef>

using namespace keyhaven;

namespace {

using bench_carriers::Card;

const char plain_line[] = "[  INFO   ]: configuration changed: cards_count=%d, tokens_count=%d";
const char ignored_line[] = "[  INFO   ]: configuration changed: cards_count=(%d, ignored), tokens_count=%d";

std::string line(const char* form, int cards, int tokens)
{
    char text[128];
    std::snprintf(text, sizeof text, form, cards, tokens);
    return text;
}

Card replying(std::vector<std::string> replies)
{
    Card card;
    card.replies = std::move(replies);
    return card;
}

class Census : public ::testing::Test {
protected:
    void SetUp() override
    {
        bench_carriers::clear_all();
        agent_log::clear();
    }
    void TearDown() override
    {
        const auto open = bench_carriers::open_pcsc_handles();
        EXPECT_EQ(0, open.contexts) << "PC/SC contexts left open";
        EXPECT_EQ(0, open.cards) << "card handles left open";
        EXPECT_EQ(0, open.lists) << "reader lists left unfreed";
        bench_carriers::clear_all();
    }

    void expect_result(CensusResult result, unsigned total, bool changed)
    {
        EXPECT_EQ(total, result.total);
        EXPECT_EQ(changed, result.changed);
    }

    Settings settings;
    CarrierCensus census;
};

TEST_F(Census, StartsAtZeroTokensThenCards)
{
    EXPECT_EQ(0, census.tokens_count);
    EXPECT_EQ(0, census.cards_count);
    EXPECT_LT(offsetof(CarrierCensus, tokens_count), offsetof(CarrierCensus, cards_count));
}

TEST_F(Census, NothingPresentFromTheStartNeverChangesAndLogsNothing)
{
    for (int turn = 0; turn < 3; ++turn)
        expect_result(census.take_census(settings), 0, false);
    bench_carriers::add_reader("ACS ACR38U 0");  // a reader alone is no carrier
    expect_result(census.take_census(settings), 0, false);
    EXPECT_TRUE(agent_log::entries().empty());
}

TEST_F(Census, TokenPluggedInIsOneChangeThenSteady)
{
    bench_carriers::insert_token("0001");
    expect_result(census.take_census(settings), 1, true);
    EXPECT_EQ(1, census.tokens_count);
    expect_result(census.take_census(settings), 1, false);
    EXPECT_EQ((std::vector<std::string>{line(plain_line, 0, 1)}), agent_log::entries());

    bench_carriers::remove_token("0001");
    expect_result(census.take_census(settings), 0, true);
    EXPECT_EQ(line(plain_line, 0, 0), agent_log::entries().back());
}

TEST_F(Census, TokensOfAllThreeVendorsCountOncePerDeviceNode)
{
    bench_carriers::insert_token("T1", "0A89", 3);
    EXPECT_EQ(3, census.count_tokens());
    bench_carriers::insert_token("T2", "0529");
    bench_carriers::insert_token("T3", "096E", 2);
    EXPECT_EQ(6, census.count_tokens());
}

TEST_F(Census, OrdinaryUsbDevicesAreNotCountedWhateverTheirClass)
{
    bench_carriers::add_usb_device("mouse", "046D");
    bench_carriers::add_usb_device("hub", "05E3", bench_carriers::usb_class_guid);
    EXPECT_EQ(0, census.count_tokens());
    expect_result(census.take_census(settings), 0, false);
    bench_carriers::insert_token("0001");
    EXPECT_EQ(1, census.count_tokens());
}

TEST_F(Census, CardAnswering9000IsCountedAndChangesThePlainWay)
{
    bench_carriers::add_reader("ACS ACR38U 0");
    bench_carriers::insert_card("ACS ACR38U 0");
    expect_result(census.take_census(settings), 1, true);
    expect_result(census.take_census(settings), 1, false);
    EXPECT_EQ((std::vector<std::string>{line(plain_line, 1, 0)}), agent_log::entries());
}

TEST_F(Census, IgnoredCardIsLoggedInItsOwnFormButIsNoChange)
{
    settings.ignore_cards = 1;
    bench_carriers::add_reader("ACS ACR38U 0");
    bench_carriers::insert_card("ACS ACR38U 0");
    expect_result(census.take_census(settings), 1, false);
    expect_result(census.take_census(settings), 1, false);  // taken up: not reported again
    bench_carriers::remove_card("ACS ACR38U 0");
    expect_result(census.take_census(settings), 0, false);
    EXPECT_EQ((std::vector<std::string>{line(ignored_line, 1, 0), line(ignored_line, 0, 0)}), agent_log::entries());
}

TEST_F(Census, IgnoredCardWithATokenChangeIsAChange)
{
    settings.ignore_cards = 1;
    bench_carriers::add_reader("ACS ACR38U 0");
    bench_carriers::insert_card("ACS ACR38U 0");
    bench_carriers::insert_token("0001");
    expect_result(census.take_census(settings), 2, true);
    EXPECT_EQ((std::vector<std::string>{line(ignored_line, 1, 1)}), agent_log::entries());
}

TEST_F(Census, IgnoreCardsOtherThanOneDoesNotIgnore)
{
    settings.ignore_cards = 2;
    bench_carriers::add_reader("ACS ACR38U 0");
    bench_carriers::insert_card("ACS ACR38U 0");
    expect_result(census.take_census(settings), 1, true);
    EXPECT_EQ((std::vector<std::string>{line(plain_line, 1, 0)}), agent_log::entries());
}

TEST_F(Census, SkippedReadersAreNeverConnectedTo)
{
    for (const char* name : {"Aktiv Rutoken Magistra 0", "FT SCR2000 1", "ACS ACR38U 2"}) {
        bench_carriers::add_reader(name);
        bench_carriers::insert_card(name);
    }
    EXPECT_EQ(1, census.count_cards());
    EXPECT_FALSE(CarrierCensus::probe_reader("Aktiv Rutoken Magistra 0"));
    EXPECT_FALSE(CarrierCensus::probe_reader("FT SCR2000 1"));
    EXPECT_TRUE(bench_carriers::pcsc_calls("connect", "Aktiv Rutoken Magistra 0").empty());
    EXPECT_TRUE(bench_carriers::pcsc_calls("connect", "FT SCR2000 1").empty());
    EXPECT_EQ(1u, bench_carriers::pcsc_calls("connect", "ACS ACR38U 2").size());
    // Skipped before anything is opened: the probe establishes no context.
    bench_carriers::clear_pcsc_records();
    CarrierCensus::probe_reader("FT SCR2000 1");
    EXPECT_TRUE(bench_carriers::pcsc_calls().empty());
}

TEST_F(Census, ProbeConnectsSharedOverT0AndLeavesTheCardInItsOwnContext)
{
    bench_carriers::add_reader("ACS ACR38U 0");
    bench_carriers::insert_card("ACS ACR38U 0");
    EXPECT_TRUE(CarrierCensus::probe_reader("ACS ACR38U 0"));
    std::vector<std::string> order;
    for (const auto& call : bench_carriers::pcsc_calls())
        order.push_back(call.call);
    EXPECT_EQ((std::vector<std::string>{"establish", "connect", "transmit", "disconnect", "release"}), order);

    const auto calls = bench_carriers::pcsc_calls();
    EXPECT_EQ("2", calls[0].fields.at("scope"));  // SCARD_SCOPE_SYSTEM
    EXPECT_EQ("2", calls[1].fields.at("share"));  // SCARD_SHARE_SHARED
    EXPECT_EQ("1", calls[1].fields.at("protocols"));  // SCARD_PROTOCOL_T0 only
    EXPECT_EQ("T0", calls[2].fields.at("pci"));
    EXPECT_EQ("80FE060000", calls[2].fields.at("apdu"));
    EXPECT_EQ("0", calls[3].fields.at("disposition"));  // SCARD_LEAVE_CARD
}

TEST_F(Census, CardCountListsOnceAndProbesEachReaderInOrder)
{
    for (const char* name : {"Reader B", "Reader A"}) {
        bench_carriers::add_reader(name);
        bench_carriers::insert_card(name);
    }
    EXPECT_EQ(2, census.count_cards());
    EXPECT_EQ(1u, bench_carriers::pcsc_calls("list").size());
    EXPECT_EQ(1u, bench_carriers::pcsc_calls("free").size());
    EXPECT_EQ(3u, bench_carriers::pcsc_calls("establish").size());  // the list's, then one per probe
    const auto connects = bench_carriers::pcsc_calls("connect");
    ASSERT_EQ(2u, connects.size());
    EXPECT_EQ("Reader B", connects[0].reader);
    EXPECT_EQ("Reader A", connects[1].reader);
}

TEST_F(Census, MoreDataReplyIsFollowedByGetResponseWhoseStatusDecides)
{
    bench_carriers::add_reader("Reader OK");
    bench_carriers::insert_card("Reader OK", replying({"6110", "00112233445566778899AABBCCDDEEFF9000"}));
    bench_carriers::add_reader("Reader refused");
    bench_carriers::insert_card("Reader refused", replying({"6110", "6D00"}));
    EXPECT_TRUE(CarrierCensus::probe_reader("Reader OK"));
    EXPECT_FALSE(CarrierCensus::probe_reader("Reader refused"));
    EXPECT_EQ((std::vector<std::string>{"80FE060000", "00C0000010"}), bench_carriers::apdus_sent_to("Reader OK"));
    EXPECT_EQ((std::vector<std::string>{"80FE060000", "00C0000010"}), bench_carriers::apdus_sent_to("Reader refused"));
    EXPECT_EQ(1, census.count_cards());
}

TEST_F(Census, CardsThatFailTheProbeAreNotCounted)
{
    const std::vector<std::pair<std::string, Card>> failing = {
        {"Refuses", replying({"6D00"})},
        {"Wrong status", replying({"6A82"})},
        {"Almost", replying({"9001"})},
        {"Mute", replying({"!8010000A"})},
    };
    for (const auto& reader : failing) {
        bench_carriers::add_reader(reader.first);
        bench_carriers::insert_card(reader.first, reader.second);
        EXPECT_FALSE(CarrierCensus::probe_reader(reader.first)) << reader.first;
    }
    EXPECT_EQ(0, census.count_cards());
}

TEST_F(Census, ReadersWhoseCardCannotBeConnectedAreNotCounted)
{
    bench_carriers::add_reader("Empty");
    Card t1_only;
    t1_only.t1_only = true;
    bench_carriers::add_reader("T1 only");
    bench_carriers::insert_card("T1 only", t1_only);
    Card exclusive;
    exclusive.exclusive = true;
    bench_carriers::add_reader("Held");
    bench_carriers::insert_card("Held", exclusive);

    EXPECT_EQ(0, census.count_cards());
    EXPECT_EQ("0x80100069", bench_carriers::pcsc_calls("connect", "Empty").at(0).fields.at("rc"));
    EXPECT_EQ("0x8010000F", bench_carriers::pcsc_calls("connect", "T1 only").at(0).fields.at("rc"));
    EXPECT_EQ("0x8010000B", bench_carriers::pcsc_calls("connect", "Held").at(0).fields.at("rc"));
    EXPECT_TRUE(bench_carriers::pcsc_calls("transmit").empty());
    EXPECT_EQ(4u, bench_carriers::pcsc_calls("establish").size());  // the list's and one per probe
    EXPECT_EQ(4u, bench_carriers::pcsc_calls("release").size());
}

TEST_F(Census, EndlessMoreDataChainAndOneByteReplyEndTheProbe)
{
    bench_carriers::add_reader("Endless");
    bench_carriers::insert_card("Endless", replying({"61FF"}));
    bench_carriers::add_reader("One byte");
    bench_carriers::insert_card("One byte", replying({"90"}));
    bench_carriers::add_reader("Nothing");
    bench_carriers::insert_card("Nothing", replying({""}));
    bench_carriers::add_reader("Good");
    bench_carriers::insert_card("Good");

    expect_result(census.take_census(settings), 1, true);
    EXPECT_EQ(static_cast<std::size_t>(1 + apdu::max_get_response_exchanges),
              bench_carriers::apdus_sent_to("Endless").size());
    EXPECT_EQ(1u, bench_carriers::apdus_sent_to("One byte").size());
    EXPECT_EQ(1u, bench_carriers::apdus_sent_to("Nothing").size());
}

TEST_F(Census, StoppedServiceCountsNoCardAndThatIsAChange)
{
    bench_carriers::add_reader("ACS ACR38U 0");
    bench_carriers::insert_card("ACS ACR38U 0");
    expect_result(census.take_census(settings), 1, true);
    bench_carriers::stop_pcsc_service(true);
    expect_result(census.take_census(settings), 0, true);
    EXPECT_FALSE(CarrierCensus::probe_reader("ACS ACR38U 0"));
    EXPECT_EQ(line(plain_line, 0, 0), agent_log::entries().back());
}

TEST_F(Census, CardsAndTokensAddUpInTotal)
{
    bench_carriers::add_reader("R1");
    bench_carriers::insert_card("R1");
    bench_carriers::add_reader("R2");
    bench_carriers::insert_card("R2", replying({"6102", "01029000"}));
    bench_carriers::insert_token("0001", "0A89", 2);
    expect_result(census.take_census(settings), 4, true);
    EXPECT_EQ(2, census.cards_count);
    EXPECT_EQ(2, census.tokens_count);
    EXPECT_EQ((std::vector<std::string>{line(plain_line, 2, 2)}), agent_log::entries());
}

// transmit_apdu on a card handle of the test's own.
class TransmitApdu : public Census {
protected:
    void connect(const Card& card)
    {
        bench_carriers::add_reader("Reader");
        bench_carriers::insert_card("Reader", card);
        ASSERT_EQ(SCARD_S_SUCCESS, SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context));
        DWORD protocol = 0;
        ASSERT_EQ(SCARD_S_SUCCESS,
                  SCardConnectA(context, "Reader", SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0, &handle, &protocol));
    }
    void TearDown() override
    {
        if (handle)
            SCardDisconnect(handle, SCARD_LEAVE_CARD);
        if (context)
            SCardReleaseContext(context);
        Census::TearDown();
    }

    SCARDCONTEXT context = 0;
    SCARDHANDLE handle = 0;
    std::vector<unsigned char> response{0xEE};
};

TEST_F(TransmitApdu, FailedTransmissionReturnsThePcscCodeUnchanged)
{
    connect(replying({"!80100016"}));
    EXPECT_EQ(static_cast<std::int32_t>(SCARD_E_NOT_TRANSACTED),
              CarrierCensus::transmit_apdu(handle, apdu::probe_command(), response));
    EXPECT_TRUE(response.empty());
}

TEST_F(TransmitApdu, ReturnsTheFinalStatusWordAndTheData)
{
    connect(replying({"0102039000", "6A82"}));
    EXPECT_EQ(0x9000, CarrierCensus::transmit_apdu(handle, apdu::probe_command(), response));
    EXPECT_EQ((std::vector<unsigned char>{1, 2, 3}), response);
    EXPECT_EQ(0x6A82, CarrierCensus::transmit_apdu(handle, apdu::probe_command(), response));
    EXPECT_EQ((std::vector<unsigned char>{0x6A, 0x82}), response);
}

TEST_F(TransmitApdu, CommandLongerThanTheBufferIsNotSent)
{
    connect(Card());
    EXPECT_EQ(static_cast<std::int32_t>(SCARD_E_INVALID_PARAMETER),
              CarrierCensus::transmit_apdu(handle, std::vector<unsigned char>(261, 0), response));
    EXPECT_TRUE(bench_carriers::apdus_sent_to("Reader").empty());
    EXPECT_EQ(0x9000, CarrierCensus::transmit_apdu(handle, std::vector<unsigned char>(260, 0), response));
}

}  // namespace
