#include "reader/CodeTypes.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "rfid/RfidTag.h"
#include "support/SimRig.h"

namespace vandora::testing {
namespace {

// The packet engines' code type list, as users know it: "id "name"; ...".
const char* const kPacketList =
    "1 \"Code 39\"; 2 \"Codabar\"; 3 \"Code 128\"; 4 \"Discrete 2 of 5\"; 5 \"IATA25\"; "
    "6 \"Interleave 2/5\"; 7 \"Code 93\"; 8 \"UPC-A\"; 9 \"UPC-E0\"; 10 \"EAN8\"; 11 \"EAN13\"; "
    "12 \"Code 11\"; 14 \"MSI\"; 15 \"EAN 128\"; 16 \"UPC-E1\"; 17 \"PDF417\"; "
    "19 \"Code 39 Full ASCII\"; 21 \"Trioptic Code 39\"; 22 \"Bookland\"; "
    "23 \"Coupon Code\"; 25 \"ISBT 128\"; 26 \"Micro PDF\"; 27 \"Data Matrix\"; "
    "28 \"QR Code\"; 30 \"US Postnet\"; 31 \"US Planet\"; 32 \"Code 32\"; 33 \"ISBT-128\"; "
    "34 \"Japan Postal\"; 35 \"Australian Postal\"; 36 \"Dutch Postal\"; 37 \"Maxicode\"; "
    "38 \"Postbar (CA)\"; 39 \"UK Postal\"; 40 \"Macro PDF\"; 44 \"Micro QR Code\"; "
    "45 \"Aztec\"; 48 \"GS1 DataBar-14\"; 49 \"GS1 DataBar Limited\"; "
    "50 \"GS1 DataBar Expanded\"; 51 \"Parameter (FNC3)\"; "
    "52 \"USPS 4CB/One Code/Intelligent Mail\"; 53 \"UPU FICS Postal\"; "
    "55 \"Scanlet Webcode\"; 56 \"Cue CAT Code\"; 57 \"Matrix 2 of 5\"; "
    "72 \"UPC-A with 2 Digits Addenda\"; 73 \"UPC-E0 with 2 Digits Addenda\"; "
    "74 \"EAN8 with 2 Digits Addenda\"; 75 \"EAN13 with 2 Digits Addenda\"; "
    "80 \"UPC-E1 with 2 Digits Addenda\"; 81 \"Composite CC-A + EAN128\"; "
    "82 \"Composite CC-A + EAN13\"; 83 \"Composite CC-A + EAN8\"; "
    "84 \"Composite CC-A + RSS Expanded\"; 85 \"Composite CC-A + RSS Limited\"; "
    "86 \"Composite CC-A + RSS14\"; 87 \"Composite CC-A + UPC-A\"; "
    "88 \"Composite CC-A + UPC-E\"; 89 \"Composite CC-C + EAN128\"; 90 \"TLC-39\"; "
    "97 \"Composite CC-B + EAN128\"; 98 \"Composite CC-B + EAN13\"; "
    "99 \"Composite CC-B + EAN8\"; 100 \"Composite CC-B + RSS Expanded\"; "
    "101 \"Composite CC-B + RSS Limited\"; 102 \"Composite CC-B + RSS14\"; "
    "103 \"Composite CC-B + UPC-A\"; 104 \"Composite CC-B + UPC-E\"; "
    "114 \"Chinese 2 of 5\"; 136 \"UPC-A with 5 Digits Addenda\"; "
    "137 \"UPC-E0 with 5 Digits Addenda\"; 138 \"EAN8 with 5 Digits Addenda\"; "
    "139 \"EAN13 with 5 Digits Addenda\"; 144 \"UPC-E1 with 5 Digits Addenda\"; "
    "154 \"Macro Micro PDF417\"";

std::map<int, std::string> parsePacketList() {
    std::map<int, std::string> out;
    std::string text(kPacketList);
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t quote = text.find('"', pos);
        std::size_t close = text.find('"', quote + 1);
        int id = std::stoi(text.substr(pos, quote - pos));
        out[id] = text.substr(quote + 1, close - quote - 1);
        pos = close + 1;
        while (pos < text.size() && (text[pos] == ';' || text[pos] == ' ')) {
            ++pos;
        }
    }
    return out;
}

TEST(PacketCodeTypes, EveryIdentifierHasItsNameOrNone) {
    std::map<int, std::string> expected = parsePacketList();
    ASSERT_EQ(expected.size(), 76u);
    for (int id = -1; id <= 300; ++id) {
        const char* name = packetCodeTypeName(id);
        auto it = expected.find(id);
        if (it == expected.end()) {
            EXPECT_EQ(name, nullptr) << id;
        } else {
            ASSERT_NE(name, nullptr) << id;
            EXPECT_EQ(std::string(name), it->second) << id;
        }
    }
}

TEST(CcdCodeTypes, EveryLetterHasItsName) {
    const std::map<int, std::string> expected = {
        {64, "ISBT 128"},       {65, "Code 39"},
        {66, "Italian Pharma"}, {67, "French Pharma"},
        {68, "Industrial 2/5"}, {69, "Interleave 2/5"},
        {70, "Matrix 25"},      {71, "Codabar"},
        {72, "Code 93"},        {73, "Code 128"},
        {74, "UPCE"},           {75, "UPCE addon 2"},
        {76, "UPCE addon 5"},   {77, "EAN-8"},
        {78, "EAN-8 addon 2"},  {79, "EAN-8 addon 5"},
        {80, "EAN-13"},         {81, "EAN-13 addon 2"},
        {82, "EAN-13 addon 5"}, {83, "MSI"},
        {84, "Plessey"},        {85, "EAN-128"},
        {90, "Telepen"},        {91, "GS1 DataBar-14"},
    };
    for (int id = 0; id <= 255; ++id) {
        const char* name = ccdCodeTypeName(id);
        auto it = expected.find(id);
        if (it == expected.end()) {
            EXPECT_EQ(name, nullptr) << id;
        } else {
            ASSERT_NE(name, nullptr) << id;
            EXPECT_EQ(std::string(name), it->second) << id;
        }
    }
}

struct NameCase {
    const char* name;
    std::int32_t engineType;
    std::string raw;
    std::int32_t convertToEAN13;
    std::int32_t transmitEan13;
    std::int32_t transmitUpcA;
    std::int32_t separator;
    std::uint8_t byte10;
    std::uint8_t byte22;
    std::int32_t expectedId;
    const char* expectedName;
    std::string expectedData;
};

class NameCodeType : public ::testing::TestWithParam<NameCase> {};

TEST_P(NameCodeType, SetsTheRecordAndStripsThePrefix) {
    const NameCase& c = GetParam();
    SimRig rig;
    ReaderChannel& ch = rig.manager->barcode;
    ch.engineType = EngineType(c.engineType);
    ch.decodeData = ByteString::fromBytes(c.raw);
    ch.parameterImage = ByteString::fromBytes(std::string(30, '\0'));
    ch.parameterImage.setAt(10, c.byte10);
    ch.parameterImage.setAt(22, c.byte22);
    rig.manager->ccdHostOptions().convertToEAN13 = c.convertToEAN13;
    rig.manager->ccdHostOptions().transmitEan13CheckDigit = c.transmitEan13;
    rig.manager->ccdHostOptions().transmitUpcACheckDigit = c.transmitUpcA;
    rig.manager->ccdHostOptions().ean128FieldSeparator = c.separator;
    nameCodeType(ch, rig.manager->ccdHostOptions());
    EXPECT_EQ(ch.codeTypeId, c.expectedId);
    EXPECT_TRUE(ch.codeTypeName == c.expectedName) << ch.codeTypeName.narrow();
    EXPECT_EQ(ch.decodeData.narrow(), c.expectedData);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NameCodeType,
    ::testing::Values(NameCase{"Code39", 2, "A123DATA", 0, 1, 1, 0, 0, 0, 65, "Code 39", "DATA"},
                      NameCase{"ShortAnswerKeepsAll", 2, "A12", 0, 1, 1, 0, 0, 0, 65, "Code 39",
                               "A12"},
                      NameCase{"UnlistedLetter", 2, "V123x", 0, 1, 1, 0, 0, 0, 0, "unknown", "x"},
                      NameCase{"UpcAFromEan13", 2, "P1230123456789012", 0, 0, 0, 0, 0, 0, 80,
                               "UPC-A", "2345678901"},
                      NameCase{"UpcAKeepsSystemNumberAndCheckDigit", 2, "P1230123456789012", 0, 0,
                               1, 0, 1, 0, 80, "UPC-A", "123456789012"},
                      NameCase{"ConvertedStaysEan13", 2, "P1230123456789012", 1, 0, 0, 0, 0, 0, 80,
                               "EAN-13", "012345678901"},
                      NameCase{"Ean13NotStartingWithZero", 2, "P1234123456789012", 0, 1, 0, 0, 0, 0,
                               80, "EAN-13", "4123456789012"},
                      NameCase{"UpcAAddon2DropsDigitBeforeAddon", 2, "Q123012345678901299", 0, 0, 0,
                               0, 0, 0, 81, "UPC-A addon 2", "234567890199"},
                      NameCase{"Ean13Addon5", 2,
                               "R12341234567890121234"
                               "5",
                               0, 0, 0, 0, 0, 0, 82, "EAN-13 addon 5", "41234567890112345"},
                      NameCase{"Addon2TooShortRemovesNothing", 2, "Q123ab", 0, 0, 0, 0, 0, 0, 81,
                               "EAN-13 addon 2", "ab"},
                      NameCase{"Ean128Separator", 2,
                               "U123]C1AB\x1D"
                               "CD",
                               0, 1, 1, 35, 0, 0, 85, "EAN-128", "]C1AB#CD"},
                      NameCase{"Ean128DropsCodeIdWhenNotWanted", 2,
                               "U123]C1AB\x1D"
                               "CD",
                               0, 1, 1, 0, 0, 0x20, 85, "EAN-128",
                               "AB\x1D"
                               "CD"},
                      NameCase{"PacketDataMatrix", 3,
                               "\x1B"
                               "abc",
                               0, 0, 0, 0, 0, 0, 27, "Data Matrix", "abc"},
                      NameCase{"PacketUnlisted", 9,
                               "\x0D"
                               "abc",
                               0, 0, 0, 0, 0, 0, 0, "unkonwn", "abc"},
                      NameCase{"PacketEmpty", 8, "", 0, 0, 0, 0, 0, 0, 0, "unkonwn", ""},
                      NameCase{"NoEngine", 0, "A123x", 0, 0, 0, 0, 0, 0, 0, "", "A123x"}),
    [](const auto& test) { return std::string(test.param.name); });

// The three RFID module kinds name a tag from the form of their tag answer and the family the
// answer was detected in, and strip the answer's lead.
TEST(RfidTagNames, EachModuleKindNamesFromItsAnswer) {
    struct Case {
        std::int32_t engineType;
        std::int32_t tagType;
        std::string raw;
        std::int32_t id;
        const char* name;
        std::string data;
    };
    const Case cases[] = {
        {5, 0, "M04123456789ABC", 2, "ISO14443 Type A, Mifare Ultralight", "04123456789ABC"},
        {5, 0, "M5A31C207", 3, "ISO14443 Type A, Mifare family", "5A31C207"},
        {5, 0, "VE007AABB", 13, "ISO15693, Texas Instrument", "E007AABB"},
        {5, 0, "VE099AABB", 16, "ISO15693", "E099AABB"},
        {5, 0, "VE00", 0, "", "VE00"},
        {5, 0, "Z0102", 5, "ISO14443, Type B", "0102"},
        {5, 0, "x0102", 0, "unkonwn", "0102"},
        {6, 8, "81223344", 8, "Tagit", "81223344"},
        {6, 4, "81223344", 0, "unkonwn", "81223344"},
        {7, 3,
         "\x02"
         "5A31C207",
         3, "ISO14443 Type A, Mifare S70", "5A31C207"},
        {7, 3,
         "\x04"
         "5A31C207",
         3, "ISO14443 Type A, Mifare S50", "5A31C207"},
        {7, 3,
         "\x44"
         "04123456789ABC",
         2, "ISO14443 Type A, Mifare Ultralight", "04123456789ABC"},
        {7, 3,
         "\x08"
         "5A31C207",
         3, "ISO14443 Type A, Mifare family", "5A31C207"},
        {7, 5,
         "\x07"
         "D0021A2B3C4D0506",
         7, "ISO14443 Type B, SRIX4K", "D0021A2B3C4D0506"},
        {7, 5,
         "\x06"
         "D002334455667788",
         6, "ISO14443 Type B, SR176", "D002334455667788"},
        {7, 16, std::string(1, '\0') + "E002015012345678", 9, "ISO15693, ST Microelectronics",
         "E002015012345678"},
        {7, 16, std::string(1, '\0') + "E0", 0, "", "E0"},
        {7, 9,
         "\x01"
         "AB",
         0, "unkonwn", "AB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.raw);
        SimRig rig;
        ReaderChannel& ch = rig.manager->rfid;
        ch.engineType = EngineType(c.engineType);
        tagState(ch).tagType = c.tagType;
        ch.decodeData = ByteString::fromBytes(c.raw);
        nameCodeType(ch, rig.manager->ccdHostOptions());
        EXPECT_EQ(ch.codeTypeId, c.id);
        EXPECT_EQ(ch.codeTypeName.narrow(), c.name);
        EXPECT_EQ(ch.decodeData.narrow(), c.data);
    }
}

}  // namespace
}  // namespace vandora::testing
