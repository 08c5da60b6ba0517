#include "config/engines/PacketCommands.h"

#include "config/engines/PacketCommandTable.h"
#include "reader/Exchange.h"

namespace vandora {

namespace {

using namespace packet_table;

constexpr std::uint32_t kCommandTimeoutMs = 1000;
constexpr std::int32_t kCommandAttempts = 5;

bool applies(const Arg& a, EngineType type) {
    return a.types.has(type);
}

std::uint16_t paramFor(const Arg& a, EngineType type) {
    return packetEngine(type).alternateParams && a.altParam != 0 ? a.altParam : a.param;
}

void appendParam(ByteString& out, std::uint16_t param) {
    if (param > 0xFF) {
        out.append(static_cast<char16_t>(param >> 8));
    }
    out.append(static_cast<char16_t>(param & 0xFF));
}

void appendByte(ByteString& out, std::uint32_t value) {
    out.append(static_cast<char16_t>(value & 0xFF));
}

// The imager of type 3 takes its exposure in steps of 5, from 5 to 30.
std::uint16_t imagerExposureWord(std::int32_t& value) {
    std::int32_t v = value < 0 ? 0 : value - value % 5;
    if (v == 0) {
        v = 10;
    }
    if (v >= 30) {
        v = 30;
    }
    value = v;
    static constexpr std::uint16_t kWords[] = {0x004F, 0x009D, 0x00EC, 0x013B, 0x018A, 0x01D8};
    return kWords[v / 5 - 1];
}

void appendWord(ByteString& out, std::uint16_t param, std::uint16_t word) {
    out.append(u'\xF4');
    appendParam(out, param);
    appendByte(out, word >> 8);
    appendByte(out, word);
}

// Appends one argument's pair in its value form.
void appendPair(ByteString& pairs, const Arg& a, std::int32_t& value, EngineType type) {
    std::uint16_t param = paramFor(a, type);
    switch (a.form) {
        case Form::Flag:
            appendParam(pairs, param);
            appendByte(pairs, value != 0 ? 1 : 0);
            break;
        case Form::Byte:
            appendParam(pairs, param);
            appendByte(pairs, static_cast<std::uint32_t>(value));
            break;
        case Form::GainWord:
            appendWord(pairs, param, static_cast<std::uint16_t>(value & 0xFF));
            break;
        case Form::GapSize:
            appendParam(pairs, param);
            appendByte(pairs, value == 6 || value == 10 ? static_cast<std::uint32_t>(value) : 6);
            break;
        case Form::Exposure:
            if (packetEngine(type).steppedExposure) {
                std::uint16_t word = imagerExposureWord(value);
                appendWord(pairs, param, word);
            } else {
                appendWord(pairs, param, static_cast<std::uint16_t>(value));
            }
            break;
        case Form::AimTime:
            break;
    }
}

std::int32_t writeCommand(ReaderManager& manager, ReaderChannel& channel, ParamCache& cache,
                          PacketCommand c, const Command& cmd,
                          std::span<std::int32_t* const> args) {
    EngineType type = channel.engineType;
    ByteString pairs;
    for (std::size_t k = 0; k < cmd.count; ++k) {
        std::size_t i = cmd.sendOrder[k];
        if (i >= args.size() || args[i] == nullptr || !applies(cmd.args[i], type)) {
            continue;
        }
        const Arg& a = cmd.args[i];
        std::int32_t& value = *args[i];
        if (a.form == Form::AimTime) {
            channel.aimTime = static_cast<std::uint32_t>(value < 0 ? 0 : value);
            continue;
        }
        if (a.form == Form::Exposure || value != cache.slot(c, i)) {
            appendPair(pairs, a, value, type);
        }
    }
    if (pairs.empty()) {
        return 1;
    }
    ByteString send = hostPacket(packet::kParamSend, packet::kParamPermanent, {0xFF});
    send.append(pairs);
    send.setAt(0, static_cast<char16_t>(send.length() & 0xFF));
    ByteString reply;
    std::int32_t accepted = exchange(channel, send, kCommandTimeoutMs, &reply, kCommandAttempts);
    if (accepted == 0) {
        return 0;
    }
    for (std::size_t i = 0; i < cmd.count && i < args.size(); ++i) {
        if (args[i] == nullptr || !applies(cmd.args[i], type)) {
            continue;
        }
        cache.slot(c, i) = *args[i];
        if (cmd.args[i].bind.name == "scanMode") {
            manager.scanMode = *args[i];
        }
    }
    return 1;
}

std::int32_t readCommand(ReaderChannel& channel, ParamCache& cache, PacketCommand c,
                         const Command& cmd, std::span<std::int32_t* const> args) {
    EngineType type = channel.engineType;
    ByteString request = hostPacket(packet::kParamRequest);
    for (std::size_t i = 0; i < cmd.count; ++i) {
        if (applies(cmd.args[i], type) && cmd.args[i].form != Form::AimTime) {
            appendParam(request, paramFor(cmd.args[i], type));
        }
    }
    request.setAt(0, static_cast<char16_t>(request.length() & 0xFF));
    ByteString reply;
    if (exchange(channel, request, kCommandTimeoutMs, &reply, kCommandAttempts) == 0) {
        return 0;
    }
    if (reply.byteAt(1) != packet::kParamSend || reply.byteAt(2) != 0x00 ||
        reply.byteAt(3) != 0x00 || reply.byteAt(4) != 0xFF || reply.length() < 5) {
        return 0;
    }
    std::array<std::int32_t, kPacketMaxArgs> values{};
    std::array<bool, kPacketMaxArgs> found{};
    // A byte after a prefix is matched with its prefix first: on type 8 qualityValue (F0 31) and
    // jpgSizeValue (F1 31) end in the same byte, and a match on that byte alone gave both the
    // first one's value. Any other byte matches the last byte of a parameter number.
    std::size_t pos = 5;
    std::uint16_t prefix = 0;
    while (pos < reply.length()) {
        std::uint8_t b = reply.byteAt(pos);
        auto take = [&](auto sameNumber) {
            for (std::size_t i = 0; i < cmd.count; ++i) {
                const Arg& a = cmd.args[i];
                if (!applies(a, type) || a.form == Form::AimTime ||
                    !sameNumber(paramFor(a, type)) || pos + 1 >= reply.length()) {
                    continue;
                }
                values[i] = reply.byteAt(pos + 1);
                found[i] = true;
                return true;
            }
            return false;
        };
        std::uint16_t whole = static_cast<std::uint16_t>((prefix << 8) | b);
        bool matched = (prefix != 0 && take([&](std::uint16_t p) { return p == whole; })) ||
                       take([&](std::uint16_t p) { return (p & 0xFF) == b; });
        prefix = !matched && (b == 0xF0 || b == 0xF1) ? b : 0;
        pos += matched ? 2 : 1;
    }
    for (std::size_t i = 0; i < cmd.count && i < args.size(); ++i) {
        if (args[i] == nullptr || !applies(cmd.args[i], type)) {
            continue;
        }
        if (cmd.args[i].form == Form::AimTime) {
            *args[i] = static_cast<std::int32_t>(channel.aimTime);
            continue;
        }
        if (found[i]) {
            *args[i] = values[i];
        }
        cache.slot(c, i) = *args[i];
    }
    return 1;
}

}  // namespace

void ParamCache::reset() {
    for (auto& row : slots_) {
        row.fill(-1);
    }
}

std::span<const ArgBinding> packetArguments(PacketCommand c) {
    const Command& cmd = info(c);
    return {cmd.bindings.data(), cmd.count};
}

int packetArgumentIndex(PacketCommand c, std::string_view name) {
    return argumentIndex(packetArguments(c), name);
}

bool packetCommandApplies(PacketCommand c, EngineType engineType) {
    return c < PacketCommand::Count && info(c).types.has(engineType);
}

bool packetArgumentApplies(PacketCommand c, std::size_t arg, EngineType engineType) {
    return packetCommandApplies(c, engineType) && arg < info(c).count &&
           applies(info(c).args[arg], engineType);
}

std::int32_t packetCommand(ReaderManager& manager, ReaderChannel& channel, ParamCache& cache,
                           PacketCommand c, int direction, std::span<std::int32_t* const> args) {
    if (!packetCommandApplies(c, channel.engineType) || (direction != 'r' && direction != 'w')) {
        return 0;
    }
    const Command& cmd = info(c);
    return direction == 'r' ? readCommand(channel, cache, c, cmd, args)
                            : writeCommand(manager, channel, cache, c, cmd, args);
}

std::int32_t packetRead(ReaderChannel& channel, ParamCache& cache, PacketCommand c,
                        std::span<std::int32_t* const> args) {
    if (!packetCommandApplies(c, channel.engineType)) {
        return 0;
    }
    return readCommand(channel, cache, c, info(c), args);
}

namespace {

class PacketCommandSet final : public CommandSet {
  public:
    std::size_t commandCount() const override { return kCommands.size(); }
    std::span<const ArgBinding> arguments(CommandId command) const override {
        return packetArguments(static_cast<PacketCommand>(command));
    }
    bool argumentApplies(CommandId command, std::size_t arg, EngineType type) const override {
        return packetArgumentApplies(static_cast<PacketCommand>(command), arg, type);
    }
    std::int32_t run(ReaderManager& manager, ReaderChannel& channel, ParamCache& cache,
                     CommandId command, int direction,
                     std::span<std::int32_t* const> args) const override {
        return packetCommand(manager, channel, cache, static_cast<PacketCommand>(command),
                             direction, args);
    }
};

}  // namespace

const CommandSet& packetCommandSet() {
    static const PacketCommandSet set;
    return set;
}

}  // namespace vandora
