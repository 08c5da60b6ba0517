#include "runtime/DecodeFormat.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/KeyboardSink.h"
#include "runtime/KeyboardEmulation.h"

namespace vandora {
namespace {

struct OutputCase {
    const char* name;
    int kind;
    const char* typeName;
    const char* text;
    const char* userData;  // nullptr: none returned
    OutputOptions settings;
    std::u16string expected;
};

OutputOptions with(std::function<void(OutputOptions&)> change) {
    OutputOptions s;
    change(s);
    return s;
}

class BuildOutput : public ::testing::TestWithParam<OutputCase> {};

TEST_P(BuildOutput, AssemblesPrefixTypeLengthDelimiterAndTerminator) {
    const OutputCase& c = GetParam();
    ByteString user = c.userData != nullptr ? ByteString(c.userData) : ByteString();
    ByteString out = buildOutputText(c.kind, ByteString(c.typeName), ByteString(c.text),
                                     c.userData != nullptr ? &user : nullptr, c.settings);
    EXPECT_EQ(std::u16string(out.view()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BuildOutput,
    ::testing::Values(
        OutputCase{"TypeAndLength", 1, "Code 39", "12345", nullptr, with([](OutputOptions& s) {
                       s.displayCodeType = 1;
                       s.displayCodeLength = 1;
                   }),
                   u"Code 39,12345,5\r"},
        OutputCase{"PrefixAndSuffixCount", 1, "Code 39", "12345", nullptr,
                   with([](OutputOptions& s) {
                       s.displayCodeType = 1;
                       s.displayCodeLength = 1;
                       s.prefixStr = "A";
                       s.suffixStr = "Z";
                   }),
                   u"Code 39,A12345Z,7\r"},
        OutputCase{"LengthWithoutDelimiter", 1, "x", "ABC", nullptr, with([](OutputOptions& s) {
                       s.delimiter = 0;
                       s.displayCodeLength = 1;
                       s.autoEnter = 0;
                   }),
                   u"ABC3"},
        OutputCase{"TerminatorFirst", 1, "x", "X", nullptr, with([](OutputOptions& s) {
                       s.autoEnter = 2;
                       s.autoEnterChar = 2;
                   }),
                   u"\tX"},
        OutputCase{"UnknownTerminatorAppendsZero", 1, "x", "X", nullptr,
                   with([](OutputOptions& s) { s.autoEnterChar = 9; }), std::u16string(u"X\0", 2)},
        OutputCase{"UnknownTerminatorFirstAddsNothing", 1, "x", "X", nullptr,
                   with([](OutputOptions& s) {
                       s.autoEnter = 2;
                       s.autoEnterChar = 9;
                   }),
                   u"X"},
        OutputCase{"RfidUserDataOnlyInHex", 2, "", "UID1", "\x01\xAB", with([](OutputOptions& s) {
                       s.displayUid = 0;
                       s.displayUserData = 1;
                       s.displayUserDataByHex = 1;
                       s.prefixStr = "P";
                       s.autoEnter = 0;
                   }),
                   u"01ab"},
        OutputCase{"RfidUidWithoutUserData", 2, "", "UID1", "", with([](OutputOptions& s) {
                       s.displayUserData = 1;
                       s.prefixStr = "<";
                       s.suffixStr = ">";
                       s.autoEnter = 0;
                   }),
                   u"<UID1>"},
        OutputCase{"RfidUidAndUserData", 2, "", "U", "data", with([](OutputOptions& s) {
                       s.displayUserData = 1;
                       s.autoEnterChar = 5;
                   }),
                   u"U,data;"},
        OutputCase{"NoKeyboard", 1, "x", "X", nullptr,
                   with([](OutputOptions& s) { s.keyboardEmu = 0; }), u""}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(ConvertDecodeText, OnlyTwoDimensionalTextCodesOfImagersAreConverted) {
    setenv("VANDORA_CODEPAGE", "CP936", 1);
    ByteString twoBytes = ByteString::fromBytes(std::string_view("\xC4\xE3\0A", 4));
    ByteString qr = convertDecodeText(EngineType(3), 28, twoBytes);
    EXPECT_EQ(std::u16string(qr.view()), std::u16string(u"\u4F60 A"));
    EXPECT_EQ(convertDecodeText(EngineType(2), 28, twoBytes), twoBytes)
        << "CCD/Laser never converted";
    EXPECT_EQ(convertDecodeText(EngineType(8), 11, twoBytes), twoBytes) << "EAN13 never converted";
    // The record keeps the bytes.
    DecodeQueueRecord record = barcodeRecord(28, twoBytes);
    EXPECT_EQ(record[133], 0xC4);
    EXPECT_EQ(record[134], 0xE3);
    unsetenv("VANDORA_CODEPAGE");
    ByteString bad = ByteString::fromBytes(std::string_view("A\x81", 2));
    setenv("VANDORA_CODEPAGE", "UTF-8", 1);
    EXPECT_EQ(std::u16string(convertDecodeText(EngineType(8), 17, bad).view()), u"A\uFFFD");
    unsetenv("VANDORA_CODEPAGE");
    EXPECT_EQ(std::u16string(convertDecodeText(EngineType(3), 27, ByteString("\xE9")).view()),
              u"\u00E9")
        << "CP1252 by default";
}

class CapturedStatus final : public StatusView {
  public:
    void setStatusText(const ByteString& value) override { text = value; }
    ByteString text{"never set"};
};

TEST(StatusText, BarcodeAndRfidLayouts) {
    ByteString macro = ByteString::fromBytes(std::string_view("A\0B", 3));
    CapturedStatus view;
    showDecodeStatus(view, {1, EngineType(3), 40, ByteString("Macro PDF"), macro, {}}, false);
    EXPECT_TRUE(view.text == "type : Macro PDF\r\ncode : AB");
    showDecodeStatus(view, {1, EngineType(2), 40, ByteString("x"), macro, {}}, false);
    EXPECT_EQ(view.text.length(), 20u) << "only imagers drop zero cells";
    ByteString user = ByteString::fromBytes(std::string_view("\x01\xFF", 2));
    showDecodeStatus(view, {2, EngineType(0), 0, ByteString("Mifare"), ByteString("04A1"), user},
                     true);
    EXPECT_TRUE(view.text == "type : Mifare\r\nuid : 04A1\r\nuser data : 01ff");
    showDecodeStatus(view, {2, EngineType(0), 0, ByteString("Mifare"), ByteString("04A1"), user},
                     false);
    EXPECT_EQ(std::u16string(view.text.view()),
              u"type : Mifare\r\nuid : 04A1\r\nuser data : \u0001\u00FF")
        << "user data shown byte for byte without hex";
}

TEST(QueueRecord, FieldsAndCuts) {
    std::string big(5000, 'x');
    DecodeQueueRecord barcode = barcodeRecord(0x1B, ByteString::fromBytes(big));
    EXPECT_EQ(barcode[0], 7);
    EXPECT_EQ(barcode[1], 0x1B);
    EXPECT_EQ(barcode[8] | (barcode[9] << 8), 5000);
    EXPECT_EQ(barcode[133], 'x');
    EXPECT_EQ(barcode[4227], 'x');
    EXPECT_EQ(barcode[4228], 0) << "the data field always ends with a zero byte";
    for (std::size_t i = 12; i < 133; ++i) {
        ASSERT_EQ(barcode[i], 0) << i;
    }

    DecodeQueueRecord rfid = rfidRecord(8, ByteString("E004010012345678"), nullptr);
    EXPECT_EQ(rfid[0], 0x20);
    EXPECT_EQ(rfid[1], 'T');
    EXPECT_EQ(rfid[8], 16);
    EXPECT_EQ(rfid[12], 'E');
    EXPECT_EQ(rfid[27], '8');
    EXPECT_EQ(rfid[28], 0);
    EXPECT_EQ(rfid[133], 0);

    DecodeQueueRecord longUid =
        rfidRecord(1, ByteString("0123456789ABCDEFGHIJKLMNOPQRST"), nullptr);
    EXPECT_EQ(longUid[8], 30) << "the length keeps the full count";
    EXPECT_EQ(longUid[31], 'J');
    EXPECT_EQ(longUid[32], 0) << "the UID field holds 20 characters";
}

TEST(TagLetter, Families) {
    const std::pair<int, int> cases[] = {{1, 'I'},  {2, 'M'}, {4, 'M'}, {5, 'Z'},
                                         {7, 'Z'},  {6, 'S'}, {8, 'T'}, {9, 'V'},
                                         {16, 'V'}, {17, 17}, {0, 0}};
    for (auto [type, letter] : cases) {
        EXPECT_EQ(tagLetter(type), letter) << type;
    }
}

// The key calls as the log sink writes them, one line per call.
class KeyLog {
  public:
    KeyLog()
        : path_((std::filesystem::temp_directory_path() /
                 ("vandora-keys-" + std::to_string(getpid()) + ".log"))
                    .string()) {
        std::filesystem::remove(path_);
    }
    ~KeyLog() { std::filesystem::remove(path_); }
    const std::string& path() const { return path_; }
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        std::ifstream in(path_);
        for (std::string line; std::getline(in, line);) {
            out.push_back(line);
        }
        return out;
    }

  private:
    std::string path_;
};

struct KeyCase {
    const char* name;
    std::u16string text;
    bool rdp;
    std::vector<std::string> lines;
    std::uint64_t sleptMs;
};

class KeySequences : public ::testing::TestWithParam<KeyCase> {};

TEST_P(KeySequences, MatchTheCallSequence) {
    const KeyCase& c = GetParam();
    KeyLog log;
    std::unique_ptr<KeyboardSink> sink = makeKeyboardSink("log:" + log.path());
    VirtualClock clock;
    emulateKeyboard(ByteString(std::u16string_view(c.text)), c.rdp, *sink, clock);
    EXPECT_EQ(log.lines(), c.lines);
    EXPECT_EQ(clock.sleptUs() / 1000, c.sleptMs);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KeySequences,
    ::testing::Values(
        KeyCase{"LocalTab",
                u"ABC\tDEF",
                false,
                {"post 3 41 42 43", "key 9 0 0", "key 9 0 2", "post 3 44 45 46"},
                0},
        KeyCase{"RdpTab",
                u"ABC\tDEF",
                true,
                {"key 16 88 4", "key 65 0 0",  "key 65 2 2",  "key 16 88 6", "key 16 88 4",
                 "key 66 0 0",  "key 66 2 2",  "key 16 88 6", "key 16 88 4", "key 67 0 0",
                 "key 67 2 2",  "key 16 88 6", "key 9 0 0",   "key 9 0 2",   "key 16 88 4",
                 "key 68 0 0",  "key 68 2 2",  "key 16 88 6", "key 16 88 4", "key 69 0 0",
                 "key 69 2 2",  "key 16 88 6", "key 16 88 4", "key 70 0 0",  "key 70 2 2",
                 "key 16 88 6"},
                120},
        KeyCase{"LocalMixedIsOnePost", u"aB1!", false, {"post 4 61 42 31 21"}, 0},
        KeyCase{"LocalKeysAtTheEdges",
                u"\r\u4F60\n",
                false,
                {"key 13 0 0", "key 13 0 2", "post 1 4F60", "key 10 0 0", "key 10 0 2"},
                0},
        KeyCase{"LocalLineFeedIsAKey",
                u"a\nb",
                false,
                {"post 1 61", "key 10 0 0", "key 10 0 2", "post 1 62"},
                0},
        KeyCase{"RdpMixed",
                u"aB1!",
                true,
                {"key 16 88 6", "key 65 0 0", "key 65 0 2",                  // a
                 "key 16 88 4", "key 66 0 0", "key 66 2 2", "key 16 88 6",   // B
                 "key 16 88 6", "key 49 0 0", "key 49 0 2",                  // 1
                 "key 16 88 4", "key 49 0 0", "key 49 0 2", "key 16 88 6"},  // !
                60},
        KeyCase{"RdpLineFeedTypesNothing", u"\n", true, {}, 0},
        KeyCase{"RdpControlPair",
                u"\x11"
                u"c",
                true,
                {"key 17 0 0", "key 99 0 0", "key 99 0 2", "key 17 0 2"},
                10},
        KeyCase{"RdpHighCell",
                u"\u00E9\t",
                true,
                {"key 233 0 0", "key 233 0 2", "key 9 0 0", "key 9 0 2"},
                0}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace vandora

namespace vandora {
namespace {

// Every byte of a record: the listed spans hold the given bytes, all others are zero.
struct RecordCase {
    const char* name;
    std::function<DecodeQueueRecord()> build;
    std::vector<std::pair<std::size_t, std::string>> spans;
};

std::string le32(std::uint32_t v) {
    return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
            static_cast<char>(v >> 24)};
}

// Bytes without zeros, so that a cut shows as the first zero.
std::string pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        s[i] = static_cast<char>(1 + i % 251);
    }
    return s;
}

class RecordBytes : public ::testing::TestWithParam<RecordCase> {};

TEST_P(RecordBytes, MatchByteForByte) {
    const RecordCase& c = GetParam();
    DecodeQueueRecord expected{};
    for (const auto& [offset, bytes] : c.spans) {
        ASSERT_LE(offset + bytes.size(), expected.size());
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            expected[offset + i] = static_cast<std::uint8_t>(bytes[i]);
        }
    }
    DecodeQueueRecord record = c.build();
    for (std::size_t i = 0; i < record.size(); ++i) {
        ASSERT_EQ(record[i], expected[i]) << "first difference at offset " << i;
    }
}

const std::string kUid30 = "0123456789ABCDEFGHIJKLMNOPQRST";

INSTANTIATE_TEST_SUITE_P(
    Cases, RecordBytes,
    ::testing::Values(
        RecordCase{"Barcode5000BytesCut",
                   [] { return barcodeRecord(0x1B, ByteString::fromBytes(pattern(5000))); },
                   {{0, "\x07\x1B"}, {8, le32(5000)}, {133, pattern(4095)}}},
        RecordCase{"BarcodeCodeTypeLow8BitsZerosKept",
                   [] {
                       return barcodeRecord(0x1234,
                                            ByteString::fromBytes(std::string_view("A\0B", 3)));
                   },
                   {{0, "\x07\x34"}, {8, le32(3)}, {133, std::string("A\0B", 3)}}},
        RecordCase{
            "BarcodeEmpty", [] { return barcodeRecord(1, ByteString()); }, {{0, "\x07\x01"}}},
        RecordCase{"RfidUid16NoUserData",
                   [] { return rfidRecord(8, ByteString("E004010012345678"), nullptr); },
                   {{0, "\x20T"}, {8, le32(16)}, {12, "E004010012345678"}}},
        RecordCase{"RfidUid30UserData5000Cut",
                   [] {
                       ByteString user = ByteString::fromBytes(pattern(5000));
                       return rfidRecord(20, ByteString(kUid30.c_str()), &user);
                   },
                   {{0, std::string("\x20\x14", 2)},
                    {8, le32(30)},
                    {12, kUid30.substr(0, 20)},
                    {133, pattern(4095)}}}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace vandora
