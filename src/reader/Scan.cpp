#include "reader/Scan.h"

#include "reader/CodeTypes.h"
#include "reader/Exchange.h"
#include "reader/PortOps.h"
#include "reader/Trigger.h"
#include "reader/engines/CcdLayout.h"
#include "reader/engines/EngineTable.h"
#include "reader/engines/PacketProtocol.h"

namespace vandora {

namespace {

constexpr std::uint32_t kDecodeAckMs = 1000;
constexpr std::uint32_t kCcdRelinkPauseMs = 600;
constexpr std::uint32_t kCcdRelinkBaud = 115200;
constexpr std::int32_t kCcdCode128 = 'I';
constexpr std::int32_t kCcdEan128 = 'U';

// CCD/Laser only: Code 128 and EAN-128 decodes count only while the engine has them enabled.
bool acceptedByCcd(const ReaderChannel& channel) {
    if (!engineInfo(channel.engineType).ccdBlock) {
        return true;
    }
    if (channel.codeTypeId == kCcdCode128) {
        return ccdFieldValue(channel.parameterImage, ccd::kCode128Enable) != 0;
    }
    if (channel.codeTypeId == kCcdEan128) {
        return ccdFieldValue(channel.parameterImage, ccd::kEan128Enable) != 0;
    }
    return true;
}

std::int32_t copyOut(const ReaderChannel& channel, Decode& out) {
    out = Decode{};
    out.engineType = channel.engineType;
    out.codeTypeId = channel.codeTypeId;
    if (!acceptedByCcd(channel)) {
        return 0;
    }
    out.codeTypeName = channel.codeTypeName;
    out.data = channel.decodeData;
    return 1;
}

enum class ReadWay { Triggered, Waiting, WaitingKnownTypesOnly };

ReadWay readWay(const ReaderManager& manager, const ReaderChannel& channel) {
    const EngineInfo& info = engineInfo(channel.engineType);
    std::int32_t mode = info.modeSource == ScanModeSource::CcdBlock ? ccdScanMode(channel)
                                                                    : manager.scanMode.load();
    if (info.knownTypesOnlyModes.has(mode)) {
        return ReadWay::WaitingKnownTypesOnly;
    }
    if (info.selfScanModes.has(mode) || info.toggleScanModes.has(mode)) {
        return ReadWay::Waiting;
    }
    return ReadWay::Triggered;
}

}  // namespace

std::int32_t ccdScanMode(const ReaderChannel& channel) {
    if (channel.parameterImage.length() < kCcdBlockMinBytes) {
        return 0;
    }
    return static_cast<std::int32_t>(ccdFieldValue(channel.parameterImage, ccd::kScanMode));
}

std::int32_t awaitDecode(ReaderChannel& channel, const CcdHostOptions& options) {
    const EngineInfo& info = engineInfo(channel.engineType);
    if (info.module != nullptr) {
        return info.module->awaitAnswer(channel);
    }
    switch (info.framing) {
        case Framing::CcdText:
            if (readReply(channel, channel.decodeData, channel.scanTimeout, 0) == 0) {
                return 0;
            }
            if (channel.decodeData == "*000") {
                channel.decodeData.clear();
                channel.lastError = EngineError::NoDecode;
                return 0;
            }
            nameCodeType(channel, options);
            return 1;
        case Framing::Packet: {
            if (readReply(channel, channel.decodeData, channel.scanTimeout, 1) == 0) {
                return 0;
            }
            static const ByteString kDecodeAck = hostPacket(packet::kAck);
            exchange(channel, kDecodeAck, kDecodeAckMs, nullptr, 1);
            // The engine's refusal in place of a decode: nothing was read.
            const ByteString& d = channel.decodeData;
            if (d.length() == 5 && isRefusal(d)) {
                channel.decodeData.clear();
                channel.lastError = EngineError::NoDecode;
                return 0;
            }
            nameCodeType(channel, options);
            return 1;
        }
        case Framing::AsciiText:
        case Framing::HexText:
        case Framing::Link:
        case Framing::None:
            return 0;
    }
    return 0;
}

std::int32_t scanBarcode(ReaderManager& manager, Decode& decodeOut, std::uint32_t timeoutMs,
                         const DecodeReady& ready) {
    if (manager.barcodeReady == 0) {
        return 0;
    }
    manager.endImageCapture();
    ReaderChannel& channel = manager.barcode;
    ReadWay way = readWay(manager, channel);
    // The whole read holds the channel: a release meanwhile leaves its stop to the read instead
    // of purging, writing and reading on the port under it.
    ChannelHold hold(channel);
    channel.scanTimeout = timeoutMs;
    if (way == ReadWay::Triggered) {
        if (triggerLocked(channel, 1) == 0) {
            return 0;
        }
        std::int32_t decoded = awaitDecode(channel, manager.ccdHostOptions());
        std::int32_t copied = decoded != 0 ? copyOut(channel, decodeOut) : 0;
        if (copied != 0 && ready) {
            ready(decodeOut);
        }
        triggerLocked(channel, 0);
        return copied;
    }
    if (awaitDecode(channel, manager.ccdHostOptions()) == 0) {
        return 0;
    }
    if (way == ReadWay::WaitingKnownTypesOnly && channel.codeTypeId == 0) {
        return 0;
    }
    std::int32_t copied = copyOut(channel, decodeOut);
    if (copied != 0 && ready) {
        ready(decodeOut);
    }
    if (engineInfo(channel.engineType).ccdBlock && channel.handle) {
        channel.handle->purge(kPurgeAll);
    }
    return copied;
}

std::int32_t stopScanning(ReaderManager& manager, std::int32_t barcode, std::int32_t rfid) {
    std::int32_t barcodeResult = 0;
    if (barcode != 0 && manager.barcodeReady == 1) {
        barcodeResult = releaseTrigger(manager.barcode);
    }
    if (rfid == 0 || manager.rfidReady == 0) {
        return barcodeResult;
    }
    std::int32_t rfidResult = 0;
    if (manager.rfid.channelLock.tryWait()) {
        rfidResult = setTrigger(manager.rfid, 0);
        manager.rfid.channelLock.release();
    }
    return barcodeResult != 0 || rfidResult != 0 ? 1 : 0;
}

std::int32_t toggleCcdScan(ReaderManager& manager, std::int32_t on) {
    ReaderChannel& channel = manager.barcode;
    if (on == 1) {
        return setTrigger(channel, 1);
    }
    if (on != 0) {
        return 0;
    }
    // The link is reset under the channel lock: a waiting read still using the port ends first
    // (within its time-out) instead of losing the port under its feet.
    ChannelHold hold(channel);
    closePort(channel);
    channel.triggerOn = 0;
    manager.clock().sleepMs(kCcdRelinkPauseMs);
    if (openPort(channel) != 0) {
        setBaudRate(channel, kCcdRelinkBaud);
    }
    return 1;
}

}  // namespace vandora
