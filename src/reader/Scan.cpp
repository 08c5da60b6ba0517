#include "reader/Scan.h"

#include <atomic>

#include "reader/CodeTypes.h"
#include "reader/Exchange.h"
#include "reader/PortOps.h"
#include "reader/engines/CcdLayout.h"
#include "reader/engines/EngineTable.h"

namespace vandora {

namespace {

std::atomic<std::int32_t> gAimAlternation{1};

constexpr std::int32_t kCcdTriggerTimeoutMs = 1000;
constexpr std::int32_t kImagerTriggerTimeoutMs = 200;
constexpr std::uint32_t kLaserCommandMs = 1000;
constexpr std::uint32_t kLaserAimOffOnStopMs = 3000;
constexpr std::int32_t kLaserAttempts = 5;
constexpr std::uint32_t kAimTakeBackMs = 10;
constexpr std::uint32_t kAsciiSettleMs = 100;
constexpr std::uint32_t kAsciiFirstByteMs = 3000;
constexpr std::uint32_t kHexFirstByteMs = 1000;
constexpr std::uint32_t kDecodeAckMs = 1000;
constexpr std::uint32_t kCcdRelinkPauseMs = 600;
constexpr std::uint32_t kCcdRelinkBaud = 115200;
constexpr std::int32_t kCcdCode128 = 'I';
constexpr std::int32_t kCcdEan128 = 'U';

const ByteString& startDecoding() {
    static const ByteString p = hostPacket(packet::kStartDecode);
    return p;
}
const ByteString& stopDecoding() {
    static const ByteString p = hostPacket(packet::kStopDecode);
    return p;
}
const ByteString& aimOn() {
    static const ByteString p = hostPacket(packet::kAimOn);
    return p;
}
const ByteString& aimOff() {
    static const ByteString p = hostPacket(packet::kAimOff);
    return p;
}

std::int32_t laserExchange(ReaderChannel& channel, const ByteString& command, std::uint32_t ms) {
    ByteString reply;
    return exchange(channel, command, ms, &reply, kLaserAttempts);
}

// Called with the channel lock held.
std::int32_t triggerLongRange(ReaderChannel& channel, std::int32_t on) {
    if (channel.triggerOn == on) {
        return 1;
    }
    if (on == 0) {
        channel.aimCancel.release();
        laserExchange(channel, aimOff(), kLaserAimOffOnStopMs);
        std::int32_t stopped = laserExchange(channel, stopDecoding(), kLaserCommandMs);
        if (stopped != 0) {
            channel.triggerOn = 0;
        }
        // Takes back the cancel signal given above when no aiming wait used it.
        channel.aimCancel.wait(kAimTakeBackMs);
        return stopped;
    }
    std::int32_t flag = (gAimAlternation.load() + 1) % 2;
    gAimAlternation = flag;
    if (flag == 1 || channel.aimTime == 0) {
        std::int32_t started = laserExchange(channel, startDecoding(), kLaserCommandMs);
        if (started != 0) {
            channel.triggerOn = 1;
        }
        return started;
    }
    laserExchange(channel, aimOn(), kLaserCommandMs);
    channel.triggerOn = 1;
    if (channel.aimCancel.wait(channel.aimTime * 100)) {
        // Cancelled: the engine keeps aiming; the next press decodes at once.
        return 0;
    }
    laserExchange(channel, aimOff(), kLaserCommandMs);
    std::int32_t started = laserExchange(channel, startDecoding(), kLaserCommandMs);
    gAimAlternation = (gAimAlternation.load() + 1) % 2;
    return started;
}

std::int32_t triggerRfidAscii(ReaderChannel& channel, std::int32_t on) {
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
    channel.owner->clock().sleepMs(kAsciiSettleMs);
    std::int32_t sent = exchange(channel, ByteString("s"), 1000, nullptr, 1);
    if (sent != 0) {
        channel.triggerOn = 1;
    } else {
        closePort(channel);
    }
    return sent;
}

const char* hexDetectionFrame(std::int32_t tagType) {
    switch (tagType) {
        case 3:
            return "0109000304A0010000";
        case 5:
            return "0109000304B0040000";
        case 8:
            return "010B000304340050000000";
        case 16:
            return "010B000304140401000000";
        default:
            return nullptr;
    }
}

std::int32_t triggerRfidHex(ReaderChannel& channel, std::int32_t on) {
    if (channel.triggerOn == on) {
        return 1;
    }
    if (on == 0) {
        channel.triggerOn = 0;
        return 1;
    }
    const char* frame = hexDetectionFrame(channel.tag.tagType);
    if (frame == nullptr) {
        return 0;
    }
    std::int32_t sent = exchange(channel, ByteString(frame), 1000, nullptr, 1);
    if (sent != 0) {
        channel.triggerOn = 1;
    }
    return sent;
}

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

// Start and stop with one command each way; called with the channel lock held.
std::int32_t triggerByCommand(ReaderChannel& channel, std::int32_t on, const ByteString& start,
                              const ByteString& stop, std::uint32_t timeoutMs, bool wantReply) {
    if (channel.triggerOn == on) {
        return 1;
    }
    ByteString reply;
    std::int32_t sent =
        exchange(channel, on ? start : stop, timeoutMs, wantReply ? &reply : nullptr, 1);
    if (sent != 0) {
        channel.triggerOn = on;
    }
    return sent;
}

// The trigger command of the channel's engine. The barcode engines' forms expect the channel
// lock held by the caller; the RFID forms manage the port themselves.
std::int32_t triggerLocked(ReaderChannel& channel, std::int32_t on) {
    switch (engineInfo(channel.engineType).trigger) {
        case TriggerStyle::CcdOnOff: {
            static const ByteString kOn("ON");
            static const ByteString kOff("OFF");
            return triggerByCommand(channel, on, kOn, kOff, kCcdTriggerTimeoutMs, false);
        }
        case TriggerStyle::PacketStartStop:
            return triggerByCommand(channel, on, startDecoding(), stopDecoding(),
                                    kImagerTriggerTimeoutMs, true);
        case TriggerStyle::PacketAiming:
            return triggerLongRange(channel, on);
        case TriggerStyle::RfidAsciiOpen:
            return triggerRfidAscii(channel, on);
        case TriggerStyle::RfidHexFrame:
            return triggerRfidHex(channel, on);
        case TriggerStyle::RfidLink:
            if (channel.triggerOn == on) {
                return 1;
            }
            if (on == 0) {
                channel.triggerOn = 0;
                return 1;
            }
            // Tag detection through the binary link comes with the tag operations.
            return 0;
        case TriggerStyle::None:
            return 0;
    }
    return 0;
}

bool triggerTakesLock(const ReaderChannel& channel) {
    switch (engineInfo(channel.engineType).trigger) {
        case TriggerStyle::CcdOnOff:
        case TriggerStyle::PacketStartStop:
        case TriggerStyle::PacketAiming:
            return true;
        default:
            return false;
    }
}

// A release that found the channel busy left its stop behind; whoever lets go of the lock next
// sends it, so that the stop never runs on the port while a read is using it and is never lost.
void settlePendingStop(ReaderChannel& channel) {
    if (channel.stopPending.load() == 0 || !channel.channelLock.tryWait()) {
        return;
    }
    if (channel.stopPending.exchange(0) != 0) {
        triggerLocked(channel, 0);
    }
    channel.channelLock.release();
}

// Holds the channel lock for the scope and settles a stop left behind meanwhile.
class ChannelHold {
  public:
    explicit ChannelHold(ReaderChannel& channel) : channel_(channel) {
        channel_.channelLock.wait();
    }
    ~ChannelHold() {
        channel_.channelLock.release();
        settlePendingStop(channel_);
    }
    ChannelHold(const ChannelHold&) = delete;
    ChannelHold& operator=(const ChannelHold&) = delete;

  private:
    ReaderChannel& channel_;
};

// A release of the trigger: stops the engine now when the channel is free, else leaves the stop
// to the read or command holding the channel.
std::int32_t releaseTrigger(ReaderChannel& channel) {
    channel.stopPending = 1;
    if (!channel.channelLock.tryWait()) {
        return 1;
    }
    std::int32_t stopped = 1;
    if (channel.stopPending.exchange(0) != 0) {
        stopped = triggerLocked(channel, 0);
    }
    channel.channelLock.release();
    return stopped;
}

}  // namespace

std::int32_t aimAlternationFlag() {
    return gAimAlternation.load();
}

void setAimAlternationFlag(std::int32_t value) {
    gAimAlternation = value;
}

std::int32_t ccdScanMode(const ReaderChannel& channel) {
    if (channel.parameterImage.length() < kCcdBlockMinBytes) {
        return 0;
    }
    return static_cast<std::int32_t>(ccdFieldValue(channel.parameterImage, ccd::kScanMode));
}

std::int32_t setTrigger(ReaderChannel& channel, std::int32_t on) {
    if (!triggerTakesLock(channel)) {
        return triggerLocked(channel, on);
    }
    ChannelHold hold(channel);
    return triggerLocked(channel, on);
}

std::int32_t awaitDecode(ReaderChannel& channel) {
    switch (engineInfo(channel.engineType).framing) {
        case Framing::CcdText:
            if (readReply(channel, channel.decodeData, channel.scanTimeout, 0) == 0) {
                return 0;
            }
            if (channel.decodeData == "*000") {
                channel.decodeData.clear();
                channel.lastError = EngineError::NoDecode;
                return 0;
            }
            nameCodeType(channel);
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
            nameCodeType(channel);
            return 1;
        }
        case Framing::AsciiText: {
            if (readReply(channel, channel.decodeData, kAsciiFirstByteMs, 0) == 0) {
                return 0;
            }
            const ByteString& d = channel.decodeData;
            if (d.empty()) {
                channel.lastError = EngineError::RfidNoAnswer;
                return 0;
            }
            if (d.length() == 1) {
                switch (d.at(0)) {
                    case u'F':
                        channel.lastError = EngineError::RfidF;
                        break;
                    case u'N':
                        channel.lastError = EngineError::RfidNoAnswer;
                        break;
                    case u'O':
                        channel.lastError = EngineError::RfidO;
                        break;
                    case u'R':
                        channel.lastError = EngineError::RfidR;
                        break;
                    default:
                        channel.lastError = EngineError::RfidOther;
                        break;
                }
                return 0;
            }
            // Tag answers are named and their user data read by the tag operations, which come
            // with the RFID subsystem.
            return 0;
        }
        case Framing::HexText:
            if (readReply(channel, channel.decodeData, kHexFirstByteMs, 0) == 0) {
                return 0;
            }
            if (channel.decodeData.empty()) {
                channel.lastError = EngineError::RfidNoAnswer;
            }
            return 0;
        case Framing::Link:
        case Framing::None:
            return 0;
    }
    return 0;
}

std::int32_t scanBarcode(ReaderManager& manager, Decode& decodeOut, std::uint32_t timeoutMs) {
    if (manager.barcodeReady == 0) {
        return 0;
    }
    manager.imageCapture = 0;
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
        std::int32_t decoded = awaitDecode(channel);
        triggerLocked(channel, 0);
        if (decoded == 0) {
            return 0;
        }
        return copyOut(channel, decodeOut);
    }
    if (awaitDecode(channel) == 0) {
        return 0;
    }
    if (way == ReadWay::WaitingKnownTypesOnly && channel.codeTypeId == 0) {
        return 0;
    }
    if (engineInfo(channel.engineType).ccdBlock && channel.handle) {
        channel.handle->purge(kPurgeAll);
    }
    return copyOut(channel, decodeOut);
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
