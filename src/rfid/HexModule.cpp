// The hexadecimal-frame module (engine type 6): every command is a frame written as hexadecimal
// text, its answer fields in brackets. A read selects a tag family and sends that family's
// detection frame; Tag-it and ISO 15693 blocks are read and written with request frames. A listener
// closes the port after an idle time; a read opens it again.
#include <algorithm>

#include "reader/Exchange.h"
#include "reader/PortOps.h"
#include "reader/Trigger.h"
#include "rfid/RfidCommands.h"
#include "rfid/RfidModule.h"
#include "rfid/RfidTag.h"
#include "rfid/TagTable.h"

namespace vandora {

namespace {

constexpr std::uint32_t kSelectMs = 3000;
constexpr std::int32_t kSelectAttempts = 3;
constexpr std::uint32_t kDetectMs = 1000;
constexpr std::uint32_t kAnswerFirstByteMs = 1000;
constexpr std::uint32_t kRetryPauseMs = 100;
constexpr std::int32_t kAttemptsPerFamily = 2;

// The frames of each tag family: the one that selects it and the one that detects a tag of it.
struct FamilyFrames {
    std::int32_t family;
    const char* select;
    const char* detect;
};

constexpr FamilyFrames kFamilyFrames[] = {
    {TagFamily::Iso14443A, "010C00030410002101090000", "0109000304A0010000"},
    {TagFamily::Iso14443B, "010C000304100021010C0000", "0109000304B0040000"},
    {TagFamily::TagIt, "010C00030410002101130000", "010B000304340050000000"},
    {TagFamily::Iso15693, "010C00030410002101000000", "010B000304140401000000"},
};

const FamilyFrames* framesOf(std::int32_t family) {
    for (const FamilyFrames& f : kFamilyFrames) {
        if (f.family == family) {
            return &f;
        }
    }
    return nullptr;
}

// The selection frame of the tag state's family; nothing is sent for another family (success).
std::int32_t selectTagFamily(ReaderChannel& channel) {
    const FamilyFrames* frames = framesOf(tagState(channel).tagType);
    if (frames == nullptr) {
        return 1;
    }
    ByteString reply;
    return exchange(channel, ByteString(frames->select), kSelectMs, &reply, kSelectAttempts);
}

// The port closes after an idle time; a read opens it again and sets the module up as at start.
std::int32_t reopenPort(ReaderManager& manager, ReaderChannel& channel) {
    if (channel.isOpen()) {
        return 1;
    }
    return openPort(channel) != 0 && setBaudRate(channel, channel.baudRate) != 0 &&
                   manager.setup().applySettings(manager, channel) != 0 &&
                   selectTagFamily(channel) != 0
               ? 1
               : 0;
}

// ISO 15693 write without the option flag, then with it: a tag that takes only the second is a
// maker's that needs the flag, and later writes use it at once.
std::int32_t writeIsoBlock(ReaderChannel& channel, std::uint8_t block, const ByteString& content) {
    const TagTypeInfo& info = tagTypeInfo(channel.codeTypeId);
    ByteString reply;
    if (!info.needsOptionFlag) {
        ByteString plain = hexBlockFrame(0x00, HexRequest::IsoWrite, block, content);
        if (exchange(channel, plain, kBlockCommandMs, &reply, kBlockWriteAttempts) != 0 &&
            endsWithOk(reply)) {
            return 1;
        }
    }
    ByteString flagged =
        hexBlockFrame(HexRequest::OptionFlag, HexRequest::IsoWrite, block, content);
    reply.clear();
    if (exchange(channel, flagged, kBlockCommandMs, &reply, kBlockWriteAttempts) == 0 ||
        !endsWithOk(reply)) {
        return 0;
    }
    if (!info.needsOptionFlag) {
        setTagCode(channel, 13);
    }
    return 1;
}

class HexModule final : public RfidModule {
  public:
    constexpr HexModule() : RfidModule(RfidCommandSet::HexFrames) {}

    // A press sends the detection frame of the tag state's family.
    std::int32_t trigger(ReaderChannel& channel, std::int32_t on) const override {
        if (channel.triggerOn == on) {
            return 1;
        }
        if (on == 0) {
            channel.triggerOn = 0;
            return 1;
        }
        const FamilyFrames* frames = framesOf(tagState(channel).tagType);
        if (frames == nullptr) {
            return 0;
        }
        std::int32_t sent = exchange(channel, ByteString(frames->detect), kDetectMs, nullptr, 1);
        if (sent != 0) {
            channel.triggerOn = 1;
        }
        return sent;
    }

    std::int32_t awaitAnswer(ReaderChannel& channel) const override {
        ByteString reply;
        if (readReply(channel, reply, kAnswerFirstByteMs, 0) == 0) {
            return 0;
        }
        if (takeHexTagAnswer(channel, reply) == 0) {
            channel.lastError = EngineError::RfidNoAnswer;
            return 0;
        }
        nameTag(channel);
        // An ISO 15693 UID is 8 bytes.
        if (channel.codeTypeId == TagFamily::Iso15693 && channel.decodeData.length() != 16) {
            return 0;
        }
        readUserData(channel);
        return 1;
    }

    // The answer holds the UID alone: the family it was detected in names it.
    void nameAnswer(ReaderChannel& channel) const override {
        std::int32_t family = tagState(channel).tagType;
        setTagCode(channel, framesOf(family) != nullptr ? family : 0);
    }

    // The settings are sent at once; the idle listener closes the port when no read comes.
    std::int32_t open(ReaderManager& manager, ReaderChannel& channel) const override {
        manager.startRfidListener(tagState(channel).activity);
        return manager.setup().applySettings(manager, channel);
    }

    std::int32_t readTag(ReaderManager& manager, ReaderChannel& channel, const ByteString& keyText,
                         std::int32_t /*keyType*/, TagRead& out) const override {
        if (reopenPort(manager, channel) == 0) {
            return 0;
        }
        RfidTagState& tag = tagState(channel);
        tag.loginKey = keyText;
        // The family that last found a tag is tried first.
        const auto* at =
            std::find(std::begin(kFamilyScanOrder), std::end(kFamilyScanOrder), tag.tagType);
        std::size_t start =
            at == std::end(kFamilyScanOrder) ? 0 : static_cast<std::size_t>(at - kFamilyScanOrder);
        for (std::size_t i = 0; i < std::size(kFamilyScanOrder); ++i) {
            std::int32_t family = kFamilyScanOrder[(start + i) % std::size(kFamilyScanOrder)];
            if (family != tag.tagType) {
                tag.tagType = family;
                if (selectTagFamily(channel) == 0) {
                    return 0;
                }
            }
            for (std::int32_t attempt = 0; attempt < kAttemptsPerFamily; ++attempt) {
                if (detectOnce(manager, channel) != 0) {
                    copyTagOut(channel, out);
                    tag.activity.release();
                    return 1;
                }
                manager.clock().sleepMs(kRetryPauseMs);
            }
        }
        return 0;
    }

    // The tag is found by a read of its own; the blocks are written whole, without merging.
    std::int32_t writeTag(ReaderManager& manager, ReaderChannel& channel, std::int32_t startByte,
                          const ByteString& data, const ByteString& /*keyText*/,
                          std::int32_t /*keyType*/) const override {
        TagRead found;
        if (vandora::readTag(manager, -1, 1, ByteString(), 0, found) == 0) {
            return 0;
        }
        ChannelHold hold(channel);
        BlockRange range;
        if (!tagWritableBy(channel.codeTypeId, commandSet()) ||
            blockRange(channel.codeTypeId, static_cast<std::int32_t>(tagState(channel).blockSize),
                       startByte, static_cast<std::int64_t>(data.length()), range) == 0) {
            return 0;
        }
        return writePieces(channel, range, startByte, data, false, false);
    }

    std::int32_t readBlock(ReaderChannel& channel, std::int32_t block,
                           ByteString& out) const override {
        out.clear();
        HexAccess access = tagTypeInfo(channel.codeTypeId).hex;
        if (access == HexAccess::None) {
            return 0;
        }
        bool tagIt = access == HexAccess::TagIt;
        ByteString reply;
        ByteString frame = hexBlockFrame(0x00, tagIt ? HexRequest::TagItRead : HexRequest::IsoRead,
                                         static_cast<std::uint8_t>(block));
        if (exchange(channel, frame, kBlockCommandMs, &reply, kBlockReadAttempts) == 0) {
            return 0;
        }
        ByteString field;
        if (!extractField(tagIt ? TagFamily::TagIt : TagFamily::Iso15693, reply, field)) {
            return 0;
        }
        bool ok = tagIt ? tagItRealign(field, out) : iso15693BlockData(field, out);
        return ok && !out.empty() ? 1 : 0;
    }

    std::int32_t writeBlock(ReaderChannel& channel, std::int32_t block,
                            const ByteString& content) const override {
        // The module's block frames carry 4 data bytes.
        if (content.length() != 4) {
            return 0;
        }
        auto b = static_cast<std::uint8_t>(block);
        switch (tagTypeInfo(channel.codeTypeId).hex) {
            case HexAccess::TagIt: {
                ByteString reply;
                return exchange(channel, hexBlockFrame(0x00, HexRequest::TagItWrite, b, content),
                                kBlockCommandMs, &reply, kBlockWriteAttempts);
            }
            case HexAccess::Iso15693:
                return writeIsoBlock(channel, b, content);
            case HexAccess::None:
                return 0;
        }
        return 0;
    }

    // Tag-it reads stop at the tag's block count; any failed block fails the whole read.
    std::int32_t readRange(ReaderChannel& channel, const BlockRange& whole) const override {
        RfidTagState& tag = tagState(channel);
        BlockRange range = whole;
        if (tagTypeInfo(channel.codeTypeId).hex == HexAccess::TagIt) {
            if (tag.tagitInfoByte == 0 || tag.tagitBlockCount == 0) {
                return 0;
            }
            range.lastBlock = std::min(range.lastBlock, tag.tagitBlockCount - 1);
        }
        for (std::int32_t block = range.firstBlock; block <= range.lastBlock; ++block) {
            ByteString bytes;
            if (readBlock(channel, block, bytes) == 0) {
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
};

constexpr HexModule kModule;

}  // namespace

const RfidModule& hexModule() {
    return kModule;
}

std::int32_t takeHexTagAnswer(ReaderChannel& channel, const ByteString& reply) {
    RfidTagState& tag = tagState(channel);
    HexTagAnswer answer;
    if (!hexTagAnswer(tag.tagType, reply, answer)) {
        channel.decodeData.clear();
        return 0;
    }
    channel.decodeData = answer.uid;
    tag.tagitInfoByte = answer.tagitInfoByte;
    tag.tagitBlockCount = answer.tagitBlockCount;
    return 1;
}

}  // namespace vandora
