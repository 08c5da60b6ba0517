#include "rfid/TagChannel.h"

#include <algorithm>

#include "rfid/RfidCommands.h"
#include "rfid/RfidModule.h"
#include "rfid/RfidTag.h"
#include "rfid/TagTable.h"

namespace vandora {

namespace {

std::size_t column(RfidCommandSet set) {
    return static_cast<std::size_t>(set);
}

// Keeps the bytes of one read block that lie in the range.
void clipBlock(ByteString& bytes, std::int32_t block, const BlockRange& range) {
    if (block == range.lastBlock) {
        bytes.truncate(
            std::min<std::size_t>(bytes.length(), static_cast<std::size_t>(range.lastOffset) + 1));
    }
    if (block == range.firstBlock) {
        bytes.remove(
            0, std::min<std::size_t>(bytes.length(), static_cast<std::size_t>(range.firstOffset)));
    }
}

}  // namespace

const RfidModule* rfidModuleOf(const ReaderChannel& channel) {
    return dynamic_cast<const RfidModule*>(engineInfo(channel.engineType).module);
}

void setTagCode(ReaderChannel& channel, std::int32_t code, const char* name) {
    channel.codeTypeId = code;
    channel.codeTypeName = name != nullptr ? name : tagTypeInfo(code).name;
}

bool nameByMaker(ReaderChannel& channel) {
    const ByteString& d = channel.decodeData;
    if (d.length() < 5) {
        return false;
    }
    setTagCode(channel, iso15693CodeForMaker(d.at(3), d.at(4)));
    return true;
}

void nameTag(ReaderChannel& channel) {
    channel.codeTypeId = 0;
    channel.codeTypeName.clear();
    if (const RfidModule* module = rfidModuleOf(channel)) {
        module->nameAnswer(channel);
    }
}

std::int32_t blockRange(std::int32_t code, std::int32_t blockSize, std::int32_t start,
                        std::int64_t length, BlockRange& out) {
    out = BlockRange{};
    if (blockSize < 1 || length < 1) {
        return 0;
    }
    const TagTypeInfo& info = tagTypeInfo(code);
    std::int64_t size = blockSize;
    std::int64_t first = 0;
    std::int64_t last = 0;
    if (start >= 0) {
        std::int64_t end = static_cast<std::int64_t>(start) + length - 1;
        first = start / size;
        out.firstOffset = static_cast<std::int32_t>(start % size);
        last = end / size;
        out.lastOffset = static_cast<std::int32_t>(end % size);
    } else {
        first = info.defaultFirstBlock;
        out.lastOffset = static_cast<std::int32_t>((length - 1) % size);
        std::int64_t blocks = (length + size - 1) / size;
        if (info.sectorTrailers) {
            // Every fourth block is a sector trailer; it holds no user data.
            std::int64_t n = (length + 15) / 16;
            blocks = n + (n - 1) / 3;
        }
        last = first + blocks - 1;
    }
    // A start beyond the tag would address blocks the commands cannot name.
    if (first > info.highestBlock) {
        return 0;
    }
    if (last > info.highestBlock) {
        last = info.highestBlock;
        out.lastOffset = blockSize - 1;
    }
    out.firstBlock = static_cast<std::int32_t>(first);
    out.lastBlock = static_cast<std::int32_t>(last);
    return 1;
}

std::int32_t tagBlockSize(ReaderChannel& channel) {
    const RfidModule* module = rfidModuleOf(channel);
    RfidCommandSet set = module != nullptr ? module->commandSet() : RfidCommandSet::None;
    const TagTypeInfo& info = tagTypeInfo(channel.codeTypeId);
    std::uint8_t size = info.blockSize[column(set)];
    if (size != 0) {
        tagState(channel).blockSize = size;
        return 1;
    }
    ByteString block0;
    if (readBlock(channel, 0, block0) == 0) {
        return 0;
    }
    if (info.promoteTo != 0 && block0.length() == info.promoteSize) {
        setTagCode(channel, info.promoteTo);
    }
    tagState(channel).blockSize = static_cast<std::uint32_t>(block0.length());
    return 1;
}

std::int32_t readBlock(ReaderChannel& channel, std::int32_t block, ByteString& out) {
    out.clear();
    if (block < 0 || block > kMaxCommandBlock) {
        return 0;
    }
    const RfidModule* module = rfidModuleOf(channel);
    return module != nullptr ? module->readBlock(channel, block, out) : 0;
}

std::int32_t writeBlock(ReaderChannel& channel, std::int32_t block, std::int32_t blockSize,
                        std::int32_t offset, const ByteString& bytes, bool merge) {
    const RfidModule* module = rfidModuleOf(channel);
    const TagTypeInfo& info = tagTypeInfo(channel.codeTypeId);
    if (module == nullptr || bytes.empty() || block < 0 || block > info.highestBlock ||
        blockSize < 1 || !tagWritableBy(channel.codeTypeId, module->commandSet())) {
        return 0;
    }
    ByteString content = bytes;
    if (merge) {
        if (readBlock(channel, block, content) == 0) {
            return 0;
        }
        // A read may give more than the block (an Ultralight read gives four pages): only the
        // block itself goes back.
        content.truncate(
            std::min<std::size_t>(content.length(), static_cast<std::size_t>(blockSize)));
        for (std::size_t i = 0; i < bytes.length(); ++i) {
            std::size_t at = static_cast<std::size_t>(offset) + i;
            if (at >= content.length()) {
                break;
            }
            content.setAt(at, bytes.at(i));
        }
    }
    return module->writeBlock(channel, block, content);
}

std::int32_t readRangeByBlocks(ReaderChannel& channel, const BlockRange& range, bool login) {
    RfidTagState& tag = tagState(channel);
    const TagTypeInfo& info = tagTypeInfo(channel.codeTypeId);
    std::int32_t sector = -1;
    for (std::int32_t block = range.firstBlock; block <= range.lastBlock; ++block) {
        if (info.sectorTrailers && login && block / 4 != sector) {
            sector = block / 4;
            if (loginSector(channel, sector) == 0) {
                break;
            }
        }
        if (info.sectorTrailers && tag.readStart == -1 && block % 4 == 3) {
            continue;
        }
        ByteString bytes;
        if (readBlock(channel, block, bytes) == 0) {
            continue;
        }
        // The module returns four pages for an Ultralight page read.
        bytes.truncate(std::min<std::size_t>(bytes.length(), tag.blockSize));
        clipBlock(bytes, block, range);
        tag.userData.append(bytes);
    }
    return tag.userData.empty() ? 0 : 1;
}

std::int32_t readUserData(ReaderChannel& channel) {
    RfidTagState& tag = tagState(channel);
    tag.userData.clear();
    const RfidModule* module = rfidModuleOf(channel);
    if (module == nullptr || channel.decodeData.empty() || channel.codeTypeId == 0 ||
        tag.readLength == 0 || !tagReadableBy(channel.codeTypeId, module->commandSet())) {
        return 0;
    }
    if (tagBlockSize(channel) == 0) {
        return 0;
    }
    // tagBlockSize may have promoted the code.
    BlockRange range;
    if (blockRange(channel.codeTypeId, static_cast<std::int32_t>(tag.blockSize), tag.readStart,
                   tag.readLength, range) == 0) {
        return 0;
    }
    return module->readRange(channel, range);
}

}  // namespace vandora
