#include "config/CcdCommands.h"
#include "config/ArgumentNames.h"

#include <array>

#include "reader/Exchange.h"
#include "reader/PortOps.h"
#include "reader/engines/CcdLayout.h"

namespace vandora {

namespace {

enum class ArgKind : std::uint8_t {
    Bit,          // one bit
    Field,        // unsigned number over `width` bits
    Length1,      // bits 0-6, clamped to 127
    Length2,      // bits 0-7, clamped to 255
    InvertedBit,  // 1 when the bit is clear
    HostFlag,     // a host-side check-digit option: 1 sets the bit and the flag, 0 only the flag
    Separator,    // the EAN-128 field separator, kept on the host only
    FamilyBit,    // Code 128 / EAN-128 enable, which also drives byte 1 bit 7
};

enum class HostOption : std::uint8_t { None, Ean13CheckDigit, ConvertToEan13, UpcACheckDigit };

struct Arg {
    std::string_view name;
    ArgKind kind;
    CcdField field;
    HostOption host = HostOption::None;
};

constexpr std::size_t kMaxArgs = 10;

struct CommandInfo {
    std::array<Arg, kMaxArgs> args;
    std::size_t count;
    std::array<std::string_view, kMaxArgs> names;
};

constexpr Arg bit(std::string_view name, std::uint8_t byte, std::uint8_t b) {
    return {name, ArgKind::Bit, {byte, b, 1}};
}
constexpr Arg field(std::string_view name, std::uint8_t byte, std::uint8_t low, std::uint8_t w) {
    return {name, ArgKind::Field, {byte, low, w}};
}
constexpr Arg length1(std::uint8_t byte) {
    return {"length1", ArgKind::Length1, {byte, 0, 7}};
}
constexpr Arg length2(std::uint8_t byte) {
    return {"length2", ArgKind::Length2, {byte, 0, 8}};
}
constexpr Arg hostFlag(std::string_view name, HostOption option, std::uint8_t byte,
                       std::uint8_t b) {
    return {name, ArgKind::HostFlag, {byte, b, 1}, option};
}

template <std::size_t N>
constexpr CommandInfo command(const Arg (&args)[N]) {
    CommandInfo info{};
    info.count = N;
    for (std::size_t i = 0; i < N; ++i) {
        info.args[i] = args[i];
        info.names[i] = args[i].name;
    }
    return info;
}

constexpr CcdField kFamilyBit{1, 7, 1};

constexpr Arg kReader[] = {field("scanMode", 20, 4, 4), field("redundancy", 11, 2, 2),
                           field("laserOnTime", 21, 0, 8)};
constexpr Arg kCodabar[] = {bit("enable", 0, 1), field("startStopChar", 7, 4, 2),
                            bit("transmitStartStopChar", 7, 3)};
constexpr Arg kIndustrial25[] = {bit("enable", 0, 4),
                                 bit("checkDigitVerification", 6, 7),
                                 bit("transmitCheckDigit", 6, 6),
                                 field("startStopPattern", 6, 0, 2),
                                 bit("isMaxMinLengthFormat", 12, 7),
                                 length1(12),
                                 length2(13)};
constexpr Arg kInterleaved25[] = {bit("enable", 0, 3),
                                  bit("checkDigitVerification", 5, 1),
                                  bit("transmitCheckDigit", 5, 0),
                                  field("startStopPattern", 6, 2, 2),
                                  bit("isMaxMinLengthFormat", 14, 7),
                                  length1(14),
                                  length2(15)};
constexpr Arg kMatrix25[] = {bit("enable", 0, 2),
                             bit("checkDigitVerification", 6, 5),
                             bit("transmitCheckDigit", 6, 4),
                             field("startStopPattern", 7, 6, 2),
                             bit("isMaxMinLengthFormat", 16, 7),
                             length1(16),
                             length2(17)};
constexpr Arg kCode39[] = {bit("enable", 0, 7), bit("checkDigitVerification", 5, 6),
                           bit("transmitCheckDigit", 5, 5), bit("fullASCII", 5, 4),
                           bit("transmitStartStopChar", 5, 7)};
constexpr Arg kCode93[] = {bit("enable", 0, 0)};
constexpr Arg kEan128[] = {{"enable", ArgKind::FamilyBit, ccd::kEan128Enable},
                           {"wantCodeId", ArgKind::InvertedBit, ccd::kNoCodeId},
                           {"ean128FieldSeparator", ArgKind::Separator, {0, 0, 0}}};
constexpr Arg kIsbt128[] = {bit("enable", 22, 4)};
constexpr Arg kCode128[] = {{"enable", ArgKind::FamilyBit, ccd::kCode128Enable}};
constexpr Arg kPharmacode[] = {bit("enable", 0, 6), bit("enableCIP39", 0, 5),
                               bit("transmitCheckDigit", 5, 3),
                               bit("transmitCIP39CheckDigit", 5, 2)};
constexpr Arg kMsi[] = {bit("enable", 2, 5),
                        field("checkDigitVerification", 9, 6, 2),
                        field("transmitCheckDigit", 9, 4, 2),
                        bit("isMaxMinLengthFormat", 18, 7),
                        length1(18),
                        length2(19)};
constexpr Arg kNegative[] = {bit("enable", 11, 4)};
constexpr Arg kPlessey[] = {bit("enable", 2, 4), bit("transmitCheckDigit", 9, 3),
                            bit("convertToUKplessey", 9, 2)};
// The engine keeps the Expanded and RSS-14 enables in one bit.
constexpr Arg kRss[] = {bit("enableLimited", 2, 0),
                        bit("enableExpanded", 3, 6),
                        bit("enableRSS14", 3, 6),
                        bit("transmitRSS14CodeID", 3, 5),
                        bit("transmitRSS14ApplicationID", 3, 4),
                        bit("transmitRSS14CheckDigit", 3, 3),
                        bit("transmitRSSCodeID", 3, 2),
                        bit("transmitRSSApplicationID", 3, 1),
                        bit("transmitRSSCheckDigit", 3, 0),
                        bit("transmitRSSExpandedCodeID", 4, 7)};
constexpr Arg kTelepen[] = {bit("enable", 2, 2), bit("enableAIM", 2, 1)};
constexpr Arg kEan8[] = {bit("enable", 1, 3), bit("enableAddon2", 1, 2), bit("enableAddon5", 1, 1),
                         bit("transmitCheckDigit", 10, 3), bit("convertToEAN13", 11, 7)};
constexpr Arg kEan13UpcA[] = {
    bit("enable", 1, 0),
    bit("enableAddon2", 2, 7),
    bit("enableAddon5", 2, 6),
    bit("enableISBN", 10, 7),
    bit("enableISSN", 10, 6),
    hostFlag("transmitEan13CheckDigit", HostOption::Ean13CheckDigit, 10, 2),
    hostFlag("convertToEAN13", HostOption::ConvertToEan13, 9, 0),
    hostFlag("transmitUpcACheckDigit", HostOption::UpcACheckDigit, 10, 4),
    bit("transmitSystemNumber", 10, 0)};
constexpr Arg kGtin[] = {bit("enable", 11, 5)};
constexpr Arg kUpcE[] = {bit("enable", 1, 6),
                         bit("enableAddon2", 1, 5),
                         bit("enableAddon5", 1, 4),
                         bit("enableUpcE1", 4, 6),
                         bit("convertToUpcA", 9, 1),
                         bit("transmitCheckDigit", 10, 5),
                         bit("transmitSystemNumber", 10, 1),
                         bit("upcE1TripleCheck", 11, 1)};
constexpr Arg kCheckDigitRestore[] = {bit("transmitEan13CheckDigit", 10, 2),
                                      bit("transmitUpcACheckDigit", 10, 4),
                                      bit("convertToEAN13", 9, 0)};

constexpr std::array<CommandInfo, static_cast<std::size_t>(CcdCommand::Count)> kCommands{{
    command(kReader),        command(kCodabar),    command(kIndustrial25),
    command(kInterleaved25), command(kMatrix25),   command(kCode39),
    command(kCode93),        command(kEan128),     command(kIsbt128),
    command(kCode128),       command(kPharmacode), command(kMsi),
    command(kNegative),      command(kPlessey),    command(kRss),
    command(kTelepen),       command(kEan8),       command(kEan13UpcA),
    command(kGtin),          command(kUpcE),       command(kCheckDigitRestore),
}};

constexpr std::uint32_t kSaveTimeoutMs = 1000;
constexpr std::uint32_t kQueryTimeoutMs = 1000;
constexpr std::uint32_t kRelinkBaud = 115200;
constexpr std::uint32_t kRelinkPauseMs = 200;
constexpr std::int32_t kRelinkScanMode = 3;

const CommandInfo& info(CcdCommand c) {
    return kCommands[static_cast<std::size_t>(c)];
}

void setField(ByteString& block, CcdField f, std::uint32_t value) {
    std::uint32_t mask = ((1u << f.width) - 1u) << f.lowBit;
    std::uint32_t byte = block.byteAt(f.byte);
    byte = (byte & ~mask) | ((value << f.lowBit) & mask);
    block.setAt(f.byte, static_cast<char16_t>(byte & 0xFF));
}

std::int32_t& hostOption(ReaderManager& manager, HostOption option) {
    switch (option) {
        case HostOption::Ean13CheckDigit:
            return manager.transmitEan13CheckDigit;
        case HostOption::ConvertToEan13:
            return manager.convertToEAN13;
        case HostOption::UpcACheckDigit:
        case HostOption::None:
            break;
    }
    return manager.transmitUpcACheckDigit;
}

void readArgs(ReaderChannel& channel, const CommandInfo& cmd, std::span<std::int32_t* const> args) {
    ReaderManager& manager = *channel.owner;
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
                value = manager.ean128FieldSeparator;
                break;
            default:
                break;
        }
        *args[i] = value;
    }
}

// Applies the present arguments to the block (and the host-side options).
void applyArgs(ReaderChannel& channel, const CommandInfo& cmd,
               std::span<std::int32_t* const> args) {
    ReaderManager& manager = *channel.owner;
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
                manager.ean128FieldSeparator = value;
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
    channel.owner->clock().sleepMs(kRelinkPauseMs);
}

}  // namespace

std::span<const std::string_view> ccdArgumentNames(CcdCommand c) {
    const CommandInfo& cmd = info(c);
    return {cmd.names.data(), cmd.count};
}

int ccdArgumentIndex(CcdCommand c, std::string_view name) {
    return indexOfName(ccdArgumentNames(c), name);
}

std::int32_t ccdCommand(ReaderChannel& channel, CcdCommand c, int direction,
                        std::span<std::int32_t* const> args) {
    if (c >= CcdCommand::Count || channel.engineType != EngineType::CcdLaser ||
        channel.parameterImage.length() < kCcdBlockMinBytes ||
        (direction != 'r' && direction != 'w')) {
        return 0;
    }
    const CommandInfo& cmd = info(c);
    if (direction == 'r') {
        readArgs(channel, cmd, args);
        return 1;
    }
    channel.channelLock.wait();
    const ByteString before = channel.parameterImage;
    applyArgs(channel, cmd, args);
    bool scanModeGiven = c == CcdCommand::Reader && !args.empty() && args[0] != nullptr;
    if (scanModeGiven && channel.owner->scanMode == kRelinkScanMode) {
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
            channel.owner->scanMode =
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
    if (channel.engineType != EngineType::CcdLaser) {
        return 0;
    }
    ByteString reply;
    if (exchange(channel, ByteString("SET"), kQueryTimeoutMs, &reply, 1) == 0) {
        return 0;
    }
    hexToBytes(reply, channel.parameterImage);
    return 1;
}

}  // namespace vandora
