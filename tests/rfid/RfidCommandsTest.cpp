// The text side of the two text-driven modules: command strings, error letters, frames and the
// cutting of bracketed reply fields, as tables of replies a module (or a broken one) may send.
#include <gtest/gtest.h>

#include <string>

#include "rfid/RfidCommands.h"
#include "rfid/TagChannel.h"

namespace vandora {
namespace {

std::string text(const ByteString& s) {
    return s.narrow();
}

ByteString bytes(std::initializer_list<std::uint8_t> list) {
    ByteString out;
    for (std::uint8_t b : list) {
        out.append(static_cast<char16_t>(b));
    }
    return out;
}

TEST(LetterCommands, NumbersAreTwoLowercaseDigitsAndDataUppercase) {
    ByteString out;
    ASSERT_TRUE(letterLoginCommand(10, "AA3C5A9E71B2D4", out));
    EXPECT_EQ(text(out), "l0aAA3C5A9E71B2D4");
    ASSERT_TRUE(letterReadCommand(1, 255, out));
    EXPECT_EQ(text(out), "rbff");
    ASSERT_TRUE(letterReadCommand(0, 4, out));
    EXPECT_EQ(text(out), "r04");
    ASSERT_TRUE(letterWriteCommand(0, 4, bytes({0x01, 0xAB}), out));
    EXPECT_EQ(text(out), "w0401AB");
    ASSERT_TRUE(letterWriteCommand(1, 0x1c, bytes({0x00, 0xff}), out));
    EXPECT_EQ(text(out), "wb1c00FF");
    // A number that does not fit two digits is never sent.
    EXPECT_FALSE(letterReadCommand(1, 256, out));
    EXPECT_FALSE(letterWriteCommand(0, -1, bytes({1}), out));
    EXPECT_FALSE(letterLoginCommand(300, "AA000000000000", out));
}

TEST(LetterReplies, OnlySingleErrorLettersAreErrors) {
    struct Case {
        const char* reply;
        std::uint32_t error;
        std::string block;  // the block bytes when not an error
    };
    const Case cases[] = {
        {"N", 30002, ""},
        {"F", 30003, ""},
        {"O", 30004, ""},
        {"R", 30005, ""},
        {"?", 30011, ""},
        {"A", 0, "\xA0"},
        {"AB", 0, "\xAB"},
        {"01AB", 0, "\x01\xAB"},
        {"", 0, ""},
        {"0", 0, std::string(1, '\0')},
        {"00000000", 0, std::string(4, '\0')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        EXPECT_EQ(errorLetterCode(c.reply), c.error);
        ByteString block;
        std::uint32_t error = 99;
        bool ok = letterBlockReply(c.reply, block, error);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(ok, !c.block.empty());
        EXPECT_EQ(block.narrow(), c.block);
    }
}

TEST(HexFrames, LengthByteIsTheWholeFrame) {
    EXPECT_EQ(text(hexBlockFrame(0x00, HexRequest::TagItRead, 5)), "010B000304180008050000");
    EXPECT_EQ(text(hexBlockFrame(0x00, HexRequest::IsoRead, 0xFF)), "010B000304180020FF0000");
    EXPECT_EQ(text(hexBlockFrame(HexRequest::OptionFlag, HexRequest::IsoWrite, 2,
                                 bytes({0x11, 0x22, 0x33, 0x44}))),
              "010F00030418402102112233440000");
}

TEST(HexFields, EachFamilyCutsItsFieldAndNothingOutsideTheReply) {
    struct Case {
        std::int32_t tagType;
        const char* reply;
        const char* field;  // null: no field
    };
    const Case cases[] = {
        {3, "[5A31C20708]", "5A31C207"},
        {3, "junk[5A31C20708]tail[99]", "5A31C207"},
        {3, "[08]", nullptr},  // nothing left after the two trailing characters
        {3, "[0]", nullptr},   // shorter than what is trimmed
        {3, "[]", nullptr},
        {3, "5A31C20708", nullptr},
        {3, "[5A31C20708", nullptr},
        {5, "[][50D0023344000000]", "50D0023344000000"},
        {5, "[][]", nullptr},
        {5, "[", nullptr},
        {5, "[][", nullptr},
        {8, "[]x[0000812233440000]", "0000812233440000"},
        {16, "[,][78563412500104E0,3A]", "78563412500104E0"},
        {16, "[,][,]", nullptr},
        {16, "[,]", nullptr},
        {16, "[0011223344]", "0011223344"},
        {16, "[0011223344", "001122334"},  // no end: the text less its last character
        {16, "[", nullptr},
        {16, "[,", nullptr},
        {16, "", nullptr},
        {4, "[00]", nullptr},
        {0, "[5A31C20708]", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.tagType) + " " + c.reply);
        ByteString field;
        EXPECT_EQ(extractField(c.tagType, c.reply, field), c.field != nullptr);
        EXPECT_EQ(text(field), c.field != nullptr ? c.field : "");
    }
}

TEST(HexFields, TagAnswersGiveTheUidAndTheTagItCounts) {
    struct Case {
        std::int32_t tagType;
        const char* reply;
        const char* uid;  // null: no tag
        std::int32_t info;
        std::int32_t count;
    };
    const Case cases[] = {
        {8, "[0000812233440000010B]", "81223344", 1, 11},
        {8, "[00008122334400000108FF]", "00008122334400000108FF", 0, 0},
        {8, "[812233]", "812233", 0, 0},
        {5, "[50D0023344000000]", "D0023344", 0, 0},
        {5, "[50D002]", "50D002", 0, 0},
        {16, "[,][78563412500104E0,3A]", "E004015012345678", 0, 0},
        {16, "[123]", "3012", 0, 0},  // odd length: the last digit is a high half
        {3, "[5A31C20708]", "5A31C207", 0, 0},
        {3, "[08]", nullptr, 0, 0},
        {16, "[,][,]", nullptr, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        HexTagAnswer answer;
        EXPECT_EQ(hexTagAnswer(c.tagType, c.reply, answer), c.uid != nullptr);
        if (c.uid != nullptr) {
            EXPECT_EQ(text(answer.uid), c.uid);
        }
        EXPECT_EQ(answer.tagitInfoByte, c.info);
        EXPECT_EQ(answer.tagitBlockCount, c.count);
    }
}

TEST(HexFields, BlockDataRefusesErrorFlagsAndShortFields) {
    ByteString data;
    EXPECT_TRUE(iso15693BlockData("0011223344", data));
    EXPECT_EQ(data, bytes({0x11, 0x22, 0x33, 0x44}));
    EXPECT_FALSE(iso15693BlockData("010F", data)) << "error flag: the 0F is an error code";
    EXPECT_FALSE(iso15693BlockData("00", data));
    EXPECT_FALSE(iso15693BlockData("", data));

    // Tag-it data two bits out of place: C0 FF EE 15 arrives as 30 3F FB 85 40.
    EXPECT_TRUE(tagItRealign("000000303FFB8540", data));
    EXPECT_EQ(data, bytes({0xC0, 0xFF, 0xEE, 0x15}));
    EXPECT_FALSE(tagItRealign("000000303FFB854", data));
    EXPECT_TRUE(data.empty());

    EXPECT_TRUE(endsWithOk("[00]"));
    EXPECT_TRUE(endsWithOk("xx[00]"));
    EXPECT_FALSE(endsWithOk("[010F]"));
    EXPECT_FALSE(endsWithOk("00]"));
}

TEST(BlockRange, RangesFromTheDefaultPageAndFromAByte) {
    struct Case {
        const char* name;
        std::int32_t code;
        std::int32_t blockSize;
        std::int32_t start;
        std::int64_t length;
        bool ok;
        BlockRange range;
    };
    const Case cases[] = {
        {"Mifare 20 bytes: block 4 and 4 bytes of 5", 3, 16, -1, 20, true, {4, 5, 0, 3}},
        {"Mifare 48 bytes: blocks 4 to 6", 3, 16, -1, 48, true, {4, 6, 0, 15}},
        {"Mifare 64 bytes: trailer 7 counted", 3, 16, -1, 64, true, {4, 8, 0, 15}},
        {"4-byte blocks from byte 10", 16, 4, 10, 4, true, {2, 3, 2, 1}},
        {"SR176 cut at its highest block", 6, 2, 0, 100, true, {0, 14, 0, 1}},
        {"SRIX4K default page", 7, 4, -1, 5, true, {7, 8, 0, 0}},
        {"last block of an ISO tag", 16, 4, 252, 4, true, {63, 63, 0, 3}},
        {"unknown code: 255 is the end", 42, 4, 1020, 8, true, {255, 255, 0, 3}},
        {"start beyond the highest block", 16, 4, 256, 4, false, {}},
        {"start far beyond, no overflow", 16, 4, 0x7FFFFFFF, 0x7FFFFFFF, false, {}},
        {"huge length is cut", 16, 4, 0, 0x7FFFFFFF, true, {0, 63, 0, 3}},
        {"no length", 16, 4, 0, 0, false, {}},
        {"no block size", 16, 0, 0, 4, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BlockRange r;
        ASSERT_EQ(blockRange(c.code, c.blockSize, c.start, c.length, r), c.ok ? 1 : 0);
        if (c.ok) {
            EXPECT_EQ(r.firstBlock, c.range.firstBlock);
            EXPECT_EQ(r.lastBlock, c.range.lastBlock);
            EXPECT_EQ(r.firstOffset, c.range.firstOffset);
            EXPECT_EQ(r.lastOffset, c.range.lastOffset);
        }
    }
}

}  // namespace
}  // namespace vandora
