#pragma once
// T=0 status handling of the reader probe: where a reply's status word sits,
// what answers a 61 xx ("more data waiting"), and how long such a chain may
// run. The transmission itself is passed in, so this holds no PC/SC call.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace keyhaven {

namespace apdu {

using Bytes = std::vector<unsigned char>;

// Both the command buffer and the reply buffer offered to the card.
constexpr std::size_t buffer_size = 260;

constexpr std::int32_t status_success = 0x9000;
// Returned for a reply too short to carry a status word. It is neither a
// status word (0..0xFFFF) nor a PC/SC error code (0x801000xx).
constexpr std::int32_t no_status_word = -1;
// A card that answers every GET RESPONSE with another 61 xx would keep the
// agent's main thread forever; after this many GET RESPONSE exchanges the
// last 61 xx status is returned as the final one.
constexpr int max_get_response_exchanges = 16;

// 80 FE 06 00 00.
Bytes probe_command();
// 00 C0 00 00 Le, Le being the SW2 of the 61 xx reply.
Bytes get_response_command(unsigned char le);

// One transmission: fills reply and returns 0, or returns the PC/SC error.
using Transmit = std::function<std::int32_t(const Bytes& command, Bytes& reply)>;

// Sends command and follows 61 xx replies with GET RESPONSE, bounded as
// above. Returns the transmission's error code unchanged (response empty),
// or the final status word (SW1 * 256 + SW2), or no_status_word. On 90 xx
// the response holds the reply without its status bytes; otherwise the
// whole final reply.
std::int32_t exchange(const Bytes& command, Bytes& response, const Transmit& transmit);

}  // namespace apdu

}  // namespace keyhaven
