// The letter-command module (engine type 5): "s" finds a tag and answers with its family letter
// and UID, or with one error letter; "l" logs in to a Mifare sector, "r"/"rb" and "w"/"wb" read
// and write a block. Its port is opened for each read and closed again.
#include <algorithm>

#include "reader/Exchange.h"
#include "reader/PortOps.h"
#include "reader/Scan.h"
#include "reader/Trigger.h"
#include "rfid/RfidCommands.h"
#include "rfid/RfidModule.h"
#include "rfid/RfidTag.h"
#include "rfid/TagTable.h"

namespace vandora {

namespace {

constexpr std::uint32_t kSettleMs = 100;
constexpr std::uint32_t kFindMs = 1000;
constexpr std::uint32_t kAnswerFirstByteMs = 3000;
constexpr std::int32_t kLoginAttempts = 2;

// "M" tags by the number of UID digits after the letter; any other count is the Mifare family.
struct MifareDigits {
    std::size_t digits;
    std::int32_t code;
};
constexpr MifareDigits kMifareDigits[] = {{14, 2}, {16, 4}};

class LetterModule final : public RfidModule {
  public:
    constexpr LetterModule() : RfidModule(RfidCommandSet::Letters) {}

    // A press opens the port, sets its rate and sends "s"; a release closes the port.
    std::int32_t trigger(ReaderChannel& channel, std::int32_t on) const override {
        if (channel.triggerOn == on) {
            return 1;
        }
        if (on == 0) {
            channel.triggerOn = 0;
            closePort(channel);
            return 1;
        }
        if (openPort(channel) == 0) {
            return 0;
        }
        if (setBaudRate(channel, channel.baudRate) == 0) {
            closePort(channel);
            return 0;
        }
        channel.clock().sleepMs(kSettleMs);
        std::int32_t sent = exchange(channel, ByteString("s"), kFindMs, nullptr, 1);
        if (sent != 0) {
            channel.triggerOn = 1;
        } else {
            closePort(channel);
        }
        return sent;
    }

    std::int32_t awaitAnswer(ReaderChannel& channel) const override {
        if (readReply(channel, channel.decodeData, kAnswerFirstByteMs, 0) == 0) {
            return 0;
        }
        const ByteString& d = channel.decodeData;
        if (d.empty()) {
            channel.lastError = EngineError::RfidNoAnswer;
            return 0;
        }
        if (d.length() == 1) {
            std::uint32_t error = errorLetterCode(d);
            channel.lastError = error != 0 ? error : EngineError::RfidOther;
            return 0;
        }
        // The UID after the family letter is whole bytes; an odd digit means the answer was cut
        // or garbled on the line, and naming a tag from it would deliver a wrong UID.
        if ((d.length() - 1) % 2 != 0) {
            channel.decodeData.clear();
            channel.lastError = EngineError::RfidOther;
            return 0;
        }
        nameTag(channel);
        readUserData(channel);
        return 1;
    }

    void nameAnswer(ReaderChannel& channel) const override {
        ByteString& d = channel.decodeData;
        char16_t lead = d.at(0);
        std::int32_t code = 0;
        if (lead == u'V') {
            if (!nameByMaker(channel)) {
                return;
            }
            code = channel.codeTypeId;
        } else if (const TagLetter* family = familyOfLetter(lead)) {
            code = family->code;
            if (lead == u'M') {
                for (const MifareDigits& m : kMifareDigits) {
                    if (d.length() - 1 == m.digits) {
                        code = m.code;
                    }
                }
            }
        }
        setTagCode(channel, code);
        d.remove(0, 1);
    }

    // The settings are sent over a port of their own; each read opens it again.
    std::int32_t open(ReaderManager& manager, ReaderChannel& channel) const override {
        tagState(channel);  // made now, before reads on other threads ask for it
        closePort(channel);
        manager.setup().applySettings(manager, channel);
        return 1;
    }

    std::int32_t readTag(ReaderManager& manager, ReaderChannel& channel, const ByteString& keyText,
                         std::int32_t keyType, TagRead& out) const override {
        setLetterKey(tagState(channel), keyText, keyType);
        std::int32_t found = detectOnce(manager, channel);
        if (found != 0) {
            copyTagOut(channel, out);
        }
        return found;
    }

    // The tag is found with the trigger kept on, so that the login and block commands reach it.
    std::int32_t writeTag(ReaderManager& manager, ReaderChannel& channel, std::int32_t startByte,
                          const ByteString& data, const ByteString& keyText,
                          std::int32_t keyType) const override {
        ChannelHold hold(channel);
        if (setTrigger(channel, 1) == 0) {
            return 0;
        }
        RfidTagState& tag = tagState(channel);
        setTagRange(tag, -1, 1);
        setLetterKey(tag, keyText, keyType);
        if (awaitDecode(channel, manager.ccdHostOptions()) == 0) {
            setTrigger(channel, 0);
            return 0;
        }
        return writeFoundTag(channel, *this, startByte, data, true);
    }

    std::int32_t readBlock(ReaderChannel& channel, std::int32_t block,
                           ByteString& out) const override {
        out.clear();
        ByteString command;
        ByteString reply;
        if (!letterReadCommand(channel.rfidVariant, block, command) ||
            exchange(channel, command, kBlockCommandMs, &reply, kBlockReadAttempts) == 0) {
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

    std::int32_t writeBlock(ReaderChannel& channel, std::int32_t block,
                            const ByteString& content) const override {
        ByteString command;
        ByteString reply;
        if (!letterWriteCommand(channel.rfidVariant, block, content, command) ||
            exchange(channel, command, kBlockCommandMs, &reply, kBlockWriteAttempts) == 0) {
            return 0;
        }
        std::uint32_t error = errorLetterCode(reply);
        if (error != 0) {
            channel.lastError = error;
            return 0;
        }
        return 1;
    }

    std::int32_t readRange(ReaderChannel& channel, const BlockRange& range) const override {
        return readRangeByBlocks(channel, range, true);
    }

    // The module has no key command: the sector trailer is written like any other block, logging
    // in with the old key.
    std::int32_t changeSectorKeys(ReaderManager& manager, const SectorKeys& keys) const override {
        static constexpr std::uint8_t kAccess[] = {0xFF, 0x07, 0x80, 0x69};
        ByteString trailer = ByteString::fromBytes(keys.newKeyA.data(), keys.newKeyA.size());
        trailer.appendBytes(kAccess, sizeof kAccess);
        trailer.appendBytes(keys.newKeyB.data(), keys.newKeyB.size());
        constexpr std::int32_t kBlockBytes = 16;
        std::int32_t trailerByte = (keys.sector * 4 + 3) * kBlockBytes;
        return writeTag(manager, manager.rfid, trailerByte, trailer, keys.keyText, keys.keyType) ==
                       static_cast<std::int32_t>(trailer.length())
                   ? 1
                   : 0;
    }
};

constexpr LetterModule kModule;

}  // namespace

const RfidModule& letterModule() {
    return kModule;
}

std::int32_t loginSector(ReaderChannel& channel, std::int32_t sector) {
    ByteString command;
    ByteString reply;
    if (!letterLoginCommand(sector, tagState(channel).loginKey, command) ||
        exchange(channel, command, kBlockCommandMs, &reply, kLoginAttempts) == 0) {
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

}  // namespace vandora
