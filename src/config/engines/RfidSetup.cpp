#include "config/engines/RfidSetup.h"

#include "reader/Exchange.h"
#include "reader/Identify.h"
#include "reader/PortOps.h"

namespace vandora {

namespace {

constexpr std::uint32_t kCommandMs = 1000;
constexpr std::uint32_t kRfidSettleMs = 100;
constexpr int kRfidRegisterTries = 10;
constexpr std::uint32_t kHexSetupMs = 3000;
constexpr std::int32_t kHexSetupAttempts = 3;
constexpr std::uint32_t kHexIdleSeconds = 20;

// Sends a register write until the module echoes the value.
void writeAsciiRegister(ReaderChannel& channel, const char* command, const char* echo) {
    for (int i = 0; i < kRfidRegisterTries; ++i) {
        ByteString reply;
        if (exchange(channel, ByteString(command), kCommandMs, &reply, 3) != 0 && reply == echo) {
            return;
        }
    }
}

void readAsciiRegisters(ReaderChannel& channel) {
    // Kept afresh each time the module is set up, so repeated reopens do not pile up.
    channel.parameterImage.clear();
    int first = channel.rfidVariant == 0 || channel.rfidVariant == 1 ? 0x0A : 0x00;
    int last = first == 0x0A ? 0x1F : 0x00;
    for (int reg = first; reg <= last; ++reg) {
        ByteString command;
        command.format("rp%02x", reg);
        ByteString reply;
        if (exchange(channel, command, kCommandMs, &reply, 1) == 0 || reply == "R") {
            channel.parameterImage.append(u'\0');
            continue;
        }
        ByteString bytes;
        hexToBytes(reply, bytes);
        channel.parameterImage.append(bytes);
    }
}

}  // namespace

std::int32_t setUpAsciiModule(ReaderManager& manager, ReaderChannel& channel) {
    if (openPort(channel) == 0 || probeEngine(channel) == 0) {
        closePort(channel);
        return 0;
    }
    manager.clock().sleepMs(kRfidSettleMs);
    writeAsciiRegister(channel, "wp0B08", "08");
    writeAsciiRegister(channel, "wp0E7F", "7F");
    readAsciiRegisters(channel);
    closePort(channel);
    return 1;
}

std::int32_t setUpHexModule(ReaderManager& manager, ReaderChannel& channel, HexSetupState& state) {
    if (state.first && state.second) {
        return 1;
    }
    manager.rfidIdleSeconds = kHexIdleSeconds;
    ByteString reply;
    if (!state.first) {
        if (exchange(channel, ByteString("0109000304F0000000"), kHexSetupMs, &reply,
                     kHexSetupAttempts) == 0) {
            // The lock stays with whoever holds it: an RFID read that reopened the port lets it
            // go itself when it sees this failure.
            return 0;
        }
        state.first = true;
    }
    std::int32_t result = 1;
    if (!state.second) {
        result = exchange(channel, ByteString("0109000304F1FF0000"), kHexSetupMs, &reply,
                          kHexSetupAttempts);
        state.second = result != 0;
    }
    return result;
}

}  // namespace vandora
