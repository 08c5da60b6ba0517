// The hexadecimal and Unicode helpers every layer shares: what they accept, what they refuse, and
// how malformed input is stepped over.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/Hex.h"
#include "common/Utf.h"

namespace vandora {
namespace {

TEST(Hex, PairsOfDigitsOfEitherCaseAndNothingElse) {
    struct Case {
        std::string_view text;
        bool ok;
        std::vector<std::uint8_t> bytes;
    };
    const Case cases[] = {
        {"", true, {}},
        {"00fFa5", true, {0x00, 0xFF, 0xA5}},
        {"ABC", false, {}},       // an odd digit has no partner
        {"0G", false, {}},        // past F
        {"0 ", false, {}},        // no blanks inside
        {"\xC3\xA9", false, {}},  // bytes above 0x7F are not digits, whatever char's sign
        {std::string_view("0\0", 2), false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text));
        std::vector<std::uint8_t> out{0x99};
        EXPECT_EQ(parseHex(c.text, out), c.ok);
        if (c.ok) {
            EXPECT_EQ(out, c.bytes);
        }
    }
    EXPECT_EQ(hexText(std::vector<std::uint8_t>{0x00, 0x9F, 0xA0}), "009FA0");
    EXPECT_TRUE(lowerHex(ByteString::fromBytes(std::string_view("\x00\x9F\xA0", 3))) == "009fa0");
    EXPECT_TRUE(bytesToHex(ByteString::fromBytes(std::string_view("\x00\x9F\xA0", 3))) == "009FA0");
}

// UTF-8 read leniently (settings windows, the bus) and strictly (text typed from the command
// line): the same sequences are malformed for both, and the lenient reading steps over exactly
// the bytes that broke.
TEST(Utf, MalformedUtf8IsReplacedLenientlyAndRefusedStrictly) {
    struct Case {
        const char* name;
        std::string_view utf8;
        std::u16string lenient;
        bool strictOk;
    };
    const Case cases[] = {
        {"ascii and two bytes", "A\xC3\xA9", u"A\u00E9", true},
        {"three bytes", "\xE2\x82\xAC", u"\u20AC", true},
        {"four bytes become a pair", "\xF0\x9F\x98\x80", u"\U0001F600", true},
        {"stray continuation byte",
         "\x80"
         "A",
         u"\uFFFDA", false},
        {"lead byte cut off by the end", "A\xE2\x82", u"A\uFFFD\uFFFD", false},
        {"lead byte followed by a new character",
         "\xE2"
         "AB",
         u"\uFFFDAB", false},
        {"broken after two bytes",
         "\xE2\x82"
         "A",
         u"\uFFFDA", false},
        {"no lead byte F8 and above",
         "\xF8"
         "A",
         u"\uFFFDA", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(std::u16string(fromUtf8(c.utf8).view()), c.lenient);
        ByteString strict;
        EXPECT_EQ(appendStrictUtf8(c.utf8, strict), c.strictOk);
    }
    // A well-formed sequence past the last code point reads as the replacement too.
    EXPECT_EQ(std::u16string(fromUtf8("\xF4\x90\x80\x80").view()), u"\uFFFD");
}

TEST(Utf, SurrogatePairsJoinAndLoneSurrogatesBecomeTheReplacement) {
    struct Case {
        const char* name;
        std::u16string units;
        std::string utf8;
    };
    const Case cases[] = {
        {"pair", u"\U0001F600", "\xF0\x9F\x98\x80"},
        {"lone high at the end", std::u16string(u"A") + char16_t(0xD83D), "A\xEF\xBF\xBD"},
        {"low before high", {char16_t(0xDE00), char16_t(0xD83D)}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"two bytes and three", u"\u00E9\u20AC", "\xC3\xA9\xE2\x82\xAC"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(utf8Of(ByteString(std::u16string_view(c.units))), c.utf8);
    }
    // Code points as the keyboard takes them: a lone surrogate passes as it is.
    std::vector<std::uint32_t> units = {0xD83D, 0xDE00, 0xD83D, 'A'};
    std::vector<char32_t> points;
    for (std::size_t i = 0; i < units.size(); ++i) {
        points.push_back(takeCodePoint(units, units.size(), i));
    }
    EXPECT_EQ(points, (std::vector<char32_t>{0x1F600, 0xD83D, 'A'}));
}

}  // namespace
}  // namespace vandora
