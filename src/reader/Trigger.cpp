#include "reader/Trigger.h"

#include <atomic>

#include "reader/Exchange.h"
#include "reader/PortOps.h"
#include "reader/Scan.h"
#include "reader/engines/EngineTable.h"
#include "reader/engines/PacketProtocol.h"

namespace vandora {

namespace {

std::atomic<std::int32_t> gAimAlternation{1};

constexpr std::int32_t kCcdTriggerTimeoutMs = 1000;
constexpr std::int32_t kImagerTriggerTimeoutMs = 200;
constexpr std::uint32_t kLaserCommandMs = 1000;
constexpr std::uint32_t kLaserAimOffOnStopMs = 3000;
constexpr std::int32_t kLaserAttempts = 5;
constexpr std::uint32_t kAimTakeBackMs = 10;

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

bool triggerTakesLock(const ReaderChannel& channel) {
    switch (engineInfo(channel.engineType).trigger) {
        case TriggerStyle::CcdOnOff:
        case TriggerStyle::PacketStartStop:
        case TriggerStyle::PacketAiming:
            return true;
        case TriggerStyle::None:
            return false;
    }
    return false;
}

}  // namespace

std::int32_t triggerLocked(ReaderChannel& channel, std::int32_t on) {
    const EngineInfo& info = engineInfo(channel.engineType);
    if (info.module != nullptr) {
        return info.module->trigger(channel, on);
    }
    switch (info.trigger) {
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
        case TriggerStyle::None:
            return 0;
    }
    return 0;
}

namespace {

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

}  // namespace

ChannelHold::ChannelHold(ReaderChannel& channel) : channel_(channel) {
    channel_.channelLock.wait();
}

ChannelHold::~ChannelHold() {
    channel_.channelLock.release();
    settlePendingStop(channel_);
}

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

std::int32_t aimAlternationFlag() {
    return gAimAlternation.load();
}

void setAimAlternationFlag(std::int32_t value) {
    gAimAlternation = value;
}

std::int32_t setTrigger(ReaderChannel& channel, std::int32_t on) {
    if (!triggerTakesLock(channel)) {
        return triggerLocked(channel, on);
    }
    ChannelHold hold(channel);
    return triggerLocked(channel, on);
}

}  // namespace vandora
