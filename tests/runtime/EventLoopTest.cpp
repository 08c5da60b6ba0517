#include "runtime/EventLoop.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "runtime/WorkerThread.h"

namespace vandora {
namespace {

TEST(EventLoop, HandlesPostedMessagesInOrderThenQuits) {
    EventLoop loop;
    ASSERT_TRUE(loop.valid());
    std::vector<std::uint32_t> seen;
    loop.setHandler([&](const Message& m) {
        seen.push_back(m.id);
        if (m.id == 3) {
            loop.quit(7);
        }
    });
    for (std::uint32_t id : {1u, 2u, 3u}) {
        loop.post({id, 0, 0});
    }
    EXPECT_EQ(loop.run(), 7);
    EXPECT_EQ(seen, (std::vector<std::uint32_t>{1, 2, 3}));
}

TEST(EventLoop, TimersRunInDueOrderAndCanBeCancelled) {
    // The later timer is added first; its due time stays a second after the other's however
    // long this thread is held up between the two calls, and the cancelled one falls due in
    // between, so it would have run before the loop quits.
    EventLoop loop;
    std::vector<int> order;
    auto ran = [&](int which) {
        order.push_back(which);
        if (order.size() == 2) {
            loop.quit();
        }
    };
    loop.addTimer(1000, [&] { ran(2); });
    loop.addTimer(0, [&] { ran(1); });
    int cancelled = loop.addTimer(5, [&] { ran(99); });
    loop.cancelTimer(cancelled);
    loop.run();
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(EventLoop, WatchedFdCallsBackWhenReadable) {
    EventLoop loop;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    char got = 0;
    loop.watchFd(fds[0], POLLIN, [&](short) {
        ASSERT_EQ(read(fds[0], &got, 1), 1);
        loop.quit();
    });
    ASSERT_EQ(write(fds[1], "x", 1), 1);
    loop.run();
    EXPECT_EQ(got, 'x');
    close(fds[0]);
    close(fds[1]);
}

TEST(EventLoopThreaded, SendWaitsUntilHandledOnTheLoopThread) {
    EventLoop loop;
    std::thread::id handledOn;
    std::atomic<bool> handled{false};
    loop.setHandler([&](const Message& m) {
        if (m.id == 1) {
            handledOn = std::this_thread::get_id();
            handled = true;
        } else {
            loop.quit();
        }
    });
    std::thread sender([&] {
        EXPECT_TRUE(loop.send({1, 0, 0}));
        EXPECT_TRUE(handled.load()) << "send returned before the handler ran";
        loop.post({2, 0, 0});
    });
    loop.run();
    sender.join();
    EXPECT_EQ(handledOn, std::this_thread::get_id());
}

TEST(EventLoopThreaded, SendAfterQuitDoesNotHang) {
    EventLoop loop;
    loop.quit();
    std::thread sender([&] { EXPECT_FALSE(loop.send({1, 0, 0})); });
    sender.join();
}

TEST(WorkerThreadThreaded, BurstOfRequestsCollapsesAndStopWaitsForTheJob) {
    Semaphore request(0, 1);
    Semaphore done(0, 1);
    std::atomic<std::int32_t> stop{0};
    std::atomic<int> jobs{0};
    Semaphore jobStarted(0, 1);
    Semaphore letJobEnd(0, 1);
    WorkerThread worker;
    worker.start(request, &done, stop, [&] {
        ++jobs;
        jobStarted.release();
        letJobEnd.wait();
    });
    request.release();
    ASSERT_TRUE(jobStarted.wait(5000));
    // Three requests while the job runs: one more job, not three.
    request.release();
    request.release();
    request.release();
    letJobEnd.release();
    ASSERT_TRUE(jobStarted.wait(5000));
    letJobEnd.release();
    std::thread stopper([&] { worker.stop(); });
    stopper.join();
    EXPECT_EQ(jobs.load(), 2);
    EXPECT_FALSE(worker.running());
}

}  // namespace
}  // namespace vandora
