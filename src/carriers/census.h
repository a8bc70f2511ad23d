#pragma once
// Carrier census: counts inserted smart cards (readers whose card answers the
// probe command) and USB key tokens, and tells whether that changed.

#include <string>

class CarrierCensus {
public:
    // True when the reader holds a card that answers the probe with 90 00;
    // false for the readers never probed and on every failure. Logs nothing.
    static bool probe_reader(const std::string& reader_name);
};
