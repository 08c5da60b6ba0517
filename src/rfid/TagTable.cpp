#include "rfid/TagTable.h"

#include <array>

namespace vandora {

namespace {

constexpr std::uint8_t L = kindBit(RfidCommandSet::Letters);
constexpr std::uint8_t H = kindBit(RfidCommandSet::HexFrames);
constexpr std::uint8_t K = kindBit(RfidCommandSet::Link);

// Block sizes by kind: {none, letters, hexadecimal module, binary link}; 0 asks the tag.
constexpr TagTypeInfo row(std::int32_t code, const char* name, std::int32_t first,
                          std::int32_t highest, std::uint8_t letters, std::uint8_t hex,
                          std::uint8_t link, std::uint8_t readable, std::uint8_t writable) {
    TagTypeInfo r;
    r.code = code;
    r.name = name;
    r.defaultFirstBlock = first;
    r.highestBlock = highest;
    r.blockSize[0] = 0;
    r.blockSize[1] = letters;
    r.blockSize[2] = hex;
    r.blockSize[3] = link;
    r.readableBy = readable;
    r.writableBy = writable;
    return r;
}

constexpr TagTypeInfo withLink(TagTypeInfo r, LinkAccess access, bool optionFlag = false) {
    r.link = access;
    r.needsOptionFlag = optionFlag;
    return r;
}
constexpr TagTypeInfo withHex(TagTypeInfo r, HexAccess access) {
    r.hex = access;
    return r;
}
constexpr TagTypeInfo promotes(TagTypeInfo r, std::int32_t to, std::uint8_t size) {
    r.promoteTo = to;
    r.promoteSize = size;
    return r;
}
constexpr TagTypeInfo mergesAll(TagTypeInfo r) {
    r.mergeEveryBlock = true;
    return r;
}
constexpr TagTypeInfo mifare(TagTypeInfo r) {
    r.sectorTrailers = true;
    return r;
}

constexpr std::array<TagTypeInfo, 17> kTagTypes{{
    row(0, "unkonwn", 0, 255, 0, 4, 4, 0, 0),
    row(1, "Icode", 5, 15, 0, 4, 4, L, L),
    mergesAll(withLink(row(2, "ISO14443 Type A, Mifare Ultralight", 4, 15, 4, 4, 4, L | K, L | K),
                       LinkAccess::UltralightPage)),
    mifare(withLink(row(3, "ISO14443 Type A, Mifare family", 4, 255, 16, 16, 16, L | K, L | K),
                    LinkAccess::Mifare)),
    row(4, "ISO 14443 Type A, Infineon SLE55Rxx, my-d IC", 4, 255, 8, 4, 4, L, L),
    row(5, "ISO14443, Type B", 0, 255, 0, 4, 4, L, L),
    promotes(
        withLink(row(6, "ISO14443 Type B, SR176", 4, 14, 0, 4, 2, L | K, L | K), LinkAccess::Sr176),
        7, 4),
    withLink(row(7, "ISO14443 Type B, SRIX4K", 7, 127, 0, 4, 4, L | K, L | K), LinkAccess::Srix4k),
    withHex(row(8, "Tagit", 0, 255, 0, 4, 4, L | H, L | H), HexAccess::TagIt),
    withLink(row(9, "ISO15693, ST Microelectronics", 0, 63, 0, 4, 4, L | K, L),
             LinkAccess::Iso15693),
    withLink(row(10, "ISO15693, Philips Semiconductors", 0, 63, 0, 4, 4, L | K, L | K),
             LinkAccess::Iso15693),
    promotes(withLink(row(11, "ISO15693, Infineon Technologies AG, my-d_IC(SRF55VxxP)", 0, 63, 0, 4,
                          4, L | K, L),
                      LinkAccess::Iso15693),
             12, 8),
    row(12, "ISO15693 Infineon SRF55VxxP, my-d IC", 3, 127, 0, 4, 4, L, L),
    withHex(withLink(row(13, "ISO15693, Texas Instrument", 0, 63, 0, 4, 4, L | K, L | H | K),
                     LinkAccess::Iso15693, true),
            HexAccess::Iso15693),
    promotes(withLink(row(14, "ISO15693, EM Microelectronic-Marin SA, EM_4135", 0, 63, 0, 4, 4,
                          L | K, L),
                      LinkAccess::Iso15693),
             15, 8),
    row(15, "ISO15693 Infineon EM4135", 0, 35, 0, 4, 4, L, L),
    withHex(
        withLink(row(16, "ISO15693", 0, 63, 0, 4, 4, L | H | K, L | H | K), LinkAccess::Iso15693),
        HexAccess::Iso15693),
}};

static_assert([] {
    for (std::size_t i = 0; i < kTagTypes.size(); ++i) {
        if (kTagTypes[i].code != static_cast<std::int32_t>(i)) {
            return false;
        }
    }
    return true;
}());

struct MakerCode {
    char16_t high;
    char16_t low;
    std::int32_t code;
};

constexpr MakerCode kMakers[] = {
    {u'0', u'2', 9}, {u'0', u'4', 10}, {u'0', u'5', 11}, {u'0', u'7', 13}, {u'1', u'6', 14},
};

}  // namespace

const TagTypeInfo& tagTypeInfo(std::int32_t code) {
    if (code < 0 || code >= static_cast<std::int32_t>(kTagTypes.size())) {
        return kTagTypes[0];
    }
    return kTagTypes[static_cast<std::size_t>(code)];
}

const TagLetter* familyOfLetter(char16_t letter) {
    for (const TagLetter& t : kTagLetters) {
        if (t.letter == letter) {
            return &t;
        }
    }
    return nullptr;
}

std::uint8_t tagFamilyLetter(std::int32_t code) {
    if (code >= 0 && code < 32) {
        for (const TagLetter& t : kTagLetters) {
            if ((t.codes & (1u << static_cast<unsigned>(code))) != 0) {
                return static_cast<std::uint8_t>(t.letter);
            }
        }
    }
    return static_cast<std::uint8_t>(code);
}

const char* tagFamilyName(char16_t letter) {
    const TagLetter* t = familyOfLetter(letter);
    if (t == nullptr) {
        return "unknown tag";
    }
    return t->familyName != nullptr ? t->familyName : tagTypeInfo(t->code).name;
}

std::int32_t iso15693CodeForMaker(char16_t high, char16_t low) {
    for (const MakerCode& m : kMakers) {
        if (m.high == high && m.low == low) {
            return m.code;
        }
    }
    return 16;
}

}  // namespace vandora
