#include "rfid/TagOps.h"

#include <algorithm>
#include <array>

#include "reader/PortOps.h"
#include "reader/Scan.h"
#include "reader/Trigger.h"
#include "reader/engines/EngineTable.h"
#include "rfid/RfidCommands.h"
#include "rfid/TagChannel.h"
#include "rfid/TagTable.h"

namespace vandora {

namespace {

constexpr std::uint32_t kRetryPauseMs = 100;
constexpr std::int32_t kHexAttemptsPerFamily = 2;
constexpr std::size_t kLetterKeyLength = 14;

RfidCommandSet kindOf(const ReaderChannel& channel) {
    return engineInfo(channel.engineType).rfid;
}

void copyOut(const ReaderChannel& channel, TagRead& out) {
    out.codeTypeId = channel.codeTypeId;
    out.codeTypeName = channel.codeTypeName;
    out.uid = channel.decodeData;
    out.userData = channel.tag.userData;
    out.blockSize = channel.tag.blockSize;
}

// The letter module takes the whole key part of its login command: "AA" or "BB" and 12 digits.
void setLetterKey(RfidTagState& tag, const ByteString& keyText, std::int32_t keyType) {
    if (keyText.length() == kLetterKeyLength) {
        tag.loginKey = keyText;
        return;
    }
    tag.keyType = keyType;
    if (keyType == 0 || keyType == 1) {
        tag.loginKey = keyType == 0 ? "AA" : "BB";
        tag.loginKey.append(keyText);
    }
}

void setRange(RfidTagState& tag, std::int32_t readStart, std::int32_t readLength) {
    tag.readStart = readStart;
    tag.readLength = readLength > 0 ? static_cast<std::uint32_t>(readLength) : 0;
}

// One detection: trigger on, the answer, trigger off.
std::int32_t detectOnce(ReaderManager& manager, ReaderChannel& channel) {
    if (setTrigger(channel, 1) == 0) {
        return 0;
    }
    std::int32_t found = awaitDecode(channel, manager.ccdHostOptions());
    setTrigger(channel, 0);
    return found;
}

std::int32_t readTagLetters(ReaderManager& manager, ReaderChannel& channel,
                            const ByteString& keyText, std::int32_t keyType, TagRead& out) {
    setLetterKey(channel.tag, keyText, keyType);
    std::int32_t found = detectOnce(manager, channel);
    if (found != 0) {
        copyOut(channel, out);
    }
    return found;
}

// The port closes after an idle time; a read opens it again and sets the module up as at start.
std::int32_t reopenHexPort(ReaderManager& manager, ReaderChannel& channel) {
    if (channel.isOpen()) {
        return 1;
    }
    return openPort(channel) != 0 && setBaudRate(channel, channel.baudRate) != 0 &&
                   manager.setup().applySettings(manager, channel) != 0 &&
                   selectTagFamily(channel) != 0
               ? 1
               : 0;
}

std::int32_t readTagHex(ReaderManager& manager, ReaderChannel& channel, const ByteString& keyText,
                        TagRead& out) {
    if (reopenHexPort(manager, channel) == 0) {
        return 0;
    }
    channel.tag.loginKey = keyText;
    // The family that last found a tag is tried first.
    const auto* at =
        std::find(std::begin(kFamilyScanOrder), std::end(kFamilyScanOrder), channel.tag.tagType);
    std::size_t start =
        at == std::end(kFamilyScanOrder) ? 0 : static_cast<std::size_t>(at - kFamilyScanOrder);
    for (std::size_t i = 0; i < std::size(kFamilyScanOrder); ++i) {
        std::int32_t family = kFamilyScanOrder[(start + i) % std::size(kFamilyScanOrder)];
        if (family != channel.tag.tagType) {
            channel.tag.tagType = family;
            if (selectTagFamily(channel) == 0) {
                return 0;
            }
        }
        for (std::int32_t attempt = 0; attempt < kHexAttemptsPerFamily; ++attempt) {
            if (detectOnce(manager, channel) != 0) {
                copyOut(channel, out);
                channel.tag.activity.release();
                return 1;
            }
            manager.clock().sleepMs(kRetryPauseMs);
        }
    }
    return 0;
}

std::int32_t readTagLink(ReaderManager& manager, ReaderChannel& channel, const ByteString& keyText,
                         std::int32_t keyType, TagRead& out) {
    channel.tag.loginKey = keyText;
    channel.tag.keyType = keyType;
    for (std::int32_t family : kFamilyScanOrder) {
        channel.tag.tagType = family;
        if (detectOnce(manager, channel) != 0) {
            copyOut(channel, out);
            channel.tag.activity.release();
            return 1;
        }
    }
    return 0;
}

// Cuts data into block pieces from range.firstOffset and writes them; the first and last blocks
// (every block when mergeAll) merge with what the tag holds. Ends at the first failed block and
// returns the bytes written.
std::int32_t writePieces(ReaderChannel& channel, const BlockRange& range, std::int32_t startByte,
                         const ByteString& data, bool mergeAll, bool letters) {
    const TagTypeInfo& info = tagTypeInfo(channel.codeTypeId);
    auto blockSize = static_cast<std::int32_t>(channel.tag.blockSize);
    std::size_t written = 0;
    std::int32_t sector = -1;
    for (std::int32_t block = range.firstBlock; block <= range.lastBlock && written < data.length();
         ++block) {
        if (info.sectorTrailers && letters && block / 4 != sector) {
            sector = block / 4;
            if (loginSector(channel, sector) == 0) {
                break;
            }
        }
        if (info.sectorTrailers && startByte == -1 && block % 4 == 3) {
            continue;
        }
        std::int32_t offset = block == range.firstBlock ? range.firstOffset : 0;
        std::size_t room = static_cast<std::size_t>(blockSize - offset);
        ByteString piece = data.mid(written, room);
        bool merge = mergeAll || block == range.firstBlock || block == range.lastBlock;
        if (writeBlock(channel, block, blockSize, offset, piece, merge) == 0) {
            break;
        }
        written += piece.length();
    }
    return static_cast<std::int32_t>(written);
}

std::int32_t writeTagCommon(ReaderManager& manager, ReaderChannel& channel, std::int32_t startByte,
                            const ByteString& data, const ByteString& keyText,
                            std::int32_t keyType) {
    bool letters = kindOf(channel) == RfidCommandSet::Letters;
    if (!letters) {
        TagRead found;
        if (readTag(manager, -1, 0, keyText, keyType, found) == 0) {
            return 0;
        }
    }
    ChannelHold hold(channel);
    if (letters) {
        if (setTrigger(channel, 1) == 0) {
            return 0;
        }
        setRange(channel.tag, -1, 1);
        setLetterKey(channel.tag, keyText, keyType);
        if (awaitDecode(channel, manager.ccdHostOptions()) == 0) {
            setTrigger(channel, 0);
            return 0;
        }
    } else if (tagBlockSize(channel) == 0) {
        return 0;
    }
    std::int32_t written = 0;
    BlockRange range;
    if (tagWritableBy(channel.codeTypeId, kindOf(channel)) &&
        blockRange(channel.codeTypeId, static_cast<std::int32_t>(channel.tag.blockSize), startByte,
                   static_cast<std::int64_t>(data.length()), range) != 0) {
        bool mergeAll = tagTypeInfo(channel.codeTypeId).mergeEveryBlock;
        written = writePieces(channel, range, startByte, data, mergeAll, letters);
    }
    setTrigger(channel, 0);
    return written;
}

std::int32_t writeTagHex(ReaderManager& manager, ReaderChannel& channel, std::int32_t startByte,
                         const ByteString& data) {
    TagRead found;
    if (readTag(manager, -1, 1, ByteString(), 0, found) == 0) {
        return 0;
    }
    ChannelHold hold(channel);
    BlockRange range;
    if (!tagWritableBy(channel.codeTypeId, RfidCommandSet::HexFrames) ||
        blockRange(channel.codeTypeId, static_cast<std::int32_t>(channel.tag.blockSize), startByte,
                   static_cast<std::int64_t>(data.length()), range) == 0) {
        return 0;
    }
    return writePieces(channel, range, startByte, data, false, false);
}

}  // namespace

std::int32_t readTag(ReaderManager& manager, std::int32_t readStart, std::int32_t readLength,
                     const ByteString& keyText, std::int32_t keyType, TagRead& out) {
    out = TagRead{};
    if (manager.rfidReady == 0) {
        return 0;
    }
    ReaderChannel& channel = manager.rfid;
    RfidCommandSet kind = kindOf(channel);
    if (kind == RfidCommandSet::None) {
        return 0;
    }
    ChannelHold hold(channel);
    setRange(channel.tag, readStart, readLength);
    switch (kind) {
        case RfidCommandSet::Letters:
            return readTagLetters(manager, channel, keyText, keyType, out);
        case RfidCommandSet::HexFrames:
            return readTagHex(manager, channel, keyText, out);
        case RfidCommandSet::Link:
            return readTagLink(manager, channel, keyText, keyType, out);
        case RfidCommandSet::None:
            return 0;
    }
    return 0;
}

std::int32_t writeTag(ReaderManager& manager, std::int32_t startByte, const ByteString& data,
                      const ByteString& keyText, std::int32_t keyType) {
    if (data.empty()) {
        return 0;
    }
    ReaderChannel& channel = manager.rfid;
    switch (kindOf(channel)) {
        case RfidCommandSet::Letters:
        case RfidCommandSet::Link:
            return writeTagCommon(manager, channel, startByte, data, keyText, keyType);
        case RfidCommandSet::HexFrames:
            return writeTagHex(manager, channel, startByte, data);
        case RfidCommandSet::None:
            return 0;
    }
    return 0;
}

std::int32_t writeMifareKeys(ReaderManager& manager, std::int32_t loginKeyType, std::int32_t sector,
                             std::span<const std::uint8_t, 6> loginKey,
                             std::span<const std::uint8_t, 6> newKeyA,
                             std::span<const std::uint8_t, 6> newKeyB) {
    RfidLinkApi* link = manager.platform().rfidLink;
    if (kindOf(manager.rfid) != RfidCommandSet::Link || link == nullptr || sector < 0 ||
        sector > kMaxCommandBlock || (loginKeyType != 0 && loginKeyType != 1)) {
        return 0;
    }
    std::array<std::uint8_t, 16> trailer{};
    std::copy(newKeyA.begin(), newKeyA.end(), trailer.begin());
    constexpr std::array<std::uint8_t, 4> kAccessBytes{0xFF, 0x07, 0x80, 0x69};
    std::copy(kAccessBytes.begin(), kAccessBytes.end(), trailer.begin() + 6);
    std::copy(newKeyB.begin(), newKeyB.end(), trailer.begin() + 10);
    std::array<std::uint8_t, 30> uid{};
    std::uint16_t atqa = 0;
    std::uint8_t sak = 0;
    return link->linkSelectProtocol(kRfidPort, 0x41) == 0 &&
                   link->linkRequestA(kRfidPort, 1, uid, atqa, sak) == 0 &&
                   link->linkMifareWriteKeys(kRfidPort, static_cast<std::uint8_t>(loginKeyType), 0,
                                             0, static_cast<std::uint8_t>(sector), loginKey,
                                             trailer) == 0
               ? 1
               : 0;
}

}  // namespace vandora
