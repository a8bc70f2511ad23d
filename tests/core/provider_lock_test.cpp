// acquire_provider_lock against other processes holding the session's
// provider mutex. Waits use the product's 30 s limit where the time matters.
#include "core/provider_lock.h"
#include "support/agent_log.h"
#include "support/bench_process.h"
#include "support/timing_for_tests.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

using namespace keyhaven;

namespace {

const std::string holder_arguments = std::string(" ") + package_names::provider_mutex;

// The wait_time of a "{ rc=..., wait_time=S }" line.
double logged_wait_time(const std::string& entry)
{
    std::string::size_type at = entry.find("wait_time=");
    return at == std::string::npos ? -1.0 : std::atof(entry.c_str() + at + 10);
}

class ProviderLockTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        agent_log::clear();
        test_timing::reset(1);  // the real 30 s limit
    }
    void TearDown() override { test_timing::reset(); }

};

TEST_F(ProviderLockTest, NoOtherHolderGivesAnOwnedHandleSilently)
{
    ProviderLock lock = acquire_provider_lock();
    ASSERT_TRUE(lock.held());
    EXPECT_TRUE(lock.owned());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(lock.get(), 0));  // owned: recursive acquisition succeeds
    ReleaseMutex(lock.get());
    EXPECT_TRUE(agent_log::entries().empty());
    EXPECT_TRUE(test_timing::requested.empty());
}

TEST_F(ProviderLockTest, HolderThatReleasesAfterTwoSecondsIsWaitedFor)
{
    BenchProcess holder("bench_mutex.exe", "hold" + holder_arguments + " 2");
    ASSERT_TRUE(holder.started());
    ProviderLock lock = acquire_provider_lock();
    ASSERT_TRUE(lock.held());
    EXPECT_TRUE(lock.owned());
    lock.give_up();

    auto entries = agent_log::entries();
    ASSERT_EQ(2u, entries.size());
    EXPECT_EQ("[  DEBUG  ]: waiting the mutex will be released...", entries[0]);
    EXPECT_EQ(0u, entries[1].find("[  DEBUG  ]: mutex ownership is obtained successfully { rc=WAIT_OBJECT_0, wait_time="));
    double waited = logged_wait_time(entries[1]);
    EXPECT_GT(waited, 1.5);
    EXPECT_LT(waited, 3.5);
    EXPECT_TRUE(std::regex_search(entries[1], std::regex("wait_time=[0-9]+\\.[0-9]{8} \\}$"))) << entries[1];
    EXPECT_EQ((std::vector<unsigned long>{30000}), test_timing::requested);
}

TEST_F(ProviderLockTest, HolderThatEndsWithoutReleasingLeavesItAbandoned)
{
    BenchProcess holder("bench_mutex.exe", "hold" + holder_arguments);
    ASSERT_TRUE(holder.started());
    HANDLE waiter = CreateThread(
        nullptr, 0,
        [](void* p) -> DWORD {
            Sleep(500);
            static_cast<BenchProcess*>(p)->kill();
            return 0;
        },
        &holder, 0, nullptr);
    ProviderLock lock = acquire_provider_lock();
    WaitForSingleObject(waiter, INFINITE);
    CloseHandle(waiter);
    ASSERT_TRUE(lock.held());
    EXPECT_TRUE(lock.owned());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(lock.get(), 0));  // this thread owns it now
    ReleaseMutex(lock.get());
    lock.give_up();

    auto entries = agent_log::entries();
    ASSERT_EQ(2u, entries.size());
    EXPECT_EQ(0u, entries[1].find("[  DEBUG  ]: obtained ownership of the abandoned mutex { rc=WAIT_ABANDONED, wait_time="));
}

// The product's whole 30 s wait, once.
TEST_F(ProviderLockTest, HolderForMoreThanThirtySecondsTimesOutWithAHandle)
{
    BenchProcess holder("bench_mutex.exe", "hold" + holder_arguments + " 40");
    ASSERT_TRUE(holder.started());
    ProviderLock lock = acquire_provider_lock();
    ASSERT_TRUE(lock.held());
    EXPECT_FALSE(lock.owned());
    EXPECT_FALSE(ReleaseMutex(lock.get()));  // not ours: the release fails harmlessly
    lock.give_up();

    auto entries = agent_log::entries(true);
    ASSERT_EQ(1u, entries.size());
    EXPECT_EQ(0u, entries[0].find(
                      "[ WARNING ]: time-out interval elapsed, error getting mutex ownership { rc=WAIT_TIMEOUT, wait_time="));
    double waited = logged_wait_time(entries[0]);
    EXPECT_GT(waited, 29.9);
    EXPECT_LT(waited, 31.0);
}

// Another kind of object under the lock's name fails it on every turn: one
// line when it starts, one when it ends.
TEST_F(ProviderLockTest, NameTakenByAnotherObjectIsLoggedOnceUntilItEnds)
{
    HANDLE squatter = CreateEventA(nullptr, TRUE, FALSE, package_names::provider_mutex);
    ASSERT_NE(nullptr, squatter);
    for (int turn = 0; turn < 3; ++turn)
        EXPECT_FALSE(acquire_provider_lock().held());
    CloseHandle(squatter);
    ProviderLock lock = acquire_provider_lock();
    ASSERT_TRUE(lock.owned());
    ReleaseMutex(lock.get());
    EXPECT_EQ((std::vector<std::string>{"[  ERROR  ]: CreateMutex() error, code=6",
                                        "[  INFO   ]: provider lock can be created again"}),
              agent_log::entries());
}

}  // namespace
