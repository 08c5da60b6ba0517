#include "reader/PortOps.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "platform/PlatformTestUtil.h"
#include "platform/TermiosSerialPort.h"
#include "reader/Exchange.h"
#include "support/SimRig.h"

namespace vandora::testing {
namespace {

using sim::bytesOf;

TEST(PortTimeout, SameValueMakesNoCallAndReturnsZero) {
    SimRig rig;
    rig.script(1);
    ReaderChannel& ch = rig.openChannel(1, EngineType::CcdLaser);
    unsigned before = rig.port(1).counters().setTimeouts;
    EXPECT_EQ(setTimeout(ch, 'r', 250), 1);
    EXPECT_EQ(setTimeout(ch, 'r', 250), 0);
    EXPECT_EQ(setTimeout(ch, 'w', 250), 1);
    EXPECT_EQ(setTimeout(ch, 'w', 250), 0);
    EXPECT_EQ(setTimeout(ch, 'x', 999), 0);
    EXPECT_EQ(rig.port(1).counters().setTimeouts, before + 2);
}

TEST(PortRead, SilentLineFailsAfterTheReadConstantWithZeroOut) {
    SimRig rig;
    rig.script(1);
    ReaderChannel& ch = rig.openChannel(1, EngineType::CcdLaser);
    setTimeout(ch, 'r', 1000);
    std::uint64_t start = rig.clock.nowMs();
    std::uint8_t out = 0x55;
    EXPECT_EQ(readByte(ch, out), 0);
    EXPECT_EQ(out, 0);
    EXPECT_EQ(rig.elapsedMs(start), 1000u);
    // A silent engine is not a port error.
    EXPECT_EQ(ch.lastError, 0u);
}

TEST(PortRead, VanishedDeviceFailsWithItsError) {
    SimRig rig;
    rig.script(1);
    ReaderChannel& ch = rig.openChannel(1, EngineType::CcdLaser);
    rig.port(1).faults().readError = EIO;
    std::uint8_t out = 1;
    EXPECT_EQ(readByte(ch, out), 0);
    EXPECT_EQ(out, 0);
    EXPECT_EQ(ch.lastError, static_cast<std::uint32_t>(EIO));
}

// A device that goes away is noticed at the first failing read or write: the port is closed
// at once, so that nothing waits on the dead device (each later exchange fails without its
// time-outs), and reopening clears the mark. A plain time-out or another error is no loss.
TEST(PortLoss, GoneDeviceClosesThePortAndMarksTheChannelLost) {
    struct Case {
        const char* name;
        bool onRead;
        int error;
        bool gone;
    };
    const Case cases[] = {
        {"read EIO", true, EIO, true},        {"read ENXIO", true, ENXIO, true},
        {"write EIO", false, EIO, true},      {"write ENODEV", false, ENODEV, true},
        {"read EAGAIN", true, EAGAIN, false}, {"write EINVAL", false, EINVAL, false},
    };
    for (const Case& c : cases) {
        SimRig rig;
        rig.script(1);
        ReaderChannel& ch = rig.openChannel(1, EngineType::Imager2D);
        (c.onRead ? rig.port(1).faults().readError : rig.port(1).faults().writeError) = c.error;
        std::uint8_t out = 0;
        EXPECT_EQ(c.onRead ? readByte(ch, out) : writeFrame(ch, ByteString("x")), 0) << c.name;
        EXPECT_EQ(ch.lastError, static_cast<std::uint32_t>(c.error)) << c.name;
        EXPECT_EQ(ch.lost.load(), c.gone ? 1 : 0) << c.name;
        EXPECT_EQ(ch.isOpen(), !c.gone) << c.name;
        if (!c.gone) {
            continue;
        }
        std::uint64_t start = rig.clock.nowMs();
        ByteString reply;
        EXPECT_EQ(exchange(ch, ByteString("x"), 1000, &reply, 5), 0) << c.name;
        EXPECT_EQ(rig.elapsedMs(start), 0u) << c.name << ": nothing waits on a gone device";
        // The device comes back: a new port object without the fault.
        ASSERT_EQ(openPort(ch), 1) << c.name;
        EXPECT_EQ(ch.lost.load(), 0) << c.name;
    }
}

TEST(PortOpen, FailureKeepsTheErrorAndNoHandle) {
    SimRig rig;
    rig.ports.faultsFor(1).openError = EACCES;
    rig.script(1);
    ReaderChannel& ch = rig.manager->channel(1);
    ch.port = 1;
    EXPECT_EQ(openPort(ch), 0);
    EXPECT_EQ(ch.lastError, static_cast<std::uint32_t>(EACCES));
    EXPECT_FALSE(ch.isOpen());
    closePort(ch);  // closing a closed channel does nothing
    EXPECT_FALSE(ch.isOpen());
}

TEST(PortBaud, RefusedRateFailsKeepsErrorAndStillStoresTheRate) {
    SimRig rig;
    rig.ports.faultsFor(1).refusedBauds = {57600};
    rig.script(1);
    ReaderChannel& ch = rig.openChannel(1, EngineType::RfidAscii);
    EXPECT_EQ(setBaudRate(ch, 38400), 1);
    EXPECT_EQ(rig.port(1).settings().baud, 38400u);
    EXPECT_EQ(setBaudRate(ch, 57600), 0);
    EXPECT_EQ(ch.lastError, static_cast<std::uint32_t>(EINVAL));
    EXPECT_EQ(ch.baudRate, 57600u);
    EXPECT_EQ(rig.port(1).settings().baud, 38400u);
}

TEST(PortWrite, PurgeDropsStaleBytesBeforeTheWrite) {
    SimRig rig;
    auto model = rig.script(1);
    model->onOpenBytes = {0x01, 0x02, 0x03};  // an unread answer left on the line
    model->on(bytesOf("Q"), bytesOf("A"));
    ReaderChannel& ch = rig.openChannel(1, EngineType::RfidAscii);
    setTimeout(ch, 'r', 100);
    ASSERT_EQ(writeFrame(ch, ByteString("Q")), 1);
    std::uint8_t out = 0;
    ASSERT_EQ(readByte(ch, out), 1);
    EXPECT_EQ(out, 'A');
}

TEST(PortWrite, RawWriteKeepsWhatIsWaiting) {
    SimRig rig;
    auto model = rig.script(1);
    model->on(bytesOf("Q"), {0x7E});
    ReaderChannel& ch = rig.openChannel(1, EngineType::Imager2D);
    ASSERT_EQ(writeFrame(ch, ByteString("Q")), 1);
    rig.clock.advanceMs(5);
    ASSERT_EQ(writeRaw(ch, ByteString("x")), 1);
    setTimeout(ch, 'r', 100);
    std::uint8_t out = 0;
    ASSERT_EQ(readByte(ch, out), 1);
    EXPECT_EQ(out, 0x7E);
}

// A close lets the bytes just written leave the line first, for at most a second: a line that
// takes nothing (output stuck) does not hold the close up any longer.
TEST(PortClose, WaitsForTheWrittenBytesToLeaveAtMostASecond) {
    struct Case {
        const char* name;
        bool stuck;
        std::uint64_t waitedUs;
    };
    const Case cases[] = {
        {"a live line: the 100 bytes' time at 9600 baud", false,
         100 * sim::SimulatedPort::byteTimeUs(9600)},
        {"a stuck line: the bound", true, 1'000'000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimRig rig;
        rig.script(1);
        ReaderChannel& ch = rig.openChannel(1, EngineType::CcdLaser);
        rig.port(1).faults().outputStuck = c.stuck;
        ASSERT_EQ(writeRaw(ch, ByteString(std::string(100, 'x').c_str())), 1);
        std::uint64_t start = rig.clock.nowUs();
        closePort(ch);
        EXPECT_EQ(rig.clock.nowUs() - start, c.waitedUs);
        EXPECT_FALSE(ch.isOpen());
    }
}

// Over a real pseudo-terminal whose other end reads only after the close: everything written
// just before the close is there. The other end's line discipline takes 4 KB unread; the rest of
// a longer write still waits in the pseudo-terminal's buffer at the close, where a transmit purge
// drops it every time (and on a real line cuts the last command short).
TEST(PortClose, BytesWrittenJustBeforeTheCloseReachTheOtherEnd) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok()) << "no pseudo-terminal available";
    class PtyPorts final : public SerialPortProvider {
      public:
        explicit PtyPorts(std::string path) : path_(std::move(path)) {}
        std::unique_ptr<SerialPort> create(int) override {
            return std::make_unique<TermiosSerialPort>(path_);
        }

      private:
        std::string path_;
    };
    PtyPorts ports(pty.slavePath());
    ReaderPlatform platform;
    platform.clock = &RealClock::instance();
    platform.ports = &ports;
    platform.registryPath = "/nonexistent/registry.ini";
    ReaderManager manager(platform);
    ReaderChannel& ch = manager.barcode;
    ch.port = 1;
    ch.engineType = EngineType::CcdLaser;
    ASSERT_EQ(openPort(ch), 1) << ch.lastError;
    ASSERT_EQ(setBaudRate(ch, 115200), 1);
    std::vector<std::uint8_t> sent(6000);
    for (std::size_t i = 0; i < sent.size(); ++i) {
        sent[i] = static_cast<std::uint8_t>('a' + i % 26);
    }
    const std::vector<std::uint8_t> off = ccdFrame("OFF");
    sent.insert(sent.end(), off.begin(), off.end());
    ASSERT_EQ(writeRaw(ch, ByteString::fromBytes(sent.data(), sent.size())), 1);
    closePort(ch);
    ASSERT_FALSE(ch.isOpen());
    EXPECT_EQ(pty.receive(sent.size()), sent);
}

TEST(PortWrite, FailureKeepsTheError) {
    SimRig rig;
    rig.script(1);
    ReaderChannel& ch = rig.openChannel(1, EngineType::CcdLaser);
    rig.port(1).faults().writeError = EIO;
    EXPECT_EQ(writeFrame(ch, ByteString("x")), 0);
    EXPECT_EQ(ch.lastError, static_cast<std::uint32_t>(EIO));
    closePort(ch);
    EXPECT_EQ(writeFrame(ch, ByteString("x")), 0);
    EXPECT_EQ(ch.lastError, static_cast<std::uint32_t>(EBADF));
}

// Host request line: how long each way waits, by terminal model and engine behaviour.
struct WakeCase {
    const char* name;
    std::int32_t model;
    bool engineFollows;   // CTS follows RTS
    bool noModemLines;    // a pseudo-terminal
    bool readyLineWorks;  // the engine-ready control can be read
    std::int32_t raise;
    std::uint64_t expectedMs;
};

class SignalWake : public ::testing::TestWithParam<WakeCase> {};

TEST_P(SignalWake, WaitsForTheEngineAtMostTenPolls) {
    const WakeCase& c = GetParam();
    SimRig rig(c.model);
    auto model = rig.script(1);
    model->ctsFollowsRts = c.engineFollows;
    rig.ports.faultsFor(1).noModemLines = c.noModemLines;
    sim::SimEngineReadyLine broken(rig.ports, 7);  // no port 7: every read fails
    if (!c.readyLineWorks) {
        rig.platform.readyLine = &broken;
        rig.manager = std::make_unique<ReaderManager>(rig.platform);
        rig.manager->setDeviceModel(c.model);
    }
    ReaderChannel& ch = rig.openChannel(1, EngineType::Imager2D);
    if (c.raise == 0) {
        signalWake(ch, 1);
    }
    std::uint64_t start = rig.clock.nowMs();
    signalWake(ch, c.raise);
    EXPECT_EQ(rig.elapsedMs(start), c.expectedMs);
    PortSettings s = rig.port(1).settings();
    EXPECT_EQ(s.rts, c.raise == 1);
    EXPECT_FALSE(s.dtr);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SignalWake,
    ::testing::Values(WakeCase{"ModemLinesAnswering", 0, true, false, true, 1, 10},
                      WakeCase{"ModemLinesDropAnswering", 3, true, false, true, 0, 10},
                      WakeCase{"ModemLinesSilent", 5, false, false, true, 1, 100},
                      WakeCase{"NoModemLines", 0, false, true, true, 1, 0},
                      WakeCase{"KernelControlAnswering", 1, true, false, true, 1, 10},
                      WakeCase{"KernelControlDropAnswering", 4, true, false, true, 0, 10},
                      WakeCase{"KernelControlSilent", 2, false, false, true, 1, 100},
                      WakeCase{"KernelControlFailsOnRaise", 1, true, false, false, 1, 100},
                      WakeCase{"KernelControlFailsOnDrop", 4, true, false, false, 0, 50}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(RfidLinkOpen, Model4OpensNoSerialPortAndRetriesOnceAfter2000ms) {
    struct Case {
        std::vector<std::uint8_t> results;
        std::int32_t expected;
        std::vector<std::string> calls;
        std::uint64_t elapsedMs;
    };
    const Case cases[] = {
        {{0}, 1, {"open 2 19200 1 550", "state 2 8"}, 0},
        {{5, 0}, 1, {"open 2 19200 1 550", "open 2 19200 1 550", "state 2 8"}, 2000},
        {{5, 6}, 0, {"open 2 19200 1 550", "open 2 19200 1 550"}, 2000},
    };
    for (const Case& c : cases) {
        SimRig rig(DeviceModel::HRT400CE);
        rig.script(2);
        rig.link.openResults = c.results;
        ReaderChannel& ch = rig.manager->channel(2);
        ch.port = 2;
        std::uint64_t start = rig.clock.nowMs();
        EXPECT_EQ(openPort(ch), c.expected);
        EXPECT_EQ(rig.link.calls, c.calls);
        EXPECT_EQ(rig.elapsedMs(start), c.elapsedMs);
        EXPECT_EQ(rig.ports.lastPort(2), nullptr) << "no serial port may be opened";
        EXPECT_FALSE(ch.isOpen());
    }
}

}  // namespace
}  // namespace vandora::testing
