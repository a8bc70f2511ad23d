// The bridge's mapping between Windows' winscard values and pcsc-lite's: a
// pcsc-lite answer never reaches a Windows program as a success it was not.
#include "winscard/pcsc_mapping.h"

#include <gtest/gtest.h>

namespace {

using namespace pcsc_mapping;

constexpr std::int32_t windows_code(std::uint32_t code)
{
    return static_cast<std::int32_t>(code);
}

TEST(PcscMapping, CodesWithTheSameMeaningPassAsWindowsLongs)
{
    EXPECT_EQ(success, windows_result(0));
    EXPECT_EQ(windows_code(0x80100001u), windows_result(0x80100001LL));
    EXPECT_EQ(windows_code(0x8010002Eu), windows_result(0x8010002ELL));  // no readers
    EXPECT_EQ(windows_code(0x80100031u), windows_result(0x80100031LL));
    EXPECT_EQ(windows_code(0x80100069u), windows_result(0x80100069LL));  // removed card
    EXPECT_EQ(windows_code(0x8010006Fu), windows_result(0x8010006FLL));
}

TEST(PcscMapping, CodesWithoutAWindowsMeaningFailAsUnknownErrors)
{
    const std::int64_t codes[] = {1LL,   0x103LL,        0x80100000LL, 0x80100032LL, 0x80100064LL, 0x80100070LL,
                                  -1LL, 0x180100069LL, static_cast<std::int64_t>(0xFFFFFFFF80100069ULL)};
    for (std::int64_t code : codes)
        EXPECT_EQ(unknown_error, windows_result(code)) << std::hex << code;
}

TEST(PcscMapping, AnEmptyReaderIsARemovedCardOnConnect)
{
    EXPECT_EQ(windows_code(0x80100069u), windows_connect_result(0x8010000CLL));
    EXPECT_EQ(windows_code(0x8010000Cu), windows_result(0x8010000CLL));
    EXPECT_EQ(windows_code(0x8010000Bu), windows_connect_result(0x8010000BLL));  // sharing violation
    EXPECT_EQ(unknown_error, windows_connect_result(5));
}

TEST(PcscMapping, ProtocolBitsMapBothWaysAndUnknownOnesAreRefused)
{
    std::uint64_t pcsclite = 99;
    EXPECT_TRUE(pcsclite_protocols(windows_protocol_t0 | windows_protocol_t1, pcsclite));
    EXPECT_EQ(3u, pcsclite);
    EXPECT_TRUE(pcsclite_protocols(windows_protocol_raw, pcsclite));
    EXPECT_EQ(4u, pcsclite);
    EXPECT_FALSE(pcsclite_protocols(0x80000000u, pcsclite));  // SCARD_PROTOCOL_DEFAULT
    EXPECT_FALSE(pcsclite_protocols(4, pcsclite));            // pcsc-lite's raw bit is no Windows one

    std::uint32_t windows = 99;
    EXPECT_TRUE(windows_protocol(0, windows));
    EXPECT_EQ(0u, windows);
    EXPECT_TRUE(windows_protocol(2, windows));
    EXPECT_EQ(windows_protocol_t1, windows);
    EXPECT_TRUE(windows_protocol(4, windows));
    EXPECT_EQ(windows_protocol_raw, windows);
    EXPECT_FALSE(windows_protocol(8, windows));  // T=15
    EXPECT_FALSE(windows_protocol(3, windows));  // an active protocol is one protocol
}

TEST(PcscMapping, OnlyTheNumbersBothSidesKnowAreForwarded)
{
    EXPECT_TRUE(known_scope(2));
    EXPECT_FALSE(known_scope(3));  // pcsc-lite's SCARD_SCOPE_GLOBAL
    EXPECT_FALSE(known_share(0));
    EXPECT_TRUE(known_share(3));
    EXPECT_FALSE(known_share(4));
    EXPECT_TRUE(known_disposition(3));
    EXPECT_FALSE(known_disposition(4));
}

TEST(PcscMapping, LengthsBeyondADwordAreRefused)
{
    std::uint32_t length = 0;
    EXPECT_TRUE(windows_length(0xFFFFFFFFu, length));
    EXPECT_EQ(0xFFFFFFFFu, length);
    EXPECT_FALSE(windows_length(0x100000000ULL, length));
}

}  // namespace
