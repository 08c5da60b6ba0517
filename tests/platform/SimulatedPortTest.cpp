// The simulated port with the echo model, in virtual time: every wait is exact.
#include "SimulatedPort.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <memory>

#include "platform/Clock.h"

namespace vandora::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

class SimPort : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(port.open(), 0); }

    void setBaud(std::uint32_t baud) {
        PortSettings s;
        s.baud = baud;
        ASSERT_EQ(port.setSettings(s), 0);
    }
    void setReadTimeout(std::uint32_t ms) {
        PortTimeouts t;
        t.readConstantMs = ms;
        ASSERT_EQ(port.setTimeouts(t), 0);
    }
    void hostWrites(const Bytes& bytes) {
        std::size_t written = 0;
        ASSERT_EQ(port.write(bytes.data(), bytes.size(), written), 0);
        ASSERT_EQ(written, bytes.size());
    }
    // One single-byte read; nullopt-like empty vector on a time-out.
    Bytes readOne() {
        std::uint8_t byte = 0;
        std::size_t got = 0;
        EXPECT_EQ(port.read(&byte, 1, got), 0);
        return got == 0 ? Bytes{} : Bytes{byte};
    }

    VirtualClock clock{5'000'000};
    std::shared_ptr<sim::EchoModel> echo = std::make_shared<sim::EchoModel>();
    sim::SimulatedPort port{clock, echo};
};

TEST_F(SimPort, SilentLineTimesOutAfterExactlyTheReadConstant) {
    for (std::uint32_t ms : {1000u, 20u, 0u}) {
        SCOPED_TRACE(ms);
        setReadTimeout(ms);
        std::uint64_t start = clock.nowUs();
        EXPECT_EQ(readOne(), Bytes{});
        EXPECT_EQ(clock.nowUs() - start, ms * 1000ull);
    }
}

TEST(SimPortTiming, EchoArrivesOneByteTimeAfterTheHostBytesLeftTheLine) {
    struct Case {
        std::uint32_t baud;
        std::uint64_t byteUs;  // 10 bits at the rate, rounded up
        std::uint64_t delayUs;
        std::size_t hostBytes;
    };
    const Case cases[] = {
        {9600, 1042, 0, 1},    {9600, 1042, 0, 3},   {115200, 87, 0, 4},
        {115200, 87, 5000, 2}, {38400, 261, 250, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.baud << " baud, delay " << c.delayUs << ", " << c.hostBytes << " bytes");
        VirtualClock clock(1'000'000);
        auto echo = std::make_shared<sim::EchoModel>(c.delayUs);
        sim::SimulatedPort port(clock, echo);
        ASSERT_EQ(port.open(), 0);
        PortSettings s;
        s.baud = c.baud;
        ASSERT_EQ(port.setSettings(s), 0);
        PortTimeouts t;
        t.readConstantMs = 1000;
        ASSERT_EQ(port.setTimeouts(t), 0);
        Bytes sent(c.hostBytes);
        for (std::size_t i = 0; i < sent.size(); ++i) {
            sent[i] = static_cast<std::uint8_t>(0xA0 + i);
        }
        std::size_t written = 0;
        ASSERT_EQ(port.write(sent.data(), sent.size(), written), 0);
        EXPECT_EQ(echo->received, sent);
        EXPECT_EQ(echo->lastBaud, c.baud);

        std::uint64_t lineFree = 1'000'000 + c.hostBytes * c.byteUs;
        for (std::size_t i = 0; i < sent.size(); ++i) {
            std::uint8_t byte = 0;
            std::size_t got = 0;
            ASSERT_EQ(port.read(&byte, 1, got), 0);
            ASSERT_EQ(got, 1u);
            EXPECT_EQ(byte, sent[i]);
            EXPECT_EQ(clock.nowUs(), lineFree + c.delayUs + (i + 1) * c.byteUs) << "byte " << i;
        }
    }
}

TEST_F(SimPort, ShortTimeoutEndsBeforeTheEchoWhichStillComesLater) {
    setBaud(9600);
    hostWrites({0x33});
    setReadTimeout(1);
    EXPECT_EQ(readOne(), Bytes{});
    EXPECT_EQ(clock.nowUs(), 5'001'000u);
    setReadTimeout(100);
    EXPECT_EQ(readOne(), Bytes{0x33});
    EXPECT_EQ(clock.nowUs(), 5'000'000u + 2 * 1042);
}

TEST_F(SimPort, ReadReturnsOnlyBytesThatHaveArrived) {
    setBaud(9600);
    setReadTimeout(1000);
    hostWrites({1, 2, 3});
    // The first echo byte is due after 4 byte times; the others follow one by one.
    std::uint8_t buffer[8] = {};
    std::size_t got = 0;
    ASSERT_EQ(port.read(buffer, sizeof buffer, got), 0);
    EXPECT_EQ(Bytes(buffer, buffer + got), Bytes{1});
    clock.advanceMs(10);
    ASSERT_EQ(port.read(buffer, sizeof buffer, got), 0);
    EXPECT_EQ(Bytes(buffer, buffer + got), (Bytes{2, 3}));
}

TEST_F(SimPort, PurgeDropsWhatIsOnTheLineButNotAnswersNotStarted) {
    setBaud(9600);
    setReadTimeout(50);
    hostWrites({1, 2, 3});
    clock.advanceTo(5'004'500);  // the echo has begun: byte 1 arrived, 2 and 3 on their way
    ASSERT_EQ(port.purge(kPurgeRxClear), 0);
    EXPECT_EQ(readOne(), Bytes{});

    // An answer that starts only after a long delay is still to come after a purge.
    auto slow = std::make_shared<sim::EchoModel>(20'000);
    sim::SimulatedPort slowPort(clock, slow);
    ASSERT_EQ(slowPort.open(), 0);
    PortTimeouts t;
    t.readConstantMs = 100;
    ASSERT_EQ(slowPort.setTimeouts(t), 0);
    const std::uint8_t byte = 0x44;
    std::size_t written = 0;
    ASSERT_EQ(slowPort.write(&byte, 1, written), 0);
    ASSERT_EQ(slowPort.purge(kPurgeAll), 0);
    std::uint8_t in = 0;
    std::size_t got = 0;
    ASSERT_EQ(slowPort.read(&in, 1, got), 0);
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(in, 0x44);
}

TEST_F(SimPort, PurgeOfTransmitOnlyKeepsInput) {
    setBaud(115200);
    setReadTimeout(50);
    hostWrites({7});
    clock.advanceMs(1);
    ASSERT_EQ(port.purge(kPurgeTxAbort | kPurgeTxClear), 0);
    EXPECT_EQ(readOne(), Bytes{7});
}

TEST_F(SimPort, CloseDropsInputAndClosedPortRefusesEverything) {
    setReadTimeout(50);
    hostWrites({9});
    port.close();
    EXPECT_FALSE(port.isOpen());
    std::uint8_t byte = 0;
    std::size_t got = 0;
    EXPECT_EQ(port.read(&byte, 1, got), EBADF);
    PortSettings s;
    EXPECT_EQ(port.getSettings(s), EBADF);
    ASSERT_EQ(port.open(), 0);
    setReadTimeout(50);
    EXPECT_EQ(readOne(), Bytes{});
    EXPECT_EQ(port.counters().opens, 2u);
    EXPECT_EQ(port.counters().closes, 1u);
}

TEST_F(SimPort, LinesAreFollowedByTheModelsCts) {
    PortSettings s;
    s.rts = true;
    ASSERT_EQ(port.setSettings(s), 0);
    std::uint32_t bits = 0;
    ASSERT_EQ(port.getModemStatus(bits), 0);
    EXPECT_EQ(bits & kModemCts, kModemCts);
    s.rts = false;
    ASSERT_EQ(port.setSettings(s), 0);
    ASSERT_EQ(port.getModemStatus(bits), 0);
    EXPECT_EQ(bits & kModemCts, 0u);
}

TEST(SimPortFaults, EachSwitchFailsItsOperation) {
    struct Case {
        const char* what;
        std::function<void(sim::SimPortFaults&)> set;
        std::function<int(sim::SimulatedPort&)> call;
        int error;
    };
    const Case cases[] = {
        {"open error", [](sim::SimPortFaults& f) { f.openError = EACCES; },
         [](sim::SimulatedPort& p) { return p.open(); }, EACCES},
        {"vanished device", [](sim::SimPortFaults& f) { f.readError = EIO; },
         [](sim::SimulatedPort& p) {
             std::uint8_t b = 0;
             std::size_t got = 0;
             return p.read(&b, 1, got);
         },
         EIO},
        {"failing write", [](sim::SimPortFaults& f) { f.writeError = EIO; },
         [](sim::SimulatedPort& p) {
             const std::uint8_t b = 0;
             std::size_t written = 0;
             return p.write(&b, 1, written);
         },
         EIO},
        {"refused rate", [](sim::SimPortFaults& f) { f.refusedBauds = {4800}; },
         [](sim::SimulatedPort& p) {
             PortSettings s;
             s.baud = 4800;
             return p.setSettings(s);
         },
         EINVAL},
        {"no modem lines", [](sim::SimPortFaults& f) { f.noModemLines = true; },
         [](sim::SimulatedPort& p) {
             std::uint32_t bits = 0;
             return p.getModemStatus(bits);
         },
         ENOTTY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VirtualClock clock;
        sim::SimulatedPortProvider provider(clock);
        provider.attach(1, std::make_shared<sim::EchoModel>());
        c.set(provider.faultsFor(1));
        std::unique_ptr<SerialPort> created = provider.create(1);
        sim::SimulatedPort* port = provider.lastPort(1);
        ASSERT_EQ(port, created.get());
        if (c.error != EACCES) {
            ASSERT_EQ(port->open(), 0);
        }
        EXPECT_EQ(c.call(*port), c.error);
    }
}

TEST(SimPortFaults, RefusedRateKeepsTheOldSettings) {
    VirtualClock clock;
    sim::SimulatedPort port(clock, std::make_shared<sim::EchoModel>());
    ASSERT_EQ(port.open(), 0);
    PortSettings good;
    good.baud = 115200;
    ASSERT_EQ(port.setSettings(good), 0);
    port.faults().refusedBauds = {4800};
    PortSettings bad = good;
    bad.baud = 4800;
    bad.rts = true;
    EXPECT_EQ(port.setSettings(bad), EINVAL);
    PortSettings now;
    ASSERT_EQ(port.getSettings(now), 0);
    EXPECT_EQ(now, good);
    EXPECT_FALSE(port.ctsOn());
}

TEST(SimPortProvider, PortWithoutModelFailsToOpenAndForgottenPortsVanish) {
    VirtualClock clock;
    sim::SimulatedPortProvider provider(clock);
    std::unique_ptr<SerialPort> port = provider.create(2);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->open(), ENOENT);
    EXPECT_EQ(provider.lastPort(2), port.get());
    port.reset();
    EXPECT_EQ(provider.lastPort(2), nullptr);
    EXPECT_EQ(provider.create(8), nullptr);
    EXPECT_EQ(provider.create(-1), nullptr);
}

}  // namespace
}  // namespace vandora::testing
