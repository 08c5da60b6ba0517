// An engine model behind a real pseudo-terminal: the host side opens the slave with termios
// calls, as the service does, and talks to the model in real time.
#include "PtyBridge.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "SimWire.h"

namespace vandora::sim::testing {
namespace {

int openRaw(const std::string& path, speed_t speed) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return fd;
    }
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::cfsetspeed(&tio, speed);
    ::tcsetattr(fd, TCSANOW, &tio);
    return fd;
}

void setSpeed(int fd, speed_t speed) {
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfsetspeed(&tio, speed);
    ::tcsetattr(fd, TCSANOW, &tio);
}

// Reads until `want` bytes came or the line has been quiet for two seconds.
Bytes readSome(int fd, std::size_t want) {
    Bytes out;
    while (out.size() < want) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 2000) <= 0) {
            break;
        }
        std::uint8_t buffer[256];
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        out.insert(out.end(), buffer, buffer + n);
    }
    return out;
}

TEST(PtyBridge, ServesAModelAtTheRateTheHostSetOnTheSlave) {
    auto model = makeEngineModel(3);
    PtyBridge bridge(model);
    ASSERT_EQ(bridge.start(), 0);
    int fd = openRaw(bridge.slavePath(), B9600);
    ASSERT_GE(fd, 0);

    const Bytes query = withChecksum({0x04, 0xA3, 0x04, 0x00});
    ASSERT_EQ(::write(fd, query.data(), query.size()), static_cast<ssize_t>(query.size()));
    // Heard at 9600 and lost: the imager talks at 115200.
    bool lost = false;
    for (int i = 0; i < 200 && !lost; ++i) {
        lost = bridge.withModel([&] { return model->counters.wrongRateWrites == 1; });
        if (!lost) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ASSERT_TRUE(lost);

    setSpeed(fd, B115200);
    ASSERT_EQ(::write(fd, query.data(), query.size()), static_cast<ssize_t>(query.size()));
    Bytes answer = readSome(fd, 2);
    ASSERT_EQ(answer.size() >= 2 ? answer[1] : 0, 0xA3);
    Bytes rest = readSome(fd, static_cast<std::size_t>(answer[0]) + 2 - answer.size());
    answer.insert(answer.end(), rest.begin(), rest.end());
    EXPECT_EQ(answer, withChecksum(Bytes(answer.begin(), answer.end() - 2)));
    EXPECT_EQ(bridge.withModel([&] { return model->log.size(); }), 1u);

    ::close(fd);
    bridge.stop();
    EXPECT_NE(::access(bridge.slavePath().c_str(), F_OK), 0) << "the slave went with the master";
}

}  // namespace
}  // namespace vandora::sim::testing
