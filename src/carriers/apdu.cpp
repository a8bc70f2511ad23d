#include "carriers/apdu.h"

namespace keyhaven {

namespace apdu {

Bytes probe_command()
{
    return Bytes{0x80, 0xFE, 0x06, 0x00, 0x00};
}

Bytes get_response_command(unsigned char le)
{
    return Bytes{0x00, 0xC0, 0x00, 0x00, le};
}

std::int32_t exchange(const Bytes& command, Bytes& response, const Transmit& transmit)
{
    Bytes next = command;
    for (int get_responses = 0;; ++get_responses) {
        response.clear();
        Bytes reply;
        const std::int32_t rc = transmit(next, reply);
        if (rc != 0)
            return rc;
        if (reply.size() < 2) {
            response = reply;
            return no_status_word;
        }
        const unsigned char sw1 = reply[reply.size() - 2];
        const unsigned char sw2 = reply[reply.size() - 1];
        const std::int32_t status = sw1 * 256 + sw2;
        if (sw1 == 0x90) {
            response.assign(reply.begin(), reply.end() - 2);
            return status;
        }
        if (sw1 != 0x61 || get_responses == max_get_response_exchanges) {
            response = reply;
            return status;
        }
        next = get_response_command(sw2);
    }
}

}  // namespace apdu

}  // namespace keyhaven
