#include "reader/Identify.h"

#include <array>
#include <span>

#include "reader/Exchange.h"
#include "reader/PortOps.h"
#include "reader/TerminalModels.h"
#include "reader/engines/EngineTable.h"

namespace vandora {

namespace {

constexpr std::uint32_t kQueryTimeoutMs = 1000;
constexpr std::uint32_t kBaudCommandTimeoutMs = 1000;
constexpr std::int32_t kPacketBaudAttempts = 5;
constexpr std::uint32_t kFallbackBaud = 9600;

bool contains(const ByteString& text, const char* needle, std::size_t from = 0) {
    return text.find(ByteString(needle), from) != ByteString::npos;
}

// The revision text's character before its third space (spaces counted from the second byte on,
// the first being the packet length) tells a 2D imager from a long-range laser.
bool acceptRevision(ReaderChannel& channel, const ByteString& reply) {
    std::size_t pos = 0;
    for (int space = 0; space < 3; ++space) {
        pos = reply.find(u' ', pos + 1);
        if (pos == ByteString::npos) {
            return false;
        }
    }
    char16_t letter = reply.at(pos - 1);
    for (const EngineInfo& row : engineRows()) {
        if (row.rule == IdentifyRule::RevisionSpaces && letter < 0x80 &&
            row.revisionLetters.find(static_cast<char>(letter)) != std::string_view::npos) {
            channel.engineType = row.type;
            return true;
        }
    }
    return false;
}

bool acceptAnswer(ReaderChannel& channel, const ByteString& reply) {
    switch (engineInfo(channel.engineType).rule) {
        case IdentifyRule::AnyButNg:
            return !(reply == "NG");
        case IdentifyRule::RevisionSpaces:
            return acceptRevision(channel, reply);
        case IdentifyRule::RfidAsciiBanner:
            if (contains(reply, "MultiISO 1.")) {
                channel.rfidVariant = 1;
                return true;
            }
            if (contains(reply, "ISO 0.9v")) {
                channel.rfidVariant = 0;
                return true;
            }
            return false;
        case IdentifyRule::AnyReply:
            channel.rfidVariant = 2;
            return true;
        case IdentifyRule::Paaaa:
            return contains(reply, "PAAAA", 4);
        case IdentifyRule::Byte16Is98or99:
            return reply.length() >= 17 && (reply.byteAt(15) == 0x98 || reply.byteAt(15) == 0x99);
        case IdentifyRule::LinkModuleInfo:
        case IdentifyRule::None:
            return false;
    }
    return false;
}

ByteString packetBaudCommand(std::uint32_t baud) {
    std::uint8_t value = baud == 38400 ? 0x08 : baud == 115200 ? 0x0B : 0x06;
    // Parameter 0x9C (the line rate), sent with the beep-off prefix 0xFF.
    return hostPacket(packet::kParamSend, packet::kParamPermanent, {0xFF, 0x9C, value});
}

}  // namespace

std::int32_t queryEngine(ReaderChannel& channel, std::uint32_t baud) {
    const EngineInfo& info = engineInfo(channel.engineType);
    if (info.framing == Framing::Link) {
        RfidLinkApi* link = channel.platform().rfidLink;
        std::array<std::uint8_t, 100> moduleInfo{};
        std::array<std::uint8_t, 200> serial{};
        return link != nullptr &&
                       link->linkModuleInfo(kRfidPort, moduleInfo.data(), serial.data()) == 0
                   ? 1
                   : 0;
    }
    if (setBaudRate(channel, baud) == 0) {
        return 0;
    }
    if (info.queryAttempts == 0) {
        return 0;
    }
    ByteString reply;
    ByteString query = ByteString::fromBytes(info.query);
    if (exchange(channel, query, kQueryTimeoutMs, &reply, info.queryAttempts) == 0) {
        return 0;
    }
    if (!acceptAnswer(channel, reply)) {
        return 0;
    }
    if (info.framing == Framing::CcdText && channel.handle) {
        PortSettings settings;
        if (channel.handle->getSettings(settings) == 0) {
            settings.rts = true;
            channel.handle->setSettings(settings);
        }
    }
    return 1;
}

std::int32_t setEngineBaud(ReaderChannel& channel, std::uint32_t baud) {
    switch (engineInfo(channel.engineType).baudCommand) {
        case BaudCommand::NotNeeded:
            return 1;
        case BaudCommand::AsciiWp: {
            // The module takes the same command for every rate.
            ByteString reply;
            bool answered =
                exchange(channel, ByteString("wp0C03"), kBaudCommandTimeoutMs, &reply, 1) != 0 ||
                exchange(channel, ByteString("wp0C03"), kBaudCommandTimeoutMs, &reply, 1) != 0;
            if (!answered) {
                return 0;
            }
            if (reply.length() == 1 && reply.at(0) == u'F') {
                channel.lastError = EngineError::RfidF;
                return 0;
            }
            if (reply.length() == 1 && reply.at(0) == u'R') {
                channel.lastError = EngineError::RfidR;
                return 0;
            }
            return 1;
        }
        case BaudCommand::PacketParameter: {
            ByteString reply;
            return exchange(channel, packetBaudCommand(baud), kBaudCommandTimeoutMs, &reply,
                            kPacketBaudAttempts);
        }
        case BaudCommand::Unsupported:
            return 0;
    }
    return 0;
}

std::int32_t probeEngine(ReaderChannel& channel) {
    const EngineInfo& info = engineInfo(channel.engineType);
    if (info.framing == Framing::Link) {
        return queryEngine(channel, 0);
    }
    if (info.workingBaud == 0) {
        return 0;
    }
    if (queryEngine(channel, info.workingBaud) != 0) {
        return 1;
    }
    if (!info.alsoAt9600 || queryEngine(channel, kFallbackBaud) == 0) {
        return 0;
    }
    // The rate is the one of the type probed for; the command is sent in the framing of the type
    // the query found (a type-3 probe that meets a long-range laser moves it to 115200).
    if (setEngineBaud(channel, info.workingBaud) == 0) {
        return 1;
    }
    setBaudRate(channel, info.workingBaud);
    return 1;
}

std::int32_t identifyEngine(ReaderChannel& channel, EngineType hint) {
    Clock& clock = channel.clock();
    auto tryType = [&](EngineType type) {
        channel.engineType = type;
        return probeEngine(channel) != 0;
    };
    const EngineInfo& hinted = engineInfo(hint);
    bool found = false;
    if (hinted.hint == HintRole::Engine && hinted.port == channel.port) {
        if (hinted.hintWaitMs != 0) {
            clock.sleepMs(hinted.hintWaitMs);
        }
        // A row without a fallback names none, whose probe fails at once without traffic.
        found = tryType(hint) || tryType(hinted.hintFallback);
    } else if (hinted.hint == HintRole::NoEngine && channel.port == kBarcodePort) {
        found = false;
    } else if (channel.port == kBarcodePort || channel.port == kRfidPort) {
        for (const DetectStep& step : detectOrder(channel.port, channel.terminalModel)) {
            if (step.sleepBeforeMs != 0) {
                clock.sleepMs(step.sleepBeforeMs);
            }
            if (tryType(step.type)) {
                found = true;
                break;
            }
        }
    }
    if (!found) {
        channel.engineType = EngineType::None;
        return 0;
    }
    return 1;
}

}  // namespace vandora
