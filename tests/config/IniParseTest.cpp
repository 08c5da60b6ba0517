#include <gtest/gtest.h>

#include "config/IniStore.h"
#include "config/IniTestUtil.h"

namespace vandora::testing {
namespace {

struct ParseCase {
    const char* label;
    Bytes file;
    const char* sections;  // render() of the parsed store
};

std::ostream& operator<<(std::ostream& out, const ParseCase& c) {
    return out << c.label;
}

class IniParse : public ::testing::TestWithParam<ParseCase> {};

Bytes withoutMark(Bytes file) {
    file.erase(file.begin(), file.begin() + 2);
    return file;
}

TEST_P(IniParse, GivesTheseSectionsAndEntries) {
    IniStore store;
    ASSERT_EQ(store.loadBytes(GetParam().file.data(), GetParam().file.size()), 1);
    EXPECT_EQ(render(store), GetParam().sections);
    EXPECT_EQ(store.lastError(), "");
}

const ParseCase kParseCases[] = {
    {"header and key with blanks around", bytesOf("[General]\r\nlockScreen = 1\r\n"),
     "[general] lockscreen=1"},
    {"line without equals joins the next key", bytesOf("[s]\r\nabc\r\nkey=1\r\n"),
     "[s] abc\\r\\nkey=1"},
    {"text after the bracket starts the first key", bytesOf("[s] x\r\ny=2\r\n"), "[s] x\\r\\ny=2"},
    {"value keeps equals and brackets", bytesOf("[s]\r\nk=a=b[c]\r\n"), "[s] k=a=b[c]"},
    {"value trimmed at line feed, inner blanks kept", bytesOf("[s]\r\nk= \ta b \t\r\r\n"),
     "[s] k=a b"},
    {"last value without line feed not trimmed", bytesOf("[s]\r\nk= a \r"), "[s] k= a \\r"},
    {"text before the first header ignored", bytesOf("junk=1\r\nmore\r\n[s]\r\nk=1"), "[s] k=1"},
    {"header inside an unfinished key drops it", bytesOf("[a]\r\nnoequals[b]\r\nk=1\r\n"),
     "[a] [b] k=1"},
    {"header cut off by the end kept untrimmed", bytesOf("[a]\r\nk=1\r\n[ Tail "),
     "[a] k=1 [ tail ]"},
    {"key cut off by the end dropped", bytesOf("[a]\r\nk=1\r\ndangling"), "[a] k=1"},
    {"names and keys lowercased, values keep case", bytesOf("[MiXeD]\r\nKeY=VaLuE\r\n"),
     "[mixed] key=VaLuE"},
    {"equal keys both kept in order", bytesOf("[s]\r\nk=1\r\nK=2\r\n"), "[s] k=1 k=2"},
    {"empty name and empty key", bytesOf("[]=v\r\n"), "[] =v"},
    {"equals at a line start begins a key", bytesOf("[s]\r\na=1\r\n=2\r\nb=3\r\n"),
     "[s] a=1 =2\\r\\nb=3"},
    {"zero bytes are ordinary units", bytesOf(std::string_view("[s]\r\nk=a\0b\r\n", 12)),
     "[s] k=a\\u{0}b"},
    {"8-bit bytes above 0x7F taken as signed, not lowercased",
     bytesOf("[\xC9t\xE9]\r\nk=\xE9\x80\xFF\r\n"),
     "[\\u{FFC9}t\\u{FFE9}] k=\\u{FFE9}\\u{FF80}\\u{FFFF}"},
    {"single byte file", bytesOf("["), "[]"},
    {"UTF-16 names and keys lowercased beyond A to Z",
     utf16File(u"[\u00C4bc]\r\nK\u00D6=\u00D6\r\n"), "[\\u{E4}bc] k\\u{F6}=\\u{D6}"},
    {"UTF-16 of odd length ignores the last byte",
     [] {
         Bytes b = utf16File(u"[s]\r\nk=1");
         b.push_back('2');
         return b;
     }(),
     "[s] k=1"},
    {"UTF-16 units above 0x7FFF are not blanks", utf16File(u"[s]\r\nk=\uFF10a\uFF10 \r\n"),
     "[s] k=\\u{FF10}a\\u{FF10}"},
    // Editors and scripts often leave the byte-order mark out.
    {"UTF-16 without its byte-order mark",
     withoutMark(utf16File(u"[General]\r\nprefixStr=\u4E2D\u6587\r\nlockScreen=1\r\n")),
     "[general] prefixstr=\\u{4E2D}\\u{6587} lockscreen=1"},
    {"UTF-16 without mark, one Latin unit only", withoutMark(utf16File(u"[")), "[]"},
    {"UTF-8 byte-order mark is not part of the first header",
     bytesOf("\xEF\xBB\xBF[General]\r\nk=1\r\n"), "[general] k=1"},
};

INSTANTIATE_TEST_SUITE_P(Cases, IniParse, ::testing::ValuesIn(kParseCases));

// ---- load results

struct LoadCase {
    const char* label;
    std::function<void(ScratchFolder&, std::string& path)> prepare;
    bool emptiesStore;
};

std::ostream& operator<<(std::ostream& out, const LoadCase& c) {
    return out << c.label;
}

class IniLoadFailure : public ::testing::TestWithParam<LoadCase> {};

TEST_P(IniLoadFailure, FailsAndKeepsOrEmptiesTheStore) {
    ScratchFolder folder;
    folder.write("old.txt", bytesOf("[keep]\r\nk=1\r\n"));
    IniStore store;
    ASSERT_EQ(store.load(folder.path("old.txt")), 1);
    std::string path = folder.path("bad.txt");
    GetParam().prepare(folder, path);

    EXPECT_EQ(store.load(path), 0);
    if (GetParam().emptiesStore) {
        EXPECT_TRUE(store.isEmpty());
        EXPECT_EQ(store.filePath(), "");
        EXPECT_EQ(store.lastError(), IniStore::kNothingError);
    } else {
        EXPECT_EQ(render(store), "[keep] k=1");
        EXPECT_EQ(store.filePath(), folder.path("old.txt"));
        EXPECT_EQ(store.lastError(), "");
    }
}

const LoadCase kLoadCases[] = {
    {"missing file", [](ScratchFolder&, std::string&) {}, false},
    {"empty file", [](ScratchFolder& f, std::string&) { f.write("bad.txt", {}); }, false},
    {"folder instead of a file",
     [](ScratchFolder& f, std::string&) { ::mkdir(f.path("bad.txt").c_str(), 0755); }, false},
    {"text without a header",
     [](ScratchFolder& f, std::string&) { f.write("bad.txt", bytesOf("k=1\r\nmore text\r\n")); },
     true},
    {"byte-order mark alone",
     [](ScratchFolder& f, std::string&) {
         f.write("bad.txt", {0xFF, 0xFE});
     },
     true},
    {"byte-order mark and one byte",
     [](ScratchFolder& f, std::string&) {
         f.write("bad.txt", {0xFF, 0xFE, '['});
     },
     true},
};

INSTANTIATE_TEST_SUITE_P(Cases, IniLoadFailure, ::testing::ValuesIn(kLoadCases));

TEST(IniLoad, SuccessReplacesContentsAndKeepsThePath) {
    ScratchFolder folder;
    folder.write("a.txt", bytesOf("[a]\r\nx=1\r\n"));
    folder.write("b.txt", utf16File(u"[b]\r\ny=2\r\n"));
    IniStore store;
    ASSERT_EQ(store.load(folder.path("a.txt")), 1);
    ASSERT_EQ(store.load(folder.path("b.txt")), 1);
    EXPECT_EQ(render(store), "[b] y=2");
    EXPECT_EQ(store.filePath(), folder.path("b.txt"));
    EXPECT_EQ(store.findSection("a"), nullptr);
}

// ---- bad input

TEST(IniBadInput, ManySectionsAndAHugeLineLoad) {
    std::string text;
    for (int i = 0; i < 100000; ++i) {
        text += "[s]\n";
    }
    text += "[big]\nk=" + std::string(4 << 20, 'v') + "\n" + std::string(1 << 20, 'x');
    IniStore store;
    ASSERT_EQ(store.loadBytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), 1);
    ASSERT_EQ(store.sections().size(), 100001u);
    EXPECT_EQ(store.findSection("S"), &store.sections().front());
    ByteString value;
    ASSERT_EQ(store.getString(store.findSection("big"), "k", value), 1);
    EXPECT_EQ(value.length(), std::size_t{4} << 20);
    // The unfinished last key is dropped, not kept.
    EXPECT_EQ(store.sections().back().entries().size(), 1u);
}

TEST(IniBadInput, GarbageRoundTripsThroughSave) {
    // Deterministic noise rich in the parser's special units.
    std::uint32_t seed = 12345;
    const char special[] =
        "[]=\r\n \t\xFF\xFE\x80"
        "Aa";
    for (int round = 0; round < 50; ++round) {
        Bytes noise;
        for (int i = 0; i < 4000; ++i) {
            seed = seed * 1103515245 + 12345;
            std::uint8_t b = static_cast<std::uint8_t>(seed >> 16);
            noise.push_back(
                (b & 1) ? static_cast<std::uint8_t>(special[(b >> 1) % (sizeof special - 1)]) : b);
        }
        if (round % 2 == 0) {
            noise[0] = 0xFF;
            noise[1] = 0xFE;
        }
        IniStore first;
        if (first.loadBytes(noise.data(), noise.size()) == 0) {
            continue;
        }
        Bytes saved = first.fileBytes();
        IniStore second;
        ASSERT_EQ(second.loadBytes(saved.data(), saved.size()), 1);
        ASSERT_EQ(second.sections().size(), first.sections().size());
        // Once saved, the text is in the form the parser reads back identically.
        Bytes again = second.fileBytes();
        IniStore third;
        ASSERT_EQ(third.loadBytes(again.data(), again.size()), 1);
        EXPECT_EQ(third.fileBytes(), again) << "round " << round;
    }
}

}  // namespace
}  // namespace vandora::testing
