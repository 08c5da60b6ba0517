// The termios port over a real pseudo-terminal. Time is real here, so time-outs are checked only
// as "not before, and not wildly after".
#include "platform/TermiosSerialPort.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "PlatformTestUtil.h"
#include "platform/Clock.h"

namespace vandora::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Lets bytes written on one side of the pseudo-terminal reach the other side's queue.
void settle() {
    RealClock::instance().sleepMs(30);
}

class TermiosPort : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok()) << "no pseudo-terminal available";
        ASSERT_EQ(port.open(), 0);
    }

    void setReadTimeout(std::uint32_t ms) {
        PortTimeouts t;
        t.readConstantMs = ms;
        ASSERT_EQ(port.setTimeouts(t), 0);
    }

    // Reads one byte at a time, as the channel does, until count bytes or a time-out.
    Bytes readBytes(std::size_t count) {
        Bytes bytes;
        while (bytes.size() < count) {
            std::uint8_t byte = 0;
            std::size_t got = 0;
            int rc = port.read(&byte, 1, got);
            EXPECT_EQ(rc, 0);
            if (rc != 0 || got == 0) {
                break;
            }
            bytes.push_back(byte);
        }
        return bytes;
    }

    PtyPair pty;
    TermiosSerialPort port{pty.slavePath()};
};

TEST_F(TermiosPort, OpenTwiceIsRefusedAndCloseAllowsReopening) {
    EXPECT_TRUE(port.isOpen());
    EXPECT_EQ(port.open(), EBUSY);
    port.close();
    EXPECT_FALSE(port.isOpen());
    std::size_t got = 7;
    std::uint8_t byte = 0;
    EXPECT_EQ(port.read(&byte, 1, got), EBADF);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(port.open(), 0);
}

TEST_F(TermiosPort, DeviceIsOpenedExclusively) {
    int fd = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        EXPECT_EQ(errno, EBUSY);
        return;
    }
    // Root gets through an exclusive terminal; the flag must still be set.
    int exclusive = 0;
    EXPECT_EQ(::ioctl(fd, TIOCGEXCL, &exclusive), 0);
    ::close(fd);
    EXPECT_NE(exclusive, 0);
}

TEST_F(TermiosPort, SettingsRoundTrip) {
    struct Case {
        PortSettings wanted;
    };
    const Case cases[] = {
        {{115200, 8, Parity::None, StopBits::One, false, false, false}},
        {{9600, 8, Parity::None, StopBits::Two, false, true, false}},
        {{19200, 8, Parity::None, StopBits::One, true, false, true}},
        {{4000000, 8, Parity::None, StopBits::One, false, true, true}},
        {{50, 8, Parity::None, StopBits::One, false, false, false}},
    };
    // A pseudo-terminal always runs 8 bits without parity, so only those framings come back.
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wanted.baud);
        // The lines cannot be driven on a pseudo-terminal; that must not stop the rate.
        ASSERT_EQ(port.setSettings(c.wanted), 0);
        PortSettings now;
        ASSERT_EQ(port.getSettings(now), 0);
        EXPECT_EQ(now, c.wanted);
    }
}

TEST_F(TermiosPort, RefusedRateKeepsTheOldSettings) {
    PortSettings good;
    good.baud = 115200;
    ASSERT_EQ(port.setSettings(good), 0);
    for (std::uint32_t baud : {0u, 12345u, 5000000u, 115201u}) {
        SCOPED_TRACE(baud);
        PortSettings bad = good;
        bad.baud = baud;
        bad.parity = Parity::Even;
        EXPECT_EQ(port.setSettings(bad), EINVAL);
        PortSettings now;
        ASSERT_EQ(port.getSettings(now), 0);
        EXPECT_EQ(now, good);
    }
}

TEST_F(TermiosPort, ReadOfASilentLineReturnsNothingAfterTheTimeout) {
    for (std::uint32_t ms : {0u, 150u}) {
        SCOPED_TRACE(ms);
        setReadTimeout(ms);
        std::uint8_t byte = 0;
        std::size_t got = 9;
        std::uint64_t start = RealClock::instance().nowUs();
        EXPECT_EQ(port.read(&byte, 1, got), 0);
        std::uint64_t elapsedUs = RealClock::instance().nowUs() - start;
        EXPECT_EQ(got, 0u);
        EXPECT_GE(elapsedUs, ms * 1000ull);
        EXPECT_LT(elapsedUs, ms * 1000ull + 1'500'000);
    }
}

TEST_F(TermiosPort, BytesFromTheOtherEndArriveInOrder) {
    setReadTimeout(1000);
    // Several bursts, each read back one byte at a time through the internal buffer.
    Bytes sent;
    for (int burst = 0; burst < 8; ++burst) {
        Bytes chunk(1500);
        for (std::size_t i = 0; i < chunk.size(); ++i) {
            chunk[i] = static_cast<std::uint8_t>((sent.size() + i) * 7 % 251);
        }
        pty.send(chunk);
        sent.insert(sent.end(), chunk.begin(), chunk.end());
        Bytes got = readBytes(chunk.size());
        ASSERT_EQ(got, chunk) << "burst " << burst;
    }
    // A read wider than one byte returns what is there, not more.
    pty.send({1, 2, 3});
    settle();
    std::uint8_t buffer[16] = {};
    std::size_t got = 0;
    ASSERT_EQ(port.read(buffer, sizeof buffer, got), 0);
    EXPECT_EQ(Bytes(buffer, buffer + got), (Bytes{1, 2, 3}));
}

TEST_F(TermiosPort, WrittenBytesReachTheOtherEnd) {
    const Bytes frame = {0x04, 0xE4, 0x04, 0x00, 0xFF, 0x14, 0x0A, 0x0D, 0x00};
    std::size_t written = 0;
    ASSERT_EQ(port.write(frame.data(), frame.size(), written), 0);
    EXPECT_EQ(written, frame.size());
    // Raw mode: no newline translation on the way out.
    EXPECT_EQ(pty.receive(frame.size()), frame);
}

TEST_F(TermiosPort, WriteToAStalledLineStopsAtTheWriteTimeout) {
    PortTimeouts t;
    t.writeConstantMs = 100;
    ASSERT_EQ(port.setTimeouts(t), 0);
    // Nobody reads the master, so the pseudo-terminal's queues fill up.
    Bytes big(4 << 20, 0x55);
    std::size_t written = 0;
    std::uint64_t start = RealClock::instance().nowUs();
    EXPECT_EQ(port.write(big.data(), big.size(), written), 0);
    std::uint64_t elapsedUs = RealClock::instance().nowUs() - start;
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, big.size());
    EXPECT_GE(elapsedUs, 100'000u);
    EXPECT_LT(elapsedUs, 2'000'000u);
}

TEST_F(TermiosPort, PurgeDropsBufferedInputOnlyWhenReceiveIsAsked) {
    struct Case {
        unsigned flags;
        bool dropsInput;
    };
    const Case cases[] = {
        {kPurgeRxClear, true},
        {kPurgeRxAbort, true},
        {kPurgeAll, true},
        {kPurgeTxAbort | kPurgeTxClear, false},
    };
    setReadTimeout(300);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        // "abc" lands in the driver and one refill takes it all; after the first byte "bc"
        // waits inside the port, "de" in the driver.
        pty.send({'a', 'b', 'c'});
        settle();
        ASSERT_EQ(readBytes(1), Bytes{'a'});
        pty.send({'d', 'e'});
        settle();
        ASSERT_EQ(port.purge(c.flags), 0);
        pty.send({'z'});
        Bytes expected = c.dropsInput ? Bytes{'z'} : Bytes{'b', 'c', 'd', 'e', 'z'};
        EXPECT_EQ(readBytes(expected.size()), expected);
        // Nothing more behind.
        setReadTimeout(0);
        EXPECT_EQ(readBytes(1), Bytes{});
        setReadTimeout(300);
    }
}

TEST_F(TermiosPort, PseudoTerminalHasNoModemLines) {
    std::uint32_t bits = 0;
    EXPECT_EQ(port.getModemStatus(bits), ENOTTY);
}

TEST_F(TermiosPort, HungUpOtherEndFailsTheReadAtOnce) {
    setReadTimeout(10000);
    pty.closeMaster();
    std::uint8_t byte = 0;
    std::size_t got = 5;
    std::uint64_t start = RealClock::instance().nowUs();
    EXPECT_EQ(port.read(&byte, 1, got), EIO);
    EXPECT_EQ(got, 0u);
    EXPECT_LT(RealClock::instance().nowUs() - start, 5'000'000u);
}

TEST(TermiosPortOpen, FailuresGiveTheErrno) {
    struct Case {
        const char* path;
        int error;
    };
    const Case cases[] = {
        {"/dev/null", ENOTTY},
        {"/nonexistent/ttyS9", ENOENT},
        {"", ENOENT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        TermiosSerialPort port(c.path);
        EXPECT_EQ(port.open(), c.error);
        EXPECT_FALSE(port.isOpen());
    }
}

TEST(TermiosPortOpen, NotATerminalLeavesNoDescriptorBehind) {
    int probe = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(probe, 0);
    ::close(probe);
    TermiosSerialPort port("/dev/null");
    EXPECT_EQ(port.open(), ENOTTY);
    // The lowest free descriptor is handed out again only if the port closed what it opened.
    int again = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(again, probe);
    ::close(again);
}

TEST(SerialDevicePath, FromTheEnvironmentElseTheSystemPort) {
    struct Case {
        int port;
        std::optional<std::string> com1;
        std::optional<std::string> com2;
        std::string expected;
    };
    const Case cases[] = {
        {1, std::nullopt, std::nullopt, "/dev/ttyS0"},
        {2, std::nullopt, std::nullopt, "/dev/ttyS1"},
        {1, "/dev/ttyUSB0", std::nullopt, "/dev/ttyUSB0"},
        {2, "/dev/ttyUSB0", std::nullopt, "/dev/ttyS1"},
        {2, "/dev/ttyUSB0", "/dev/ttyACM3", "/dev/ttyACM3"},
        {1, "", std::nullopt, "/dev/ttyS0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        ScopedEnv com1("VANDORA_COM1", c.com1);
        ScopedEnv com2("VANDORA_COM2", c.com2);
        EXPECT_EQ(serialDevicePath(c.port), c.expected);
    }
}

TEST(LinuxSerialPortProvider, PortNumberOpensTheDeviceOfItsVariable) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    ScopedEnv com2("VANDORA_COM2", pty.slavePath());
    LinuxSerialPortProvider provider;
    std::unique_ptr<SerialPort> port = provider.create(2);
    ASSERT_NE(port, nullptr);
    EXPECT_FALSE(port->isOpen());
    ASSERT_EQ(port->open(), 0);
    std::size_t written = 0;
    const std::uint8_t byte = 0x42;
    ASSERT_EQ(port->write(&byte, 1, written), 0);
    EXPECT_EQ(pty.receive(1), Bytes{0x42});
}

// Another thread hangs up while the port waits in a long read.
TEST(TermiosPortThreaded, HangUpDuringAReadEndsItWithEio) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    TermiosSerialPort port(pty.slavePath());
    ASSERT_EQ(port.open(), 0);
    PortTimeouts t;
    t.readConstantMs = 20000;
    ASSERT_EQ(port.setTimeouts(t), 0);
    std::thread hangUp([&pty] {
        RealClock::instance().sleepMs(100);
        pty.closeMaster();
    });
    std::uint8_t byte = 0;
    std::size_t got = 0;
    std::uint64_t start = RealClock::instance().nowUs();
    int rc = port.read(&byte, 1, got);
    std::uint64_t elapsedUs = RealClock::instance().nowUs() - start;
    hangUp.join();
    EXPECT_EQ(rc, EIO);
    EXPECT_EQ(got, 0u);
    EXPECT_LT(elapsedUs, 10'000'000u);
}

}  // namespace
}  // namespace vandora::testing
