#include "platform/DeviceWatch.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace vandora {
namespace {

namespace fs = std::filesystem;

bool readable(int fd, int timeoutMs) {
    pollfd entry{fd, POLLIN, 0};
    return poll(&entry, 1, timeoutMs) == 1;
}

class DeviceWatchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vandora-watch-" + std::to_string(getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

TEST_F(DeviceWatchTest, TellsWhenAMissingPathAppearsAndGoesAgain) {
    const fs::path device = dir_ / "ttyENGINE";
    const fs::path target = dir_ / "pts-7";
    DeviceWatch watch;
    ASSERT_TRUE(watch.start(device.string()));
    EXPECT_FALSE(readable(watch.fd(), 0)) << "nothing happened yet";
    EXPECT_FALSE(watch.drain());

    // Another name in the folder wakes the watch, but the device is not there.
    std::ofstream(dir_ / "other").put('x');
    ASSERT_TRUE(readable(watch.fd(), 1000));
    EXPECT_FALSE(watch.drain());
    EXPECT_FALSE(readable(watch.fd(), 0)) << "drained";

    // The device comes back as a link to its new node.
    std::ofstream(target).put('x');
    fs::create_symlink(target, device);
    ASSERT_TRUE(readable(watch.fd(), 1000));
    EXPECT_TRUE(watch.drain());

    // A link whose target is gone is no device.
    fs::remove(target);
    ASSERT_TRUE(readable(watch.fd(), 1000));
    EXPECT_FALSE(watch.drain());
}

TEST_F(DeviceWatchTest, AFolderThatCannotBeWatchedFailsWithItsError) {
    DeviceWatch watch;
    EXPECT_FALSE(watch.start((dir_ / "no-such-folder" / "tty").string()));
    EXPECT_EQ(watch.lastError(), ENOENT);
    EXPECT_FALSE(watch.watching());
    EXPECT_FALSE(watch.drain());
}

}  // namespace
}  // namespace vandora
