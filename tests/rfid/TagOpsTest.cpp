// Tag reads and writes on the three module kinds against simulated tags, in virtual time: the
// letter and hexadecimal modules through their simulators on port 2, the binary link through a
// stand-in over the same tags. Wire traffic is checked where the order or form of the commands
// is the behaviour.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "FieldLink.h"
#include "engines/RfidModels.h"
#include "reader/PortOps.h"
#include "reader/Scan.h"
#include "rfid/RfidTag.h"
#include "rfid/TagChannel.h"
#include "rfid/TagOps.h"
#include "support/ReadyEngine.h"
#include "support/SimRig.h"

namespace vandora {
namespace {

using testing::FieldLink;
using testing::SimRig;
using Bytes = std::vector<std::uint8_t>;

const char* const kKeyText = "3C5A9E71B2D4";  // sim::defaultSampleKey() in hexadecimal

ByteString byteString(const Bytes& b) {
    return ByteString::fromBytes(b.data(), b.size());
}

Bytes bytesOf(const ByteString& s) {
    return s.bytes();
}

std::string hex(const Bytes& b) {
    return bytesToHex(byteString(b)).narrow();
}

// count bytes of a tag from the start of a block, over its data blocks (Mifare trailers left out).
Bytes tagBytes(const sim::SimTag& tag, std::size_t block, std::size_t count) {
    Bytes out;
    for (std::size_t b = block; out.size() < count && b < tag.blocks.size(); ++b) {
        if (tag.kind == sim::TagKind::Mifare1K && b % 4 == 3) {
            continue;
        }
        out.insert(out.end(), tag.blocks[b].begin(), tag.blocks[b].end());
    }
    out.resize(std::min(out.size(), count));
    return out;
}

sim::SimTag isoTag(std::uint8_t maker, bool needsOption = false) {
    return sim::iso15693({0xE0, maker, 0x01, 0x50, 0x12, 0x34, 0x56, 0x78}, needsOption);
}

sim::SimTag mifareTag() {
    return sim::mifare1k({0x5A, 0x31, 0xC2, 0x07}, sim::defaultSampleKey(),
                         sim::defaultSampleKey());
}

// The commands a module heard after the first `seen`, which moves on past them.
std::vector<std::string> heardSince(const sim::EngineSim& model, std::size_t& seen) {
    std::vector<std::string> all = model.commandTexts();
    std::vector<std::string> fresh(all.begin() + static_cast<std::ptrdiff_t>(seen), all.end());
    seen = all.size();
    return fresh;
}

// The letter module on port 2, ready as after start-up (port closed, each read opens it).
struct LetterBench {
    explicit LetterBench(int variant = 1) : ready(5, DeviceModel::Unknown, optionsOf(variant)) {}
    // Commands heard since the last call.
    std::vector<std::string> heard() { return heardSince(*model, seen_); }
    testing::ReadyEngine ready;
    testing::BasicSimRig<testing::OwnerClock>& rig = ready.rig;
    std::shared_ptr<sim::RfidAsciiModel> model =
        std::static_pointer_cast<sim::RfidAsciiModel>(ready.model);

  private:
    static sim::SimOptions optionsOf(int variant) {
        sim::SimOptions options;
        options.variant = variant;
        return options;
    }
    std::size_t seen_ = ready.readyFrames;
};

// The hexadecimal module on port 2 with its port open at its working rate. Set by hand: the start
// would also run the idle listener, which takes the activity signal these tests look at.
struct HexBench {
    HexBench() {
        model = std::static_pointer_cast<sim::RfidHexModel>(rig.engine(2, 6));
        ReaderChannel& ch = rig.openChannel(2, EngineType::RfidHex);
        setBaudRate(ch, 115200);
        ch.rfidVariant = 2;
        rig.manager->rfidReady = 1;
    }
    std::vector<std::string> heard() { return heardSince(*model, seen_); }
    SimRig rig;
    std::shared_ptr<sim::RfidHexModel> model;

  private:
    std::size_t seen_ = 0;
};

// The binary link's module kind, through the stand-in.
struct LinkBench {
    LinkBench() : rig(DeviceModel::HRT400CE, &link) {
        ReaderChannel& ch = rig.manager->rfid;
        ch.port = 2;
        ch.engineType = EngineType::RfidBinaryLink;
        rig.manager->rfidReady = 1;
    }
    FieldLink link;
    SimRig rig;
};

// --- round trips --------------------------------------------------------------------------

struct RoundTrip {
    const char* name;
    sim::SimTag tag;
    std::int32_t code;   // as read
    std::size_t first;   // default first block
    std::int32_t wrote;  // code after the write
};

// Reads 10 bytes of the default page, writes 6 new bytes there, reads them back, and checks the
// tag's memory.
template <class Bench>
void roundTrip(Bench& bench, sim::TagField& field, const RoundTrip& c) {
    SCOPED_TRACE(c.name);
    field.clear();
    field.place(c.tag);
    ReaderManager& manager = *bench.rig.manager;
    TagRead read;
    ASSERT_EQ(readTag(manager, -1, 10, kKeyText, 0, read), 1) << manager.rfid.lastError;
    EXPECT_EQ(read.codeTypeId, c.code);
    EXPECT_EQ(read.uid.narrow(), hex(c.tag.uid));
    EXPECT_EQ(bytesOf(read.userData), tagBytes(c.tag, c.first, 10));

    const Bytes data{0xA1, 0x00, 0xB2, 0xC3, 0xD4, 0xE5};
    ASSERT_EQ(writeTag(manager, -1, byteString(data), kKeyText, 0), 6) << manager.rfid.lastError;
    EXPECT_EQ(manager.rfid.codeTypeId, c.wrote);
    Bytes expected = tagBytes(c.tag, c.first, 10);
    std::copy(data.begin(), data.end(), expected.begin());
    EXPECT_EQ(tagBytes(field.at(0), c.first, 10), expected) << "the tag's memory";
    ASSERT_EQ(readTag(manager, -1, 10, kKeyText, 0, read), 1);
    EXPECT_EQ(bytesOf(read.userData), expected);
    EXPECT_EQ(manager.rfid.channelLock.count(), 1u);
}

TEST(RoundTrips, LetterModuleReadsAndWritesEveryTagKind) {
    const RoundTrip cases[] = {
        {"Mifare 1K", mifareTag(), 3, 4, 3},
        {"Ultralight", sim::ultralight({0x04, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}), 2, 4, 2},
        {"SR176", sim::sr176({0xD0, 0x02, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}), 6, 4, 6},
        {"SRIX4K, told by its 4-byte block 0", sim::srix4k({0xD0, 2, 0x1A, 0x2B, 0x3C, 0x4D, 5, 6}),
         7, 7, 7},
        {"Tag-it", sim::tagIt({0x81, 0x22, 0x33, 0x44}), 8, 0, 8},
        {"ISO 15693 Philips", isoTag(0x04), 10, 0, 10},
        {"ISO 15693 Texas Instrument", isoTag(0x07, true), 13, 0, 13},
        {"ISO 15693 other maker", isoTag(0x33), 16, 0, 16},
    };
    for (int variant : {0, 1}) {
        LetterBench bench(variant);
        for (const RoundTrip& c : cases) {
            roundTrip(bench, bench.model->field, c);
        }
    }
}

TEST(RoundTrips, HexModuleReadsAndWritesTagItAndIso15693) {
    const RoundTrip cases[] = {
        {"Tag-it", sim::tagIt({0x81, 0x22, 0x33, 0x44}), 8, 0, 8},
        {"ISO 15693", isoTag(0x04), 16, 0, 16},
        // The write without the option flag is refused; the retry with it names the maker.
        {"ISO 15693 needing the option flag", isoTag(0x07, true), 16, 0, 13},
    };
    HexBench bench;
    for (const RoundTrip& c : cases) {
        roundTrip(bench, bench.model->field, c);
    }
}

TEST(RoundTrips, BinaryLinkReadsAndWritesItsTagKinds) {
    const RoundTrip cases[] = {
        {"Mifare 1K", mifareTag(), 3, 4, 3},
        {"Ultralight", sim::ultralight({0x04, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}), 2, 4, 2},
        {"SR176", sim::sr176({0xD0, 0x02, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}), 6, 4, 6},
        {"SRIX4K", sim::srix4k({0xD0, 2, 0x1A, 0x2B, 0x3C, 0x4D, 5, 6}), 7, 7, 7},
        {"ISO 15693 Philips", isoTag(0x04), 10, 0, 10},
        {"ISO 15693 Texas Instrument", isoTag(0x07, true), 13, 0, 13},
        {"ISO 15693 other maker", isoTag(0x33), 16, 0, 16},
    };
    LinkBench bench;
    for (const RoundTrip& c : cases) {
        roundTrip(bench, bench.link.field, c);
    }
}

// --- Mifare keys --------------------------------------------------------------------------

const sim::MifareKey kNewKeyA{0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
const sim::MifareKey kNewKeyB{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5};

TEST(MifareKeys, LetterModuleChangesKeysByWritingTheTrailer) {
    LetterBench bench;
    bench.model->field.place(mifareTag());
    ReaderManager& manager = *bench.rig.manager;
    Bytes trailer(kNewKeyA.begin(), kNewKeyA.end());
    trailer.insert(trailer.end(), {0xFF, 0x07, 0x80, 0x69});
    trailer.insert(trailer.end(), kNewKeyB.begin(), kNewKeyB.end());
    // Byte 112 is block 7, the trailer of sector 1: written like any block from a byte number.
    ASSERT_EQ(writeTag(manager, 112, byteString(trailer), kKeyText, 0), 16);
    bench.heard();

    TagRead read;
    ASSERT_EQ(readTag(manager, -1, 16, "112233445566", 0, read), 1);
    EXPECT_EQ(bytesOf(read.userData), tagBytes(bench.model->field.at(0), 4, 16));
    ASSERT_EQ(readTag(manager, -1, 16, "BBA0A1A2A3A4A5", 0, read), 1) << "key B, given whole";
    EXPECT_EQ(read.userData.length(), 16u);
    bench.heard();
    ASSERT_EQ(readTag(manager, -1, 16, kKeyText, 0, read), 1) << "the tag is still found";
    EXPECT_TRUE(read.userData.empty()) << "the old key is refused";
    EXPECT_EQ(manager.rfid.lastError, 30003u);
    EXPECT_EQ(bench.heard(), (std::vector<std::string>{"s", "l01AA3C5A9E71B2D4"}));
}

TEST(MifareKeys, BinaryLinkChangesKeysWithTheKeyCommand) {
    LinkBench bench;
    bench.link.field.place(mifareTag());
    ReaderManager& manager = *bench.rig.manager;
    sim::MifareKey old = sim::defaultSampleKey();
    ASSERT_EQ(writeMifareKeys(manager, 0, 1, old, kNewKeyA, kNewKeyB), 1);
    EXPECT_EQ(bench.link.calls,
              (std::vector<std::string>{"select 65", "requestA", "mifareWriteKeys 1"}));
    const Bytes& t = bench.link.field.at(0).blocks[7];
    EXPECT_EQ(Bytes(t.begin() + 6, t.begin() + 10), (Bytes{0xFF, 0x07, 0x80, 0x69}));

    TagRead read;
    ASSERT_EQ(readTag(manager, -1, 16, "112233445566", 0, read), 1);
    EXPECT_EQ(read.codeTypeName.narrow(), "ISO14443 Type A, Mifare S50");
    EXPECT_EQ(bytesOf(read.userData), tagBytes(bench.link.field.at(0), 4, 16));
    ASSERT_EQ(readTag(manager, -1, 16, "A0A1A2A3A4A5", 1, read), 1);
    EXPECT_EQ(read.userData.length(), 16u);
    ASSERT_EQ(readTag(manager, -1, 16, kKeyText, 0, read), 1);
    EXPECT_TRUE(read.userData.empty()) << "the old key is refused";
    EXPECT_EQ(writeMifareKeys(manager, 0, 1, old, kNewKeyA, kNewKeyB), 0);
}

TEST(MifareKeys, OnlyTheBinaryLinkChangesKeys) {
    FieldLink link;
    link.field.place(mifareTag());
    SimRig rig(DeviceModel::HRT400CE, &link);
    rig.manager->rfid.engineType = EngineType::RfidAscii;
    sim::MifareKey key = sim::defaultSampleKey();
    EXPECT_EQ(writeMifareKeys(*rig.manager, 0, 1, key, key, key), 0);
    EXPECT_TRUE(link.calls.empty());
}

// --- letter module on the wire ------------------------------------------------------------

TEST(LetterWire, MifareReadsLogInOncePerSectorAndPassOverTrailers) {
    struct Case {
        std::int32_t start;
        std::int32_t length;
        std::vector<std::string> commands;
        Bytes data;
    };
    sim::SimTag tag = mifareTag();
    Bytes block4 = tag.blocks[4];
    Bytes block5(tag.blocks[5].begin(), tag.blocks[5].begin() + 4);
    const std::string login1 = "l01AA3C5A9E71B2D4";
    const std::string login2 = "l02AA3C5A9E71B2D4";
    const Case cases[] = {
        {-1, 20, {"s", login1, "rb04", "rb05"}, tagBytes(tag, 4, 20)},
        {-1, 48, {"s", login1, "rb04", "rb05", "rb06"}, tagBytes(tag, 4, 48)},
        {-1, 64, {"s", login1, "rb04", "rb05", "rb06", login2, "rb08"}, tagBytes(tag, 4, 64)},
        // From a byte number the trailer is read like any block (its key A reads as zeros).
        {100, 16, {"s", login1, "rb06", "rb07"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        LetterBench bench;
        bench.model->field.place(tag);
        TagRead read;
        ASSERT_EQ(readTag(*bench.rig.manager, c.start, c.length, kKeyText, 0, read), 1);
        EXPECT_EQ(bench.heard(), c.commands);
        if (!c.data.empty()) {
            EXPECT_EQ(bytesOf(read.userData), c.data);
        } else {
            EXPECT_EQ(read.userData.length(), 16u);
        }
    }
}

TEST(LetterWire, KeyTextsBecomeTheLoginKeyPart) {
    struct Case {
        const char* keyText;
        std::int32_t keyType;
        const char* login;
    };
    const Case cases[] = {
        {"3C5A9E71B2D4", 0, "l01AA3C5A9E71B2D4"},
        {"3C5A9E71B2D4", 1, "l01BB3C5A9E71B2D4"},
        {"BB3C5A9E71B2D4", 0, "l01BB3C5A9E71B2D4"},  // 14 characters: as given
    };
    for (const Case& c : cases) {
        LetterBench bench;
        bench.model->field.place(mifareTag());
        TagRead read;
        ASSERT_EQ(readTag(*bench.rig.manager, -1, 4, c.keyText, c.keyType, read), 1);
        EXPECT_EQ(bench.heard().at(1), c.login);
    }
}

TEST(LetterWire, WritesSendWholeBlocksMergedAtTheEnds) {
    struct Case {
        const char* name;
        sim::SimTag tag;
        int variant;
        std::int32_t start;
        Bytes data;
        std::vector<std::string> writes;  // the write commands, in order
        std::int32_t count;
    };
    sim::SimTag iso = isoTag(0x33);
    sim::SimTag ul = sim::ultralight({0x04, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC});
    const Case cases[] = {
        {"6 bytes at byte 2 of 4-byte blocks",
         iso,
         1,
         2,
         {1, 2, 3, 4, 5, 6},
         {"wb00" + hex({0x00, 0x01, 0x01, 0x02}), "wb01" + hex({0x03, 0x04, 0x05, 0x06})},
         6},
        {"older dialect",
         iso,
         0,
         2,
         {1, 2, 3, 4, 5, 6},
         {"w00" + hex({0x00, 0x01, 0x01, 0x02}), "w01" + hex({0x03, 0x04, 0x05, 0x06})},
         6},
        // A page read gives four pages; only the page goes back.
        {"Ultralight page", ul, 1, -1, {0xEE}, {"wb04" + hex({0xEE, 0x11, 0x12, 0x13})}, 1},
        {"start beyond the tag", iso, 1, 256, {1}, {}, 0},
        {"length past the tag is cut", iso, 1, 252, {1, 2, 3, 4, 5, 6}, {"wb3f01020304"}, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LetterBench bench(c.variant);
        bench.model->field.place(c.tag);
        EXPECT_EQ(writeTag(*bench.rig.manager, c.start, byteString(c.data), kKeyText, 0), c.count);
        std::vector<std::string> writes;
        for (const std::string& t : bench.heard()) {
            if (t[0] == 'w') {
                writes.push_back(t);
            }
        }
        EXPECT_EQ(writes, c.writes);
        EXPECT_FALSE(bench.rig.manager->rfid.isOpen()) << "the port closes after the write";
    }
}

TEST(LetterWire, ErrorAnswersAndAnswerForms) {
    struct Case {
        const char* name;
        sim::SimTag tag;
        const char* forcedPrefix;  // null: none
        const char* forced;
        std::int32_t result;
        std::uint32_t error;
        std::int32_t code;
        const char* uid;
        const char* typeName;
    };
    const Case cases[] = {
        {"unreadable block: tag found, no data", isoTag(0x04), "rb00", "R\r\n", 1, 30005, 10,
         "E004015012345678", "ISO15693, Philips Semiconductors"},
        {"no tag", isoTag(0x04), "s", "N\r\n", 0, 30002, 0, "", ""},
        {"unknown letter", isoTag(0x04), "s", "X\r\n", 0, 30011, 0, "", ""},
        {"7-byte Mifare UID is an Ultralight", isoTag(0x04), "s", "M04123456789ABC\r\n", 1, 0, 2,
         "04123456789ABC", "ISO14443 Type A, Mifare Ultralight"},
        {"my-d IC", isoTag(0x04), "s", "M0102030405060708\r\n", 1, 0, 4, "0102030405060708",
         "ISO 14443 Type A, Infineon SLE55Rxx, my-d IC"},
        {"Texas Instrument", isoTag(0x04), "s", "VE0070000AABBCCDD\r\n", 1, 0, 13,
         "E0070000AABBCCDD", "ISO15693, Texas Instrument"},
        {"ISO answer too short to name", isoTag(0x04), "s", "VE0\r\n", 1, 0, 0, "VE0", ""},
        {"unknown family letter", isoTag(0x04), "s", "Q1234\r\n", 1, 0, 0, "1234", "unkonwn"},
        {"UID of an odd number of digits", isoTag(0x04), "s", "MA1B2C3D\r\n", 0, 30011, 0, "", ""},
        {"odd ISO UID", isoTag(0x04), "s", "VE004015012345678A\r\n", 0, 30011, 0, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LetterBench bench;
        bench.model->field.place(c.tag);
        if (c.forcedPrefix != nullptr) {
            std::string p = c.forcedPrefix;
            std::string f = c.forced;
            bench.model->forcedAnswers.push_back(
                {Bytes(p.begin(), p.end()), Bytes(f.begin(), f.end()), 1});
        }
        ReaderChannel& ch = bench.rig.manager->rfid;
        ch.lastError = 0;
        TagRead read;
        EXPECT_EQ(readTag(*bench.rig.manager, -1, 4, kKeyText, 0, read), c.result);
        EXPECT_EQ(ch.lastError, c.error);
        EXPECT_EQ(read.codeTypeId, c.code);
        EXPECT_EQ(read.uid.narrow(), c.uid);
        EXPECT_EQ(read.codeTypeName.narrow(), c.typeName);
    }
}

TEST(LetterWire, LengthZeroFindsTheTagWithoutReadingIt) {
    LetterBench bench;
    bench.model->field.place(isoTag(0x04));
    TagRead read;
    ASSERT_EQ(readTag(*bench.rig.manager, -1, 0, kKeyText, 0, read), 1);
    EXPECT_TRUE(read.userData.empty());
    EXPECT_EQ(bench.heard(), std::vector<std::string>{"s"});
    bench.rig.manager->rfidReady = 0;
    EXPECT_EQ(readTag(*bench.rig.manager, -1, 4, kKeyText, 0, read), 0);
    EXPECT_TRUE(bench.heard().empty());
}

// --- hexadecimal module on the wire -------------------------------------------------------

const char* const kSelect16 = "010C00030410002101000000";
const char* const kSelect3 = "010C00030410002101090000";
const char* const kSelect8 = "010C00030410002101130000";
const char* const kSelect5 = "010C000304100021010C0000";
const char* const kDetect16 = "010B000304140401000000";
const char* const kDetect3 = "0109000304A0010000";
const char* const kDetect8 = "010B000304340050000000";
const char* const kDetect5 = "0109000304B0040000";

TEST(HexWire, FamiliesAreTriedInOrderAndTheLastFoundComesFirst) {
    HexBench bench;
    bench.model->field.place(sim::sr176({0xD0, 0x02, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}));
    ReaderManager& manager = *bench.rig.manager;
    std::uint64_t start = bench.rig.clock.nowMs();
    TagRead read;
    ASSERT_EQ(readTag(manager, -1, 4, "", 0, read), 1);
    EXPECT_EQ(bench.heard(), (std::vector<std::string>{kSelect16, kDetect16, kDetect16, kSelect3,
                                                       kDetect3, kDetect3, kSelect8, kDetect8,
                                                       kDetect8, kSelect5, kDetect5}));
    EXPECT_GE(bench.rig.elapsedMs(start), 600u) << "100 ms after each of the six misses";
    EXPECT_EQ(read.codeTypeId, 5);
    EXPECT_EQ(read.codeTypeName.narrow(), "ISO14443, Type B");
    EXPECT_EQ(read.uid.narrow(), "D0023344");
    EXPECT_TRUE(read.userData.empty()) << "type B is not read on this module";
    EXPECT_EQ(tagState(manager.rfid).activity.count(), 1u);

    ASSERT_EQ(readTag(manager, -1, 4, "", 0, read), 1);
    EXPECT_EQ(bench.heard(), std::vector<std::string>{kDetect5});

    bench.model->field.clear();
    EXPECT_EQ(readTag(manager, -1, 4, "", 0, read), 0);
    EXPECT_EQ(manager.rfid.lastError, 30002u);
    EXPECT_EQ(manager.rfid.channelLock.count(), 1u);
}

TEST(HexWire, TagItReadsStopAtTheTagsBlockCount) {
    HexBench bench;
    bench.model->field.place(sim::tagIt({0x81, 0x22, 0x33, 0x44}, 4));
    tagState(bench.rig.manager->rfid).tagType = 8;
    TagRead read;
    ASSERT_EQ(readTag(*bench.rig.manager, 8, 16, "", 0, read), 1);
    EXPECT_EQ(bench.heard(), (std::vector<std::string>{kDetect8, "010B000304180008020000",
                                                       "010B000304180008030000"}));
    EXPECT_EQ(bytesOf(read.userData), tagBytes(bench.model->field.at(0), 2, 8));
}

TEST(HexWire, TheOptionFlagWriteIsTriedOnlyAfterARefusal) {
    HexBench bench;
    bench.model->field.place(isoTag(0x07, true));
    ReaderManager& manager = *bench.rig.manager;
    ASSERT_EQ(writeTag(manager, 0, byteString({1, 2, 3, 4}), "", 0), 4);
    std::vector<std::string> heard = bench.heard();
    ASSERT_GE(heard.size(), 2u);
    EXPECT_EQ(heard[heard.size() - 2],
              "010F0003041800210001020304"
              "0000");
    EXPECT_EQ(heard.back(),
              "010F0003041840210001020304"
              "0000");
    EXPECT_EQ(manager.rfid.codeTypeId, 13);

    // A block the tag refuses: the write fails.
    bench.model->field.at(0).blocks.resize(1);
    EXPECT_EQ(writeTag(manager, 4, byteString({1, 2, 3, 4}), "", 0), 0);
}

TEST(HexWire, ErrorFlaggedBlockFailsTheWholeRead) {
    HexBench bench;
    sim::SimTag tag = isoTag(0x04);
    tag.blocks.resize(1);  // block 1 answers with the error flag
    bench.model->field.place(tag);
    TagRead read;
    ASSERT_EQ(readTag(*bench.rig.manager, 0, 8, "", 0, read), 1) << "the tag is still found";
    EXPECT_TRUE(read.userData.empty());
    ASSERT_EQ(readTag(*bench.rig.manager, 0, 4, "", 0, read), 1);
    EXPECT_EQ(bytesOf(read.userData), tag.blocks[0]);
}

TEST(HexWire, UnusableDetectionAnswersAreNoTag) {
    struct Case {
        const char* answer;
        std::int32_t tagType;
        std::uint32_t error;
    };
    // An ISO 15693 UID that is not 8 bytes is no tag, without an error code.
    const Case cases[] = {{"[08]", 3, 30002}, {"[0]", 3, 30002},     {"garbage", 3, 30002},
                          {"[]", 8, 30002},   {"[,][,]", 16, 30002}, {"[,][123,3A]", 16, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        SimRig rig;
        auto model = rig.script(2);
        model->onAny(Bytes(c.answer, c.answer + std::char_traits<char>::length(c.answer)));
        ReaderChannel& ch = rig.openChannel(2, EngineType::RfidHex);
        tagState(ch).tagType = c.tagType;
        tagState(ch).readLength = 4;
        ch.lastError = 0;
        ASSERT_EQ(setTrigger(ch, 1), 1);
        EXPECT_EQ(awaitDecode(ch, rig.manager->ccdHostOptions()), 0);
        EXPECT_EQ(ch.lastError, c.error);
        EXPECT_TRUE(tagState(ch).userData.empty());
    }
}

// An RFID set-up that fails, as a module that does not take its set-up frames.
class FailingSetup final : public EngineSetup {
  public:
    std::int32_t applySettings(ReaderManager&, ReaderChannel&) override { return 0; }
};

TEST(HexWire, AFailedReopenLetsTheLockGoOnce) {
    SimRig rig;
    rig.engine(2, 6);
    FailingSetup setup;
    ReaderManager manager(rig.platform, &setup);
    manager.rfid.port = 2;
    manager.rfid.engineType = EngineType::RfidHex;
    manager.rfid.baudRate = 115200;
    manager.rfidReady = 1;
    TagRead read;
    EXPECT_EQ(readTag(manager, -1, 4, "", 0, read), 0);
    EXPECT_EQ(manager.rfid.channelLock.count(), 1u);
    EXPECT_EQ(readTag(manager, -1, 4, "", 0, read), 0) << "a later read is not blocked";
    EXPECT_EQ(manager.rfid.channelLock.count(), 1u);
}

// --- binary link --------------------------------------------------------------------------

TEST(LinkDetection, FamiliesInOrderFromTheFirstEachTime) {
    LinkBench bench;
    bench.link.field.place(mifareTag());
    TagRead read;
    ASSERT_EQ(readTag(*bench.rig.manager, -1, 0, kKeyText, 0, read), 1);
    EXPECT_EQ(bench.link.calls,
              (std::vector<std::string>{"select 49", "inventory", "select 65", "requestA"}));
    EXPECT_EQ(read.uid.narrow(), "5A31C207");
    bench.link.calls.clear();
    ASSERT_EQ(readTag(*bench.rig.manager, -1, 0, kKeyText, 0, read), 1);
    EXPECT_EQ(bench.link.calls.front(), "select 49");
}

TEST(LinkDetection, TypeBFallsBackToTheSrix4kUidAfterOneRetry) {
    LinkBench bench;
    bench.link.field.place(sim::srix4k({0xD0, 2, 0x1A, 0x2B, 0x3C, 0x4D, 5, 6}));
    ReaderChannel& ch = bench.rig.manager->rfid;
    tagState(ch).tagType = 5;
    std::uint64_t start = bench.rig.clock.nowMs();
    ASSERT_EQ(setTrigger(ch, 1), 1);
    EXPECT_EQ(bench.rig.elapsedMs(start), 100u);
    EXPECT_EQ(bench.link.calls,
              (std::vector<std::string>{"select 115", "sr176Select", "sr176Select", "srix4kUid"}));
    EXPECT_EQ(ch.decodeData.at(0), u'\x07');
    setTrigger(ch, 0);

    // An SR176 gives its UID from blocks 3 down to 0.
    bench.link.field.clear();
    bench.link.field.place(sim::sr176({0xD0, 0x02, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}));
    bench.link.calls.clear();
    ASSERT_EQ(setTrigger(ch, 1), 1);
    EXPECT_EQ(bench.link.calls,
              (std::vector<std::string>{"select 115", "sr176Select", "sr176Read 3", "sr176Read 2",
                                        "sr176Read 1", "sr176Read 0"}));
    ASSERT_EQ(awaitDecode(ch, bench.rig.manager->ccdHostOptions()), 1);
    EXPECT_EQ(ch.codeTypeId, 6);
    EXPECT_EQ(ch.decodeData.narrow(), "D002334455667788");
}

TEST(LinkDetection, AZeroDataFormatByteIsKept) {
    for (std::uint8_t dsfid : {0x00, 0x3A}) {
        LinkBench bench;
        bench.link.dsfid = dsfid;
        bench.link.field.place(isoTag(0x16));
        ReaderChannel& ch = bench.rig.manager->rfid;
        tagState(ch).tagType = 16;
        ASSERT_EQ(setTrigger(ch, 1), 1);
        ASSERT_EQ(ch.decodeData.length(), 17u);
        EXPECT_EQ(ch.decodeData.byteAt(0), dsfid);
        ASSERT_EQ(awaitDecode(ch, bench.rig.manager->ccdHostOptions()), 1);
        EXPECT_EQ(ch.codeTypeId, 14);
        EXPECT_EQ(ch.decodeData.narrow(), "E016015012345678");
    }
}

TEST(LinkWrites, AFailedLinkAnswerIsAFailedWrite) {
    LinkBench bench;
    bench.link.field.place(sim::srix4k({0xD0, 2, 0x1A, 0x2B, 0x3C, 0x4D, 5, 6}));
    bench.link.srix4kWriteStatus = 3;
    EXPECT_EQ(writeTag(*bench.rig.manager, -1, byteString({1, 2, 3, 4}), kKeyText, 0), 0);

    // ISO 15693 makers the link does not write (ST) are refused before anything is sent.
    LinkBench st;
    st.link.field.place(isoTag(0x02));
    EXPECT_EQ(writeTag(*st.rig.manager, -1, byteString({1, 2, 3, 4}), kKeyText, 0), 0);
    EXPECT_EQ(std::count_if(st.link.calls.begin(), st.link.calls.end(),
                            [](const std::string& c) { return c.rfind("isoWrite", 0) == 0; }),
              0);
}

}  // namespace
}  // namespace vandora
