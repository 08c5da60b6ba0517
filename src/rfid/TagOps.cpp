#include "rfid/TagOps.h"

#include <algorithm>

#include "reader/Scan.h"
#include "reader/Trigger.h"
#include "rfid/RfidModule.h"
#include "rfid/RfidTag.h"
#include "rfid/TagChannel.h"
#include "rfid/TagTable.h"

namespace vandora {

namespace {

constexpr std::size_t kLetterKeyLength = 14;

}  // namespace

void copyTagOut(ReaderChannel& channel, TagRead& out) {
    const RfidTagState& tag = tagState(channel);
    out.codeTypeId = channel.codeTypeId;
    out.codeTypeName = channel.codeTypeName;
    out.uid = channel.decodeData;
    out.userData = tag.userData;
    out.blockSize = tag.blockSize;
}

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

void setTagRange(RfidTagState& tag, std::int32_t readStart, std::int32_t readLength) {
    tag.readStart = readStart;
    tag.readLength = readLength > 0 ? static_cast<std::uint32_t>(readLength) : 0;
}

std::int32_t detectOnce(ReaderManager& manager, ReaderChannel& channel) {
    if (setTrigger(channel, 1) == 0) {
        return 0;
    }
    std::int32_t found = awaitDecode(channel, manager.ccdHostOptions());
    setTrigger(channel, 0);
    return found;
}

std::int32_t writePieces(ReaderChannel& channel, const BlockRange& range, std::int32_t startByte,
                         const ByteString& data, bool mergeAll, bool login) {
    const TagTypeInfo& info = tagTypeInfo(channel.codeTypeId);
    auto blockSize = static_cast<std::int32_t>(tagState(channel).blockSize);
    std::size_t written = 0;
    std::int32_t sector = -1;
    for (std::int32_t block = range.firstBlock; block <= range.lastBlock && written < data.length();
         ++block) {
        if (info.sectorTrailers && login && block / 4 != sector) {
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

std::int32_t writeFoundTag(ReaderChannel& channel, const RfidModule& module, std::int32_t startByte,
                           const ByteString& data, bool login) {
    std::int32_t written = 0;
    BlockRange range;
    if (tagWritableBy(channel.codeTypeId, module.commandSet()) &&
        blockRange(channel.codeTypeId, static_cast<std::int32_t>(tagState(channel).blockSize),
                   startByte, static_cast<std::int64_t>(data.length()), range) != 0) {
        bool mergeAll = tagTypeInfo(channel.codeTypeId).mergeEveryBlock;
        written = writePieces(channel, range, startByte, data, mergeAll, login);
    }
    setTrigger(channel, 0);
    return written;
}

std::int32_t readTag(ReaderManager& manager, std::int32_t readStart, std::int32_t readLength,
                     const ByteString& keyText, std::int32_t keyType, TagRead& out) {
    out = TagRead{};
    if (manager.rfidReady == 0) {
        return 0;
    }
    ReaderChannel& channel = manager.rfid;
    const RfidModule* module = rfidModuleOf(channel);
    if (module == nullptr) {
        return 0;
    }
    ChannelHold hold(channel);
    setTagRange(tagState(channel), readStart, readLength);
    return module->readTag(manager, channel, keyText, keyType, out);
}

std::int32_t writeTag(ReaderManager& manager, std::int32_t startByte, const ByteString& data,
                      const ByteString& keyText, std::int32_t keyType) {
    if (data.empty()) {
        return 0;
    }
    ReaderChannel& channel = manager.rfid;
    const RfidModule* module = rfidModuleOf(channel);
    return module != nullptr ? module->writeTag(manager, channel, startByte, data, keyText, keyType)
                             : 0;
}

std::int32_t writeMifareKeys(ReaderManager& manager, std::int32_t loginKeyType, std::int32_t sector,
                             std::span<const std::uint8_t, 6> loginKey,
                             std::span<const std::uint8_t, 6> newKeyA,
                             std::span<const std::uint8_t, 6> newKeyB) {
    const RfidModule* module = rfidModuleOf(manager.rfid);
    return module != nullptr
               ? module->writeMifareKeys(manager, loginKeyType, sector, loginKey, newKeyA, newKeyB)
               : 0;
}

std::int32_t changeSectorKeys(ReaderManager& manager, const SectorKeys& keys) {
    const RfidModule* module = rfidModuleOf(manager.rfid);
    return module != nullptr ? module->changeSectorKeys(manager, keys) : 0;
}

}  // namespace vandora
