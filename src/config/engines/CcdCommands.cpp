#include "config/engines/CcdCommands.h"

#include "config/engines/CcdCommandTable.h"
#include "reader/Exchange.h"
#include "reader/PortOps.h"
#include "reader/engines/CcdLayout.h"
#include "reader/engines/EngineTable.h"

namespace vandora {

namespace {

using namespace ccd_table;

constexpr std::uint32_t kSaveTimeoutMs = 1000;
constexpr std::uint32_t kQueryTimeoutMs = 1000;
constexpr std::uint32_t kRelinkBaud = 115200;
constexpr std::uint32_t kRelinkPauseMs = 200;
constexpr std::int32_t kRelinkScanMode = 3;

void setField(ByteString& block, CcdField f, std::uint32_t value) {
    std::uint32_t mask = ((1u << f.width) - 1u) << f.lowBit;
    std::uint32_t byte = block.byteAt(f.byte);
    byte = (byte & ~mask) | ((value << f.lowBit) & mask);
    block.setAt(f.byte, static_cast<char16_t>(byte & 0xFF));
}

std::int32_t& hostOption(ReaderManager& manager, HostOption option) {
    switch (option) {
        case HostOption::Ean13CheckDigit:
            return manager.ccdHostOptions().transmitEan13CheckDigit;
        case HostOption::ConvertToEan13:
            return manager.ccdHostOptions().convertToEAN13;
        case HostOption::UpcACheckDigit:
        case HostOption::None:
            break;
    }
    return manager.ccdHostOptions().transmitUpcACheckDigit;
}

void readArgs(ReaderManager& manager, ReaderChannel& channel, const Command& cmd,
              std::span<std::int32_t* const> args) {
    const ByteString& block = channel.parameterImage;
    for (std::size_t i = 0; i < cmd.count && i < args.size(); ++i) {
        if (args[i] == nullptr) {
            continue;
        }
        const Arg& a = cmd.args[i];
        std::int32_t value = static_cast<std::int32_t>(ccdFieldValue(block, a.field));
        switch (a.kind) {
            case ArgKind::InvertedBit:
                value = value == 0 ? 1 : 0;
                break;
            case ArgKind::HostFlag:
                value = hostOption(manager, a.host);
                break;
            case ArgKind::Separator:
                value = manager.ccdHostOptions().ean128FieldSeparator;
                break;
            default:
                break;
        }
        *args[i] = value;
    }
}

// Applies the present arguments to the block (and the host-side options).
void applyArgs(ReaderManager& manager, ReaderChannel& channel, const Command& cmd,
               std::span<std::int32_t* const> args) {
    ByteString& block = channel.parameterImage;
    for (std::size_t i = 0; i < cmd.count && i < args.size(); ++i) {
        if (args[i] == nullptr) {
            continue;
        }
        const Arg& a = cmd.args[i];
        std::int32_t& value = *args[i];
        switch (a.kind) {
            case ArgKind::Bit:
            case ArgKind::Field:
                setField(block, a.field, static_cast<std::uint32_t>(value));
                break;
            case ArgKind::Length1:
                if (value > 127) {
                    value = 127;
                }
                setField(block, a.field, static_cast<std::uint32_t>(value));
                break;
            case ArgKind::Length2:
                if (value > 255) {
                    value = 255;
                }
                setField(block, a.field, static_cast<std::uint32_t>(value));
                break;
            case ArgKind::InvertedBit:
                setField(block, a.field, value != 0 ? 0 : 1);
                break;
            case ArgKind::HostFlag:
                // The engine keeps sending the check digit; the host drops it per decode.
                if (value == 1) {
                    setField(block, a.field, 1);
                    hostOption(manager, a.host) = 1;
                } else if (value == 0) {
                    hostOption(manager, a.host) = 0;
                }
                break;
            case ArgKind::Separator:
                manager.ccdHostOptions().ean128FieldSeparator = value;
                break;
            case ArgKind::FamilyBit: {
                bool code128 = a.field.lowBit == ccd::kCode128Enable.lowBit;
                CcdField other = code128 ? ccd::kEan128Enable : ccd::kCode128Enable;
                if (value != 0) {
                    setField(block, a.field, 1);
                    setField(block, kFamilyBit, 1);
                } else {
                    setField(block, a.field, 0);
                    if (ccdFieldValue(block, other) == 0) {
                        setField(block, kFamilyBit, 0);
                    }
                }
                break;
            }
        }
    }
}

ByteString saveCommand(const ByteString& block) {
    ByteString text("SAVE");
    text.append(bytesToHex(block));
    return text;
}

// Reopens the link at 115200: the engine in scan mode 3 only takes a new mode on a fresh link.
void relink(ReaderChannel& channel) {
    closePort(channel);
    if (openPort(channel) != 0) {
        setBaudRate(channel, kRelinkBaud);
    }
    channel.clock().sleepMs(kRelinkPauseMs);
}

}  // namespace

std::span<const ArgBinding> ccdArguments(CcdCommand c) {
    const Command& cmd = info(c);
    return {cmd.bindings.data(), cmd.count};
}

std::vector<std::string_view> ccdArgumentNames(CcdCommand c) {
    std::vector<std::string_view> names;
    for (const ArgBinding& arg : ccdArguments(c)) {
        names.push_back(arg.name);
    }
    return names;
}

int ccdArgumentIndex(CcdCommand c, std::string_view name) {
    return argumentIndex(ccdArguments(c), name);
}

std::int32_t ccdCommand(ReaderManager& manager, ReaderChannel& channel, CcdCommand c, int direction,
                        std::span<std::int32_t* const> args) {
    if (c >= CcdCommand::Count || !engineInfo(channel.engineType).ccdBlock ||
        channel.parameterImage.length() < kCcdBlockMinBytes ||
        (direction != 'r' && direction != 'w')) {
        return 0;
    }
    const Command& cmd = info(c);
    if (direction == 'r') {
        readArgs(manager, channel, cmd, args);
        return 1;
    }
    channel.channelLock.wait();
    const ByteString before = channel.parameterImage;
    applyArgs(manager, channel, cmd, args);
    bool scanModeGiven = c == CcdCommand::Reader && !args.empty() && args[0] != nullptr;
    if (scanModeGiven && manager.scanMode == kRelinkScanMode) {
        relink(channel);
    }
    bool family = c == CcdCommand::Code128 || c == CcdCommand::Ean128;
    if (!family && channel.parameterImage == before) {
        channel.channelLock.release();
        return 1;
    }
    ByteString reply;
    std::int32_t accepted =
        exchange(channel, saveCommand(channel.parameterImage), kSaveTimeoutMs, &reply, 1);
    if (accepted != 0) {
        if (scanModeGiven) {
            manager.scanMode =
                static_cast<std::int32_t>(ccdFieldValue(channel.parameterImage, ccd::kScanMode));
        }
    } else if (c != CcdCommand::Ean128) {
        // A refused block is taken back, except for EAN-128, which keeps its change.
        channel.parameterImage = before;
    }
    channel.channelLock.release();
    return accepted;
}

std::int32_t ccdQueryBlock(ReaderChannel& channel) {
    if (!engineInfo(channel.engineType).ccdBlock) {
        return 0;
    }
    ByteString reply;
    if (exchange(channel, ByteString("SET"), kQueryTimeoutMs, &reply, 1) == 0) {
        return 0;
    }
    hexToBytes(reply, channel.parameterImage);
    return 1;
}

namespace {

class CcdCommandSet final : public CommandSet {
  public:
    std::size_t commandCount() const override { return kCommands.size(); }
    std::span<const ArgBinding> arguments(CommandId command) const override {
        return ccdArguments(static_cast<CcdCommand>(command));
    }
    bool argumentApplies(CommandId command, std::size_t arg, EngineType /*type*/) const override {
        return command < kCommands.size() && arg < kCommands[command].count;
    }
    std::int32_t run(ReaderManager& manager, ReaderChannel& channel, ParamCache& /*cache*/,
                     CommandId command, int direction,
                     std::span<std::int32_t* const> args) const override {
        return ccdCommand(manager, channel, static_cast<CcdCommand>(command), direction, args);
    }
};

}  // namespace

const CommandSet& ccdCommandSet() {
    static const CcdCommandSet set;
    return set;
}

}  // namespace vandora
