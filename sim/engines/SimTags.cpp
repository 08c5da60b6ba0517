#include "engines/SimTags.h"

#include <algorithm>
#include <utility>

namespace vandora::sim {

namespace {

constexpr std::size_t kMifareBlocks = 64;
constexpr std::array<std::uint8_t, 4> kAccessBytes{0xFF, 0x07, 0x80, 0x69};

bool isTrailer(std::size_t block) {
    return block % 4 == 3;
}

std::vector<std::vector<std::uint8_t>> countingBlocks(std::size_t count, std::size_t size) {
    std::vector<std::vector<std::uint8_t>> blocks(count, std::vector<std::uint8_t>(size));
    for (std::size_t b = 0; b < count; ++b) {
        for (std::size_t i = 0; i < size; ++i) {
            blocks[b][i] = static_cast<std::uint8_t>(i == 0 ? b : (b * size + i) & 0xFF);
        }
    }
    return blocks;
}

SimTag made(TagKind kind, std::vector<std::uint8_t> uid, std::size_t blocks, std::size_t size) {
    SimTag tag;
    tag.kind = kind;
    tag.uid = std::move(uid);
    tag.blockSize = size;
    tag.blocks = countingBlocks(blocks, size);
    return tag;
}

}  // namespace

int SimTag::family() const {
    switch (kind) {
        case TagKind::Mifare1K:
        case TagKind::Ultralight:
            return kFamily14443A;
        case TagKind::Sr176:
        case TagKind::Srix4k:
            return kFamily14443B;
        case TagKind::TagIt:
            return kFamilyTagIt;
        case TagKind::Iso15693:
            return kFamily15693;
    }
    return 0;
}

std::uint8_t SimTag::atqaLow() const {
    return kind == TagKind::Ultralight ? 0x44 : 0x04;
}

std::uint8_t SimTag::maker() const {
    return kind == TagKind::Iso15693 && uid.size() > 1 ? uid[1] : 0;
}

std::optional<std::vector<std::uint8_t>> SimTag::read(std::size_t block) const {
    if (block >= blocks.size() || kind == TagKind::Mifare1K) {
        return std::nullopt;
    }
    return blocks[block];
}

bool SimTag::keyMatches(std::size_t sector, int keyType, const MifareKey& key) const {
    std::size_t trailer = sector * 4 + 3;
    if (kind != TagKind::Mifare1K || trailer >= blocks.size() || (keyType != 0 && keyType != 1)) {
        return false;
    }
    const std::vector<std::uint8_t>& t = blocks[trailer];
    std::size_t from = keyType == 0 ? 0 : 10;
    return std::equal(key.begin(), key.end(), t.begin() + static_cast<std::ptrdiff_t>(from));
}

std::optional<std::vector<std::uint8_t>> SimTag::readMifare(std::size_t block, int keyType,
                                                            const MifareKey& key) const {
    if (block >= blocks.size() || !keyMatches(block / 4, keyType, key)) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes = blocks[block];
    if (isTrailer(block)) {
        std::fill(bytes.begin(), bytes.begin() + 6, 0);
    }
    return bytes;
}

bool SimTag::write(std::size_t block, const std::vector<std::uint8_t>& bytes, bool optionFlag) {
    if (kind == TagKind::Mifare1K || block >= blocks.size() || bytes.size() != blockSize) {
        return false;
    }
    if (needsOptionFlag && !optionFlag) {
        return false;
    }
    blocks[block] = bytes;
    return true;
}

bool SimTag::writeMifare(std::size_t block, int keyType, const MifareKey& key,
                         const std::vector<std::uint8_t>& bytes) {
    if (block >= blocks.size() || bytes.size() != blockSize ||
        !keyMatches(block / 4, keyType, key)) {
        return false;
    }
    blocks[block] = bytes;
    return true;
}

bool SimTag::writeMifareKeys(std::size_t sector, int keyType, const MifareKey& key,
                             const std::array<std::uint8_t, 16>& trailer) {
    if (!keyMatches(sector, keyType, key)) {
        return false;
    }
    blocks[sector * 4 + 3].assign(trailer.begin(), trailer.end());
    return true;
}

SimTag mifare1k(std::vector<std::uint8_t> uid, const MifareKey& keyA, const MifareKey& keyB) {
    SimTag tag = made(TagKind::Mifare1K, std::move(uid), kMifareBlocks, 16);
    for (std::size_t b = 3; b < kMifareBlocks; b += 4) {
        std::vector<std::uint8_t>& t = tag.blocks[b];
        std::copy(keyA.begin(), keyA.end(), t.begin());
        std::copy(kAccessBytes.begin(), kAccessBytes.end(), t.begin() + 6);
        std::copy(keyB.begin(), keyB.end(), t.begin() + 10);
    }
    return tag;
}

SimTag ultralight(std::vector<std::uint8_t> uid) {
    return made(TagKind::Ultralight, std::move(uid), 16, 4);
}

SimTag sr176(std::vector<std::uint8_t> uid) {
    return made(TagKind::Sr176, std::move(uid), 16, 2);
}

SimTag srix4k(std::vector<std::uint8_t> uid) {
    return made(TagKind::Srix4k, std::move(uid), 128, 4);
}

SimTag tagIt(std::vector<std::uint8_t> uid, std::size_t blockCount) {
    return made(TagKind::TagIt, std::move(uid), blockCount, 4);
}

SimTag iso15693(std::vector<std::uint8_t> uid, bool needsOptionFlag) {
    SimTag tag = made(TagKind::Iso15693, std::move(uid), 64, 4);
    tag.needsOptionFlag = needsOptionFlag;
    return tag;
}

MifareKey defaultSampleKey() {
    return {0x3C, 0x5A, 0x9E, 0x71, 0xB2, 0xD4};
}

namespace {

constexpr std::string_view kSampleNames[] = {"mifare", "ultralight", "sr176",          "srix4k",
                                             "tagit",  "iso15693",   "iso15693-option"};

}  // namespace

std::optional<SimTag> sampleTag(std::string_view name) {
    MifareKey key = defaultSampleKey();
    if (name == "mifare") {
        return mifare1k({0x5A, 0x31, 0xC2, 0x07}, key, key);
    }
    if (name == "ultralight") {
        return ultralight({0x04, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC});
    }
    if (name == "sr176") {
        return sr176({0xD0, 0x02, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88});
    }
    if (name == "srix4k") {
        return srix4k({0xD0, 0x02, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F});
    }
    if (name == "tagit") {
        return tagIt({0x81, 0x22, 0x33, 0x44});
    }
    if (name == "iso15693") {
        return iso15693({0xE0, 0x04, 0x01, 0x50, 0x12, 0x34, 0x56, 0x78});
    }
    if (name == "iso15693-option") {
        return iso15693({0xE0, 0x07, 0x00, 0x00, 0x0A, 0x0B, 0x0C, 0x0D}, true);
    }
    return std::nullopt;
}

std::vector<SimTag> sampleTags() {
    std::vector<SimTag> tags;
    for (std::string_view name : kSampleNames) {
        tags.push_back(*sampleTag(name));
    }
    return tags;
}

std::size_t TagField::place(SimTag tag) {
    tags_.push_back(std::move(tag));
    return tags_.size() - 1;
}

void TagField::remove(std::size_t index) {
    if (index < tags_.size()) {
        tags_.erase(tags_.begin() + static_cast<std::ptrdiff_t>(index));
    }
}

SimTag* TagField::find(int family) {
    for (SimTag& tag : tags_) {
        if (tag.family() == family) {
            return &tag;
        }
    }
    return nullptr;
}

const SimTag* TagField::find(int family) const {
    for (const SimTag& tag : tags_) {
        if (tag.family() == family) {
            return &tag;
        }
    }
    return nullptr;
}

SimTag* TagField::findKind(TagKind kind) {
    for (SimTag& tag : tags_) {
        if (tag.kind == kind) {
            return &tag;
        }
    }
    return nullptr;
}

}  // namespace vandora::sim
