// The probe's exchange against a scripted card: which commands reach the
// card, which status decides, and that no reply can keep it going forever.
#include "carriers/apdu.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace keyhaven;

namespace {

using apdu::Bytes;

// A card that answers each command with the next scripted reply (the last
// one repeating) and remembers what it was sent.
struct ScriptedCard {
    explicit ScriptedCard(std::vector<Bytes> script = {}) : replies(std::move(script)) {}

    std::vector<Bytes> replies;
    std::int32_t failure = 0;
    std::vector<Bytes> received;

    apdu::Transmit transmit()
    {
        return [this](const Bytes& command, Bytes& reply) {
            received.push_back(command);
            if (failure)
                return failure;
            reply = replies[std::min(received.size(), replies.size()) - 1];
            return std::int32_t{0};
        };
    }
};

TEST(ApduExchange, SuccessReturns9000AndTheDataWithoutStatusBytes)
{
    ScriptedCard card{{{0x01, 0x02, 0x90, 0x00}}};
    Bytes response{0xEE};
    EXPECT_EQ(0x9000, apdu::exchange(apdu::probe_command(), response, card.transmit()));
    EXPECT_EQ((Bytes{0x01, 0x02}), response);
    EXPECT_EQ((std::vector<Bytes>{{0x80, 0xFE, 0x06, 0x00, 0x00}}), card.received);
}

TEST(ApduExchange, MoreDataIsFetchedWithGetResponseAndTheSecondStatusDecides)
{
    ScriptedCard ok{{{0x61, 0x10}, {0xAA, 0x90, 0x00}}};
    Bytes response;
    EXPECT_EQ(0x9000, apdu::exchange(apdu::probe_command(), response, ok.transmit()));
    ASSERT_EQ(2u, ok.received.size());
    EXPECT_EQ((Bytes{0x00, 0xC0, 0x00, 0x00, 0x10}), ok.received[1]);
    EXPECT_EQ((Bytes{0xAA}), response);

    ScriptedCard refused{{{0x61, 0x04}, {0x6D, 0x00}}};
    EXPECT_EQ(0x6D00, apdu::exchange(apdu::probe_command(), response, refused.transmit()));
    EXPECT_EQ((Bytes{0x00, 0xC0, 0x00, 0x00, 0x04}), refused.received[1]);
    EXPECT_EQ((Bytes{0x6D, 0x00}), response);
}

TEST(ApduExchange, OtherStatusesAreReturnedWithTheWholeReply)
{
    for (const Bytes& reply : {Bytes{0x6D, 0x00}, Bytes{0x01, 0x6A, 0x82}, Bytes{0x90, 0x01}, Bytes{0x00, 0x00}}) {
        ScriptedCard card{{reply}};
        Bytes response;
        const std::int32_t status = apdu::exchange(apdu::probe_command(), response, card.transmit());
        EXPECT_EQ(reply[reply.size() - 2] * 256 + reply.back(), status);
        EXPECT_NE(apdu::status_success, status);
        EXPECT_EQ(1u, card.received.size());
    }
    ScriptedCard card{{{0x01, 0x6A, 0x82}}};
    Bytes response;
    apdu::exchange(apdu::probe_command(), response, card.transmit());
    EXPECT_EQ((Bytes{0x01, 0x6A, 0x82}), response);
}

TEST(ApduExchange, ReplyTooShortForAStatusWordFails)
{
    for (const Bytes& reply : {Bytes{}, Bytes{0x90}, Bytes{0x61}}) {
        ScriptedCard card{{reply}};
        Bytes response;
        EXPECT_EQ(apdu::no_status_word, apdu::exchange(apdu::probe_command(), response, card.transmit()));
        EXPECT_EQ(reply, response);
        EXPECT_EQ(1u, card.received.size());
    }
    // The same after a GET RESPONSE.
    ScriptedCard card{{{0x61, 0x02}, {0x90}}};
    Bytes response;
    EXPECT_EQ(apdu::no_status_word, apdu::exchange(apdu::probe_command(), response, card.transmit()));
}

TEST(ApduExchange, EndlessMoreDataChainStopsAtTheBound)
{
    ScriptedCard card{{{0x61, 0xFF}}};
    Bytes response;
    EXPECT_EQ(0x61FF, apdu::exchange(apdu::probe_command(), response, card.transmit()));
    EXPECT_EQ(static_cast<std::size_t>(1 + apdu::max_get_response_exchanges), card.received.size());
    EXPECT_EQ((Bytes{0x00, 0xC0, 0x00, 0x00, 0xFF}), card.received.back());
    EXPECT_EQ((Bytes{0x61, 0xFF}), response);

    // A chain that ends at the bound's last exchange still succeeds.
    std::vector<Bytes> replies(apdu::max_get_response_exchanges, Bytes{0x61, 0x01});
    replies.push_back({0x90, 0x00});
    ScriptedCard long_chain{replies};
    EXPECT_EQ(0x9000, apdu::exchange(apdu::probe_command(), response, long_chain.transmit()));
}

TEST(ApduExchange, FailedTransmissionReturnsItsCodeUnchangedWithNoResponse)
{
    ScriptedCard card;
    card.failure = static_cast<std::int32_t>(0x80100069u);
    Bytes response{0x01};
    EXPECT_EQ(static_cast<std::int32_t>(0x80100069u), apdu::exchange(apdu::probe_command(), response, card.transmit()));
    EXPECT_TRUE(response.empty());
}

}  // namespace
