// crypt_utils::enum_containers and is_card_container against the stand-in
// provider, the bench's tokens and cards, and the real log files.
#include "crypt_utils/call_trace.h"
#include "crypt_utils/enum_containers.h"
#include "settings/settings.h"
#include "support/agent_log.h"
#include "support/bench_carriers.h"
#include "support/bench_provider.h"

#include "trace_lines.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

using namespace keyhaven;

namespace {

using Names = std::vector<std::string>;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string debug = "[  DEBUG  ]: ";
const std::string info = "[  INFO   ]: ";
const std::string error = "[  ERROR  ]: ";
const std::string calling = debug + "----> calling enum_containers";
const std::string clean_up = debug + "clean up:";
const std::string h_prov = debug + "\t- hProv";
const std::string cont_array = debug + "\t- cont_array";
const std::string closing_ok = debug + "<--- closing enum_containers(), rc=0|0x00000000";

// The ERROR line of a failing PP_ENUMCONTAINERS call with that code; the
// source line number shows as N (see trace_lines::entries()).
std::string walk_error(const char* code)
{
    return error + "CryptGetProvParam(PP_ENUMCONTAINERS) error, code: " + code +
           ", line: N, func: crypt_utils::enum_containers";
}

std::string token_name(const std::string& name)
{
    return bench_provider::qualified_name(name, "token:0001");
}

class EnumContainers : public ::testing::Test {
protected:
    void SetUp() override
    {
        bench_carriers::clear_all();
        bench_provider::clear();
        agent_log::clear();
        bench_carriers::insert_token("0001");
    }
    void TearDown() override
    {
        EXPECT_EQ(0, bench_provider::open_contexts());
        EXPECT_EQ(0, bench_provider::open_keys());
        const bench_carriers::OpenHandles pcsc = bench_carriers::open_pcsc_handles();
        EXPECT_EQ(0, pcsc.contexts + pcsc.cards + pcsc.lists);
    }

    Settings settings;
    // The list starts with old contents: they must be gone whatever happens.
    Names containers{"left over"};
};

TEST_F(EnumContainers, EmptyProviderGives259AndOneErrorLine)
{
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, crypt_utils::enum_containers(settings, containers));
    EXPECT_THAT(containers, IsEmpty());
    EXPECT_THAT(trace_lines::entries(),
                ElementsAre(calling, walk_error("0x00000103"), clean_up, h_prov,
                            debug + "<--- closing enum_containers(), rc=259|0x00000103"));
    EXPECT_THAT(trace_lines::entries(true), ElementsAre(walk_error("0x00000103")));
}

TEST_F(EnumContainers, BusyProviderGives259Likewise)
{
    bench_provider::add_container("first", "token:0001");
    bench_provider::set_busy(true);
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, crypt_utils::enum_containers(settings, containers));
    EXPECT_THAT(containers, IsEmpty());
    EXPECT_THAT(trace_lines::entries(true), ElementsAre(walk_error("0x00000103")));
}

TEST_F(EnumContainers, ListsTheContainersInProviderOrderAndCleansUp)
{
    bench_provider::add_container("first", "token:0001");
    bench_provider::add_container("second", "token:0001");
    bench_provider::add_container("Иванов 2025", "token:0001");
    EXPECT_EQ(0, crypt_utils::enum_containers(settings, containers));
    EXPECT_EQ((Names{token_name("first"), token_name("second"), token_name("Иванов 2025")}), containers);
    EXPECT_THAT(trace_lines::entries(),
                ElementsAre(calling, debug + "container found: " + token_name("first"),
                            debug + "container found: " + token_name("second"),
                            debug + "container found: " + token_name("Иванов 2025"), clean_up, h_prov, cont_array,
                            closing_ok));
}

TEST_F(EnumContainers, RegistryContainersAreDroppedSilentlyLowerCaseIsNot)
{
    bench_provider::add_container("kept in registry", "registry");
    bench_provider::add_container("a REGISTRY copy", "token:0001");
    bench_provider::add_container("REGISTRY", "token:0001");
    bench_provider::add_container("registry copy", "token:0001");
    bench_provider::add_container("Registry copy", "token:0001");
    EXPECT_EQ(0, crypt_utils::enum_containers(settings, containers));
    EXPECT_EQ((Names{token_name("registry copy"), token_name("Registry copy")}), containers);
    for (const auto& entry : trace_lines::entries())
        EXPECT_EQ(std::string::npos, entry.find("REGISTRY")) << entry;
}

TEST_F(EnumContainers, ContainersWhoseCarrierIsAbsentAreNotListed)
{
    bench_carriers::add_reader("Empty Reader");
    bench_provider::add_container("on a token not plugged in", "token:0002");
    bench_provider::add_container("on a card not inserted", "card:Empty Reader");
    bench_provider::add_container("here", "token:0001");
    EXPECT_EQ(0, crypt_utils::enum_containers(settings, containers));
    EXPECT_EQ((Names{token_name("here")}), containers);
}

TEST_F(EnumContainers, AllNamesFilteredOutIsASuccessWithAnEmptyList)
{
    bench_provider::add_container("one", "registry");
    bench_provider::add_container("two", "registry");
    EXPECT_EQ(0, crypt_utils::enum_containers(settings, containers));
    EXPECT_THAT(containers, IsEmpty());
    EXPECT_THAT(trace_lines::entries(), ElementsAre(calling, clean_up, h_prov, cont_array, closing_ok));
}

// Each name gets the whole buffer, not what the previous name left of it.
TEST_F(EnumContainers, ShortNameFollowedByALongerOneBothListed)
{
    bench_provider::add_container("a", "token:0001");
    bench_provider::add_container("a considerably longer container name", "token:0001");
    bench_provider::add_container("b", "token:0001");
    EXPECT_EQ(0, crypt_utils::enum_containers(settings, containers));
    EXPECT_EQ((Names{token_name("a"), token_name("a considerably longer container name"), token_name("b")}),
              containers);
}

TEST_F(EnumContainers, WalkFailingOnTheSecondContainerFailsTheEnumeration)
{
    bench_provider::add_container("first", "token:0001");
    bench_provider::add_container("second", "token:0001");
    bench_provider::fail_walk(2, static_cast<unsigned long>(NTE_FAIL));
    EXPECT_EQ(static_cast<int>(NTE_FAIL), crypt_utils::enum_containers(settings, containers));
    EXPECT_THAT(containers, IsEmpty());
    EXPECT_THAT(trace_lines::entries(),
                ElementsAre(calling, walk_error("0x80090020"), clean_up, h_prov, cont_array,
                            debug + "<--- closing enum_containers(), rc=-2146893792|0x80090020"));

    // The retry of the next turn finds the provider well again.
    bench_provider::fail_walk(0, 0);
    EXPECT_EQ(0, crypt_utils::enum_containers(settings, containers));
    EXPECT_EQ(2u, containers.size());
}

// Some providers fail a call and leave the last error at 0: the line says
// so, and the rc still tells the cycle that the list is not whole.
TEST_F(EnumContainers, CallsFailingWithoutAnErrorCodeStillFailTheEnumeration)
{
    bench_provider::add_container("first", "token:0001");
    bench_provider::add_container("second", "token:0001");
    bench_provider::fail_walk(2, 0);
    EXPECT_EQ(crypt_utils::rc_failed_without_code, crypt_utils::enum_containers(settings, containers));
    EXPECT_THAT(containers, IsEmpty());
    EXPECT_THAT(trace_lines::entries(),
                ElementsAre(calling, walk_error("0x00000000"), clean_up, h_prov, cont_array,
                            debug + "<--- closing enum_containers(), rc=-1|0xFFFFFFFF"));
    bench_provider::fail_walk(0, 0);
    for (const char* operation : {"acquire", "enum"}) {
        bench_provider::fail_without_code(operation);
        EXPECT_EQ(crypt_utils::rc_failed_without_code, crypt_utils::enum_containers(settings, containers)) << operation;
        EXPECT_THAT(containers, IsEmpty());
        bench_provider::fail(operation, 0);
    }
}

TEST_F(EnumContainers, NoNameAtAllAfterTheSizeQueryFailsTheEnumeration)
{
    // As when every container vanished between the size query and the walk.
    bench_provider::add_container("first", "token:0001");
    bench_provider::fail_walk(1, ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, crypt_utils::enum_containers(settings, containers));
    EXPECT_THAT(containers, IsEmpty());
    EXPECT_THAT(trace_lines::entries(true), ElementsAre(walk_error("0x00000103")));
}

TEST_F(EnumContainers, ProviderThatCannotBeOpened)
{
    bench_provider::add_container("first", "token:0001");
    bench_provider::fail("acquire", static_cast<unsigned long>(NTE_FAIL));
    EXPECT_EQ(static_cast<int>(NTE_FAIL), crypt_utils::enum_containers(settings, containers));
    EXPECT_THAT(containers, IsEmpty());
    EXPECT_THAT(trace_lines::entries(),
                ElementsAre(calling,
                            error + "CryptAcquireContext(default, null, 75, CRYPT_VERIFYCONTEXT) error, code: "
                                    "0x80090020, line: N, func: crypt_utils::enum_containers",
                            clean_up, debug + "<--- closing enum_containers(), rc=-2146893792|0x80090020"));
}

// --- cards ----------------------------------------------------------------

class CardContainers : public EnumContainers {
protected:
    void SetUp() override
    {
        EnumContainers::SetUp();
        bench_carriers::add_reader("Bench Reader 0");
        bench_carriers::insert_card("Bench Reader 0");
        bench_provider::add_container("on card", "card:Bench Reader 0");
        bench_provider::add_container("on token", "token:0001");
        bench_carriers::clear_pcsc_records();
    }
    const std::string card_name = bench_provider::qualified_name("on card", "card:Bench Reader 0");
};

TEST_F(CardContainers, WithoutIgnoreCardsTheyAreListedAndNeverProbed)
{
    for (int value : {0, 2, -1}) {
        settings.ignore_cards = value;
        EXPECT_EQ(0, crypt_utils::enum_containers(settings, containers));
        EXPECT_EQ((Names{card_name, token_name("on token")}), containers) << "ignore_cards=" << value;
    }
    EXPECT_THAT(bench_carriers::pcsc_calls("connect"), IsEmpty());
    // The card test opens the container with flags 0; it was never made.
    for (const auto& call : bench_provider::acquisitions())
        EXPECT_EQ(0u, call.rfind("0xF0000000", 0)) << call;
}

TEST_F(CardContainers, WithIgnoreCardsACardAnsweringTheProbeIsSkippedWithAnInfoLine)
{
    settings.ignore_cards = 1;
    EXPECT_EQ(0, crypt_utils::enum_containers(settings, containers));
    EXPECT_EQ((Names{token_name("on token")}), containers);
    EXPECT_THAT(trace_lines::entries(),
                ElementsAre(calling,
                            info + "ignoring card container according to service settings { container=" + card_name +
                                " }",
                            debug + "container found: " + token_name("on token"), clean_up, h_prov, cont_array,
                            closing_ok));
    EXPECT_THAT(bench_carriers::apdus_sent_to("Bench Reader 0"), ElementsAre("80FE060000"));
}

TEST_F(CardContainers, WithIgnoreCardsACardFailingTheProbeIsListed)
{
    settings.ignore_cards = 1;
    bench_carriers::Card silent;
    silent.replies = {"6D00"};
    bench_carriers::insert_card("Bench Reader 0", silent);
    EXPECT_EQ(0, crypt_utils::enum_containers(settings, containers));
    EXPECT_EQ((Names{card_name, token_name("on token")}), containers);
}

TEST_F(CardContainers, WithIgnoreCardsSkippedReaderNamesAreListedUntouched)
{
    settings.ignore_cards = 1;
    bench_provider::clear();
    for (const std::string reader : {"FT SCR 2000 0", "Aktiv Rutoken Magistra 1"}) {
        bench_carriers::add_reader(reader);
        bench_carriers::insert_card(reader);
        bench_provider::add_container("on " + reader, "card:" + reader);
    }
    bench_carriers::clear_pcsc_records();
    EXPECT_EQ(0, crypt_utils::enum_containers(settings, containers));
    EXPECT_EQ((Names{bench_provider::qualified_name("on FT SCR 2000 0", "card:FT SCR 2000 0"),
                     bench_provider::qualified_name("on Aktiv Rutoken Magistra 1", "card:Aktiv Rutoken Magistra 1")}),
              containers);
    EXPECT_THAT(bench_carriers::pcsc_calls("connect"), IsEmpty());
}

TEST_F(CardContainers, IsCardContainerAsksTheReaderOfTheContainer)
{
    EXPECT_TRUE(crypt_utils::is_card_container(card_name));
    EXPECT_TRUE(crypt_utils::is_card_container("on card"));
    EXPECT_FALSE(crypt_utils::is_card_container(token_name("on token")));
    EXPECT_FALSE(crypt_utils::is_card_container("no such container"));
    bench_provider::add_container("kept", "registry");
    EXPECT_FALSE(crypt_utils::is_card_container("kept"));
    bench_provider::fail("reader", static_cast<unsigned long>(NTE_FAIL));
    EXPECT_FALSE(crypt_utils::is_card_container(card_name));
    EXPECT_THAT(trace_lines::entries(), IsEmpty());
}

}  // namespace
