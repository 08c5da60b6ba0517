// The engine models driven with raw host bytes through a simulated port in virtual time.
#include <gtest/gtest.h>

#include "SimWire.h"

namespace vandora::sim::testing {
namespace {

const Bytes kRevisionQuery = withChecksum({0x04, 0xA3, 0x04, 0x00});
const Bytes kStart = withChecksum({0x04, 0xE4, 0x04, 0x00});
const Bytes kHostAsksAgain = withChecksum({0x05, 0xD1, 0x04, 0x00, 0x01});

Bytes rateCommand(std::uint8_t code) {
    return withChecksum({0x07, 0xC6, 0x04, 0x08, 0xFF, 0x9C, code});
}

// The identification query of each type, as the host sends it.
Bytes queryOf(int type) {
    switch (type) {
        case 2:
            return ccdFrame("VER");
        case 5:
            return text("v");
        case 6:
            return text("0108000304FE0000");
        default:
            return kRevisionQuery;
    }
}

const int kAllTypes[] = {2, 3, 4, 5, 6, 8, 9};
const int kPacketTypes[] = {3, 4, 8, 9};

TEST(PacketEngineModel, RefusesAPacketWithABadChecksumAndStillHearsTheNextOne) {
    for (int type : kPacketTypes) {
        SCOPED_TRACE(type);
        Wire wire(type);
        Bytes broken = kRevisionQuery;
        broken.back() ^= 0x01;
        EXPECT_EQ(wire.ask(broken), kRefusal);
        ASSERT_EQ(wire.model->log.size(), 1u);
        EXPECT_FALSE(wire.model->log[0].valid);
        EXPECT_EQ(wire.model->counters.invalid, 1u);

        Bytes answer = wire.ask(kRevisionQuery);
        ASSERT_GE(answer.size(), 6u);
        EXPECT_EQ(answer[1], 0xA3);
        EXPECT_EQ(answer, withChecksum(Bytes(answer.begin(), answer.end() - 2)));
    }
}

TEST(EngineModels, HearNothingAtAForeignRate) {
    for (int type : kAllTypes) {
        SCOPED_TRACE(type);
        Wire wire(type);
        wire.setBaud(wire.model->currentBaud() == 9600 ? 19200 : 9600);
        EXPECT_TRUE(wire.ask(queryOf(type)).empty());
        EXPECT_TRUE(wire.model->log.empty());
        EXPECT_EQ(wire.model->counters.wrongRateWrites, 1u);

        // Told to, the engine draws junk that no framing takes for an answer.
        wire.model->faults.junkAtWrongRate = true;
        Bytes junk = wire.ask(queryOf(type));
        ASSERT_FALSE(junk.empty());
        for (std::uint8_t b : junk) {
            EXPECT_GE(b, 0x80);
        }
    }
}

TEST(EngineModels, SwitchRateAfterAnsweringTheRateCommand) {
    struct Case {
        int type;
        Bytes command;
        Bytes echo;
        std::uint32_t newBaud;
    };
    const Case cases[] = {
        {3, rateCommand(0x0B), kAck, 115200},       {4, rateCommand(0x08), kAck, 38400},
        {8, rateCommand(0x0B), kAck, 115200},       {9, rateCommand(0x08), kAck, 38400},
        {5, text("wp0C03"), text("03\r\n"), 57600},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        SimOptions options;
        options.startBaud = 9600;
        Wire wire(c.type, options);
        EXPECT_EQ(wire.ask(c.command), c.echo);
        EXPECT_EQ(wire.model->currentBaud(), c.newBaud);
        EXPECT_TRUE(wire.ask(queryOf(c.type)).empty()) << "still answers at 9600";
        wire.setBaud(c.newBaud);
        EXPECT_FALSE(wire.ask(queryOf(c.type)).empty());
        EXPECT_EQ(wire.model->counters.rateChanges, 1u);
    }
}

TEST(PacketEngineModel, KeepsParametersSentAndRestoresDefaults) {
    Wire wire(3);
    // Plain, F0-prefixed and word parameters in one send.
    EXPECT_EQ(wire.ask(withChecksum({0x0E, 0xC6, 0x04, 0x08, 0xFF, 0x09, 0x01, 0xF0, 0x24, 0x05,
                                     0xF4, 0xF1, 0x37, 0x01})),
              kRefusal)
        << "a word without its low byte is malformed";
    EXPECT_EQ(wire.ask(withChecksum({0x0F, 0xC6, 0x04, 0x08, 0xFF, 0x09, 0x01, 0xF0, 0x24, 0x05,
                                     0xF4, 0xF1, 0x37, 0x01, 0x2C})),
              kAck);
    EXPECT_EQ(wire.ask(withChecksum({0x07, 0xC7, 0x04, 0x00, 0x09, 0xF0, 0x24})),
              withChecksum({0x0A, 0xC6, 0x00, 0x00, 0xFF, 0x09, 0x01, 0xF0, 0x24, 0x05}));
    auto* packet = static_cast<PacketEngineModel*>(wire.model.get());
    EXPECT_EQ(packet->words[0xF137], 0x012C);

    EXPECT_EQ(wire.ask(withChecksum({0x04, 0xC8, 0x04, 0x00})), kAck);
    EXPECT_EQ(wire.ask(withChecksum({0x07, 0xC7, 0x04, 0x00, 0x09, 0xF0, 0x24})),
              withChecksum({0x0A, 0xC6, 0x00, 0x00, 0xFF, 0x09, 0x00, 0xF0, 0x24, 0x00}));
}

TEST(PacketEngineModel, RestoringDefaultsMovesOnlyThe1DLaserBackTo9600) {
    const Bytes defaults = withChecksum({0x04, 0xC8, 0x04, 0x00});
    for (int type : kPacketTypes) {
        SCOPED_TRACE(type);
        Wire wire(type);
        std::uint32_t working = wire.model->currentBaud();
        EXPECT_EQ(wire.ask(defaults), kAck) << "acknowledged at the old rate";
        EXPECT_EQ(wire.model->currentBaud(), type == 9 ? 9600u : working);
    }
}

TEST(PacketEngineModel, SendsContinuationPacketsOnlyOnTheHostsAcknowledgement) {
    SimOptions options;
    Bytes data(25);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>('a' + i);
    }
    options.decodes.push_back({0x1B, data, DecodeForm::Plain, 10});
    Wire wire(3, options);

    auto part = [&](std::uint8_t status, std::size_t from, std::size_t n) {
        Bytes packet = {static_cast<std::uint8_t>(5 + n), 0xF3, 0x00, status, 0x1B};
        packet.insert(packet.end(), data.begin() + static_cast<std::ptrdiff_t>(from),
                      data.begin() + static_cast<std::ptrdiff_t>(from + n));
        return withChecksum(packet);
    };
    Bytes first = kAck;
    Bytes p1 = part(2, 0, 10);
    first.insert(first.end(), p1.begin(), p1.end());
    EXPECT_EQ(wire.ask(kStart), first);
    EXPECT_TRUE(wire.collect(1000).empty()) << "the next packet waits for the acknowledgement";

    EXPECT_EQ(wire.ask(kHostAsksAgain), p1) << "asking again repeats the unacknowledged packet";
    EXPECT_EQ(wire.ask(kHostContinueAck), part(2, 10, 10));
    EXPECT_EQ(wire.ask(kHostContinueAck), part(0, 20, 5));
    EXPECT_TRUE(wire.ask(kHostContinueAck).empty());
    EXPECT_TRUE(wire.ask(kHostAsksAgain).empty()) << "nothing outstanding";
    EXPECT_EQ(wire.model->counters.acks, 3u);
    EXPECT_EQ(wire.model->counters.resends, 1u);
}

TEST(PacketEngineModel, WrapsDecodesAsItsEngineKindDoes) {
    const Bytes data = text("ABCDEFG");
    struct Case {
        int type;
        std::size_t packetData;
        Bytes firstPacket;
    };
    const Case cases[] = {
        // Imager: code type, four header bytes (packets, index, total length), data.
        {3, 4,
         withChecksum(
             {14, 0xF3, 0x00, 0x02, 0x99, 0x1B, 0x02, 0x01, 0x00, 0x07, 'A', 'B', 'C', 'D'})},
        // Laser: code type, one byte, then the data cut by zero-led marks.
        {4, 4,
         withChecksum({17, 0xF3, 0x00, 0x00, 0x99, 0x1B, 0x00, 'A', 'B', 'C', 'D', 0x00, 0x00, 0x01,
                       'E', 'F', 'G'})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        SimOptions options;
        options.decodes.push_back({0x1B, data, DecodeForm::Wrapped, c.packetData});
        Wire wire(c.type, options);
        Bytes expected = kAck;
        expected.insert(expected.end(), c.firstPacket.begin(), c.firstPacket.end());
        EXPECT_EQ(wire.ask(kStart), expected);
    }
}

TEST(EngineModels, NoReadBehaviour) {
    // CCD/Laser says "*000"; a packet engine keeps quiet unless its no-read parameter is on.
    Wire ccd(2);
    EXPECT_EQ(ccd.ask(ccdFrame("ON")), text("*000\r"));

    Wire imager(3);
    EXPECT_EQ(imager.ask(kStart), kAck);
    EXPECT_EQ(imager.ask(withChecksum({0x07, 0xC6, 0x04, 0x08, 0xFF, 0x5E, 0x01})), kAck);
    Bytes expected = kAck;
    expected.insert(expected.end(), kRefusal.begin(), kRefusal.end());
    EXPECT_EQ(imager.ask(kStart), expected);
}

Bytes scanModeCommand(int type, std::uint8_t mode) {
    if (type == 2) {
        Bytes block = CcdLaserModel::factoryBlock();
        block[20] = static_cast<std::uint8_t>(mode << 4);
        return ccdFrame("SAVE" + hexText(block));
    }
    return withChecksum({0x07, 0xC6, 0x04, 0x08, 0xFF, 0x8A, mode});
}

// A plain one-packet decode as each engine kind sends it.
Bytes decodeOf(int type, const std::string& data) {
    if (type == 2) {
        return text("A]x0" + data + "\r");
    }
    Bytes packet = {static_cast<std::uint8_t>(5 + data.size()), 0xF3, 0x00, 0x00, 0x1B};
    packet.insert(packet.end(), data.begin(), data.end());
    return withChecksum(packet);
}

SimDecode plainDecode(int type, const std::string& data) {
    return {type == 2 ? std::uint8_t{'A'} : std::uint8_t{0x1B}, text(data), DecodeForm::Plain, 0};
}

Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(EngineModels, ReadByThemselvesOnlyInTheirSelfScanModes) {
    struct Case {
        int type;
        std::uint8_t mode;
        bool bySelf;
    };
    const Case cases[] = {
        {2, 1, true},  {2, 5, true},  {2, 7, true}, {2, 3, false}, {2, 6, false},
        {3, 7, false}, {3, 4, false}, {8, 7, true}, {8, 4, false}, {4, 4, true},
        {4, 7, true},  {4, 6, false}, {9, 4, true}, {9, 7, true},  {9, 6, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + " in mode " + std::to_string(c.mode));
        SimOptions options;
        options.decodes.push_back(plainDecode(c.type, "X"));
        Wire wire(c.type, options);
        Bytes accepted = c.type == 2 ? text("OK\r") : kAck;
        EXPECT_EQ(wire.ask(scanModeCommand(c.type, c.mode)),
                  c.bySelf ? concat(accepted, decodeOf(c.type, "X")) : accepted);
    }
}

TEST(PacketEngineModel, ReadingByItselfSendsTheNextDecodeOnlyOnceTheLastIsAcknowledged) {
    const Bytes decodeAck = withChecksum({0x04, 0xD0, 0x04, 0x00});
    SimOptions options;
    options.decodes = {plainDecode(9, "one"), plainDecode(9, "two")};
    Wire wire(9, options);

    wire.write(scanModeCommand(9, 4));
    EXPECT_EQ(wire.collect(20), kAck) << "the decode comes after the decode delay";
    EXPECT_EQ(wire.collect(), decodeOf(9, "one"));
    EXPECT_TRUE(wire.ask(kHostContinueAck).empty()) << "a continuation ack does not end a decode";
    wire.write(decodeAck);
    EXPECT_TRUE(wire.collect(20).empty());
    EXPECT_EQ(wire.collect(), decodeOf(9, "two"));

    // Nothing left to read: the engine stays quiet, even for a decode queued meanwhile, until the
    // host says something.
    EXPECT_TRUE(wire.ask(decodeAck).empty());
    wire.model->queueDecode(plainDecode(9, "three"));
    EXPECT_TRUE(wire.collect(1000).empty());
    Bytes revision = wire.ask(kRevisionQuery);
    ASSERT_GT(revision.size(), decodeOf(9, "three").size());
    EXPECT_EQ(Bytes(revision.end() - static_cast<std::ptrdiff_t>(decodeOf(9, "three").size()),
                    revision.end()),
              decodeOf(9, "three"));

    // "three" was never acknowledged; a reopened port gets the next decode all the same.
    wire.model->queueDecode(plainDecode(9, "four"));
    wire.port.close();
    ASSERT_EQ(wire.port.open(), 0);
    wire.setBaud(wire.model->currentBaud());
    EXPECT_EQ(wire.collect(), decodeOf(9, "four"));
    EXPECT_FALSE(wire.model->log.empty());
    for (const ReceivedCommand& command : wire.model->log) {
        EXPECT_NE(command.frame[1], 0xE4) << "never triggered";
    }
}

TEST(CcdLaserModel, Mode3ReadsByItselfFromOnUntilTheLinkIsReset) {
    SimOptions options;
    options.decodes = {plainDecode(2, "one"), plainDecode(2, "two")};
    Wire wire(2, options);
    EXPECT_EQ(wire.ask(scanModeCommand(2, 3)), text("OK\r"));
    EXPECT_EQ(wire.ask(ccdFrame("ON")), concat(decodeOf(2, "one"), decodeOf(2, "two")));

    wire.model->queueDecode(plainDecode(2, "three"));
    wire.port.close();
    ASSERT_EQ(wire.port.open(), 0);
    EXPECT_TRUE(wire.collect(1000).empty());
    EXPECT_EQ(wire.ask(ccdFrame("VER")), text("CL 2.10\r")) << "stopped by the reset";

    // Mode 1 needs no "ON": opening the port in it is enough.
    static_cast<CcdLaserModel&>(*wire.model).block[20] = 0x10;
    wire.port.close();
    ASSERT_EQ(wire.port.open(), 0);
    EXPECT_EQ(wire.collect(), decodeOf(2, "three"));
}

TEST(PacketEngineModel, FaultSwitchesShapeTheAnswer) {
    const Bytes clean = Wire(3).ask(kRevisionQuery);
    ASSERT_GT(clean.size(), 8u);
    struct Case {
        const char* name;
        void (*set)(SimFaults&);
        Bytes expected;  // empty: checked below
    };
    const Case cases[] = {
        {"silent", [](SimFaults& f) { f.silent = true; }, {}},
        {"refuse", [](SimFaults& f) { f.refuseAll = true; }, kRefusal},
        {"cut short", [](SimFaults& f) { f.cutAfter = 5; },
         Bytes(clean.begin(), clean.begin() + 5)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Wire wire(3);
        c.set(wire.model->faults);
        EXPECT_EQ(wire.ask(kRevisionQuery), c.expected);
        EXPECT_EQ(wire.model->log.size(), 1u) << "every command is logged";
    }

    Wire garbage(3);
    garbage.model->faults.garbage = true;
    Bytes junk = garbage.ask(kRevisionQuery);
    EXPECT_EQ(junk.size(), clean.size());
    EXPECT_NE(junk, clean);

    // A stall inside the packet: the head arrives, the rest only after the pause.
    Wire stall(3);
    stall.model->faults.stallAfter = 3;
    stall.model->faults.stallUs = 500000;
    EXPECT_EQ(stall.ask(kRevisionQuery, 100), Bytes(clean.begin(), clean.begin() + 3));
    std::uint64_t headMs = stall.clock.nowMs();
    EXPECT_EQ(stall.collect(1000), Bytes(clean.begin() + 3, clean.end()));
    EXPECT_GE(stall.clock.nowMs() - headMs, 300u);

    // A reply delay moves the first byte.
    Wire slow(3);
    slow.model->faults.replyDelayUs = 300000;
    slow.write(kRevisionQuery);
    EXPECT_TRUE(slow.collect(250).empty());
    EXPECT_EQ(slow.collect(100), clean);
}

TEST(EngineModels, RefuseAllAnswersEachEnginesRefusal) {
    struct Case {
        int type;
        Bytes refusal;
    };
    const Case cases[] = {{2, text("NG\r")}, {3, kRefusal}, {5, text("F\r\n")}, {6, text("[FF]")}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        Wire wire(c.type);
        wire.model->faults.refuseAll = true;
        EXPECT_EQ(wire.ask(queryOf(c.type)), c.refusal);
    }
}

TEST(CcdLaserModel, WakesOnlyForTheFullRunAndKeepsItsBlock) {
    Wire wire(2);
    Bytes sleepy = ccdFrame("VER");
    sleepy.erase(sleepy.begin());
    EXPECT_TRUE(wire.ask(sleepy).empty());
    ASSERT_EQ(wire.model->log.size(), 1u);
    EXPECT_FALSE(wire.model->log[0].valid);

    Bytes block = CcdLaserModel::factoryBlock();
    EXPECT_EQ(wire.ask(ccdFrame("SET")), text(hexText(block) + "\r"));
    block[20] = 0x30;
    EXPECT_EQ(wire.ask(ccdFrame("SAVE" + hexText(block))), text("OK\r"));
    EXPECT_EQ(wire.ask(ccdFrame("SET")), text(hexText(block) + "\r"));
    EXPECT_EQ(wire.ask(ccdFrame("SAVE12")), text("NG\r")) << "a short block is refused";
    EXPECT_EQ(wire.ask(ccdFrame("HELLO")), text("NG\r"));
    EXPECT_EQ(wire.model->commandTexts().back(), "HELLO");
}

TEST(RfidHexModel, AnswersOnlyTheDetectionOfTheTagsFamily) {
    struct Case {
        const char* frame;
        std::string tag;
    };
    const Bytes uid = {0xE0, 0x04, 0x01, 0x02};
    const Case cases[] = {
        {"0109000304A0010000", "[E004010208]"},
        {"0109000304B0040000", "[50E0040102000000]"},
        {"010B000304340050000000", "[0000E004010200000008]"},
        {"010B000304140401000000", "[,][020104E0,3A]"},
    };
    const std::uint8_t families[] = {3, 5, 8, 16};
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(cases[i].frame);
        SimOptions options;
        options.decodes.push_back({families[i], uid, DecodeForm::Plain, 0});
        Wire wire(6, options);
        // Another family's detection finds nothing and leaves the tag in the field.
        const char* other = cases[(i + 1) % 4].frame;
        Bytes none = wire.ask(text(other));
        EXPECT_TRUE(none == text("[]") || none == text("[,][,]"));
        EXPECT_EQ(wire.model->queuedDecodes(), 1u);
        EXPECT_EQ(wire.ask(text(cases[i].frame)), text(cases[i].tag));
    }
}

TEST(RfidHexModel, CollectsFramesByTheirLengthAcrossWrites) {
    Wire wire(6);
    wire.write(text("xx0108000304"));
    EXPECT_TRUE(wire.collect().empty());
    EXPECT_EQ(wire.ask(text("FE0000"), 100), text("HXR 3.01"));
    EXPECT_EQ(wire.model->commandTexts(), std::vector<std::string>{"0108000304FE0000"});

    // ISO 15693 block write, then read: response flags before the block.
    EXPECT_EQ(wire.ask(text("010F000304180021051122334400"
                            "00")),
              text("[00]"));
    EXPECT_EQ(wire.ask(text("010B000304180020050000")), text("[0011223344]"));
}

TEST(RfidAsciiModel, SpeaksTheDialectOfItsFirmwareLine) {
    struct Case {
        int variant;
        const char* banner;
        const char* write;
        const char* read;
        const char* other;  // the other line's read: not understood
    };
    const Case cases[] = {
        {1, "MultiISO 1.2.4\r\n", "wb0401AB", "rb04", "r04"},
        {0, "ISO 0.9v3\r\n", "w0401AB", "r04", "rb04"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.variant);
        SimOptions options;
        options.variant = c.variant;
        Wire wire(5, options);
        EXPECT_EQ(wire.ask(text("v")), text(c.banner));
        EXPECT_EQ(wire.ask(text(c.write)), text("01AB\r\n"));
        auto* model = static_cast<RfidAsciiModel*>(wire.model.get());
        model->blockSize = 2;
        EXPECT_EQ(wire.ask(text(c.read)), text("01AB\r\n"));
        Bytes other = wire.ask(text(c.other));
        EXPECT_NE(other, text("01AB\r\n"));
    }
}

TEST(RfidAsciiModel, ForcedAnswersGiveErrorLettersOnDemand) {
    SimOptions options;
    options.startBaud = 9600;
    Wire wire(5, options);
    wire.model->forcedAnswers.push_back({text("wp0C"), text("R\r\n"), 1});
    EXPECT_EQ(wire.ask(text("wp0C03")), text("R\r\n"));
    EXPECT_EQ(wire.model->currentBaud(), 9600u) << "a refused rate change keeps the rate";
    EXPECT_EQ(wire.ask(text("wp0C03")), text("03\r\n")) << "the forced answer was used up";
    EXPECT_TRUE(wire.ask(text("s"), 200).empty()) << "the module has moved to 57600";
    wire.setBaud(57600);
    EXPECT_EQ(wire.ask(text("s"), 200), text("N\r\n"));
}

// A simulation left running must not grow with every command: the log counts every frame but
// keeps only the recent ones readable, in order, and so does the port's copy of the host bytes.
TEST(EngineModels, KeepABoundedHistoryOfALongRun) {
    Wire wire(2);
    const Bytes query = queryOf(2);
    const std::size_t frames = CommandLog::kKeep + 10;
    for (std::size_t i = 0; i < frames; ++i) {
        wire.write(query);
    }
    const CommandLog& log = wire.model->log;
    EXPECT_EQ(log.size(), frames);
    EXPECT_EQ(log.firstKept(), 10u);
    EXPECT_EQ(static_cast<std::size_t>(std::distance(log.begin(), log.end())), CommandLog::kKeep);
    EXPECT_EQ(log[frames - 1].text(), "VER");
    EXPECT_EQ(&log[log.firstKept()], &*log.begin());

    const std::size_t bytes = (2 * SimulatedPort::kKeptHostBytes) / query.size() + 1;
    for (std::size_t i = 0; i < bytes; ++i) {
        wire.write(query);
    }
    Bytes kept = wire.port.hostBytes();
    EXPECT_GE(kept.size(), SimulatedPort::kKeptHostBytes);
    EXPECT_LE(kept.size(), 2 * SimulatedPort::kKeptHostBytes);
    EXPECT_TRUE(std::equal(query.rbegin(), query.rend(), kept.rbegin()));
}

}  // namespace
}  // namespace vandora::sim::testing
