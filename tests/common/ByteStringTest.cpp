#include "common/ByteString.h"

#include <gtest/gtest.h>

#include <string>

namespace vandora {
namespace {

TEST(ByteString, ReadingPastTheEndYieldsTheEndingZero) {
    ByteString s("AB");
    EXPECT_EQ(s.at(0), u'A');
    EXPECT_EQ(s.at(2), 0);
    EXPECT_EQ(s.at(1000), 0);
    EXPECT_EQ(s.wide()[2], 0);
    ByteString empty;
    EXPECT_EQ(empty.at(0), 0);
}

TEST(ByteString, EightBitViewCutsEachUnitToItsLowByte) {
    ByteString s(u"\u0141A\u00FF");
    std::string narrow = s.narrow();
    ASSERT_EQ(narrow.size(), 3u);
    EXPECT_EQ(static_cast<unsigned char>(narrow[0]), 0x41);
    EXPECT_EQ(narrow[1], 'A');
    EXPECT_EQ(static_cast<unsigned char>(narrow[2]), 0xFF);
}

TEST(ByteString, AppendTakesEightBitBytesAsZeroTo255) {
    ByteString s;
    s.append("\xFF\x80");
    EXPECT_EQ(s.at(0), 0xFF);
    EXPECT_EQ(s.at(1), 0x80);
    const std::uint8_t raw[] = {0x00, 0x05};
    s.appendBytes(raw, 2);
    EXPECT_EQ(s.length(), 4u);
    EXPECT_EQ(s.at(2), 0);
    s.append(s);  // self-append
    EXPECT_EQ(s.length(), 8u);
    EXPECT_EQ(s.at(4), 0xFF);
}

TEST(ByteString, CapacityStartsAt32ThenDoublesThenGrowsBy1000) {
    ByteString s;
    EXPECT_EQ(s.capacity(), 32u);
    EXPECT_EQ(ByteString(100).capacity(), 101u);
    for (int i = 0; i < 31; ++i) {
        s.append(u'x');
    }
    EXPECT_EQ(s.capacity(), 32u);
    s.append(u'x');
    EXPECT_EQ(s.capacity(), 64u);
    ByteString big;
    for (int i = 0; i < 65535; ++i) {
        big.append(u'x');
    }
    EXPECT_EQ(big.capacity(), 65536u);
    big.append(u'x');
    EXPECT_EQ(big.capacity(), 66536u);
}

struct TrimCase {
    std::u16string input;
    std::u16string expected;
};

class ByteStringTrim : public ::testing::TestWithParam<TrimCase> {};

TEST_P(ByteStringTrim, RemovesUnitsWhoseSignedValueIsZeroTo32) {
    ByteString s{std::u16string_view(GetParam().input)};
    s.trim();
    EXPECT_EQ(std::u16string(s.view()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, ByteStringTrim,
                         ::testing::Values(TrimCase{u"  ab  ", u"ab"},
                                           TrimCase{u"\r\n\tab\x1F", u"ab"},
                                           TrimCase{std::u16string(u"\0ab\0", 4), u"ab"},
                                           TrimCase{u"\x21"
                                                    u"ab",
                                                    u"\x21"
                                                    u"ab"},
                                           // 0xFF80 is negative as a signed unit: kept
                                           TrimCase{u"\xFF80"
                                                    u"ab\x8000",
                                                    u"\xFF80"
                                                    u"ab\x8000"},
                                           TrimCase{u"   ", u""}, TrimCase{u"a b", u"a b"}));

TEST(ByteString, FormatReplacesTheContent) {
    ByteString s("old");
    s.format("%d-%02X-%02x-%s-%c", -5, 0xAB, 0xCD, "txt", 'Z');
    EXPECT_TRUE(s == "-5-AB-cd-txt-Z");
    std::string longText(1000, 'q');
    s.format("%s", longText.c_str());
    EXPECT_EQ(s.length(), 1000u);
}

TEST(ByteString, SearchSplitRemoveReplaceAndLower) {
    ByteString s("abcabc");
    EXPECT_EQ(s.find(u'c'), 2u);
    EXPECT_EQ(s.find(u'c', 3), 5u);
    EXPECT_EQ(s.rfind(u'a'), 3u);
    EXPECT_EQ(s.find(ByteString("ca")), 2u);
    EXPECT_EQ(s.rfind(ByteString("bc")), 4u);
    EXPECT_EQ(s.find(u'z'), ByteString::npos);
    EXPECT_EQ(s.find(ByteString("zz")), ByteString::npos);

    ByteString before, after;
    ASSERT_TRUE(ByteString("key=va=lue").splitAt(u'=', before, after));
    EXPECT_TRUE(before == "key");
    EXPECT_TRUE(after == "va=lue");
    EXPECT_FALSE(ByteString("novalue").splitAt(u'=', before, after));

    EXPECT_TRUE(s.mid(4) == "bc");
    EXPECT_TRUE(s.mid(10).empty());
    EXPECT_TRUE(s.mid(1, 100) == "bcabc");

    ByteString r("abcdef");
    r.remove(1, 2);
    EXPECT_TRUE(r == "adef");
    r.remove(3, 100);
    EXPECT_TRUE(r == "ade");
    r.remove(10, 1);
    EXPECT_TRUE(r == "ade");

    ByteString l("AbZ[@\xC0");
    l.toLower();
    EXPECT_TRUE(l == "abz[@\xC0");
    l.replace(u'a', u'x');
    EXPECT_TRUE(l == "xbz[@\xC0");
}

TEST(ByteString, EqualityIsExact) {
    EXPECT_TRUE(ByteString("NG") == "NG");
    EXPECT_FALSE(ByteString("NGX") == "NG");
    EXPECT_FALSE(ByteString("N") == "NG");
    EXPECT_TRUE(ByteString("") == "");
    EXPECT_TRUE(ByteString("\xFF") == "\xFF");
    EXPECT_TRUE(ByteString("ab") == ByteString(u"ab"));
}

struct HexCase {
    const char* text;
    std::vector<std::uint8_t> bytes;
};

class HexToBytes : public ::testing::TestWithParam<HexCase> {};

TEST_P(HexToBytes, ConvertsPairsAndAnOddLastHalf) {
    ByteString out("stale");
    hexToBytes(ByteString(GetParam().text), out);
    EXPECT_EQ(out.bytes(), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(Cases, HexToBytes,
                         ::testing::Values(HexCase{"", {}}, HexCase{"00FF", {0x00, 0xFF}},
                                           HexCase{"3c5a9E", {0x3C, 0x5A, 0x9E}},
                                           HexCase{"ABC", {0xAB, 0xC0}}, HexCase{"7", {0x70}},
                                           // not validated: 'G' is 71 - 55 = 16, 'g' 103 - 87
                                           HexCase{"G0", {0x00}}, HexCase{"0g", {0x10}}));

TEST(HexToBytes, OutputMayBeTheInput) {
    ByteString s("4142");
    hexToBytes(s, s);
    EXPECT_TRUE(s == "AB");
    EXPECT_TRUE(bytesToHex(ByteString::fromBytes(std::string_view("\x01\xAB", 2))) == "01AB");
}

}  // namespace
}  // namespace vandora

namespace vandora {
namespace {

// Short strings keep their units inside themselves and long ones on the heap: every way between
// the two (growing across the limit, moving and copying either kind) keeps the units.
TEST(ByteString, UnitsSurviveGrowingMovingAndCopyingAcrossTheInlineLimit) {
    for (std::size_t length : {std::size_t{0}, std::size_t{5}, std::size_t{31}, std::size_t{32},
                               std::size_t{33}, std::size_t{100}}) {
        ByteString s;
        std::u16string expected;
        for (std::size_t i = 0; i < length; ++i) {
            auto unit = static_cast<char16_t>(u'a' + i % 26);
            s.append(unit);
            expected += unit;
        }
        ByteString copy(s);
        ByteString moved(std::move(s));
        EXPECT_EQ(moved.view(), expected) << length;
        EXPECT_EQ(copy.view(), expected) << length;
        EXPECT_TRUE(s.empty());  // NOLINT(bugprone-use-after-move): moved-from is empty
        s.append(u'z');
        EXPECT_EQ(s.view(), u"z");
        ByteString assigned;
        assigned = std::move(copy);
        EXPECT_EQ(assigned.view(), expected) << length;
        assigned.append(u'!');
        EXPECT_EQ(assigned.length(), length + 1);
        EXPECT_EQ(assigned.wide()[length + 1], u'\0');
    }
}

}  // namespace
}  // namespace vandora
