#include "reader/PortOps.h"

#include <cerrno>
#include <cstdio>

#include "reader/TerminalModels.h"

namespace vandora {

namespace {

constexpr std::uint32_t kLinkOpenBaud = 19200;
constexpr int kLinkMode = 1;
constexpr std::uint32_t kLinkSettleMs = 550;
constexpr std::uint32_t kLinkRetryPauseMs = 2000;
constexpr std::uint8_t kLinkStateAfterOpen = 8;
constexpr int kWakePolls = 10;
constexpr std::uint32_t kWakePollMs = 10;
// The longest a close waits for written bytes to leave: a frame at 9600 baud takes far less.
constexpr std::uint32_t kCloseDrainMs = 1000;

std::int32_t fail(ReaderChannel& channel, int error) {
    channel.lastError = static_cast<std::uint32_t>(error);
    return 0;
}

// Errors of a device that went away (unplugged, powered down, its pseudo-terminal closed).
bool isDeviceGone(int error) {
    return error == EIO || error == ENXIO || error == ENODEV;
}

// The device is gone: its descriptor is closed at once, so that nothing waits on it any more and
// every later call fails straight away; the owner sees `lost` and reopens when it comes back.
std::int32_t failGone(ReaderChannel& channel, int error) {
    channel.lost = 1;
    closePort(channel);
    return fail(channel, error);
}

std::int32_t openBinaryLink(ReaderChannel& channel) {
    RfidLinkApi* link = channel.platform().rfidLink;
    if (link == nullptr) {
        return fail(channel, ENODEV);
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt > 0) {
            channel.clock().sleepMs(kLinkRetryPauseMs);
        }
        std::uint32_t actualBaud = 0;
        std::uint8_t status =
            link->linkOpen(kRfidPort, kLinkOpenBaud, channel.platform().linkPassword, kLinkMode,
                           kLinkSettleMs, actualBaud);
        if (status == 0) {
            link->linkSetState(kRfidPort, kLinkStateAfterOpen);
            return 1;
        }
        channel.lastError = status;
    }
    return 0;
}

std::int32_t writeBytes(ReaderChannel& channel, const ByteString& bytes, bool purgeFirst) {
    if (!channel.handle) {
        return fail(channel, EBADF);
    }
    if (purgeFirst) {
        channel.handle->purge(kPurgeAll);
    }
    std::vector<std::uint8_t> data = bytes.bytes();
    std::size_t written = 0;
    int error = channel.handle->write(data.data(), data.size(), written);
    if (error != 0) {
        return isDeviceGone(error) ? failGone(channel, error) : fail(channel, error);
    }
    if (written == 0) {
        return fail(channel, ETIMEDOUT);
    }
    return 1;
}

// Applies RTS and DTR in the port state.
void applyLines(ReaderChannel& channel, bool rts) {
    if (!channel.handle) {
        return;
    }
    PortSettings settings;
    if (channel.handle->getSettings(settings) != 0) {
        return;
    }
    settings.dtr = false;
    settings.rts = rts;
    channel.handle->setSettings(settings);
}

}  // namespace

std::int32_t openPort(ReaderChannel& channel) {
    if (channel.port == kRfidPort && terminalModel(channel.terminalModel).rfidOverLink) {
        return openBinaryLink(channel);
    }
    SerialPortProvider* provider = channel.platform().ports;
    std::unique_ptr<SerialPort> port = provider ? provider->create(channel.port) : nullptr;
    if (!port) {
        channel.handle.reset();
        return fail(channel, ENODEV);
    }
    int error = port->open();
    if (error != 0) {
        channel.handle.reset();
        return fail(channel, error);
    }
    port->setBufferSizes(kPortBufferBytes, kPortBufferBytes);
    port->purge(kPurgeAll);
    channel.handle = std::move(port);
    channel.lost = 0;
    return 1;
}

void closePort(ReaderChannel& channel) {
    if (channel.handle) {
        // The last command written (the engine's "OFF" after a read, say) leaves before the port
        // closes: a transmit purge would cut it short, and on a pseudo-terminal drop it whole.
        // A line that does not take it within the bound has it dropped, so that a close never
        // hangs; what was received is always dropped.
        unsigned purge = kPurgeRxAbort | kPurgeRxClear;
        if (channel.handle->drain(kCloseDrainMs) != 0) {
            purge = kPurgeAll;
        }
        channel.handle->purge(purge);
        channel.handle->close();
        channel.handle.reset();
    }
}

std::int32_t writeFrame(ReaderChannel& channel, const ByteString& bytes) {
    return writeBytes(channel, bytes, true);
}

std::int32_t writeRaw(ReaderChannel& channel, const ByteString& bytes) {
    return writeBytes(channel, bytes, false);
}

std::int32_t readByte(ReaderChannel& channel, std::uint8_t& out) {
    out = 0;
    if (!channel.handle) {
        return fail(channel, EBADF);
    }
    std::size_t got = 0;
    int error = channel.handle->read(&out, 1, got);
    if (error != 0) {
        out = 0;
        return isDeviceGone(error) ? failGone(channel, error) : fail(channel, error);
    }
    if (got != 1) {
        return fail(channel, 0);
    }
    return 1;
}

std::int32_t setTimeout(ReaderChannel& channel, char mode, std::uint32_t ms) {
    if (mode != 'r' && mode != 'w') {
        return 0;
    }
    if (!channel.handle) {
        return fail(channel, EBADF);
    }
    PortTimeouts timeouts;
    int error = channel.handle->getTimeouts(timeouts);
    if (error != 0) {
        return fail(channel, error);
    }
    if (mode == 'r') {
        if (timeouts.readConstantMs == ms) {
            return 0;
        }
        timeouts.readIntervalMs = 0;
        timeouts.readMultiplier = 0;
        timeouts.readConstantMs = ms;
    } else {
        timeouts.writeMultiplier = 0;
        if (timeouts.writeConstantMs == ms) {
            return 0;
        }
        timeouts.writeConstantMs = ms;
    }
    error = channel.handle->setTimeouts(timeouts);
    if (error != 0) {
        return fail(channel, error);
    }
    return 1;
}

std::int32_t setBaudRate(ReaderChannel& channel, std::uint32_t baud) {
    if (!channel.handle) {
        return fail(channel, EBADF);
    }
    PortSettings settings;
    int error = channel.handle->getSettings(settings);
    if (error != 0) {
        return fail(channel, error);
    }
    settings.ctsOutputFlow = false;
    settings.rts = false;
    settings.dataBits = 8;
    settings.parity = Parity::None;
    settings.stopBits = StopBits::One;
    settings.baud = baud;
    channel.baudRate = baud;
    error = channel.handle->setSettings(settings);
    if (error != 0) {
        return fail(channel, error);
    }
    return 1;
}

void signalWake(ReaderChannel& channel, std::int32_t raise) {
    Clock& clock = channel.clock();
    if (terminalModel(channel.terminalModel).kernelReadyLine) {
        EngineReadyLine* line = channel.platform().readyLine;
        std::uint32_t value = 0;
        auto readLine = [&] { return line != nullptr && line->read(value); };
        // The engine shows it is awake with 0 after a raise and asleep with 1 after a drop.
        std::uint32_t wanted = raise ? 0 : 1;
        bool firstOk = readLine();
        if (!raise && !firstOk) {
            clock.sleepMs(50);
        }
        applyLines(channel, raise != 0);
        if (!firstOk) {
            if (raise) {
                clock.sleepMs(100);
            }
            return;
        }
        for (int i = 0; i < kWakePolls; ++i) {
            clock.sleepMs(kWakePollMs);
            if (readLine() && value == wanted) {
                return;
            }
        }
        return;
    }
    applyLines(channel, raise != 0);
    if (!channel.handle) {
        return;
    }
    std::uint32_t bits = 0;
    // A port without modem lines (a pseudo-terminal) has nothing to wait for.
    if (channel.handle->getModemStatus(bits) == ENOTTY) {
        return;
    }
    bool wantCts = raise != 0;
    for (int i = 0; i < kWakePolls; ++i) {
        clock.sleepMs(kWakePollMs);
        if (channel.handle->getModemStatus(bits) == 0 && ((bits & kModemCts) != 0) == wantCts) {
            return;
        }
    }
}

}  // namespace vandora
