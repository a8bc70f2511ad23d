#pragma once
// Carrier census: counts inserted smart cards (readers whose card answers the
// probe command) and USB key tokens, and tells whether that changed.

#include "settings/settings.h"

#include <cstdint>
#include <string>
#include <vector>

namespace keyhaven {

struct CensusResult {
    std::uint16_t total;  // cards + tokens of this census, modulo 65,536
    bool changed;
};

// take_census is in census.cpp; the counting, the probe and the exchange,
// which call PC/SC and SetupAPI, in census_platform.cpp.
class CarrierCensus {
public:
    // Counts, logs a change as INFO, and remembers the new counts whatever
    // the verdict. Cards count as the settings' ignore_cards says.
    CensusResult take_census(const Settings& settings);

    // Readers holding a card that passes probe_reader; 0 without PC/SC.
    int count_cards() const;
    // Present USB device nodes of the token vendors; each node counts.
    int count_tokens() const;

    // True when the reader holds a card that answers the probe with 90 00;
    // false for the readers never probed and on every failure. Logs nothing.
    static bool probe_reader(const std::string& reader_name);

    // card is a connected SCARDHANDLE. Returns the transmission's PC/SC error
    // unchanged, or the card's final status word (0x9000 on success), after
    // following 61 xx with GET RESPONSE (bounded; see carriers/apdu.h).
    static std::int32_t transmit_apdu(std::uintptr_t card, const std::vector<unsigned char>& command,
                                      std::vector<unsigned char>& response);

    int tokens_count = 0;
    int cards_count = 0;
};

}  // namespace keyhaven
