#include "rfid/TagChannel.h"

#include <algorithm>
#include <array>

#include "reader/Exchange.h"
#include "reader/engines/EngineTable.h"
#include "rfid/RfidCommands.h"
#include "rfid/TagTable.h"

namespace vandora {

namespace {

constexpr std::uint32_t kBlockMs = 1000;
constexpr std::int32_t kReadAttempts = 2;
constexpr std::int32_t kWriteAttempts = 3;
constexpr std::int32_t kLoginAttempts = 2;
constexpr std::uint32_t kSr176RetryMs = 100;
constexpr std::uint8_t kMarker = 0x4D;
constexpr std::size_t kRequestABuffer = 30;
constexpr std::uint8_t kIsoReadFlags = 0x22;
constexpr std::uint8_t kIsoOptionFlag = 0x40;
constexpr std::uint8_t kInventoryFlags = 0x26;

RfidCommandSet kindOf(const ReaderChannel& channel) {
    return engineInfo(channel.engineType).rfid;
}

std::size_t kindIndex(RfidCommandSet set) {
    return static_cast<std::size_t>(set);
}

void setCode(ReaderChannel& channel, std::int32_t code, const char* name = nullptr) {
    channel.codeTypeId = code;
    channel.codeTypeName = name != nullptr ? name : tagTypeInfo(code).name;
}

// --- naming ----------------------------------------------------------------------------------

struct LetterCode {
    char16_t letter;
    std::int32_t code;
};
constexpr LetterCode kLetterCodes[] = {{u'I', 1}, {u'S', 6}, {u'T', 8}, {u'Z', 5}};

// "M" tags by the number of UID digits after the letter; any other count is the Mifare family.
struct MifareDigits {
    std::size_t digits;
    std::int32_t code;
};
constexpr MifareDigits kMifareDigits[] = {{14, 2}, {16, 4}};

struct AtqaName {
    std::uint8_t atqaLow;
    std::int32_t code;
    const char* name;  // null: the table's name of the code
};
constexpr AtqaName kAtqaNames[] = {
    {0x02, 3, "ISO14443 Type A, Mifare S70"},
    {0x04, 3, "ISO14443 Type A, Mifare S50"},
    {0x44, 2, nullptr},
};

// ISO 15693 answers carry the maker byte at characters 3 and 4 (after the lead and "E0").
bool nameByMaker(ReaderChannel& channel) {
    const ByteString& d = channel.decodeData;
    if (d.length() < 5) {
        return false;
    }
    setCode(channel, iso15693CodeForMaker(d.at(3), d.at(4)));
    return true;
}

void nameLetterAnswer(ReaderChannel& channel) {
    ByteString& d = channel.decodeData;
    char16_t lead = d.at(0);
    std::int32_t code = 0;
    if (lead == u'V') {
        if (!nameByMaker(channel)) {
            return;
        }
        code = channel.codeTypeId;
    } else if (lead == u'M') {
        code = 3;
        for (const MifareDigits& m : kMifareDigits) {
            if (d.length() - 1 == m.digits) {
                code = m.code;
            }
        }
    } else {
        for (const LetterCode& l : kLetterCodes) {
            if (l.letter == lead) {
                code = l.code;
            }
        }
    }
    setCode(channel, code);
    d.remove(0, 1);
}

void nameLinkAnswer(ReaderChannel& channel) {
    ByteString& d = channel.decodeData;
    if (d.empty()) {
        return;
    }
    std::uint8_t lead = d.byteAt(0);
    switch (channel.tag.tagType) {
        case TagFamily::Iso14443A: {
            const AtqaName* hit = nullptr;
            for (const AtqaName& a : kAtqaNames) {
                if (a.atqaLow == lead) {
                    hit = &a;
                }
            }
            if (hit != nullptr) {
                setCode(channel, hit->code, hit->name);
            } else {
                setCode(channel, 3);
            }
            break;
        }
        case TagFamily::Iso14443B:
            setCode(channel, lead == 0x07 ? 7 : 6);
            break;
        case TagFamily::TagIt:
            setCode(channel, 8);
            break;
        case TagFamily::Iso15693:
            nameByMaker(channel);
            break;
        default:
            setCode(channel, 0);
            break;
    }
    d.remove(0, 1);
}

void nameHexAnswer(ReaderChannel& channel) {
    std::int32_t family = channel.tag.tagType;
    bool known = std::find(std::begin(kFamilyScanOrder), std::end(kFamilyScanOrder), family) !=
                 std::end(kFamilyScanOrder);
    setCode(channel, known ? family : 0);
}

// --- the binary link -------------------------------------------------------------------------

RfidLinkApi* linkOf(const ReaderChannel& channel) {
    return channel.platform().rfidLink;
}

void appendHex(ByteString& out, std::span<const std::uint8_t> bytes) {
    out.append(bytesToHex(ByteString::fromBytes(bytes.data(), bytes.size())));
}

std::int32_t detect14443A(ReaderChannel& channel, RfidLinkApi& link) {
    if (link.linkSelectProtocol(kRfidPort, 0x41) != 0) {
        return 0;
    }
    std::array<std::uint8_t, kRequestABuffer> buffer{};
    std::uint16_t atqa = 0;
    std::uint8_t sak = 0;
    if (link.linkRequestA(kRfidPort, 1, buffer, atqa, sak) != 0) {
        return 0;
    }
    // The UID ends at the link's end marker; no marker or nothing before it is no tag.
    auto marker = std::find(buffer.rbegin(), buffer.rend(), kMarker);
    if (marker == buffer.rend()) {
        return 0;
    }
    auto uidLength = static_cast<std::size_t>(buffer.rend() - marker - 1);
    if (uidLength == 0) {
        return 0;
    }
    channel.decodeData.append(static_cast<char16_t>(atqa & 0xFF));
    appendHex(channel.decodeData, std::span<const std::uint8_t>(buffer.data(), uidLength));
    return 1;
}

std::int32_t detect14443B(ReaderChannel& channel, RfidLinkApi& link) {
    if (link.linkSelectProtocol(kRfidPort, 0x73) != 0) {
        return 0;
    }
    std::uint8_t chip = 0;
    bool selected = link.linkSr176Select(kRfidPort, chip) == 0;
    if (!selected) {
        channel.clock().sleepMs(kSr176RetryMs);
        selected = link.linkSr176Select(kRfidPort, chip) == 0;
    }
    std::array<std::uint8_t, 8> uid{};
    bool read = selected;
    for (std::size_t i = 0; read && i < 4; ++i) {
        // Blocks 3, 2, 1, 0: the UID most significant part first.
        std::span<std::uint8_t, 2> part(uid.data() + 2 * i, 2);
        read = link.linkSr176Read(kRfidPort, static_cast<std::uint8_t>(3 - i), part) == 0;
    }
    if (read) {
        channel.decodeData.append(u'\x06');
        appendHex(channel.decodeData, uid);
        return 1;
    }
    if (link.linkSrix4kUid(kRfidPort, uid) != 0) {
        return 0;
    }
    channel.decodeData.append(u'\x07');
    appendHex(channel.decodeData, uid);
    return 1;
}

std::int32_t detect15693(ReaderChannel& channel, RfidLinkApi& link) {
    if (link.linkSelectProtocol(kRfidPort, 0x31) != 0) {
        return 0;
    }
    std::uint8_t dsfid = 0;
    std::array<std::uint8_t, 8> uid{};
    if (link.linkIso15693Inventory(kRfidPort, kInventoryFlags, 0, 0, {}, dsfid, uid) != 0) {
        return 0;
    }
    // The data-format byte may be 0: it is kept as a unit of its own, not a string end.
    channel.decodeData.append(static_cast<char16_t>(dsfid));
    std::reverse(uid.begin(), uid.end());
    appendHex(channel.decodeData, uid);
    return 1;
}

// The 6 key bytes of loginKey (12 hexadecimal digits); false for a key of another length.
bool keyBytes(const ReaderChannel& channel, std::array<std::uint8_t, 6>& key) {
    ByteString bytes;
    hexToBytes(channel.tag.loginKey, bytes);
    if (channel.tag.loginKey.length() != 12 || bytes.length() != 6) {
        return false;
    }
    for (std::size_t i = 0; i < 6; ++i) {
        key[i] = bytes.byteAt(i);
    }
    return true;
}

// The UID as the link wants it: the 8 bytes least significant first.
bool linkUid(const ReaderChannel& channel, std::array<std::uint8_t, 8>& uid) {
    ByteString bytes;
    hexToBytes(channel.decodeData, bytes);
    if (channel.decodeData.length() != 16 || bytes.length() != 8) {
        return false;
    }
    for (std::size_t i = 0; i < 8; ++i) {
        uid[i] = bytes.byteAt(7 - i);
    }
    return true;
}

// One link read of an N-byte answer, of which the first `count` bytes are the block.
template <std::size_t N, typename Read>
std::int32_t readKept(ByteString& out, Read read, std::size_t count = N) {
    std::array<std::uint8_t, N> data{};
    if (read(data) != 0) {
        return 0;
    }
    out = ByteString::fromBytes(data.data(), std::min(count, N));
    return 1;
}

std::int32_t readBlockOnLink(ReaderChannel& channel, std::int32_t block, ByteString& out) {
    RfidLinkApi* link = linkOf(channel);
    const TagTypeInfo& info = tagTypeInfo(channel.codeTypeId);
    if (link == nullptr) {
        return 0;
    }
    auto b = static_cast<std::uint8_t>(block);
    switch (info.link) {
        case LinkAccess::UltralightPage:
            // Four pages come back; the page asked for is the first.
            return readKept<16>(
                out, [&](auto& data) { return link->linkUltralightRead(kRfidPort, b, data); }, 4);
        case LinkAccess::Mifare: {
            std::int32_t keyType = channel.tag.keyType;
            if (keyType != 0 && keyType != 1) {
                out.clear();
                return 1;
            }
            std::array<std::uint8_t, 6> key{};
            if (!keyBytes(channel, key)) {
                return 0;
            }
            return readKept<16>(out, [&](auto& data) {
                return link->linkMifareRead(kRfidPort, static_cast<std::uint8_t>(keyType), 0, 0, b,
                                            key, data);
            });
        }
        case LinkAccess::Sr176:
            return readKept<2>(out,
                               [&](auto& data) { return link->linkSr176Read(kRfidPort, b, data); });
        case LinkAccess::Srix4k:
            return readKept<4>(
                out, [&](auto& data) { return link->linkSrix4kRead(kRfidPort, b, data); });
        case LinkAccess::Iso15693: {
            std::array<std::uint8_t, 8> uid{};
            if (!linkUid(channel, uid)) {
                return 0;
            }
            return readKept<4>(out, [&](auto& data) {
                return link->linkIso15693Read(kRfidPort, kIsoReadFlags, uid, b, 1, data);
            });
        }
        case LinkAccess::None:
            return 0;
    }
    return 0;
}

template <std::size_t N>
bool fixed(const ByteString& content, std::array<std::uint8_t, N>& out) {
    if (content.length() != N) {
        return false;
    }
    for (std::size_t i = 0; i < N; ++i) {
        out[i] = content.byteAt(i);
    }
    return true;
}

std::int32_t writeBlockOnLink(ReaderChannel& channel, std::int32_t block,
                              const ByteString& content) {
    RfidLinkApi* link = linkOf(channel);
    const TagTypeInfo& info = tagTypeInfo(channel.codeTypeId);
    if (link == nullptr) {
        return 0;
    }
    auto b = static_cast<std::uint8_t>(block);
    switch (info.link) {
        case LinkAccess::UltralightPage: {
            std::array<std::uint8_t, 4> data{};
            return fixed(content, data) && link->linkUltralightWrite(kRfidPort, b, data) == 0;
        }
        case LinkAccess::Mifare: {
            std::int32_t keyType = channel.tag.keyType;
            std::array<std::uint8_t, 6> key{};
            std::array<std::uint8_t, 16> data{};
            return (keyType == 0 || keyType == 1) && keyBytes(channel, key) &&
                   fixed(content, data) &&
                   link->linkMifareWrite(kRfidPort, static_cast<std::uint8_t>(keyType), 0, 0, b,
                                         key, data) == 0;
        }
        case LinkAccess::Sr176: {
            std::array<std::uint8_t, 2> data{};
            return fixed(content, data) && link->linkSr176Write(kRfidPort, b, data) == 0;
        }
        case LinkAccess::Srix4k: {
            // A failed answer is a failed write, whatever the tag may have taken.
            std::array<std::uint8_t, 4> data{};
            return fixed(content, data) && link->linkSrix4kWrite(kRfidPort, b, data) == 0;
        }
        case LinkAccess::Iso15693: {
            std::array<std::uint8_t, 8> uid{};
            std::array<std::uint8_t, 4> data{};
            auto flags = static_cast<std::uint8_t>(kIsoReadFlags |
                                                   (info.needsOptionFlag ? kIsoOptionFlag : 0));
            return linkUid(channel, uid) && fixed(content, data) &&
                   link->linkIso15693Write(kRfidPort, flags, uid, b, data) == 0;
        }
        case LinkAccess::None:
            return 0;
    }
    return 0;
}

// --- the hexadecimal module ------------------------------------------------------------------

std::int32_t readBlockOnHex(ReaderChannel& channel, std::int32_t block, ByteString& out) {
    out.clear();
    HexAccess access = tagTypeInfo(channel.codeTypeId).hex;
    if (access == HexAccess::None) {
        return 0;
    }
    bool tagIt = access == HexAccess::TagIt;
    ByteString reply;
    ByteString frame = hexBlockFrame(0x00, tagIt ? HexRequest::TagItRead : HexRequest::IsoRead,
                                     static_cast<std::uint8_t>(block));
    if (exchange(channel, frame, kBlockMs, &reply, kReadAttempts) == 0) {
        return 0;
    }
    ByteString field;
    if (!extractField(tagIt ? TagFamily::TagIt : TagFamily::Iso15693, reply, field)) {
        return 0;
    }
    bool ok = tagIt ? tagItRealign(field, out) : iso15693BlockData(field, out);
    return ok && !out.empty() ? 1 : 0;
}

// ISO 15693 write without the option flag, then with it: a tag that takes only the second is a
// maker's that needs the flag, and later writes use it at once.
std::int32_t writeIsoOnHex(ReaderChannel& channel, std::uint8_t block, const ByteString& content) {
    const TagTypeInfo& info = tagTypeInfo(channel.codeTypeId);
    ByteString reply;
    if (!info.needsOptionFlag) {
        ByteString plain = hexBlockFrame(0x00, HexRequest::IsoWrite, block, content);
        if (exchange(channel, plain, kBlockMs, &reply, kWriteAttempts) != 0 && endsWithOk(reply)) {
            return 1;
        }
    }
    ByteString flagged =
        hexBlockFrame(HexRequest::OptionFlag, HexRequest::IsoWrite, block, content);
    reply.clear();
    if (exchange(channel, flagged, kBlockMs, &reply, kWriteAttempts) == 0 || !endsWithOk(reply)) {
        return 0;
    }
    if (!info.needsOptionFlag) {
        setCode(channel, 13);
    }
    return 1;
}

std::int32_t writeBlockOnHex(ReaderChannel& channel, std::int32_t block,
                             const ByteString& content) {
    // The module's block frames carry 4 data bytes.
    if (content.length() != 4) {
        return 0;
    }
    auto b = static_cast<std::uint8_t>(block);
    switch (tagTypeInfo(channel.codeTypeId).hex) {
        case HexAccess::TagIt: {
            ByteString reply;
            return exchange(channel, hexBlockFrame(0x00, HexRequest::TagItWrite, b, content),
                            kBlockMs, &reply, kWriteAttempts);
        }
        case HexAccess::Iso15693:
            return writeIsoOnHex(channel, b, content);
        case HexAccess::None:
            return 0;
    }
    return 0;
}

// --- the letter module -----------------------------------------------------------------------

std::int32_t readBlockOnLetters(ReaderChannel& channel, std::int32_t block, ByteString& out) {
    out.clear();
    ByteString command;
    ByteString reply;
    if (!letterReadCommand(channel.rfidVariant, block, command) ||
        exchange(channel, command, kBlockMs, &reply, kReadAttempts) == 0) {
        return 0;
    }
    std::uint32_t error = 0;
    if (!letterBlockReply(reply, out, error)) {
        if (error != 0) {
            channel.lastError = error;
        }
        return 0;
    }
    return 1;
}

std::int32_t writeBlockOnLetters(ReaderChannel& channel, std::int32_t block,
                                 const ByteString& content) {
    ByteString command;
    ByteString reply;
    if (!letterWriteCommand(channel.rfidVariant, block, content, command) ||
        exchange(channel, command, kBlockMs, &reply, kWriteAttempts) == 0) {
        return 0;
    }
    std::uint32_t error = errorLetterCode(reply);
    if (error != 0) {
        channel.lastError = error;
        return 0;
    }
    return 1;
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

std::int32_t readUserDataOnHex(ReaderChannel& channel, BlockRange range) {
    RfidTagState& tag = channel.tag;
    if (tagTypeInfo(channel.codeTypeId).hex == HexAccess::TagIt) {
        if (tag.tagitInfoByte == 0 || tag.tagitBlockCount == 0) {
            return 0;
        }
        range.lastBlock = std::min(range.lastBlock, tag.tagitBlockCount - 1);
    }
    for (std::int32_t block = range.firstBlock; block <= range.lastBlock; ++block) {
        ByteString bytes;
        if (readBlockOnHex(channel, block, bytes) == 0) {
            tag.userData.clear();
            return 0;
        }
        tag.userData.append(bytes);
    }
    tag.userData.remove(0, std::min<std::size_t>(tag.userData.length(),
                                                 static_cast<std::size_t>(range.firstOffset)));
    tag.userData.truncate(std::min<std::size_t>(tag.userData.length(), tag.readLength));
    return tag.userData.empty() ? 0 : 1;
}

// What differs by module kind in naming a tag answer and in block access: one row per kind.
struct KindOps {
    void (*name)(ReaderChannel&);
    std::int32_t (*read)(ReaderChannel&, std::int32_t, ByteString&);
    std::int32_t (*write)(ReaderChannel&, std::int32_t, const ByteString&);
};

constexpr std::array<KindOps, kRfidCommandSets> kKindOps{{
    {nullptr, nullptr, nullptr},
    {nameLetterAnswer, readBlockOnLetters, writeBlockOnLetters},
    {nameHexAnswer, readBlockOnHex, writeBlockOnHex},
    {nameLinkAnswer, readBlockOnLink, writeBlockOnLink},
}};
static_assert(kRfidCommandSets == 4 && static_cast<std::size_t>(RfidCommandSet::Link) == 3,
              "one row per module kind, in the enumeration's order");

const KindOps& opsOf(RfidCommandSet kind) {
    return kKindOps[kindIndex(kind)];
}

}  // namespace

void nameTag(ReaderChannel& channel) {
    channel.codeTypeId = 0;
    channel.codeTypeName.clear();
    if (const KindOps& ops = opsOf(kindOf(channel)); ops.name != nullptr) {
        ops.name(channel);
    }
}

std::int32_t detectTagOnLink(ReaderChannel& channel) {
    RfidLinkApi* link = linkOf(channel);
    if (link == nullptr) {
        return 0;
    }
    switch (channel.tag.tagType) {
        case TagFamily::Iso14443A:
            channel.decodeData.clear();
            return detect14443A(channel, *link);
        case TagFamily::Iso14443B:
            channel.decodeData.clear();
            return detect14443B(channel, *link);
        case TagFamily::Iso15693:
            channel.decodeData.clear();
            return detect15693(channel, *link);
        default:
            return 0;
    }
}

std::int32_t takeHexTagAnswer(ReaderChannel& channel, const ByteString& reply) {
    HexTagAnswer answer;
    if (!hexTagAnswer(channel.tag.tagType, reply, answer)) {
        channel.decodeData.clear();
        return 0;
    }
    channel.decodeData = answer.uid;
    channel.tag.tagitInfoByte = answer.tagitInfoByte;
    channel.tag.tagitBlockCount = answer.tagitBlockCount;
    return 1;
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
    const TagTypeInfo& info = tagTypeInfo(channel.codeTypeId);
    std::uint8_t size = info.blockSize[kindIndex(kindOf(channel))];
    if (size != 0) {
        channel.tag.blockSize = size;
        return 1;
    }
    ByteString block0;
    if (readBlock(channel, 0, block0) == 0) {
        return 0;
    }
    if (info.promoteTo != 0 && block0.length() == info.promoteSize) {
        setCode(channel, info.promoteTo);
    }
    channel.tag.blockSize = static_cast<std::uint32_t>(block0.length());
    return 1;
}

std::int32_t readBlock(ReaderChannel& channel, std::int32_t block, ByteString& out) {
    out.clear();
    if (block < 0 || block > kMaxCommandBlock) {
        return 0;
    }
    const KindOps& ops = opsOf(kindOf(channel));
    return ops.read != nullptr ? ops.read(channel, block, out) : 0;
}

std::int32_t writeBlock(ReaderChannel& channel, std::int32_t block, std::int32_t blockSize,
                        std::int32_t offset, const ByteString& bytes, bool merge) {
    RfidCommandSet kind = kindOf(channel);
    const TagTypeInfo& info = tagTypeInfo(channel.codeTypeId);
    if (bytes.empty() || block < 0 || block > info.highestBlock || blockSize < 1 ||
        !tagWritableBy(channel.codeTypeId, kind)) {
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
    const KindOps& ops = opsOf(kind);
    return ops.write != nullptr ? ops.write(channel, block, content) : 0;
}

std::int32_t loginSector(ReaderChannel& channel, std::int32_t sector) {
    ByteString command;
    ByteString reply;
    if (!letterLoginCommand(sector, channel.tag.loginKey, command) ||
        exchange(channel, command, kBlockMs, &reply, kLoginAttempts) == 0) {
        return 0;
    }
    if (reply == "L") {
        return 1;
    }
    std::uint32_t error = errorLetterCode(reply);
    if (error != 0) {
        channel.lastError = error;
    }
    return 0;
}

std::int32_t readUserData(ReaderChannel& channel) {
    RfidTagState& tag = channel.tag;
    tag.userData.clear();
    RfidCommandSet kind = kindOf(channel);
    if (channel.decodeData.empty() || channel.codeTypeId == 0 || tag.readLength == 0 ||
        !tagReadableBy(channel.codeTypeId, kind)) {
        return 0;
    }
    if (tagBlockSize(channel) == 0) {
        return 0;
    }
    // tagBlockSize may have promoted the code.
    std::int32_t code = channel.codeTypeId;
    const TagTypeInfo& info = tagTypeInfo(code);
    BlockRange range;
    if (blockRange(code, static_cast<std::int32_t>(tag.blockSize), tag.readStart, tag.readLength,
                   range) == 0) {
        return 0;
    }
    if (kind == RfidCommandSet::HexFrames) {
        return readUserDataOnHex(channel, range);
    }
    std::int32_t sector = -1;
    for (std::int32_t block = range.firstBlock; block <= range.lastBlock; ++block) {
        if (info.sectorTrailers && kind == RfidCommandSet::Letters && block / 4 != sector) {
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

}  // namespace vandora
