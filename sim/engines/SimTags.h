// RFID tags for the module simulators: what a tag in the module's field holds and how it answers
// block reads and writes, whichever module kind talks to it.
//
// A TagField is the module's antenna: tests and simulation mode place tags in it and take them
// away. The module models ask it for the tag of a family and read and write that tag's memory.
// Mifare Classic tags check the key of the sector before each block access: the sector trailer
// (every fourth block) holds key A (bytes 0-5), the access bytes (6-9) and key B (10-15); a read of
// a trailer gives key A as zeros, as real cards do.
//
// Threading: a field is used under the lock of the port that drives its module; tests change it
// between exchanges or under that lock.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace vandora::sim {

enum class TagKind : std::uint8_t {
    Mifare1K,    // ISO 14443 A, 64 blocks of 16 bytes, 16 sectors
    Ultralight,  // ISO 14443 A, 16 pages of 4 bytes, 7-byte UID
    Sr176,       // ISO 14443 B, 16 blocks of 2 bytes
    Srix4k,      // ISO 14443 B, 128 blocks of 4 bytes
    TagIt,       // Tag-it, blocks of 4 bytes
    Iso15693,    // ISO 15693, 64 blocks of 4 bytes, maker code in the UID's second byte
};

// The tag families the hosts select: 3 ISO 14443 A, 5 ISO 14443 B, 8 Tag-it, 16 ISO 15693.
constexpr int kFamily14443A = 3;
constexpr int kFamily14443B = 5;
constexpr int kFamilyTagIt = 8;
constexpr int kFamily15693 = 16;

using MifareKey = std::array<std::uint8_t, 6>;

struct SimTag {
    TagKind kind = TagKind::Mifare1K;
    // The UID, most significant byte first (ISO 15693: 0xE0, the maker code, then the rest).
    std::vector<std::uint8_t> uid;
    std::size_t blockSize = 16;
    std::vector<std::vector<std::uint8_t>> blocks;
    // ISO 15693: writes are taken only with the option flag set (a maker that needs it).
    bool needsOptionFlag = false;

    int family() const;
    // ISO 14443 A answer to request, low byte: 0x04 Mifare 1K, 0x44 Ultralight.
    std::uint8_t atqaLow() const;
    // ISO 15693 maker code (the UID's second byte); 0 for the other kinds.
    std::uint8_t maker() const;

    // A block's bytes; nullopt for a block the tag does not have. Mifare: only after the sector's
    // key was given (keyType 0 key A, 1 key B); a wrong key gives nullopt.
    std::optional<std::vector<std::uint8_t>> read(std::size_t block) const;
    std::optional<std::vector<std::uint8_t>> readMifare(std::size_t block, int keyType,
                                                        const MifareKey& key) const;
    // Writes a whole block (bytes of the tag's block size); false for a block the tag does not
    // have, a wrong size, a wrong Mifare key or, on ISO 15693, a missing option flag when needed.
    bool write(std::size_t block, const std::vector<std::uint8_t>& bytes, bool optionFlag = false);
    bool writeMifare(std::size_t block, int keyType, const MifareKey& key,
                     const std::vector<std::uint8_t>& bytes);
    // Replaces the trailer of a sector after checking the key; false on a wrong key or sector.
    bool writeMifareKeys(std::size_t sector, int keyType, const MifareKey& key,
                         const std::array<std::uint8_t, 16>& trailer);
    bool keyMatches(std::size_t sector, int keyType, const MifareKey& key) const;
};

// Sample tags with recognisable contents: block n starts with n, the rest counts up.
// Mifare 1K sectors all hold keyA and keyB (access bytes FF 07 80 69).
SimTag mifare1k(std::vector<std::uint8_t> uid, const MifareKey& keyA, const MifareKey& keyB);
SimTag ultralight(std::vector<std::uint8_t> uid);
SimTag sr176(std::vector<std::uint8_t> uid);
SimTag srix4k(std::vector<std::uint8_t> uid);
// Tag-it: the UID is 4 bytes; blockCount blocks of 4 bytes.
SimTag tagIt(std::vector<std::uint8_t> uid, std::size_t blockCount = 8);
// ISO 15693 with the maker code in the UID (uid[1]): 0x02, 0x04, 0x05, 0x07, 0x16 or any other.
SimTag iso15693(std::vector<std::uint8_t> uid, bool needsOptionFlag = false);

// The key every sample tag of simulation mode is made with: the settings' default login key.
MifareKey defaultSampleKey();
// One tag of each kind, for simulation mode and round-trip tests.
std::vector<SimTag> sampleTags();
// The sample tag of a kind by name: "mifare", "ultralight", "sr176", "srix4k", "tagit",
// "iso15693" or "iso15693-option" (a maker whose tags take writes only with the option flag).
std::optional<SimTag> sampleTag(std::string_view name);

class TagField {
  public:
    // Places a tag in the field; returns its index.
    std::size_t place(SimTag tag);
    void remove(std::size_t index);
    void clear() { tags_.clear(); }
    bool empty() const { return tags_.empty(); }
    std::size_t size() const { return tags_.size(); }
    SimTag& at(std::size_t index) { return tags_.at(index); }
    // The first tag of a family in the field; null when there is none.
    SimTag* find(int family);
    const SimTag* find(int family) const;
    // The first tag of a kind; null when there is none.
    SimTag* findKind(TagKind kind);

  private:
    std::vector<SimTag> tags_;
};

}  // namespace vandora::sim
