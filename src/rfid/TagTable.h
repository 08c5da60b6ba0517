// The facts of each RFID tag type in one table: its code and name, where its default page
// starts, the highest block a read or write may touch, how big its blocks are on each module
// kind, which kinds can read and write it, and which block commands of the binary link and the
// hexadecimal module reach it. The tag operations look these up instead of switching on codes.
#pragma once

#include <cstdint>

#include "rfid/RfidModule.h"

namespace vandora {

// Tag families the modules select and detect.
namespace TagFamily {
constexpr std::int32_t Iso14443A = 3;
constexpr std::int32_t Iso14443B = 5;
constexpr std::int32_t TagIt = 8;
constexpr std::int32_t Iso15693 = 16;
}  // namespace TagFamily

// Which binary-link block calls serve a tag type.
enum class LinkAccess : std::uint8_t { None, UltralightPage, Mifare, Sr176, Srix4k, Iso15693 };

// Which hexadecimal-module block frames serve a tag type.
enum class HexAccess : std::uint8_t { None, TagIt, Iso15693 };

struct TagTypeInfo {
    std::int32_t code = 0;
    const char* name = "unkonwn";
    // Block of byte 0 of the default page (a read from -1 starts here) and the last block a read
    // or write may touch.
    std::int32_t defaultFirstBlock = 0;
    std::int32_t highestBlock = 255;
    // Bytes per block on each module kind (index: RfidCommandSet); 0: the size of block 0 as the
    // module reads it.
    std::uint8_t blockSize[kRfidCommandSets] = {0, 0, 4, 4};
    // Module kinds that may read or write this type (bit per RfidCommandSet).
    std::uint8_t readableBy = 0;
    std::uint8_t writableBy = 0;
    // A letter module's block 0 of promoteSize bytes shows the tag is really promoteTo.
    std::int32_t promoteTo = 0;
    std::uint8_t promoteSize = 0;
    LinkAccess link = LinkAccess::None;
    // ISO 15693: writes carry the option flag (the maker's tags take them only so).
    bool needsOptionFlag = false;
    HexAccess hex = HexAccess::None;
    // A write reads back and merges every block it touches, not only the first and the last.
    bool mergeEveryBlock = false;
    // Mifare: every fourth block is a sector trailer and a sector is logged in before access.
    bool sectorTrailers = false;
};

constexpr std::uint8_t kindBit(RfidCommandSet set) {
    return static_cast<std::uint8_t>(1u << static_cast<unsigned>(set));
}

// The row of a code; codes without a row get the "unkonwn" row (default page 0, highest 255,
// nothing readable or writable).
const TagTypeInfo& tagTypeInfo(std::int32_t code);

inline bool tagReadableBy(std::int32_t code, RfidCommandSet set) {
    return (tagTypeInfo(code).readableBy & kindBit(set)) != 0;
}
inline bool tagWritableBy(std::int32_t code, RfidCommandSet set) {
    return (tagTypeInfo(code).writableBy & kindBit(set)) != 0;
}

// The family scan order of readTag on the hexadecimal module and the binary link.
inline constexpr std::int32_t kFamilyScanOrder[4] = {TagFamily::Iso15693, TagFamily::Iso14443A,
                                                     TagFamily::TagIt, TagFamily::Iso14443B};

// A family letter: the lead of a letter module's tag answer, and the mark of an RFID decode
// record (which keeps the family, not the type).
struct TagLetter {
    char16_t letter;
    // The tag type the letter names by itself (the letter module refines "M" by the UID length
    // and "V" by the maker byte).
    std::int32_t code;
    // The tag types of the family, a bit per code.
    std::uint32_t codes;
    // The family's name on a record; null: the table's name of code.
    const char* familyName;
};

constexpr std::uint32_t codeBits(std::int32_t first, std::int32_t last) {
    std::uint32_t bits = 0;
    for (std::int32_t c = first; c <= last; ++c) {
        bits |= 1u << static_cast<unsigned>(c);
    }
    return bits;
}

inline constexpr TagLetter kTagLetters[] = {
    {u'I', 1, codeBits(1, 1), nullptr},
    {u'M', 3, codeBits(2, 4), "ISO14443 Type A"},
    {u'Z', 5, codeBits(5, 5) | codeBits(7, 7), nullptr},
    {u'S', 6, codeBits(6, 6), nullptr},
    {u'T', 8, codeBits(8, 8), nullptr},
    {u'V', 16, codeBits(9, 16), nullptr},
};

// The row of a family letter; null for a letter of no family.
const TagLetter* familyOfLetter(char16_t letter);
// The family letter of a tag type; a type of no family is marked by its own number.
std::uint8_t tagFamilyLetter(std::int32_t code);
// The family name a record's letter stands for; "unknown tag" for a letter of no family.
const char* tagFamilyName(char16_t letter);

// ISO 15693 maker byte (two hexadecimal characters of the UID after "E0") to tag type code.
std::int32_t iso15693CodeForMaker(char16_t high, char16_t low);

}  // namespace vandora
