#include "reader/CodeTypes.h"

#include <array>

#include "reader/engines/CcdLayout.h"
#include "reader/engines/EngineTable.h"

namespace vandora {

namespace {

constexpr std::int32_t kCcdFirst = 64;
constexpr std::int32_t kCcdLast = 91;
constexpr std::size_t kCcdPrefixChars = 4;
constexpr std::int32_t kCcdEan13 = 80;
constexpr std::int32_t kCcdEan13Addon2 = 81;
constexpr std::int32_t kCcdEan13Addon5 = 82;
constexpr std::int32_t kCcdEan128 = 85;
constexpr char16_t kGroupSeparator = 0x1D;

// Letters '@' to '[' of the CCD/Laser engine.
constexpr std::array<const char*, kCcdLast - kCcdFirst + 1> kCcdNames{{
    "ISBT 128",        // @
    "Code 39",         // A
    "Italian Pharma",  // B
    "French Pharma",   // C
    "Industrial 2/5",  // D
    "Interleave 2/5",  // E
    "Matrix 25",       // F
    "Codabar",         // G
    "Code 93",         // H
    "Code 128",        // I
    "UPCE",            // J
    "UPCE addon 2",    // K
    "UPCE addon 5",    // L
    "EAN-8",           // M
    "EAN-8 addon 2",   // N
    "EAN-8 addon 5",   // O
    "EAN-13",          // P (or UPC-A)
    "EAN-13 addon 2",  // Q
    "EAN-13 addon 5",  // R
    "MSI",             // S
    "Plessey",         // T
    "EAN-128",         // U
    nullptr,           // V
    nullptr,           // W
    nullptr,           // X
    nullptr,           // Y
    "Telepen",         // Z
    "GS1 DataBar-14",  // [
}};

constexpr std::array<const char*, 3> kUpcANames{{"UPC-A", "UPC-A addon 2", "UPC-A addon 5"}};

struct PacketName {
    std::int32_t id;
    const char* name;
};

// The packet engines' code type bytes; the spelling of each name is what users see.
constexpr std::array<PacketName, 76> kPacketNames{{
    {1, "Code 39"},
    {2, "Codabar"},
    {3, "Code 128"},
    {4, "Discrete 2 of 5"},
    {5, "IATA25"},
    {6, "Interleave 2/5"},
    {7, "Code 93"},
    {8, "UPC-A"},
    {9, "UPC-E0"},
    {10, "EAN8"},
    {11, "EAN13"},
    {12, "Code 11"},
    {14, "MSI"},
    {15, "EAN 128"},
    {16, "UPC-E1"},
    {17, "PDF417"},
    {19, "Code 39 Full ASCII"},
    {21, "Trioptic Code 39"},
    {22, "Bookland"},
    {23, "Coupon Code"},
    {25, "ISBT 128"},
    {26, "Micro PDF"},
    {27, "Data Matrix"},
    {28, "QR Code"},
    {30, "US Postnet"},
    {31, "US Planet"},
    {32, "Code 32"},
    {33, "ISBT-128"},
    {34, "Japan Postal"},
    {35, "Australian Postal"},
    {36, "Dutch Postal"},
    {37, "Maxicode"},
    {38, "Postbar (CA)"},
    {39, "UK Postal"},
    {40, "Macro PDF"},
    {44, "Micro QR Code"},
    {45, "Aztec"},
    {48, "GS1 DataBar-14"},
    {49, "GS1 DataBar Limited"},
    {50, "GS1 DataBar Expanded"},
    {51, "Parameter (FNC3)"},
    {52, "USPS 4CB/One Code/Intelligent Mail"},
    {53, "UPU FICS Postal"},
    {55, "Scanlet Webcode"},
    {56, "Cue CAT Code"},
    {57, "Matrix 2 of 5"},
    {72, "UPC-A with 2 Digits Addenda"},
    {73, "UPC-E0 with 2 Digits Addenda"},
    {74, "EAN8 with 2 Digits Addenda"},
    {75, "EAN13 with 2 Digits Addenda"},
    {80, "UPC-E1 with 2 Digits Addenda"},
    {81, "Composite CC-A + EAN128"},
    {82, "Composite CC-A + EAN13"},
    {83, "Composite CC-A + EAN8"},
    {84, "Composite CC-A + RSS Expanded"},
    {85, "Composite CC-A + RSS Limited"},
    {86, "Composite CC-A + RSS14"},
    {87, "Composite CC-A + UPC-A"},
    {88, "Composite CC-A + UPC-E"},
    {89, "Composite CC-C + EAN128"},
    {90, "TLC-39"},
    {97, "Composite CC-B + EAN128"},
    {98, "Composite CC-B + EAN13"},
    {99, "Composite CC-B + EAN8"},
    {100, "Composite CC-B + RSS Expanded"},
    {101, "Composite CC-B + RSS Limited"},
    {102, "Composite CC-B + RSS14"},
    {103, "Composite CC-B + UPC-A"},
    {104, "Composite CC-B + UPC-E"},
    {114, "Chinese 2 of 5"},
    {136, "UPC-A with 5 Digits Addenda"},
    {137, "UPC-E0 with 5 Digits Addenda"},
    {138, "EAN8 with 5 Digits Addenda"},
    {139, "EAN13 with 5 Digits Addenda"},
    {144, "UPC-E1 with 5 Digits Addenda"},
    {154, "Macro Micro PDF417"},
}};

// Removes the check digit of an EAN-13 family decode: the last character, or the one before a
// 2- or 5-digit add-on.
void removeCheckDigit(ByteString& data, std::int32_t id) {
    std::size_t length = data.length();
    if (id == kCcdEan13) {
        if (length > 0) {
            data.remove(length - 1, 1);
        }
        return;
    }
    std::size_t fromEnd = id == kCcdEan13Addon2 ? 3 : 6;
    if (length >= fromEnd + 1) {
        data.remove(length - fromEnd, 1);
    }
}

void nameCcd(ReaderChannel& channel, const CcdHostOptions& options) {
    ByteString& data = channel.decodeData;
    std::int32_t id = data.at(0);
    if (data.length() >= kCcdPrefixChars) {
        data.remove(0, kCcdPrefixChars);
    }
    const char* name = ccdCodeTypeName(id);
    if (name == nullptr) {
        channel.codeTypeId = 0;
        channel.codeTypeName = "unknown";
        return;
    }
    channel.codeTypeId = id;
    channel.codeTypeName = name;
    if (id >= kCcdEan13 && id <= kCcdEan13Addon5) {
        bool upcA = data.at(0) == u'0' && data.length() >= 11 && options.convertToEAN13 == 0;
        if (upcA) {
            data.remove(0, 1);
            if (ccdFieldValue(channel.parameterImage, ccd::kUpcATransmitSystemNumber) == 0) {
                data.remove(0, 1);
            }
            channel.codeTypeName = kUpcANames[static_cast<std::size_t>(id - kCcdEan13)];
            if (options.transmitUpcACheckDigit == 0) {
                removeCheckDigit(data, id);
            }
        } else if (options.transmitEan13CheckDigit == 0) {
            removeCheckDigit(data, id);
        }
        return;
    }
    if (id == kCcdEan128) {
        if (options.ean128FieldSeparator != 0) {
            data.replace(kGroupSeparator, static_cast<char16_t>(options.ean128FieldSeparator));
        }
        if (ccdFieldValue(channel.parameterImage, ccd::kNoCodeId) != 0 && data.at(0) == u']' &&
            data.at(1) == u'C' && data.at(2) == u'1') {
            data.remove(0, 3);
        }
    }
}

void namePacket(ReaderChannel& channel) {
    std::int32_t id = channel.decodeData.byteAt(0);
    const char* name = packetCodeTypeName(id);
    channel.codeTypeId = name != nullptr ? id : 0;
    channel.codeTypeName = name != nullptr ? name : "unkonwn";
    channel.decodeData.remove(0, 1);
}

}  // namespace

const char* ccdCodeTypeName(std::int32_t id) {
    if (id < kCcdFirst || id > kCcdLast) {
        return nullptr;
    }
    return kCcdNames[static_cast<std::size_t>(id - kCcdFirst)];
}

const char* packetCodeTypeName(std::int32_t id) {
    for (const PacketName& entry : kPacketNames) {
        if (entry.id == id) {
            return entry.name;
        }
    }
    return nullptr;
}

void nameCodeType(ReaderChannel& channel, const CcdHostOptions& options) {
    channel.codeTypeId = 0;
    channel.codeTypeName.clear();
    const EngineInfo& info = engineInfo(channel.engineType);
    if (info.framing == Framing::CcdText) {
        nameCcd(channel, options);
    } else if (info.framing == Framing::Packet) {
        namePacket(channel);
    } else if (info.module != nullptr) {
        info.module->nameAnswer(channel);
    }
}

}  // namespace vandora
