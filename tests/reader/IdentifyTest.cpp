#include "reader/Identify.h"

#include <gtest/gtest.h>

#include "reader/PortOps.h"
#include "support/SimRig.h"

namespace vandora::testing {
namespace {

using sim::bytesOf;
using sim::withChecksum;
using Bytes = std::vector<std::uint8_t>;

const Bytes kRevisionQuery = withChecksum({0x04, 0xA3, 0x04, 0x00});

// A revision reply packet whose text has `marker` right before its third space.
Bytes revisionReply(char marker) {
    std::string text = std::string("REV A ") + "B" + marker + " tail";
    Bytes packet = {static_cast<std::uint8_t>(4 + text.size()), 0xA3, 0x00, 0x00};
    packet.insert(packet.end(), text.begin(), text.end());
    return withChecksum(packet);
}

Bytes baudCommand(std::uint8_t value) {
    return withChecksum({0x07, 0xC6, 0x04, 0x08, 0xFF, 0x9C, value});
}

Bytes paaaaReply() {
    std::string text = "xxPAAAA-1";
    Bytes packet = {static_cast<std::uint8_t>(4 + text.size()), 0xA3, 0x00, 0x00};
    packet.insert(packet.end(), text.begin(), text.end());
    return withChecksum(packet);
}

Bytes laser955Reply() {
    Bytes packet = {0x14, 0xA3, 0x00, 0x00};
    packet.resize(0x14, 0x30);
    packet[15] = 0x98;
    return withChecksum(packet);
}

Bytes ok() {
    return withChecksum({0x04, 0xD0, 0x00, 0x00});
}

// An engine answering its identification only at one rate.
struct EngineSetup {
    std::int32_t port;
    Bytes query;
    Bytes answer;
    std::uint32_t baud;
};

struct IdentifyCase {
    const char* name;
    std::int32_t model;
    std::int32_t hint;
    std::vector<EngineSetup> answers;
    std::int32_t expectedResult;
    std::int32_t expectedType;
    std::uint32_t expectedBaud;
};

class Identify : public ::testing::TestWithParam<IdentifyCase> {};

TEST_P(Identify, FindsTheEngineAndItsRate) {
    const IdentifyCase& c = GetParam();
    SimRig rig(c.model);
    rig.ports.faultsFor(1).noModemLines = true;
    rig.ports.faultsFor(2).noModemLines = true;
    auto barcode = rig.script(1);
    auto rfid = rig.script(2);
    for (const EngineSetup& e : c.answers) {
        auto& model = e.port == 1 ? barcode : rfid;
        model->on(e.query, e.answer).baud = e.baud;
        // Rate changes are accepted at the found rate.
        model->on(baudCommand(0x0B), ok()).baud = e.baud;
        model->on(baudCommand(0x08), ok()).baud = e.baud;
        model->on(bytesOf("wp0C03"), bytesOf("OK\r\n")).baud = e.baud;
    }
    std::int32_t port = c.answers.empty() ? 1 : c.answers.front().port;
    ReaderChannel& ch = rig.openChannel(port, EngineType::None);
    EXPECT_EQ(identifyEngine(ch, EngineType(c.hint)), c.expectedResult);
    EXPECT_EQ(toNumber(ch.engineType), c.expectedType);
    if (c.expectedResult == 1) {
        EXPECT_EQ(rig.port(port).settings().baud, c.expectedBaud);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Identify,
    ::testing::Values(
        IdentifyCase{"CcdAtWorkingRate",
                     0,
                     1,
                     {{1, ccdFrame("VER"), bytesOf("V2\r"), 115200}},
                     1,
                     2,
                     115200},
        IdentifyCase{"HintThreeButRevisionSaysLongRange",
                     0,
                     3,
                     {{1, kRevisionQuery, revisionReply('G'), 115200}},
                     1,
                     4,
                     115200},
        IdentifyCase{"RevisionPIsImager",
                     1,
                     1,
                     {{1, kRevisionQuery, revisionReply('P'), 115200}},
                     1,
                     3,
                     115200},
        IdentifyCase{"RevisionOtherLetterRejected",
                     0,
                     3,
                     {{1, kRevisionQuery, revisionReply('Q'), 115200}},
                     0,
                     0,
                     0},
        IdentifyCase{"LongRangeAt9600MovedTo38400",
                     0,
                     4,
                     {{1, kRevisionQuery, revisionReply('G'), 9600}},
                     1,
                     4,
                     38400},
        IdentifyCase{"Imager4507NeedsPaaaa",
                     0,
                     8,
                     {{1, kRevisionQuery, paaaaReply(), 115200}},
                     1,
                     8,
                     115200},
        IdentifyCase{
            "Laser955Byte16", 5, 1, {{1, kRevisionQuery, laser955Reply(), 38400}}, 1, 9, 38400},
        IdentifyCase{
            "Laser955At9600Moved", 5, 9, {{1, kRevisionQuery, laser955Reply(), 9600}}, 1, 9, 38400},
        IdentifyCase{"NothingAnswers", 0, 1, {}, 0, 0, 0},
        IdentifyCase{
            "HintZeroFailsAtOnce", 0, 0, {{1, ccdFrame("VER"), bytesOf("V\r"), 115200}}, 0, 0, 0},
        IdentifyCase{"RfidAsciiMulti",
                     2,
                     1,
                     {{2, bytesOf("v"), bytesOf("MultiISO 1.2\r\n"), 57600}},
                     1,
                     5,
                     57600},
        IdentifyCase{"RfidAsciiOldAt9600",
                     3,
                     5,
                     {{2, bytesOf("v"), bytesOf("ISO 0.9v\r\n"), 9600}},
                     1,
                     5,
                     57600},
        IdentifyCase{"RfidAsciiWrongBanner",
                     3,
                     5,
                     {{2, bytesOf("v"), bytesOf("hello\r\n"), 57600}},
                     0,
                     0,
                     0},
        IdentifyCase{"RfidHexAnyReply",
                     1,
                     1,
                     {{2, bytesOf("0108000304FE0000"), bytesOf("00"), 115200}},
                     1,
                     6,
                     115200},
        IdentifyCase{"RfidDefaultOrderReachesHex",
                     0,
                     1,
                     {{2, bytesOf("0108000304FE0000"), bytesOf("00"), 115200}},
                     1,
                     6,
                     115200}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(IdentifyVariant, RfidModulesRecordTheirVariant) {
    struct Case {
        const char* banner;
        std::int32_t hint;
        std::int32_t variant;
    };
    for (const Case& c :
         {Case{"MultiISO 1.0 ISO 0.9v\r\n", 5, 1}, Case{"ISO 0.9v\r\n", 5, 0}, Case{"x", 6, 2}}) {
        SimRig rig;
        auto model = rig.script(2);
        model->on(bytesOf(c.hint == 5 ? "v" : "0108000304FE0000"), bytesOf(c.banner));
        model->on(bytesOf("wp0C03"), bytesOf("OK\r\n"));
        ReaderChannel& ch = rig.openChannel(2, EngineType::None);
        ASSERT_EQ(identifyEngine(ch, EngineType(c.hint)), 1);
        EXPECT_EQ(ch.rfidVariant, c.variant);
    }
}

TEST(IdentifyOrder, Model5TriesLaser955ThenWaitsASecondForThe4507) {
    SimRig rig(DeviceModel::HRT100CE);
    rig.ports.faultsFor(1).noModemLines = true;
    auto model = rig.script(1);
    ReaderChannel& ch = rig.openChannel(1, EngineType::None);
    std::uint64_t start = rig.clock.nowMs();
    EXPECT_EQ(identifyEngine(ch, EngineType(1)), 0);
    // Type 9: 3 attempts at 38400 and 3 at 9600; 1000 ms sleep; type 8: the same at 115200/9600.
    EXPECT_EQ(model->frames.size(), 12u);
    EXPECT_EQ(model->frameBauds[0], 38400u);
    EXPECT_EQ(model->frameBauds[3], 9600u);
    EXPECT_EQ(model->frameBauds[6], 115200u);
    EXPECT_EQ(model->frameTimesUs[6] / 1000 - model->frameTimesUs[5] / 1000, 2000u)
        << "the 1000 ms reply wait of the last try plus the 1000 ms sleep";
    EXPECT_EQ(rig.elapsedMs(start), 13000u);
    EXPECT_EQ(toNumber(ch.engineType), 0);
}

TEST(IdentifyOrder, DefaultModelWaitsFourSecondsBeforeThe4507) {
    SimRig rig(DeviceModel::Unknown);
    rig.ports.faultsFor(1).noModemLines = true;
    auto model = rig.script(1);
    ReaderChannel& ch = rig.openChannel(1, EngineType::None);
    std::uint64_t start = rig.clock.nowMs();
    EXPECT_EQ(identifyEngine(ch, EngineType(1)), 0);
    // CCD: one attempt at 115200; sleep 4000; type 8: 3 + 3; type 3: 3 + 3.
    ASSERT_EQ(model->frames.size(), 13u);
    EXPECT_EQ(model->frames[0], ccdFrame("VER"));
    EXPECT_EQ(model->frames[1], kRevisionQuery);
    EXPECT_EQ(rig.elapsedMs(start), 1000u + 4000u + 12000u);
}

TEST(IdentifyOrder, Hint8SleepsThreeSecondsFirst) {
    SimRig rig;
    rig.ports.faultsFor(1).noModemLines = true;
    auto model = rig.script(1);
    model->on(kRevisionQuery, paaaaReply());
    ReaderChannel& ch = rig.openChannel(1, EngineType::None);
    EXPECT_EQ(identifyEngine(ch, EngineType(8)), 1);
    ASSERT_FALSE(model->frameTimesUs.empty());
    EXPECT_EQ(model->frameTimesUs[0] / 1000, 3000u);
}

TEST(SetEngineBaud, LongRangeThatRefusesTheRateStaysAt9600AndCountsAsFound) {
    SimRig rig;
    rig.ports.faultsFor(1).noModemLines = true;
    auto model = rig.script(1);
    model->on(kRevisionQuery, revisionReply('G')).baud = 9600;
    model->on(baudCommand(0x08), withChecksum({0x05, 0xD1, 0x00, 0x00, 0x01}));
    ReaderChannel& ch = rig.openChannel(1, EngineType::None);
    EXPECT_EQ(identifyEngine(ch, EngineType(4)), 1);
    EXPECT_EQ(toNumber(ch.engineType), 4);
    EXPECT_EQ(ch.baudRate, 9600u);
    std::size_t baudCommands = 0;
    for (const Bytes& f : model->frames) {
        baudCommands += f == baudCommand(0x08) ? 1 : 0;
    }
    EXPECT_EQ(baudCommands, 5u);
}

TEST(SetEngineBaud, ImagerProbeThatMeetsALongRangeLaserMovesItTo115200) {
    SimRig rig;
    rig.ports.faultsFor(1).noModemLines = true;
    auto model = rig.script(1);
    model->on(kRevisionQuery, revisionReply('G')).baud = 9600;
    model->on(baudCommand(0x0B), ok());
    ReaderChannel& ch = rig.openChannel(1, EngineType::None);
    EXPECT_EQ(identifyEngine(ch, EngineType(3)), 1);
    EXPECT_EQ(toNumber(ch.engineType), 4);
    EXPECT_EQ(ch.baudRate, 115200u);
}

TEST(SetEngineBaud, RfidAsciiAnswers) {
    struct Case {
        std::vector<Bytes> answers;  // per exchange
        std::int32_t expected;
        std::uint32_t error;
    };
    const Case cases[] = {
        {{bytesOf("F\r\n")}, 0, 30003},
        {{bytesOf("R\r\n")}, 0, 30005},
        {{bytesOf("RR\r\n")}, 1, 0},
        {{}, 0, 0},
        {{bytesOf("garbage-no-lf"), bytesOf("Z\r\n")}, 1, 0},
    };
    for (const Case& c : cases) {
        SimRig rig;
        auto model = rig.script(2);
        for (const Bytes& a : c.answers) {
            model->on(bytesOf("wp0C03"), a).uses = 1;
        }
        ReaderChannel& ch = rig.openChannel(2, EngineType::RfidAscii);
        EXPECT_EQ(setEngineBaud(ch, 57600), c.expected);
        EXPECT_EQ(ch.lastError, c.error);
        EXPECT_LE(model->frames.size(), 2u);
    }
}

TEST(SetEngineBaud, RfidAsciiRefusingTheRateIsFoundAt9600WithError30005) {
    SimRig rig;
    auto model = rig.script(2);
    model->on(bytesOf("v"), bytesOf("ISO 0.9v\r\n")).baud = 9600;
    model->on(bytesOf("wp0C03"), bytesOf("R\r\n"));
    ReaderChannel& ch = rig.openChannel(2, EngineType::None);
    EXPECT_EQ(identifyEngine(ch, EngineType(5)), 1);
    EXPECT_EQ(ch.baudRate, 9600u);
    EXPECT_EQ(ch.lastError, 30005u);
}

TEST(IdentifyLink, Model4RfidIsFoundOnlyThroughTheBinaryLink) {
    for (std::uint8_t info : {0, 240}) {
        SimRig rig(DeviceModel::HRT400CE);
        auto model = rig.script(2);
        model->onAny(bytesOf("MultiISO 1.0\r\n"));
        rig.link.moduleInfoResult = info;
        ReaderChannel& ch = rig.manager->channel(2);
        ch.port = 2;
        EXPECT_EQ(identifyEngine(ch, EngineType(1)), info == 0 ? 1 : 0);
        EXPECT_EQ(toNumber(ch.engineType), info == 0 ? 7 : 0);
        EXPECT_EQ(rig.link.calls, std::vector<std::string>{"info 2"});
        EXPECT_TRUE(model->frames.empty());
    }
}

TEST(IdentifyLink, Hint7FallsBackToTheAsciiModule) {
    SimRig rig(DeviceModel::Unknown);
    auto model = rig.script(2);
    model->on(bytesOf("v"), bytesOf("MultiISO 1.0\r\n"));
    ReaderChannel& ch = rig.openChannel(2, EngineType::None);
    EXPECT_EQ(identifyEngine(ch, EngineType(7)), 1);
    EXPECT_EQ(toNumber(ch.engineType), 5);
    EXPECT_EQ(rig.link.calls, std::vector<std::string>{"info 2"});
}

TEST(QueryEngine, CcdAcceptedAnswerEnablesRts) {
    SimRig rig;
    auto model = rig.script(1);
    model->on(ccdFrame("VER"), bytesOf("V1\r"));
    ReaderChannel& ch = rig.openChannel(1, EngineType::CcdLaser);
    EXPECT_EQ(queryEngine(ch, 115200), 1);
    EXPECT_TRUE(rig.port(1).settings().rts);
}

TEST(QueryEngine, RefusedPortRateFailsWithoutSending) {
    SimRig rig;
    rig.ports.faultsFor(1).refusedBauds = {115200};
    auto model = rig.script(1);
    model->onAny(bytesOf("V1\r"));
    ReaderChannel& ch = rig.openChannel(1, EngineType::CcdLaser);
    EXPECT_EQ(queryEngine(ch, 115200), 0);
    EXPECT_TRUE(model->frames.empty());
}

}  // namespace
}  // namespace vandora::testing
