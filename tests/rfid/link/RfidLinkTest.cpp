// RfidLink on simulated ports in virtual time: bytes on the wire, the answer wait, the rate
// search, open and close, start and stop, and the status of every failure.
#include "rfid/link/RfidLink.h"

#include <gtest/gtest.h>

#include <array>

#include "LinkRig.h"
#include "reader/ReaderTypes.h"

namespace vandora::testing {
namespace {

using sim::LinkForcedAnswer;

constexpr std::uint64_t kByteUs19200 = 521;  // 10 bits at 19200 baud, rounded up

TEST(RfidLinkOpen, OpensAt19200InMode1AndStartsTheModule) {
    LinkRig rig;
    std::uint64_t start = rig.clock.nowMs();
    ASSERT_EQ(rig.open(), 0);
    EXPECT_EQ(rig.actualBaud, 19200u);
    // Settle 550 ms, the handshake's 50 ms pause, then the exchanges themselves.
    EXPECT_GE(rig.clock.nowMs() - start, 600u);
    EXPECT_LT(rig.clock.nowMs() - start, 700u);

    // 8N1 at the rate; reads return at once.
    PortSettings settings = rig.port().settings();
    EXPECT_EQ(settings.baud, 19200u);
    EXPECT_EQ(settings.dataBits, 8);
    EXPECT_EQ(settings.parity, Parity::None);
    EXPECT_EQ(settings.stopBits, StopBits::One);
    PortTimeouts timeouts;
    ASSERT_EQ(rig.port().getTimeouts(timeouts), 0);
    EXPECT_EQ(timeouts, (PortTimeouts{1, 1, 1, 50, 500}));

    // Handshake, protocol A, state 9, reset, control 16.
    std::vector<std::vector<std::uint8_t>> frames;
    for (const sim::ReceivedCommand& c : rig.model->log) {
        EXPECT_TRUE(c.valid);
        frames.push_back(c.frame);
    }
    EXPECT_EQ(frames, (std::vector<std::vector<std::uint8_t>>{
                          {0x17}, {0x1F, 0x41}, {0x11, 9}, {0x1B}, {0x13, 16}}));
    EXPECT_EQ(rig.model->linkCounters.handshakes, 1u);
    const LinkDevice* device = rig.link.device(kLinkPort);
    ASSERT_NE(device, nullptr);
    EXPECT_TRUE(device->started);
    EXPECT_EQ(device->address, 1);
    EXPECT_EQ(device->mode, 1);
    EXPECT_EQ(device->password, RfidLink::defaultPassword());
}

TEST(RfidLinkOpen, TheSystemsCallThenStateEight) {
    LinkRig rig;
    std::uint32_t actual = 0;
    ASSERT_EQ(rig.link.linkOpen(2, 19200, "", 1, 550, actual), 0);
    EXPECT_EQ(rig.link.linkSetState(2, 8), 0);
    EXPECT_EQ(rig.model->stateValue, 8);
}

TEST(RfidLinkOpen, RateSearchOrders) {
    struct Case {
        std::uint32_t baud;
        std::vector<std::uint32_t> tried;
    };
    const Case cases[] = {
        {0, {115200, 38400, 19200, 9600}},
        {19200, {19200, 115200, 38400, 9600}},
        {9600, {9600, 115200, 38400, 19200}},
        {57600, {57600, 115200, 38400, 19200, 9600}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.baud);
        VirtualClock clock;
        sim::SimulatedPortProvider ports(clock);
        auto recorder = std::make_shared<SilentRateRecorder>();
        ports.attach(kLinkPort, recorder);
        RfidLink link(ports, clock);
        std::uint32_t actual = 77;
        std::uint64_t start = clock.nowMs();
        EXPECT_EQ(link.linkOpen(kLinkPort, c.baud, "", 1, 550, actual), 240);
        // One handshake per rate: settle, pause, 250 ms without an answer.
        EXPECT_EQ(recorder->bauds, c.tried);
        EXPECT_EQ(clock.nowMs() - start, c.tried.size() * (550u + 50u + 250u));
        EXPECT_EQ(actual, 0u);
        EXPECT_EQ(link.device(kLinkPort), nullptr);
        // Closed and released.
        EXPECT_EQ(ports.lastPort(kLinkPort), nullptr);
        EXPECT_EQ(link.linkSetState(kLinkPort, 8), 241);
    }
}

TEST(RfidLinkOpen, FindsTheModuleAtItsOwnRate) {
    struct Case {
        std::uint32_t moduleBaud;
        std::uint32_t askedBaud;
    };
    const Case cases[] = {{9600, 19200}, {38400, 0}, {115200, 9600}, {19200, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.moduleBaud);
        sim::SimOptions options;
        options.startBaud = c.moduleBaud;
        LinkRig rig(1, options);
        ASSERT_EQ(rig.open(1, c.askedBaud), 0);
        EXPECT_EQ(rig.actualBaud, c.moduleBaud);
        EXPECT_EQ(rig.port().settings().baud, c.moduleBaud);
        for (const sim::ReceivedCommand& command : rig.model->log) {
            EXPECT_EQ(command.baud, c.moduleBaud);
        }
        EXPECT_EQ(rig.link.linkSetState(kLinkPort, 8), 0);
    }
}

TEST(RfidLinkOpen, SecondOpenReturnsZeroWithoutTouchingThePort) {
    LinkRig rig;
    ASSERT_EQ(rig.open(), 0);
    sim::SimulatedPort* port = &rig.port();
    sim::SimPortCounters before = port->counters();
    std::size_t heard = rig.model->log.size();
    std::uint64_t now = rig.clock.nowUs();

    std::uint32_t actual = 1234;
    EXPECT_EQ(rig.link.linkOpen(kLinkPort, 9600, "00000000", 3, 550, actual), 0);
    EXPECT_EQ(actual, 0u);
    EXPECT_EQ(rig.ports.lastPort(kLinkPort), port);
    sim::SimPortCounters after = port->counters();
    EXPECT_EQ(after.opens, before.opens);
    EXPECT_EQ(after.closes, before.closes);
    EXPECT_EQ(after.writes, before.writes);
    EXPECT_EQ(after.setSettings, before.setSettings);
    EXPECT_EQ(rig.model->log.size(), heard);
    EXPECT_EQ(rig.clock.nowUs(), now);
    EXPECT_EQ(rig.link.device(kLinkPort)->mode, 1);
    EXPECT_EQ(rig.link.linkSetState(kLinkPort, 8), 0);
}

TEST(RfidLinkOpen, PortThatCannotBeOpened) {
    // Nothing behind the port, a bad port number, a rate the port refuses during the search.
    LinkRig rig;
    std::uint32_t actual = 5;
    EXPECT_EQ(rig.link.linkOpen(3, 19200, "", 1, 550, actual), 254);
    EXPECT_EQ(actual, 0u);
    EXPECT_EQ(rig.link.device(3), nullptr);
    EXPECT_EQ(rig.link.linkOpen(0, 19200, "", 1, 550, actual), 254);
    EXPECT_EQ(rig.link.linkOpen(-1, 19200, "", 1, 550, actual), 254);

    VirtualClock clock;
    sim::SimulatedPortProvider ports(clock);
    ports.attach(kLinkPort, std::make_shared<SilentRateRecorder>());
    ports.faultsFor(kLinkPort).refusedBauds = {38400};
    RfidLink link(ports, clock);
    actual = 5;
    EXPECT_EQ(link.linkOpen(kLinkPort, 19200, "", 1, 550, actual), 254);
    EXPECT_EQ(actual, 0u);
    EXPECT_EQ(link.device(kLinkPort), nullptr);
    EXPECT_EQ(ports.lastPort(kLinkPort), nullptr);
}

TEST(RfidLinkOpen, PasswordText) {
    struct Case {
        const char* moduleText;
        std::string hostText;
        std::uint8_t status;
    };
    const Case cases[] = {
        {kDefaultLinkPassword, "", 0},
        {kDefaultLinkPassword, kDefaultLinkPassword, 0},
        {"0BADF00D", "0BADF00D", 0},
        {"0BADF00D", "0badf00dEXTRA", 0},
        // A pair that is not hexadecimal gives 0.
        {"0BADF000", "0BADF0ZZ", 0},
        // Shorter than 8 characters: the built-in password.
        {kDefaultLinkPassword, "0BADF00", 0},
        {"0BADF00D", "0BADF00", 240},
        {"0BADF00D", "", 240},
        {kDefaultLinkPassword, "0BADF00D", 240},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.moduleText) + " / " + c.hostText);
        LinkRig rig;
        ASSERT_TRUE(rig.model->setPasswordText(c.moduleText));
        EXPECT_EQ(rig.open(1, 19200, c.hostText), c.status);
        if (c.status != 0) {
            // The handshake works, the first coded frame is refused.
            EXPECT_GE(rig.model->linkCounters.codeMismatches, 1u);
        }
    }
    EXPECT_EQ(RfidLink::passwordFromText("0a1B2c3D"), (LinkPassword{0x0A, 0x1B, 0x2C, 0x3D}));
    EXPECT_EQ(RfidLink::passwordFromText("G01B2c3D"), (LinkPassword{0x00, 0x1B, 0x2C, 0x3D}));
}

TEST(RfidLinkWire, RotationExampleOnTheWire) {
    // Seeds chosen so that every frame carries C1 = 5, C0 = 0.
    LinkRig rig;
    rig.model->fixedSeed = seedForCode5(RfidLink::defaultPassword());
    ASSERT_EQ(rig.open(), 0);
    EXPECT_EQ(rig.link.device(kLinkPort)->frameCode, (link::FrameCode{.c0 = 0x00, .c1 = 0x05}));
    // 0x1F with one parameter: L = 3, rotated by 2: parameter, L, command; then C1 C0, checksum.
    Bytes wire = rig.wireOf([&] { EXPECT_EQ(rig.link.linkSelectProtocol(kLinkPort, 0x41), 0); });
    EXPECT_EQ(wire, (Bytes{0x02, 0x41, 0x10, 0x03, 0x1F, 0x05, 0x00, 0x68, 0x03}));
    // L = 2 (module information): rotated by 1.
    wire = rig.wireOf([&] { EXPECT_EQ(rig.link.linkModuleInfo(kLinkPort, nullptr, nullptr), 0); });
    EXPECT_EQ(wire, (Bytes{0x02, 0x19, 0x10, 0x02, 0x05, 0x00, 0x20, 0x03}));
}

TEST(RfidLinkWire, StuffingByFraming) {
    struct Case {
        int mode;
        Bytes wire;
    };
    const Case cases[] = {
        // Short framing: 0x10, 0x02, 0x03 escaped; 0x01 goes as it is.
        {0, {0x02, 0x07, 0x2F, 0x05, 0x10, 0x10, 0x01, 0x10, 0x02, 0x10, 0x03, 0x51, 0x03}},
        // Long framing: 0x01 escaped as well (the address too); mode 2 carries code 00 00.
        {2, {0x02, 0x00, 0x0C, 0x10, 0x01, 0x00, 0x2F, 0x05, 0x10, 0x10,
             0x10, 0x01, 0x10, 0x02, 0x10, 0x03, 0x00, 0x00, 0x57, 0x03}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        LinkRig rig(c.mode);
        rig.model->field.place(sim::ultralight({0x04, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66}));
        ASSERT_EQ(rig.open(c.mode), 0);
        const std::array<std::uint8_t, 4> page{0x10, 0x01, 0x02, 0x03};
        Bytes wire =
            rig.wireOf([&] { EXPECT_EQ(rig.link.linkUltralightWrite(kLinkPort, 5, page), 0); });
        EXPECT_EQ(wire, c.wire);
        EXPECT_EQ(rig.model->field.at(0).blocks[5], Bytes(page.begin(), page.end()));
        EXPECT_EQ(rig.model->linkCounters.badFrames, 0u);
    }
}

TEST(RfidLinkWire, AnswerInPiecesIsCollectedWholeUntilFiftyMillisecondsOfSilence) {
    // The module's 0x19 answer stops after 3 bytes and goes on after a gap (from the last byte
    // of the first piece to the first of the second). Mode 0: no renewed handshake to wait for.
    struct Case {
        std::uint64_t gapUs;
        std::uint8_t status;
    };
    const Case cases[] = {
        {1000, 0}, {30000, 0}, {45000, 0}, {49999, 0}, {50000, 240}, {60000, 240},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.gapUs);
        LinkRig rig(0);
        ASSERT_EQ(rig.open(0), 0);
        rig.model->faults.stallAfter = 3;
        rig.model->faults.stallUs = c.gapUs - kByteUs19200;
        std::array<std::uint8_t, 8> info{};
        std::array<std::uint8_t, 4> serial{};
        std::uint64_t start = rig.clock.nowUs();
        EXPECT_EQ(rig.link.linkModuleInfo(kLinkPort, info.data(), serial.data()), c.status);
        if (c.status == 0) {
            EXPECT_EQ(info, rig.model->moduleInfo);
            EXPECT_EQ(serial, rig.model->serialNumber);
        } else {
            // The wait ended 50 ms after the last byte of the first piece: 6 request bytes, the
            // 3 answer bytes, 50 ms.
            EXPECT_EQ(rig.clock.nowUs() - start, (6 + 3) * kByteUs19200 + 50000);
        }
    }
}

TEST(RfidLinkWire, FirstByteWithin250Milliseconds) {
    // The 0x19 request in mode 0 is 6 bytes on the wire; the first answer byte arrives one byte
    // time after the module's delay.
    struct Case {
        std::uint64_t firstByteUs;  // after the request was written
        std::uint8_t status;
    };
    const Case cases[] = {{10000, 0}, {249999, 0}, {250000, 240}, {400000, 240}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.firstByteUs);
        LinkRig rig(0);
        ASSERT_EQ(rig.open(0), 0);
        rig.model->faults.replyDelayUs = c.firstByteUs - 7 * kByteUs19200;
        std::uint64_t start = rig.clock.nowUs();
        EXPECT_EQ(rig.link.linkModuleInfo(kLinkPort, nullptr, nullptr), c.status);
        if (c.status != 0) {
            EXPECT_EQ(rig.clock.nowUs() - start, 250000u);
        }
    }
}

TEST(RfidLinkWire, NoAnswerInACodedModeRenewsTheHandshake) {
    LinkRig rig;
    ASSERT_EQ(rig.open(), 0);
    // The module hears but keeps quiet.
    rig.model->faults.silent = true;
    std::size_t heard = rig.model->log.size();
    std::uint64_t start = rig.clock.nowMs();
    EXPECT_EQ(rig.link.linkSetState(kLinkPort, 8), 240);
    // 250 ms for the command, 50 ms pause and 250 ms for the handshake.
    EXPECT_EQ(rig.clock.nowMs() - start, 550u);
    ASSERT_EQ(rig.model->log.size(), heard + 2);
    EXPECT_EQ(rig.model->log[heard].frame, (Bytes{0x11, 8}));
    EXPECT_EQ(rig.model->log[heard + 1].frame, Bytes{0x17});
    // Both ends advanced for the unanswered command; the handshake went unanswered and changed
    // nothing: still in step.
    rig.model->faults.silent = false;
    EXPECT_EQ(rig.link.linkSetState(kLinkPort, 8), 0);
}

TEST(RfidLinkStep, HostOutOfStepIsRefusedAndTheRenewedHandshakePutsItBack) {
    LinkRig rig;
    ASSERT_EQ(rig.open(), 0);
    // The module misses a command and the handshake that follows: the host's counter is ahead.
    rig.model->missedFrames = 2;
    EXPECT_EQ(rig.link.linkSetState(kLinkPort, 1), 240);
    EXPECT_TRUE(rig.model->inStep());
    unsigned handshakes = rig.model->linkCounters.handshakes;
    // The next coded frame carries a code the module does not expect: refused, no answer; the
    // host renews the handshake.
    EXPECT_EQ(rig.link.linkSetState(kLinkPort, 2), 240);
    EXPECT_EQ(rig.model->linkCounters.codeMismatches, 1u);
    EXPECT_EQ(rig.model->linkCounters.handshakes, handshakes + 1);
    EXPECT_TRUE(rig.model->inStep());
    // In step again.
    EXPECT_EQ(rig.link.linkSetState(kLinkPort, 3), 0);
    EXPECT_EQ(rig.model->stateValue, 3);
    EXPECT_EQ(rig.model->linkCounters.codeMismatches, 1u);
    EXPECT_EQ(rig.model->linkCounters.refusedOutOfStep, 0u);
}

TEST(RfidLinkStep, HandshakeMayChangeTheMode) {
    struct Case {
        int mode;
        std::optional<std::uint8_t> modeByte;
        int newMode;
    };
    const Case cases[] = {
        {3, std::nullopt, 3}, {4, std::nullopt, 4}, {3, 2, 4}, {4, 1, 3}, {3, 0, 2}, {1, 1, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode * 10 + c.newMode);
        LinkRig rig(c.mode);
        rig.model->handshakeModeByte = c.modeByte;
        ASSERT_EQ(rig.open(c.mode), 0);
        EXPECT_EQ(rig.link.device(kLinkPort)->mode, c.newMode);
        EXPECT_EQ(rig.model->linkMode(), c.newMode);
        std::array<std::uint8_t, 8> info{};
        std::array<std::uint8_t, 4> serial{};
        EXPECT_EQ(rig.link.linkModuleInfo(kLinkPort, info.data(), serial.data()), 0);
        EXPECT_EQ(info, rig.model->moduleInfo);
        EXPECT_EQ(rig.model->linkCounters.badFrames, 0u);
    }
}

TEST(RfidLinkStep, HandshakeAnswers) {
    struct Case {
        const char* what;
        int mode;
        LinkForcedAnswer forced;
        std::uint8_t status;
    };
    const Case cases[] = {
        {"echo", 1, echoed(0x17, 0x18, Bytes(8, 1)), 239},
        {"long status with another length", 3, withStatus(0x17, 4, {1}), 239},
        {"no data", 1, withData(0x17, {}), 239},
        {"a mode that does not exist", 1, withData(0x17, {3, 1, 2, 3, 4, 5, 6, 7, 8}), 239},
        {"too few seed bytes after the mode", 3, withData(0x17, {1, 1, 2, 3, 4, 5}), 239},
        {"mode 2 alone", 3, withData(0x17, {0}), 0},
        {"8 bytes with a long status are seeds", 3, withStatus(0x17, 4, Bytes(8, 1)), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LinkRig rig(c.mode);
        ASSERT_EQ(rig.open(c.mode), 0);
        rig.model->forcedData = {c.forced};
        EXPECT_EQ(rig.link.linkHandshake(kLinkPort), c.status);
    }
}

TEST(RfidLinkStartStop, StartResults) {
    // On an open device; the forced raw answers are junk that no framing takes (no answer).
    struct Case {
        const char* what;
        int mode;
        std::vector<sim::ForcedAnswer> raw;
        std::vector<LinkForcedAnswer> framed;
        std::uint8_t status;
    };
    const Bytes junk{0x55};
    const Case cases[] = {
        {"all well", 0, {}, {}, 0},
        {"select unanswered, handshake fine", 0, {{{0x1F}, junk}}, {}, 0},
        {"select unanswered, handshake wrong", 0, {{{0x1F}, junk}}, {echoed(0x17, 0)}, 238},
        {"select unanswered, handshake unanswered", 0, {{{0x1F}, junk}, {{0x17}, junk}}, {}, 240},
        {"select refused is ignored", 0, {}, {echoed(0x1F, 0)}, 0},
        {"state refused", 0, {}, {echoed(0x11, 0)}, 239},
        {"reset unanswered", 0, {{{0x1B}, junk}}, {}, 240},
        {"control with a long status", 2, {}, {withStatus(0x13, 9)}, 239},
        {"handshake wrong", 1, {}, {echoed(0x17, 0)}, 248},
        {"handshake unanswered", 1, {{{0x17}, junk}}, {}, 240},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LinkRig rig(c.mode);
        ASSERT_EQ(rig.open(c.mode), 0);
        rig.model->forcedAnswers = c.raw;
        rig.model->forcedData = c.framed;
        EXPECT_EQ(rig.link.linkStartDevice(kLinkPort, RfidLink::defaultPassword(), c.mode),
                  c.status);
        EXPECT_EQ(rig.link.device(kLinkPort)->started, true);  // from the open
    }
}

TEST(RfidLinkStartStop, StopAndClose) {
    LinkRig rig;
    ASSERT_EQ(rig.open(), 0);
    EXPECT_EQ(rig.link.linkStopDevice(kLinkPort), 0);
    EXPECT_EQ(rig.model->stateValue, 0);
    EXPECT_EQ(rig.model->controlValue, 17);
    EXPECT_EQ(rig.model->resets, 2u);
    // Never started since: 255, and nothing is sent.
    std::size_t heard = rig.model->log.size();
    EXPECT_EQ(rig.link.linkStopDevice(kLinkPort), 255);
    EXPECT_EQ(rig.link.linkClose(kLinkPort), 255);
    EXPECT_EQ(rig.model->log.size(), heard);
    EXPECT_EQ(rig.link.device(kLinkPort), nullptr);
    EXPECT_EQ(rig.ports.lastPort(kLinkPort), nullptr);
    EXPECT_EQ(rig.link.linkSetState(kLinkPort, 8), 241);
    EXPECT_EQ(rig.link.linkClose(kLinkPort), 241);
    // And it opens again.
    EXPECT_EQ(rig.open(), 0);
    EXPECT_EQ(rig.link.linkClose(kLinkPort), 0);
}

TEST(RfidLinkStartStop, StopResults) {
    struct Case {
        const char* what;
        std::vector<sim::ForcedAnswer> raw;
        std::vector<LinkForcedAnswer> framed;
        std::uint8_t status;
    };
    const Bytes junk{0x55};
    const Case cases[] = {
        {"all well", {}, {}, 0},
        {"state unanswered", {{{0x11, 0}, junk}}, {}, 253},
        {"reset refused", {}, {echoed(0x1B, 0x9B)}, 239},
        {"control unanswered", {{{0x13, 17}, junk}}, {}, 253},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LinkRig rig(0);
        ASSERT_EQ(rig.open(0), 0);
        rig.model->forcedAnswers = c.raw;
        rig.model->forcedData = c.framed;
        EXPECT_EQ(rig.link.linkStopDevice(kLinkPort), c.status);
        EXPECT_FALSE(rig.link.device(kLinkPort)->started);
        EXPECT_EQ(rig.link.linkStopDevice(kLinkPort), 255);
    }
}

TEST(RfidLinkStartStop, CloseOfPortZeroStopsAndClosesEveryPort) {
    LinkRig rig;
    auto second = std::make_shared<sim::RfidLinkModel>();
    rig.ports.attach(3, second);
    ASSERT_EQ(rig.open(), 0);
    std::uint32_t actual = 0;
    ASSERT_EQ(rig.link.linkOpen(3, 19200, "", 1, 550, actual), 0);
    EXPECT_EQ(rig.link.linkClose(0), 0);
    EXPECT_EQ(rig.model->controlValue, 17);
    EXPECT_EQ(second->controlValue, 17);
    EXPECT_EQ(rig.ports.lastPort(2), nullptr);
    EXPECT_EQ(rig.ports.lastPort(3), nullptr);
    EXPECT_EQ(rig.link.device(2), nullptr);
    EXPECT_EQ(rig.link.device(3), nullptr);
    EXPECT_EQ(rig.link.linkSetState(2, 8), 241);
    EXPECT_EQ(rig.link.linkSetState(3, 8), 241);
}

TEST(RfidLinkStatus, EveryCommandWithoutAnOpenPortIs241) {
    LinkRig rig;
    std::array<std::uint8_t, 16> block{};
    std::array<std::uint8_t, 11> uid{};
    std::array<std::uint8_t, 8> uid8{};
    std::uint16_t atqa = 0;
    std::uint8_t byte = 0;
    const std::array<std::uint8_t, 6> key{};
    RfidLink& l = rig.link;
    EXPECT_EQ(l.linkClose(2), 241);
    EXPECT_EQ(l.linkSetState(2, 8), 241);
    EXPECT_EQ(l.linkModuleInfo(2, block.data(), block.data()), 241);
    EXPECT_EQ(l.linkSelectProtocol(2, 0x41), 241);
    EXPECT_EQ(l.linkRequestA(2, 1, uid, atqa, byte), 241);
    EXPECT_EQ(l.linkMifareRead(2, 0, 0, 0, 4, key, block), 241);
    EXPECT_EQ(l.linkMifareWrite(2, 0, 0, 0, 4, key, block), 241);
    EXPECT_EQ(l.linkMifareWriteKeys(2, 0, 0, 0, 1, key, block), 241);
    EXPECT_EQ(l.linkUltralightRead(2, 4, block), 241);
    EXPECT_EQ(l.linkUltralightWrite(2, 4, std::span<const std::uint8_t, 4>(block.data(), 4)), 241);
    EXPECT_EQ(l.linkSr176Select(2, byte), 241);
    EXPECT_EQ(l.linkSr176Read(2, 4, std::span<std::uint8_t, 2>(block.data(), 2)), 241);
    EXPECT_EQ(l.linkSr176Write(2, 4, std::span<const std::uint8_t, 2>(block.data(), 2)), 241);
    EXPECT_EQ(l.linkSrix4kRead(2, 7, std::span<std::uint8_t, 4>(block.data(), 4)), 241);
    EXPECT_EQ(l.linkSrix4kWrite(2, 7, std::span<const std::uint8_t, 4>(block.data(), 4)), 241);
    EXPECT_EQ(l.linkSrix4kUid(2, uid8), 241);
    EXPECT_EQ(l.linkIso15693Inventory(2, 0x26, 0, 0, {}, byte, uid8), 241);
    EXPECT_EQ(l.linkIso15693Read(2, 0x22, uid8, 0, 0, block), 241);
    EXPECT_EQ(
        l.linkIso15693Write(2, 0x22, uid8, 0, std::span<const std::uint8_t, 4>(block.data(), 4)),
        241);
    EXPECT_EQ(l.linkHandshake(2), 241);
    EXPECT_EQ(l.linkStartDevice(2, RfidLink::defaultPassword(), 1), 241);
    EXPECT_EQ(l.linkStopDevice(2), 241);
    std::string version;
    EXPECT_EQ(l.linkVersion(version), 0);
    EXPECT_EQ(version, "2.225");
}

TEST(RfidLinkIso15693, MultiBlockRead) {
    struct Case {
        std::uint8_t first;
        std::uint8_t count;
        std::uint8_t status;
        std::size_t filled;  // bytes of data written
    };
    const Case cases[] = {
        {0, 3, 0, 12},
        {61, 3, 0, 12},
        // The tag has 64 blocks: the third of 62, 63, 64 fails.
        {62, 3, 35, 8},
        {63, 2, 35, 4},
        // The first block fails: its own status.
        {64, 3, 239, 0},
        {5, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.first));
        LinkRig rig;
        rig.model->field.place(sim::iso15693({0xE0, 0x04, 0x01, 0x50, 0x12, 0x34, 0x56, 0x78}));
        ASSERT_EQ(rig.open(), 0);
        ASSERT_EQ(rig.link.linkSelectProtocol(kLinkPort, 0x31), 0);
        const std::array<std::uint8_t, 8> uid{0x78, 0x56, 0x34, 0x12, 0x50, 0x01, 0x04, 0xE0};
        std::array<std::uint8_t, 12> data;
        data.fill(0xEE);
        std::size_t heard = rig.model->log.size();
        EXPECT_EQ(rig.link.linkIso15693Read(kLinkPort, 0x22, uid, c.first, c.count, data),
                  c.status);
        for (std::size_t i = 0; i < data.size(); ++i) {
            const sim::SimTag& tag = rig.model->field.at(0);
            std::uint8_t expected = i < c.filled ? tag.blocks[c.first + i / 4][i % 4] : 0xEE;
            EXPECT_EQ(data[i], expected) << i;
        }
        // One command per block tried.
        std::size_t tried = c.status == 0 ? c.count : c.filled / 4 + 1;
        EXPECT_EQ(rig.model->log.size() - heard, tried);
    }
}

TEST(RfidLinkIso15693, ReadIntoTooSmallABufferSendsNothing) {
    LinkRig rig;
    ASSERT_EQ(rig.open(), 0);
    std::array<std::uint8_t, 8> uid{};
    std::array<std::uint8_t, 11> data{};
    std::size_t heard = rig.model->log.size();
    EXPECT_EQ(rig.link.linkIso15693Read(kLinkPort, 0x22, uid, 0, 3, data), 239);
    EXPECT_EQ(rig.model->log.size(), heard);
}

// --- untrusted answers -----------------------------------------------------------------------

// Fills a buffer with 0xEE so that a test sees what was written.
template <std::size_t N>
std::array<std::uint8_t, N> marked() {
    std::array<std::uint8_t, N> a;
    a.fill(0xEE);
    return a;
}

TEST(RfidLinkUntrusted, TooLittleDataIsAWrongAnswerAndNothingIsCopied) {
    struct Case {
        const char* what;
        std::uint8_t command;
        Bytes data;
        std::uint8_t status;
    };
    const Case cases[] = {
        {"module info 11 bytes", 0x19, Bytes(11, 1), 239},
        {"module info 12 bytes", 0x19, Bytes(12, 1), 0},
        {"Mifare block 15 bytes", 0x21, Bytes(15, 1), 239},
        {"Mifare block 17 bytes: the first 16", 0x21, Bytes(17, 1), 0},
        {"Ultralight 15 bytes", 0x2E, Bytes(15, 1), 239},
        {"SR176 select without the byte", 0x41, {}, 239},
        {"SR176 block 1 byte", 0x43, {1}, 239},
        {"SR176 block 3 bytes", 0x43, {1, 2, 3}, 239},
        {"SR176 block 2 bytes", 0x43, {1, 1}, 0},
        {"SRIX4K block 3 bytes", 0x46, {1, 2, 3}, 239},
        {"SRIX4K block 5 bytes", 0x46, {1, 2, 3, 4, 5}, 239},
        {"SRIX4K UID 7 bytes", 0x49, Bytes(7, 1), 239},
        {"SRIX4K UID 9 bytes", 0x49, Bytes(9, 1), 239},
        {"SRIX4K UID 8 bytes", 0x49, Bytes(8, 1), 0},
        {"inventory 8 bytes", 0x60, Bytes(8, 1), 239},
        {"inventory 9 bytes", 0x60, Bytes(9, 1), 0},
        {"15693 block 3 bytes", 0x64, {1, 2, 3}, 239},
        {"15693 block 4 bytes", 0x64, {1, 1, 1, 1}, 0},
    };
    for (int mode : {1, 3}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + " mode " + std::to_string(mode));
            LinkRig rig(mode);
            ASSERT_EQ(rig.open(mode), 0);
            rig.model->forcedData = {withData(c.command, c.data)};
            auto out = marked<32>();
            std::uint8_t status = 0;
            std::size_t size = 0;
            const std::array<std::uint8_t, 6> key{};
            const std::array<std::uint8_t, 8> uid{};
            std::uint8_t dsfid = 0xEE;
            switch (c.command) {
                case 0x19:
                    status = rig.link.linkModuleInfo(kLinkPort, out.data(), out.data() + 8);
                    size = 12;
                    break;
                case 0x21:
                    status = rig.link.linkMifareRead(kLinkPort, 0, 0, 0, 1, key,
                                                     std::span<std::uint8_t, 16>(out.data(), 16));
                    size = 16;
                    break;
                case 0x2E:
                    status = rig.link.linkUltralightRead(
                        kLinkPort, 4, std::span<std::uint8_t, 16>(out.data(), 16));
                    size = 16;
                    break;
                case 0x41:
                    status = rig.link.linkSr176Select(kLinkPort, out[0]);
                    size = 1;
                    break;
                case 0x43:
                    status = rig.link.linkSr176Read(kLinkPort, 4,
                                                    std::span<std::uint8_t, 2>(out.data(), 2));
                    size = 2;
                    break;
                case 0x46:
                    status = rig.link.linkSrix4kRead(kLinkPort, 7,
                                                     std::span<std::uint8_t, 4>(out.data(), 4));
                    size = 4;
                    break;
                case 0x49:
                    status = rig.link.linkSrix4kUid(kLinkPort,
                                                    std::span<std::uint8_t, 8>(out.data(), 8));
                    size = 8;
                    break;
                case 0x60:
                    status =
                        rig.link.linkIso15693Inventory(kLinkPort, 0x26, 0, 0, {}, dsfid,
                                                       std::span<std::uint8_t, 8>(out.data(), 8));
                    size = 8;
                    break;
                case 0x64:
                    status = rig.link.linkIso15693Read(kLinkPort, 0x22, uid, 0, 1,
                                                       std::span<std::uint8_t>(out.data(), 4));
                    size = 4;
                    break;
                default:
                    FAIL();
            }
            EXPECT_EQ(status, c.status);
            for (std::size_t i = 0; i < out.size(); ++i) {
                EXPECT_EQ(out[i], c.status == 0 && i < size ? 1 : 0xEE) << i;
            }
            EXPECT_EQ(dsfid, c.command == 0x60 && c.status == 0 ? 1 : 0xEE);
        }
    }
}

TEST(RfidLinkUntrusted, RequestAAnswers) {
    struct Case {
        const char* what;
        Bytes data;
        std::size_t uidRoom;
        std::uint8_t status;
        Bytes uid;  // with the marker, as the buffer holds it (the first bytes)
        std::uint16_t atqa;
        std::uint8_t sak;
    };
    const Case cases[] = {
        {"4-byte UID",
         {0xA1, 0xA2, 0xA3, 0xA4, 0x04, 0x00, 0x08},
         30,
         0,
         {0xA1, 0xA2, 0xA3, 0xA4, 0x4D, 0, 0, 0, 0, 0, 0, 0xEE},
         0x0004,
         0x08},
        {"7-byte UID",
         {1, 2, 3, 4, 5, 6, 7, 0x44, 0x03, 0x00},
         30,
         0,
         {1, 2, 3, 4, 5, 6, 7, 0x4D, 0, 0, 0, 0xEE},
         0x0344,
         0x00},
        {"6 bytes: 4-byte UID, ATQA 0x0004, SAK 0",
         {0xB1, 0xB2, 0xB3, 0xB4, 0x99, 0x98},
         30,
         0,
         {0xB1, 0xB2, 0xB3, 0xB4, 0x4D, 0, 0, 0, 0, 0, 0, 0xEE},
         0x0004,
         0x00},
        {"10-byte UID fills 11 bytes",
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0x44, 0x00, 0x20},
         11,
         0,
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0x4D},
         0x0044,
         0x20},
        {"UID and marker larger than the buffer",
         {1, 2, 3, 4, 5, 6, 7, 0x44, 0x00, 0x00},
         7,
         239,
         {0, 0, 0, 0, 0, 0, 0},
         0xEEEE,
         0xEE},
        {"5 bytes: a UID of 2",
         {1, 2, 0x04, 0x00, 0x08},
         30,
         239,
         {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xEE},
         0xEEEE,
         0xEE},
        {"2 bytes", {1, 2}, 30, 239, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xEE}, 0xEEEE, 0xEE},
        {"nothing", {}, 30, 239, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xEE}, 0xEEEE, 0xEE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LinkRig rig;
        ASSERT_EQ(rig.open(), 0);
        rig.model->forcedData = {withData(0x20, c.data)};
        Bytes uid(c.uidRoom, 0xEE);
        std::uint16_t atqa = 0xEEEE;
        std::uint8_t sak = 0xEE;
        EXPECT_EQ(rig.link.linkRequestA(kLinkPort, 1, uid, atqa, sak), c.status);
        EXPECT_EQ(Bytes(uid.begin(), uid.begin() + static_cast<std::ptrdiff_t>(c.uid.size())),
                  c.uid);
        EXPECT_EQ(atqa, c.atqa);
        EXPECT_EQ(sak, c.sak);
    }
}

TEST(RfidLinkUntrusted, WrongEchoOrStatusIs239) {
    struct Case {
        int mode;
        LinkForcedAnswer forced;
        std::uint8_t status;
    };
    const Case cases[] = {
        {1, echoed(0x11, 0x12), 239},     {0, echoed(0x11, 0x91), 239},
        {3, echoed(0x11, 0x12), 239},     {3, withStatus(0x11, 1), 239},
        {4, withStatus(0x11, 0xFF), 239}, {2, withStatus(0x11, 0), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        LinkRig rig(c.mode);
        ASSERT_EQ(rig.open(c.mode), 0);
        rig.model->forcedData = {c.forced};
        EXPECT_EQ(rig.link.linkSetState(kLinkPort, 8), c.status);
        if (link::isLongFraming(c.mode)) {
            EXPECT_EQ(rig.link.device(kLinkPort)->status, c.forced.status);
        }
    }
}

TEST(RfidLinkUntrusted, MalformedAnswersAreNoAnswer) {
    // Raw bytes in place of the module's answer to 0x11; mode 0 and mode 2 (no renewed
    // handshake), so that the status is the one of the malformed answer alone.
    Bytes huge{0x02};
    huge.insert(huge.end(), 2100, 0x41);
    huge.push_back(0x03);
    struct Case {
        const char* what;
        int mode;
        Bytes raw;
        std::uint8_t status;
    };
    const Case cases[] = {
        {"valid, for reference", 0, {0x02, 0x10, 0x02, 0x11, 0x13, 0x03}, 0},
        {"junk before the start", 0, {0xFF, 0x03, 0x02, 0x10, 0x02, 0x11, 0x13, 0x03}, 0},
        {"escaped start", 0, {0x10, 0x02, 0x10, 0x02, 0x11, 0x13, 0x03}, 240},
        {"stuffed frame cut in the middle", 0, {0x02, 0x10, 0x02, 0x11, 0x10}, 240},
        {"escaped end and silence", 0, {0x02, 0x10, 0x02, 0x11, 0x13, 0x10, 0x03}, 240},
        {"checksum", 0, {0x02, 0x10, 0x02, 0x11, 0x14, 0x03}, 240},
        {"longer than the buffers", 0, huge, 240},
        {"long answer shorter than its fixed fields",
         2,
         {0x01, 0x00, 0x06, 0x10, 0x01, 0x00, 0x11, 0x00, 0x18, 0x03},
         240},
        {"long answer of another device",
         2,
         {0x01, 0x00, 0x08, 0x10, 0x02, 0x00, 0x11, 0x00, 0x00, 0x00, 0x1B, 0x03},
         240},
        {"long valid, for reference",
         2,
         {0x01, 0x00, 0x08, 0x10, 0x01, 0x00, 0x11, 0x00, 0x00, 0x00, 0x1A, 0x03},
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LinkRig rig(c.mode);
        ASSERT_EQ(rig.open(c.mode), 0);
        rig.model->forcedAnswers = {{{0x11}, c.raw}};
        EXPECT_EQ(rig.link.linkSetState(kLinkPort, 8), c.status);
    }
}

}  // namespace
}  // namespace vandora::testing
