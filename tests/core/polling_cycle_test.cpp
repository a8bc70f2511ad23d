// Turns of the polling cycle, one by one, against the bench's carriers and
// provider; pauses go through the test timing (recorded, not waited out).
#include "core/polling_cycle.h"
#include "core/provider_lock.h"
#include "settings/settings.h"
#include "support/agent_log.h"
#include "support/bench_carriers.h"
#include "support/bench_process.h"
#include "support/bench_provider.h"
#include "support/timing_for_tests.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

using namespace keyhaven;

namespace {

using Lines = std::vector<std::string>;

const std::string info = "[  INFO   ]: ";
const std::string warning = "[ WARNING ]: ";

Lines matching(const std::string& text)
{
    Lines found;
    for (const auto& entry : agent_log::entries())
        if (entry.find(text) != std::string::npos)
            found.push_back(entry);
    return found;
}

// The INFO lines listing new containers, framing included.
Lines listing()
{
    Lines lines;
    bool inside = false;
    for (const auto& entry : agent_log::entries(true)) {
        if (entry.find("container(s) to import") != std::string::npos)
            inside = true;
        if (inside)
            lines.push_back(entry);
        if (entry.find(" === end of list ===") != std::string::npos)
            inside = false;
    }
    return lines;
}

Lines found_lines(const Lines& names)
{
    Lines lines{info + " === found " + std::to_string(names.size()) + " container(s) to import: ==="};
    for (const auto& name : names)
        lines.push_back(info + "\t * " + name);
    lines.push_back(info + " === end of list ===");
    return lines;
}

class PollingCycle : public ::testing::Test {
protected:
    void SetUp() override
    {
        bench_carriers::clear_all();
        bench_provider::clear();
        DeleteFileA("c:\\nivra\\Keyhaven.ini");
        test_timing::reset();
        agent_log::clear();
    }
    void TearDown() override
    {
        bench_carriers::clear_all();
        bench_provider::clear();
        DeleteFileA("c:\\nivra\\Keyhaven.ini");
        test_timing::reset();
    }

    void insert_token_with_container(const std::string& token, const std::string& container)
    {
        bench_carriers::insert_token(token);
        bench_provider::add_container(container, "token:" + token);
    }
    std::string name_on_token(const std::string& token, const std::string& container)
    {
        return bench_provider::qualified_name(container, "token:" + token);
    }
    void turn()
    {
        agent_log::clear();
        run_polling_turn(state);
    }
    size_t enumerations() const
    {
        size_t count = 0;
        for (const auto& entry : agent_log::entries())
            count += entry == "[  DEBUG  ]: ----> calling enum_containers";
        return count;
    }

    PollingState state;
};

TEST_F(PollingCycle, InsertedTokenIsListedOnceAndTheLockIsGoneBetweenTurns)
{
    insert_token_with_container("T1", "alpha");
    turn();
    EXPECT_EQ(Lines{info + "configuration changed: cards_count=0, tokens_count=1"},
              matching("configuration changed"));
    EXPECT_EQ(found_lines({name_on_token("T1", "alpha")}), listing());
    EXPECT_EQ(Lines{name_on_token("T1", "alpha")}, state.known_containers);
    EXPECT_EQ((std::vector<unsigned long>{1000}), test_timing::requested);

    HANDLE lock = OpenMutexA(SYNCHRONIZE, FALSE, package_names::provider_mutex);
    EXPECT_EQ(nullptr, lock) << "the provider lock outlived its turn";
    if (lock)
        CloseHandle(lock);

    turn();  // no change: no enumeration, nothing listed
    EXPECT_EQ(0u, enumerations());
    EXPECT_TRUE(agent_log::entries(true).empty());
}

TEST_F(PollingCycle, OnlyCarrierRemovedWithCleaningOnSkipsEnumeration)
{
    insert_token_with_container("T1", "alpha");
    turn();
    bench_carriers::remove_token("T1");
    turn();
    EXPECT_EQ(0u, enumerations());
    EXPECT_TRUE(state.known_containers.empty());
    EXPECT_TRUE(listing().empty());

    bench_carriers::insert_token("T1");
    turn();
    EXPECT_EQ(found_lines({name_on_token("T1", "alpha")}), listing());
}

TEST_F(PollingCycle, OnlyCarrierRemovedWithCleaningOffAbortsWithoutPause)
{
    state.settings.clean_storage = 0;
    std::ofstream("c:\\nivra\\Keyhaven.ini") << "[properties]\nclean_storage = 0\n";
    insert_token_with_container("T1", "alpha");
    turn();
    bench_carriers::remove_token("T1");
    test_timing::reset();
    turn();
    EXPECT_EQ(1u, enumerations());
    EXPECT_EQ((Lines{warning + "aborting enumeration process: all carriers were ejected"}), matching("aborting"));
    EXPECT_EQ((Lines{info + "no new containers found"}), matching("no new containers"));
    EXPECT_TRUE(matching("retrying").empty());
    EXPECT_EQ((std::vector<unsigned long>{1000}), test_timing::requested);
    EXPECT_TRUE(state.known_containers.empty());
}

TEST_F(PollingCycle, ThirdTokenAddsOnlyItsContainers)
{
    insert_token_with_container("T1", "one");
    insert_token_with_container("T2", "two");
    turn();
    insert_token_with_container("T3", "three-a");
    bench_provider::add_container("three-b", "token:T3");
    turn();
    EXPECT_EQ(found_lines({name_on_token("T3", "three-a"), name_on_token("T3", "three-b")}), listing());
    EXPECT_EQ(4u, state.known_containers.size());
}

TEST_F(PollingCycle, IgnoredCardAloneChangesNothingButStillCounts)
{
    std::ofstream("c:\\nivra\\Keyhaven.ini") << "[properties]\nignore_cards = 1\n";
    insert_token_with_container("T1", "token-key");
    turn();
    bench_carriers::add_reader("Reader A");
    bench_carriers::insert_card("Reader A");
    bench_provider::add_container("card-key", "card:Reader A");
    turn();
    EXPECT_EQ(Lines{info + "configuration changed: cards_count=(1, ignored), tokens_count=1"},
              matching("configuration changed"));
    EXPECT_EQ(0u, enumerations());

    // The token goes: a change, and the card keeps total above 0, so the
    // turn enumerates instead of emptying everything.
    bench_carriers::remove_token("T1");
    turn();
    EXPECT_EQ(1u, enumerations());
    EXPECT_TRUE(matching("aborting").empty());
    EXPECT_EQ(Lines{info + "no new containers found"}, matching("no new containers"));
}

TEST_F(PollingCycle, KestrelHoldingTheProviderMeansIdleTurns)
{
    insert_token_with_container("T1", "alpha");
    BenchProcess kestrel("bench_mutex.exe", std::string("hold ") + package_names::provider_mutex);
    ASSERT_TRUE(kestrel.started());
    std::ofstream("c:\\nivra\\Keyhaven.ini") << "[properties]\nclean_storage = 0\n";
    for (int i = 0; i < 3; ++i) {
        turn();
        EXPECT_EQ((Lines{warning + "libKestrel mutex is active, idling..."}), agent_log::entries());
    }
    EXPECT_EQ(1, state.settings.clean_storage);  // no settings read meanwhile
    kestrel.kill();

    turn();  // the change that happened meanwhile is seen now
    EXPECT_EQ(Lines{info + "configuration changed: cards_count=0, tokens_count=1"}, matching("configuration changed"));
}

TEST_F(PollingCycle, SettingsEditIsLoggedAndAppliedInTheSameTurn)
{
    insert_token_with_container("T1", "alpha");
    turn();
    std::ofstream("c:\\nivra\\Keyhaven.ini") << "[properties]\nclean_storage = 0\nmark_default = 1\n";
    bench_carriers::remove_token("T1");
    turn();
    EXPECT_EQ((Lines{info + "settings are changed: [mark_default=1, ignore_cards=0, clean_storage=0, init_plugin=0]"}),
              matching("settings are changed"));
    // clean_storage 0 already counts: the last carrier's removal enumerates.
    EXPECT_EQ(1u, enumerations());
}

TEST_F(PollingCycle, BusyProviderIsRetriedAHundredTimes)
{
    insert_token_with_container("T1", "alpha");
    bench_provider::set_busy(true);
    turn();

    Lines waits = matching("retrying");
    ASSERT_EQ(100u, waits.size());
    EXPECT_EQ(warning + "waiting  3.0 seconds and retrying <1/100> enumerate containers...", waits.front());
    EXPECT_EQ(warning + "waiting  3.0 seconds and retrying <100/100> enumerate containers...", waits.back());
    EXPECT_EQ(100u, matching("error enumeration containers (ERROR_NO_MORE_ITEMS) - containers are busy").size());
    EXPECT_EQ(101u, enumerations());
    EXPECT_EQ(101u, test_timing::requested.size());
    EXPECT_EQ(100, std::count(test_timing::requested.begin(), test_timing::requested.end(), 3000ul));
    EXPECT_EQ(1000ul, test_timing::requested.back());
    EXPECT_EQ(Lines{info + "no new containers found"}, matching("no new containers"));
    // The store is not cleaned against a list the provider never gave.
    EXPECT_EQ(Lines{warning + "containers could not be enumerated, [MY] storage is not cleaned"},
              matching("could not be enumerated"));
    EXPECT_TRUE(state.known_containers.empty());

    // Once the provider answers again, a change lists every container as new.
    bench_provider::set_busy(false);
    insert_token_with_container("T2", "beta");
    turn();
    EXPECT_EQ(found_lines({name_on_token("T1", "alpha"), name_on_token("T2", "beta")}), listing());
}

TEST_F(PollingCycle, BusyProviderWithCleaningOffAddsNoWarning)
{
    std::ofstream("c:\\nivra\\Keyhaven.ini") << "[properties]\nclean_storage = 0\n";
    insert_token_with_container("T1", "alpha");
    bench_provider::set_busy(true);
    turn();
    EXPECT_EQ(100u, matching("retrying").size());
    EXPECT_TRUE(matching("could not be enumerated").empty());
}

}  // namespace
