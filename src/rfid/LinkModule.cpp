// The binary link (engine type 7): the terminal's link library finds tags family by family and
// reads and writes their blocks with a call per tag type. The link keeps its own port.
#include <algorithm>
#include <array>

#include "reader/Trigger.h"
#include "rfid/RfidCommands.h"
#include "rfid/RfidModule.h"
#include "rfid/RfidTag.h"
#include "rfid/TagTable.h"

namespace vandora {

namespace {

constexpr std::uint32_t kSr176RetryMs = 100;
constexpr std::uint8_t kMarker = 0x4D;
constexpr std::size_t kRequestABuffer = 30;
constexpr std::uint8_t kIsoReadFlags = 0x22;
constexpr std::uint8_t kIsoOptionFlag = 0x40;
constexpr std::uint8_t kInventoryFlags = 0x26;

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
bool keyBytes(ReaderChannel& channel, std::array<std::uint8_t, 6>& key) {
    const ByteString& loginKey = tagState(channel).loginKey;
    ByteString bytes;
    hexToBytes(loginKey, bytes);
    if (loginKey.length() != 12 || bytes.length() != 6) {
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

class LinkModule final : public RfidModule {
  public:
    constexpr LinkModule() : RfidModule(RfidCommandSet::Link) {}

    // A press detects a tag of the tag state's family; its answer comes with the detection.
    std::int32_t trigger(ReaderChannel& channel, std::int32_t on) const override {
        if (channel.triggerOn == on) {
            return 1;
        }
        if (on == 0) {
            channel.triggerOn = 0;
            return 1;
        }
        if (detectTagOnLink(channel) == 0) {
            return 0;
        }
        channel.triggerOn = 1;
        return 1;
    }

    std::int32_t awaitAnswer(ReaderChannel& channel) const override {
        nameTag(channel);
        readUserData(channel);
        return 1;
    }

    // The answer leads with a raw byte: the answer to request of a type A tag, the chip of a
    // type B tag.
    void nameAnswer(ReaderChannel& channel) const override {
        ByteString& d = channel.decodeData;
        if (d.empty()) {
            return;
        }
        std::uint8_t lead = d.byteAt(0);
        switch (tagState(channel).tagType) {
            case TagFamily::Iso14443A: {
                const AtqaName* hit = nullptr;
                for (const AtqaName& a : kAtqaNames) {
                    if (a.atqaLow == lead) {
                        hit = &a;
                    }
                }
                if (hit != nullptr) {
                    setTagCode(channel, hit->code, hit->name);
                } else {
                    setTagCode(channel, 3);
                }
                break;
            }
            case TagFamily::Iso14443B:
                setTagCode(channel, lead == 0x07 ? 7 : 6);
                break;
            case TagFamily::TagIt:
                setTagCode(channel, 8);
                break;
            case TagFamily::Iso15693:
                nameByMaker(channel);
                break;
            default:
                setTagCode(channel, 0);
                break;
        }
        d.remove(0, 1);
    }

    // The link was opened with the channel and keeps its own port.
    std::int32_t open(ReaderManager& /*manager*/, ReaderChannel& channel) const override {
        tagState(channel);  // made now, before reads on other threads ask for it
        return 1;
    }

    std::int32_t readTag(ReaderManager& manager, ReaderChannel& channel, const ByteString& keyText,
                         std::int32_t keyType, TagRead& out) const override {
        RfidTagState& tag = tagState(channel);
        tag.loginKey = keyText;
        tag.keyType = keyType;
        for (std::int32_t family : kFamilyScanOrder) {
            tag.tagType = family;
            if (detectOnce(manager, channel) != 0) {
                copyTagOut(channel, out);
                tag.activity.release();
                return 1;
            }
        }
        return 0;
    }

    // The tag is found by a read of its own, then its block size is learnt.
    std::int32_t writeTag(ReaderManager& manager, ReaderChannel& channel, std::int32_t startByte,
                          const ByteString& data, const ByteString& keyText,
                          std::int32_t keyType) const override {
        TagRead found;
        if (vandora::readTag(manager, -1, 0, keyText, keyType, found) == 0) {
            return 0;
        }
        ChannelHold hold(channel);
        if (tagBlockSize(channel) == 0) {
            return 0;
        }
        return writeFoundTag(channel, *this, startByte, data, false);
    }

    std::int32_t readBlock(ReaderChannel& channel, std::int32_t block,
                           ByteString& out) const override {
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
                    out, [&](auto& data) { return link->linkUltralightRead(kRfidPort, b, data); },
                    4);
            case LinkAccess::Mifare: {
                std::int32_t keyType = tagState(channel).keyType;
                if (keyType != 0 && keyType != 1) {
                    out.clear();
                    return 1;
                }
                std::array<std::uint8_t, 6> key{};
                if (!keyBytes(channel, key)) {
                    return 0;
                }
                return readKept<16>(out, [&](auto& data) {
                    return link->linkMifareRead(kRfidPort, static_cast<std::uint8_t>(keyType), 0, 0,
                                                b, key, data);
                });
            }
            case LinkAccess::Sr176:
                return readKept<2>(
                    out, [&](auto& data) { return link->linkSr176Read(kRfidPort, b, data); });
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

    std::int32_t writeBlock(ReaderChannel& channel, std::int32_t block,
                            const ByteString& content) const override {
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
                std::int32_t keyType = tagState(channel).keyType;
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

    std::int32_t readRange(ReaderChannel& channel, const BlockRange& range) const override {
        return readRangeByBlocks(channel, range, false);
    }

    std::int32_t writeMifareKeys(ReaderManager& manager, std::int32_t loginKeyType,
                                 std::int32_t sector, std::span<const std::uint8_t, 6> loginKey,
                                 std::span<const std::uint8_t, 6> newKeyA,
                                 std::span<const std::uint8_t, 6> newKeyB) const override {
        RfidLinkApi* link = manager.platform().rfidLink;
        if (link == nullptr || sector < 0 || sector > kMaxCommandBlock ||
            (loginKeyType != 0 && loginKeyType != 1)) {
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
                       link->linkMifareWriteKeys(kRfidPort, static_cast<std::uint8_t>(loginKeyType),
                                                 0, 0, static_cast<std::uint8_t>(sector), loginKey,
                                                 trailer) == 0
                   ? 1
                   : 0;
    }
};

constexpr LinkModule kModule;

}  // namespace

const RfidModule& linkModule() {
    return kModule;
}

std::int32_t detectTagOnLink(ReaderChannel& channel) {
    RfidLinkApi* link = linkOf(channel);
    if (link == nullptr) {
        return 0;
    }
    switch (tagState(channel).tagType) {
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

}  // namespace vandora
