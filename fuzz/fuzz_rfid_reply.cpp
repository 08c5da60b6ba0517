// Drives the RFID reply handling with arbitrary module bytes: the bracketed-field cutting, the
// tag answers, ISO 15693 block data and the Tag-it realignment of the hexadecimal module, the
// letter module's block replies, and whole tag reads (answer, naming, block reads) of both
// text-driven modules in virtual time. Every result must stay inside what the reply holds.
//
// Input: byte 0 picks the mode (% 4), byte 1 the tag family, byte 2 the read start, byte 3 the
// read length; the rest is the reply (modes 0 and 1) or answers cut as in ReplyInput.h, one for
// each write of the host (modes 2 and 3).
#include <cstdint>
#include <cstdlib>

#include "ReplyInput.h"
#include "reader/Scan.h"
#include "rfid/RfidCommands.h"
#include "rfid/RfidTag.h"
#include "rfid/TagChannel.h"

namespace {

using namespace vandora;

constexpr std::int32_t kFamilies[] = {3, 5, 8, 16, 0, 4};

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

void cutFields(std::int32_t family, const ByteString& reply) {
    ByteString field;
    if (extractField(family, reply, field)) {
        check(!field.empty() && field.length() <= reply.length());
        ByteString data;
        if (iso15693BlockData(field, data)) {
            check(data.length() <= field.length() / 2 + 1);
        }
        if (tagItRealign(field, data)) {
            check(data.length() == 4);
        }
    }
    HexTagAnswer answer;
    if (hexTagAnswer(family, reply, answer)) {
        check(!answer.uid.empty() && answer.uid.length() <= reply.length() + 1);
        check(answer.tagitInfoByte >= 0 && answer.tagitInfoByte <= 255);
        check(answer.tagitBlockCount >= 0 && answer.tagitBlockCount <= 255);
    }
    endsWithOk(reply);
}

void letterReply(const ByteString& reply) {
    ByteString block;
    std::uint32_t error = 0;
    bool ok = letterBlockReply(reply, block, error);
    check(!ok || (error == 0 && block.length() <= reply.length() / 2 + 1));
    check(error == errorLetterCode(reply));
}

void tagRead(EngineType type, std::int32_t family, std::int32_t start, std::uint32_t length,
             const std::uint8_t* data, std::size_t size) {
    std::vector<std::vector<std::uint8_t>> chunks;
    std::size_t pos = 0;
    while (pos < size) {
        std::size_t n = data[pos++];
        if (n == 0) {
            n = fuzz::kMaxAnswer;
        }
        n = std::min(n, size - pos);
        chunks.emplace_back(data + pos, data + pos + n);
        pos += n;
    }
    VirtualClock clock;
    sim::SimulatedPortProvider ports(clock);
    ports.attach(2, std::make_shared<fuzz::ChunkModel>(std::move(chunks)));
    ports.faultsFor(2).noModemLines = true;
    ReaderPlatform platform;
    platform.clock = &clock;
    platform.ports = &ports;
    platform.registryPath = "/nonexistent";
    ReaderManager manager(platform);
    ReaderChannel& channel = manager.rfid;
    channel.port = 2;
    channel.engineType = type;
    channel.rfidVariant = 1;
    tagState(channel).tagType = family;
    tagState(channel).readStart = start;
    tagState(channel).readLength = length;
    tagState(channel).loginKey = "AA000000000000";
    if (openPort(channel) == 0) {
        return;
    }
    writeFrame(channel, ByteString("s"));
    awaitDecode(channel, manager.ccdHostOptions());
    check(tagState(channel).userData.length() <= length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) {
        return 0;
    }
    int mode = data[0] % 4;
    std::int32_t family = kFamilies[data[1] % std::size(kFamilies)];
    std::int32_t start = static_cast<std::int8_t>(data[2]);
    std::uint32_t length = data[3];
    ByteString reply = ByteString::fromBytes(data + 4, size - 4);
    switch (mode) {
        case 0:
            cutFields(family, reply);
            break;
        case 1:
            letterReply(reply);
            break;
        case 2:
            tagRead(EngineType::RfidHex, family, start, length, data + 4, size - 4);
            break;
        default:
            tagRead(EngineType::RfidAscii, family, start, length, data + 4, size - 4);
            break;
    }
    return 0;
}
