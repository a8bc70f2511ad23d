// The probe's exchange with a hostile card, and the split of the reader
// list the PC/SC service hands over.
//
// Input, first byte even: a card. Byte 1 says on which transmission (0-31)
// the reader fails, if below 32; bytes 2-5 give the failure's code; then
// replies, each a length byte and its bytes. When the script runs out the
// last reply repeats for ever, so a 61 xx at the end is an endless chain.
// First byte odd: the rest is a reader list (NUL-separated names).
#include "carriers/apdu.h"
#include "carriers/census_rules.h"
#include "fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace keyhaven;

namespace {

using apdu::Bytes;

struct HostileCard {
    std::vector<Bytes> replies;
    int failing_call = -1;
    std::int32_t failure = 0;

    std::vector<Bytes> received;
    Bytes last_reply;
    bool last_failed = false;

    std::int32_t transmit(const Bytes& command, Bytes& reply)
    {
        const std::size_t call = received.size();
        received.push_back(command);
        FUZZ_CHECK(received.size() <= 1 + apdu::max_get_response_exchanges);
        last_failed = static_cast<int>(call) == failing_call && failure != 0;
        if (last_failed)
            return failure;
        if (!replies.empty())
            reply = replies[call < replies.size() ? call : replies.size() - 1];
        last_reply = reply;
        return 0;
    }
};

HostileCard card_from(const std::uint8_t* data, std::size_t size)
{
    HostileCard card;
    if (size >= 6) {
        card.failing_call = data[1] < 32 ? data[1] : -1;
        std::uint32_t code;
        std::memcpy(&code, data + 2, sizeof code);
        card.failure = static_cast<std::int32_t>(code);
    }
    std::size_t pos = size >= 6 ? 6 : size;
    while (pos < size) {
        const std::size_t length = data[pos++];
        const std::size_t taken = length < size - pos ? length : size - pos;
        card.replies.emplace_back(data + pos, data + pos + taken);
        pos += taken;
    }
    return card;
}

void check_exchange(const std::uint8_t* data, std::size_t size)
{
    HostileCard card = card_from(data, size);
    Bytes response{0xEE, 0xEE};
    const std::int32_t result = apdu::exchange(
        apdu::probe_command(), response, [&card](const Bytes& command, Bytes& reply) { return card.transmit(command, reply); });

    // The probe first, then only GET RESPONSE, each asking for what the
    // reply before it announced with 61 xx.
    FUZZ_CHECK(!card.received.empty());
    FUZZ_CHECK(card.received[0] == apdu::probe_command());
    for (std::size_t i = 1; i < card.received.size(); ++i) {
        const Bytes& previous = card.replies.empty() ? Bytes{} : card.replies[std::min(i - 1, card.replies.size() - 1)];
        FUZZ_CHECK(previous.size() >= 2 && previous[previous.size() - 2] == 0x61);
        FUZZ_CHECK(card.received[i] == apdu::get_response_command(previous.back()));
    }

    if (card.last_failed) {
        FUZZ_CHECK(result == card.failure);
        FUZZ_CHECK(response.empty());
        return;
    }
    const Bytes& last = card.last_reply;
    if (last.size() < 2) {
        FUZZ_CHECK(result == apdu::no_status_word);
        FUZZ_CHECK(response == last);
        return;
    }
    const unsigned char sw1 = last[last.size() - 2];
    FUZZ_CHECK(result == sw1 * 256 + last.back());
    if (sw1 == 0x90)
        FUZZ_CHECK(response == Bytes(last.begin(), last.end() - 2));
    else
        FUZZ_CHECK(response == last);
    if (sw1 == 0x61)
        FUZZ_CHECK(card.received.size() == 1 + apdu::max_get_response_exchanges);
}

void check_reader_list(const std::uint8_t* data, std::size_t size)
{
    // Exactly as long as the service said, so a read past it is caught.
    std::unique_ptr<char[]> list(new char[size ? size : 1]);
    if (size)
        std::memcpy(list.get(), data, size);
    const std::vector<std::string> names = census_rules::split_reader_list(size ? list.get() : nullptr, size);

    // The names, each with its NUL, are the list's start; an empty name ends it.
    std::string joined;
    for (const std::string& name : names) {
        FUZZ_CHECK(!name.empty());
        FUZZ_CHECK(name.find('\0') == std::string::npos);
        joined += name;
        joined += '\0';
        census_rules::is_skipped_reader(name);
    }
    const std::string text(list.get(), size);
    if (joined.size() > size) {
        // The last name ran to the end without a terminator.
        FUZZ_CHECK(joined.size() == size + 1);
        FUZZ_CHECK(text == joined.substr(0, size));
    } else {
        FUZZ_CHECK(text.compare(0, joined.size(), joined) == 0);
        FUZZ_CHECK(joined.size() == size || text[joined.size()] == '\0');
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    if (data[0] & 1)
        check_reader_list(data + 1, size - 1);
    else
        check_exchange(data, size);
    return 0;
}
