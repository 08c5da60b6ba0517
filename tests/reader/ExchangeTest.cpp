#include "reader/Exchange.h"

#include <gtest/gtest.h>

#include "reader/PortOps.h"
#include "support/SimRig.h"

namespace vandora::testing {
namespace {

using sim::bytesOf;
using sim::withChecksum;
using Bytes = std::vector<std::uint8_t>;

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

ByteString bs(const Bytes& bytes) {
    return ByteString::fromBytes(bytes.data(), bytes.size());
}

const Bytes kAck = withChecksum({0x04, 0xD0, 0x04, 0x03});

TEST(Checksum, IsTheTwosComplementOfTheSumHighByteFirst) {
    ByteString start = bs({0x04, 0xE4, 0x04, 0x00});
    appendChecksum(start);
    EXPECT_EQ(start.bytes(), (Bytes{0x04, 0xE4, 0x04, 0x00, 0xFF, 0x14}));
    EXPECT_EQ(kAck, (Bytes{0x04, 0xD0, 0x04, 0x03, 0xFF, 0x25}));
    ByteString empty;
    appendChecksum(empty);
    EXPECT_EQ(empty.bytes(), (Bytes{0x00, 0x00}));
}

TEST(Exchange, WithReplyAndNoRetriesSendsNothing) {
    SimRig rig;
    auto model = rig.script(1);
    ReaderChannel& ch = rig.openChannel(1, EngineType::CcdLaser);
    ByteString reply;
    EXPECT_EQ(exchange(ch, ByteString("VER"), 1000, &reply, 0), 0);
    EXPECT_TRUE(model->frames.empty());
}

TEST(Exchange, UnframedTypesSendNothing) {
    for (EngineType type : {EngineType::None, EngineType::RfidBinaryLink, EngineType(42)}) {
        SimRig rig;
        auto model = rig.script(1);
        ReaderChannel& ch = rig.openChannel(1, type);
        ByteString reply;
        EXPECT_EQ(exchange(ch, ByteString("X"), 1000, &reply, 3), 0);
        EXPECT_EQ(exchange(ch, ByteString("X"), 1000, nullptr, 1), 0);
        EXPECT_TRUE(model->frames.empty());
    }
}

TEST(Exchange, CcdRefusalRetriesExactlyRetriesTimesWithoutPause) {
    struct Case {
        const char* answer;
        std::int32_t expected;
        std::size_t attempts;
    };
    const Case cases[] = {{"NG\r", 0, 3}, {"NGX\r", 1, 1}, {"\x1BOK\r", 1, 1}};
    for (const Case& c : cases) {
        SimRig rig;
        auto model = rig.script(1);
        model->on(ccdFrame("SET"), bytesOf(c.answer));
        ReaderChannel& ch = rig.openChannel(1, EngineType::CcdLaser);
        ByteString reply;
        EXPECT_EQ(exchange(ch, ByteString("SET"), 500, &reply, 3), c.expected) << c.answer;
        EXPECT_EQ(model->frames.size(), c.attempts) << c.answer;
        if (c.expected == 1) {
            EXPECT_EQ(reply.find(u'\x1B'), ByteString::npos) << "a leading ESC is dropped";
            EXPECT_EQ(reply.find(u'\r'), ByteString::npos);
        }
    }
}

TEST(Exchange, PacketRefusalIsFiveBytesStarting05D10000) {
    struct Case {
        Bytes answer;
        std::int32_t expected;
        std::size_t attempts;
    };
    const Case cases[] = {
        {withChecksum({0x05, 0xD1, 0x00, 0x00, 0x01}), 0, 2},
        {withChecksum({0x05, 0xD1, 0x00, 0x01, 0x01}), 1, 1},
        {withChecksum({0x04, 0xD1, 0x00, 0x00}), 1, 1},
    };
    for (const Case& c : cases) {
        SimRig rig;
        auto model = rig.script(1);
        model->onAny(c.answer);
        ReaderChannel& ch = rig.openChannel(1, EngineType::Imager2D);
        ByteString reply;
        ByteString command = bs({0x04, 0xA3, 0x04, 0x00});
        EXPECT_EQ(exchange(ch, command, 1000, &reply, 2), c.expected);
        ASSERT_EQ(model->frames.size(), c.attempts);
        for (const Bytes& frame : model->frames) {
            EXPECT_EQ(frame, withChecksum({0x04, 0xA3, 0x04, 0x00})) << "one checksum per packet";
        }
        EXPECT_EQ(command.length(), 4u) << "the caller's command is left alone";
    }
}

TEST(Exchange, PacketWriteRaisesAndDropsTheRequestLine) {
    SimRig rig;
    auto model = rig.script(1);
    ReaderChannel& ch = rig.openChannel(1, EngineType::LongRange1D);
    std::uint64_t start = rig.clock.nowMs();
    EXPECT_EQ(exchange(ch, bs({0x04, 0xE4, 0x04, 0x00}), 1000, nullptr, 1), 1);
    EXPECT_EQ(rig.elapsedMs(start), 20u) << "one 10 ms poll each way";
    EXPECT_FALSE(rig.port(1).settings().rts);
    ASSERT_EQ(model->frames.size(), 1u);
    EXPECT_EQ(model->frames[0], withChecksum({0x04, 0xE4, 0x04, 0x00}));
}

TEST(Exchange, PacketSilentEngineCostsTheTimeoutPerAttempt) {
    SimRig rig(DeviceModel::Unknown);
    rig.ports.faultsFor(1).noModemLines = true;
    auto model = rig.script(1);
    ReaderChannel& ch = rig.openChannel(1, EngineType::Imager2D);
    ByteString reply;
    std::uint64_t start = rig.clock.nowMs();
    EXPECT_EQ(exchange(ch, bs({0x04, 0xA3, 0x04, 0x00}), 1000, &reply, 3), 0);
    EXPECT_EQ(rig.elapsedMs(start), 3000u);
    EXPECT_EQ(model->frames.size(), 3u);
}

struct ReplyCase {
    const char* name;
    std::int32_t engineType;
    Bytes stream;
    std::int32_t expected;
    Bytes reply;
};

class ReadReply : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(ReadReply, EndsEachFramingAsItsEngineDoes) {
    const ReplyCase& c = GetParam();
    SimRig rig;
    auto model = rig.script(1);
    model->on(bytesOf("go"), c.stream);
    ReaderChannel& ch = rig.openChannel(1, c.engineType);
    ASSERT_EQ(writeFrame(ch, ByteString("go")), 1);
    ByteString out("stale");
    EXPECT_EQ(readReply(ch, out, 1000, 0), c.expected);
    if (c.expected == 1) {
        EXPECT_EQ(out.bytes(), c.reply);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadReply,
    ::testing::Values(
        ReplyCase{"CcdEndsAtCr", 2, bytesOf("\x1BV1.0\rjunk"), 1, bytesOf("V1.0")},
        ReplyCase{"CcdWithoutCrFails", 2, bytesOf("V1.0"), 0, {}},
        ReplyCase{"AsciiDropsCrLfAndNul", 5, Bytes{'O', 0, 'K', '\r', '\n', 'x'}, 1, bytesOf("OK")},
        ReplyCase{"AsciiWithoutLfFails", 5, bytesOf("OK\r"), 0, {}},
        ReplyCase{"HexEndsWhenQuiet", 6, bytesOf("0A1B"), 1, bytesOf("0A1B")},
        ReplyCase{"PacketKeepsLengthBytesNotChecksum", 3,
                  withChecksum({0x05, 0xC6, 0x00, 0x00, 0x7F}), 1,
                  Bytes{0x05, 0xC6, 0x00, 0x00, 0x7F}},
        ReplyCase{"PacketCutShortFails", 3, Bytes{0x08, 0xC6, 0x00}, 0, {}},
        ReplyCase{"PacketLengthZeroDoesNotUnderflow", 3, Bytes{0x00, 0x01}, 1, Bytes{0x00}},
        ReplyCase{"PacketLengthOne", 9, Bytes{0x01}, 1, Bytes{0x01}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(ReadReply, EndlessOrNulStreamsFailWithBoundedMemory) {
    struct Case {
        std::int32_t type;
        std::uint8_t fill;
    };
    for (Case c : {Case{2, 'A'}, Case{5, 0}, Case{5, 'A'}, Case{6, '0'}}) {
        SimRig rig;
        auto model = rig.script(1);
        model->on(bytesOf("go"), Bytes(kMaxReplyBytes + 10, c.fill));
        ReaderChannel& ch = rig.openChannel(1, c.type);
        ASSERT_EQ(writeFrame(ch, ByteString("go")), 1);
        ByteString out;
        EXPECT_EQ(readReply(ch, out, 1000, 0), 0) << c.type;
        EXPECT_LE(out.length(), kMaxReplyBytes);
    }
}

// Decode reception of the packet engines.
class DecodeTest : public ::testing::Test {
  protected:
    ReaderChannel& start(std::int32_t type, Bytes first) {
        model_ = rig_.script(1);
        model_->on(bytesOf("go"), std::move(first));
        ReaderChannel& ch = rig_.openChannel(1, type);
        EXPECT_EQ(writeFrame(ch, ByteString("go")), 1);
        return ch;
    }
    // Continuation packets, each sent in answer to one acknowledgement.
    void thenOnAck(Bytes packet) { model_->on(kAck, std::move(packet)).uses = 1; }
    std::size_t acks() const {
        std::size_t n = 0;
        for (const Bytes& f : model_->frames) {
            n += f == kAck ? 1 : 0;
        }
        return n;
    }

    SimRig rig_;
    std::shared_ptr<sim::ScriptedModel> model_;
};

TEST_F(DecodeTest, SingleDecodeKeepsCodeTypeAndData) {
    ReaderChannel& ch = start(3, withChecksum({0x08, 0xF3, 0x00, 0x00, 0x0B, 'A', 'B', 'C'}));
    ByteString out;
    EXPECT_EQ(readReply(ch, out, 1000, 1), 1);
    EXPECT_EQ(out.bytes(), (Bytes{0x0B, 'A', 'B', 'C'}));
    EXPECT_EQ(acks(), 0u);
}

TEST_F(DecodeTest, StrayBytesBeforeThePacket) {
    Bytes packet = withChecksum({0x06, 0xF3, 0x00, 0x00, 0x0B, 'Z'});
    struct Case {
        Bytes stray;
        std::int32_t expected;
    };
    for (const Case& c :
         {Case{{}, 1}, Case{{0x11}, 0}, Case{{0x11, 0x22}, 1}, Case{{0x11, 0x22, 0x33}, 0}}) {
        SimRig rig;
        auto model = rig.script(1);
        model->on(bytesOf("go"), concat({c.stray, packet}));
        ReaderChannel& ch = rig.openChannel(1, EngineType::Imager2D);
        writeFrame(ch, ByteString("go"));
        ByteString out;
        EXPECT_EQ(readReply(ch, out, 1000, 1), c.expected) << c.stray.size() << " stray bytes";
        if (c.expected == 1) {
            EXPECT_EQ(out.bytes(), (Bytes{0x0B, 'Z'}));
        }
    }
}

TEST_F(DecodeTest, StatusTwoCollectsContinuationsAndAcknowledgesEach) {
    ReaderChannel& ch = start(8, withChecksum({0x07, 0xF3, 0x00, 0x02, 0x1C, 'a', 'b'}));
    thenOnAck(withChecksum({0x07, 0xF3, 0x00, 0x02, 0x1C, 'c', 'd'}));
    thenOnAck(withChecksum({0x06, 0xF3, 0x00, 0x00, 0x1C, 'e'}));
    ByteString out;
    EXPECT_EQ(readReply(ch, out, 1000, 1), 1);
    EXPECT_EQ(out.bytes(), (Bytes{0x1C, 'a', 'b', 'c', 'd', 'e'}));
    EXPECT_EQ(acks(), 3u);
}

TEST_F(DecodeTest, AfterTheFirstAcknowledgementThePacketsThatCameWholeAreKept) {
    ReaderChannel& ch = start(3, withChecksum({0x07, 0xF3, 0x00, 0x02, 0x1C, 'a', 'b'}));
    thenOnAck(Bytes{0x09, 0xF3, 0x00, 0x00, 0x1C, 'c'});  // cut short
    ByteString out;
    EXPECT_EQ(readReply(ch, out, 1000, 1), 1);
    EXPECT_EQ(out.bytes(), (Bytes{0x1C, 'a', 'b'})) << "a broken packet adds nothing";
}

// A decode read out of step with the engine must never come out as data: every packet's
// checksum is checked, and one that fails it is not delivered.
TEST(DecodeChecksum, APacketWhoseChecksumFailsIsNeverDelivered) {
    auto spoilt = [](Bytes packet) {
        packet.back() ^= 0x01;
        return packet;
    };
    struct Case {
        const char* name;
        std::int32_t type;
        Bytes first;
        Bytes continuation;  // answer to the first acknowledgement, if any
        std::int32_t result;
        Bytes data;
    };
    const Bytes plain = withChecksum({0x08, 0xF3, 0x00, 0x00, 0x0B, 'A', 'B', 'C'});
    const Bytes more = withChecksum({0x07, 0xF3, 0x00, 0x02, 0x1C, 'a', 'b'});
    const Bytes last = withChecksum({0x06, 0xF3, 0x00, 0x00, 0x1C, 'e'});
    const Bytes wrapped = withChecksum({0x0C, 0xF3, 0x00, 0x00, 0x99, 0x31, 1, 2, 3, 4, 'x', 'y'});
    const Bytes laser = withChecksum({0x0C, 0xF3, 0x00, 0x00, 0x99, 0x0A, 0x77, 'a', 0, 9, 9, 'b'});
    const Case cases[] = {
        {"plain whole", 3, plain, {}, 1, {0x0B, 'A', 'B', 'C'}},
        {"plain spoilt", 3, spoilt(plain), {}, 0, {}},
        // The quick-release fault: the length byte was taken by another read, so the opcode is
        // seen as the length and the code type as data.
        {"plain missing its length byte", 3, Bytes(plain.begin() + 1, plain.end()), {}, 0, {}},
        {"without checksum", 3, Bytes(plain.begin(), plain.end() - 2), {}, 0, {}},
        {"continuation spoilt", 8, more, spoilt(last), 1, {0x1C, 'a', 'b'}},
        {"wrapped imager spoilt", 3, spoilt(wrapped), {}, 0, {}},
        {"wrapped imager continuation spoilt",
         3,
         wrapped,
         spoilt(withChecksum({0x06, 0xF3, 0x00, 0x00, 0x31, '!'})),
         0,
         {}},
        {"wrapped laser spoilt", 4, spoilt(laser), {}, 0, {}},
        {"wrapped laser whole", 4, laser, {}, 1, {0x0A, 'a', 'b'}},
    };
    for (const Case& c : cases) {
        SimRig rig;
        auto model = rig.script(1);
        model->on(bytesOf("go"), c.first);
        if (!c.continuation.empty()) {
            model->on(kAck, c.continuation).uses = 1;
        }
        ReaderChannel& ch = rig.openChannel(1, c.type);
        writeFrame(ch, ByteString("go"));
        ByteString out;
        EXPECT_EQ(readReply(ch, out, 1000, 1), c.result) << c.name;
        EXPECT_EQ(out.bytes(), c.data) << c.name;
    }
}

TEST_F(DecodeTest, BreakOffInsideTheFirstPacketFails) {
    ReaderChannel& ch = start(3, Bytes{0x0A, 0xF3, 0x00, 0x00, 0x1C, 'a'});
    ByteString out;
    EXPECT_EQ(readReply(ch, out, 1000, 1), 0);
}

TEST_F(DecodeTest, WrappedImagerDecodeSkipsItsHeaderAndFollowsContinuations) {
    // length 12: F3, source, status, 99, type, four dropped, two data bytes
    ReaderChannel& ch =
        start(3, withChecksum({0x0C, 0xF3, 0x00, 0x00, 0x99, 0x31, 1, 2, 3, 4, 'x', 'y'}));
    thenOnAck(withChecksum({0x07, 0xF3, 0x00, 0x01, 0x31, 'z', 'w'}));
    thenOnAck(withChecksum({0x06, 0xF3, 0x00, 0x00, 0x31, '!'}));
    ByteString out;
    EXPECT_EQ(readReply(ch, out, 1000, 1), 1);
    EXPECT_EQ(out.bytes(), (Bytes{0x31, 'x', 'y', 'z', 'w', '!'}));
    EXPECT_EQ(acks(), 2u);
}

TEST_F(DecodeTest, WrappedImagerDecodeEndsWhenTheEngineGoesQuiet) {
    ReaderChannel& ch =
        start(8, withChecksum({0x0B, 0xF3, 0x00, 0x00, 0x99, 0x31, 1, 2, 3, 4, 'x'}));
    ByteString out;
    EXPECT_EQ(readReply(ch, out, 1000, 1), 1);
    EXPECT_EQ(out.bytes(), (Bytes{0x31, 'x'}));
}

TEST_F(DecodeTest, WrappedLaserDecodeDropsZeroEscapes) {
    // length 12: remaining 5 = 'a', 0 x x (three), 'b'
    ReaderChannel& ch =
        start(4, withChecksum({0x0C, 0xF3, 0x00, 0x00, 0x99, 0x0A, 0x77, 'a', 0, 9, 9, 'b'}));
    ByteString out;
    EXPECT_EQ(readReply(ch, out, 1000, 1), 1);
    EXPECT_EQ(out.bytes(), (Bytes{0x0A, 'a', 'b'}));
    EXPECT_EQ(acks(), 0u);
}

TEST_F(DecodeTest, ShortLengthsNeverUnderflow) {
    for (std::uint8_t length : {0, 1, 4, 5, 6}) {
        for (std::int32_t type : {3, 4}) {
            SimRig rig;
            auto model = rig.script(1);
            model->on(bytesOf("go"), Bytes{length, 0xF3, 0x00, 0x00, 0x99, 0x01, 0x02});
            ReaderChannel& ch = rig.openChannel(1, type);
            writeFrame(ch, ByteString("go"));
            ByteString out;
            std::uint64_t start = rig.clock.nowMs();
            readReply(ch, out, 1000, 1);
            EXPECT_LE(out.length(), 8u);
            EXPECT_LE(rig.elapsedMs(start), 4000u);
        }
    }
}

// Image reception.
TEST(ReceiveImage, FirstPacketOfTenBytesOrFewerFails) {
    SimRig rig;
    auto model = rig.script(1);
    // length 14: B1, source, status, ten header bytes
    model->on(bytesOf("go"), withChecksum({0x0E, 0xB1, 0, 0, 0, 0, 0, 20, 0, 0, 0, 0, 0, 0}));
    ReaderChannel& ch = rig.openChannel(1, EngineType::Imager2D);
    writeFrame(ch, ByteString("go"));
    EXPECT_EQ(receiveImage(ch, nullptr), 0);
}

TEST(ReceiveImage, EndsWhenTheAnnouncedSizeIsInAndFailsWhenCutShort) {
    // header: total size (big-endian), six more header bytes, then the first data bytes
    const Bytes first = withChecksum({0x10, 0xB1, 0, 0, 0, 0, 0, 6, 9, 9, 9, 9, 9, 9, 'a', 'b'});
    const Bytes refusal = withChecksum({0x05, 0xD1, 0x04, 0x00, 0x01});
    struct Case {
        const char* name;
        Bytes second;  // answer to the first acknowledgement; empty: silence
        std::int32_t expected;
        std::vector<Bytes> frames;
    };
    const Case cases[] = {
        // Whole after one acknowledgement: no refusal time-outs are waited out, and the last
        // packet is acknowledged as well.
        {"Complete",
         withChecksum({0x08, 0xB1, 0, 0, 'c', 'd', 'e', 'f'}),
         1,
         {bytesOf("go"), kAck, kAck}},
        // The engine stops: five refusals go unanswered and the picture is no picture.
        {"CutShort",
         withChecksum({0x06, 0xB1, 0, 0, 'c', 'd'}),
         0,
         {bytesOf("go"), kAck, kAck, refusal, refusal, refusal, refusal, refusal}},
        // A packet whose checksum is wrong is asked for again, never kept.
        {"BadChecksumRefusedThenSilence",
         {0x08, 0xB1, 0, 0, 'c', 'd', 'e', 'f', 0, 0},
         0,
         {bytesOf("go"), kAck, refusal, refusal, refusal, refusal, refusal}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimRig rig;
        auto model = rig.script(1);
        model->on(bytesOf("go"), first);
        if (!c.second.empty()) {
            model->on(kAck, c.second).uses = 1;
        }
        ReaderChannel& ch = rig.openChannel(1, EngineType::Imager2D);
        writeFrame(ch, ByteString("go"));
        std::vector<int> progress;
        EXPECT_EQ(receiveImage(ch, [&](int p) { progress.push_back(p); }), c.expected);
        EXPECT_EQ(model->frames, c.frames);
        if (c.expected == 1) {
            EXPECT_EQ(ch.decodeData.bytes(), bytesOf("abcdef"));
            EXPECT_TRUE(progress.empty()) << "100 percent is the caller's to show";
        }
    }
}

TEST(ReceiveImage, StreamWithoutImageStartFailsBounded) {
    SimRig rig;
    auto model = rig.script(1);
    model->on(bytesOf("go"), Bytes(kMaxReplyBytes + 100, 0x42));
    ReaderChannel& ch = rig.openChannel(1, EngineType::Imager2D);
    writeFrame(ch, ByteString("go"));
    EXPECT_EQ(receiveImage(ch, nullptr), 0);
}

TEST(ReceiveImage, SizeFieldIsNotBelievedBeyondAnyPicture) {
    for (Bytes header : {Bytes{0, 0, 0, 0}, Bytes{0xFF, 0xFF, 0xFF, 0xFF}}) {
        SimRig rig;
        auto model = rig.script(1);
        Bytes packet = {0x0F, 0xB1, 0, 0};
        packet.insert(packet.end(), header.begin(), header.end());
        packet.insert(packet.end(), {9, 9, 9, 9, 9, 9, 'a'});
        model->on(bytesOf("go"), withChecksum(packet));
        model->on(kAck, withChecksum({0x05, 0xB1, 0, 0, 'b'}));
        ReaderChannel& ch = rig.openChannel(1, EngineType::Imager2D);
        writeFrame(ch, ByteString("go"));
        EXPECT_EQ(receiveImage(ch, nullptr), 0);
    }
}

TEST(ExchangeFirmware, RetriesRefusalsAndSilenceWithOneSecondPause) {
    struct Case {
        const char* name;
        std::int32_t type;
        std::vector<Bytes> answers;  // per attempt; empty = silent
        std::int32_t expected;
        std::size_t writes;
        std::uint64_t pausesMs;
    };
    const Bytes ok = {0x06, 0x03, 0xAA, 0xBB, 0xCC, 0xDD};  // first, N=3, two more, checksum
    // A refusal in this framing: 05, N = D1, then N - 1 more bytes starting 00 00, two dropped.
    Bytes refused = {0x05, 0xD1};
    refused.resize(2 + 0xD0 + 2, 0x00);
    const Case cases[] = {
        {"AcceptsFirst", 3, {ok}, 1, 1, 0},
        {"RefusedThenOk", 8, {refused, ok}, 1, 2, 1000},
        {"SilentAlways", 3, {}, 0, 3, 3000},
        {"NotAnImager", 4, {ok}, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SimRig rig;
        auto model = rig.script(1);
        for (const Bytes& a : c.answers) {
            model->onAny(a).uses = 1;
        }
        ReaderChannel& ch = rig.openChannel(1, c.type);
        ByteString reply;
        std::uint64_t start = rig.clock.nowMs();
        EXPECT_EQ(exchangeFirmware(ch, bs({0x01, 0x02}), 500, &reply, 3), c.expected) << c.name;
        EXPECT_EQ(model->frames.size(), c.writes) << c.name;
        std::uint64_t silentWaits = c.answers.empty() ? 3 * 500 : 0;
        // Pauses plus the bytes' own time on the line.
        EXPECT_GE(rig.elapsedMs(start) - silentWaits, c.pausesMs) << c.name;
        EXPECT_LT(rig.elapsedMs(start) - silentWaits, c.pausesMs + 300) << c.name;
    }
}

}  // namespace
}  // namespace vandora::testing
