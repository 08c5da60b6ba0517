#include "platform/Semaphore.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/Clock.h"

namespace vandora::testing {
namespace {

TEST(Semaphore, ReleasesStopAtTheMaximum) {
    struct Case {
        std::uint32_t initial;
        std::uint32_t maximum;
        std::uint32_t releasesTaken;
    };
    const Case cases[] = {
        {0, 1, 1}, {1, 1, 0}, {0, 3, 3},
        {2, 3, 1}, {5, 3, 0},  // an initial count over the maximum is cut to it
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.initial << " of " << c.maximum);
        VirtualClock clock;
        Semaphore sem(c.initial, c.maximum, clock);
        std::uint32_t taken = 0;
        while (taken <= c.maximum && sem.release()) {
            ++taken;
        }
        EXPECT_EQ(taken, c.releasesTaken);
        EXPECT_EQ(sem.count(), c.maximum);
        // Every count can be taken once, and no more.
        for (std::uint32_t i = 0; i < c.maximum; ++i) {
            EXPECT_TRUE(sem.tryWait());
        }
        EXPECT_FALSE(sem.tryWait());
        EXPECT_EQ(clock.nowUs(), 0u);
    }
}

TEST(Semaphore, WaitFollowsVirtualTime) {
    VirtualClock clock(1'000'000);
    Semaphore sem(0, 1, clock);
    EXPECT_FALSE(sem.wait(500));
    EXPECT_EQ(clock.nowUs(), 1'500'000u);
    // A count already there is taken without time passing.
    ASSERT_TRUE(sem.release());
    EXPECT_TRUE(sem.wait(500));
    EXPECT_EQ(clock.nowUs(), 1'500'000u);
    EXPECT_EQ(sem.count(), 0u);
}

TEST(Semaphore, ResetPutsTheCountBack) {
    VirtualClock clock;
    Semaphore sem(1, 1, clock);
    ASSERT_TRUE(sem.tryWait());
    sem.reset(1);
    EXPECT_EQ(sem.count(), 1u);
    EXPECT_FALSE(sem.release());
    sem.reset(0);
    EXPECT_FALSE(sem.tryWait());
}

TEST(SemaphoreThreaded, ReleaseWakesAWaiterWithoutLimit) {
    Semaphore sem;
    std::atomic<bool> woke{false};
    std::thread waiter([&] { woke = sem.wait(); });
    RealClock::instance().sleepMs(20);
    EXPECT_TRUE(sem.release());
    waiter.join();
    EXPECT_TRUE(woke);
    EXPECT_EQ(sem.count(), 0u);
}

// Two threads hand a turn back and forth; a lost wake-up would hang the exchange.
TEST(SemaphoreThreaded, PingPongLosesNoWakeUp) {
    constexpr int kRounds = 2000;
    Semaphore ping;
    Semaphore pong;
    int counter = 0;  // touched only by the thread holding the turn
    std::thread other([&] {
        for (int i = 0; i < kRounds; ++i) {
            if (!ping.wait(10000)) {
                return;
            }
            ++counter;
            pong.release();
        }
    });
    int rounds = 0;
    for (; rounds < kRounds; ++rounds) {
        ping.release();
        if (!pong.wait(10000)) {
            break;
        }
    }
    other.join();
    EXPECT_EQ(rounds, kRounds);
    EXPECT_EQ(counter, kRounds);
}

}  // namespace
}  // namespace vandora::testing
