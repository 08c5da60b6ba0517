#include "config/PacketCommands.h"
#include "config/ArgumentNames.h"

#include "reader/Exchange.h"

namespace vandora {

namespace {

enum class Form : std::uint8_t {
    Flag,      // 1 when nonzero
    Byte,      // low 8 bits
    GainWord,  // word with high byte 0
    GapSize,   // 6 and 10 as they are, anything else as 6
    Exposure,  // sent whenever present, per imager type
    AimTime,   // kept in the channel, never sent
};

constexpr std::uint16_t F0(std::uint8_t n) {
    return static_cast<std::uint16_t>(0xF000 | n);
}
constexpr std::uint16_t F1(std::uint8_t n) {
    return static_cast<std::uint16_t>(0xF100 | n);
}

constexpr std::uint16_t kAll = (1 << 3) | (1 << 4) | (1 << 8) | (1 << 9);
constexpr std::uint16_t kImagers = (1 << 3) | (1 << 8);
constexpr std::uint16_t kLasers = (1 << 4) | (1 << 9);

struct Arg {
    std::string_view name;
    std::uint16_t param;
    Form form;
    std::uint16_t types = 0;       // 0: every type of the command
    std::uint16_t paramType8 = 0;  // a different parameter on type 8
};

struct CommandInfo {
    std::uint16_t types;
    std::array<Arg, kPacketMaxArgs> args;
    std::size_t count;
    std::array<std::string_view, kPacketMaxArgs> names;
    // Order in which changed pairs are sent; empty: argument order.
    std::array<std::uint8_t, kPacketMaxArgs> sendOrder;
    bool hasSendOrder;
};

template <std::size_t N>
constexpr CommandInfo command(std::uint16_t types, const Arg (&args)[N]) {
    CommandInfo info{};
    info.types = types;
    info.count = N;
    for (std::size_t i = 0; i < N; ++i) {
        info.args[i] = args[i];
        info.names[i] = args[i].name;
        info.sendOrder[i] = static_cast<std::uint8_t>(i);
    }
    return info;
}

constexpr Arg flag(std::string_view name, std::uint16_t param, std::uint16_t types = 0) {
    return {name, param, Form::Flag, types};
}
constexpr Arg byte(std::string_view name, std::uint16_t param, std::uint16_t types = 0) {
    return {name, param, Form::Byte, types};
}

constexpr Arg kCode39[] = {flag("enable", 0x00),
                           flag("trioptic", 0x0D),
                           flag("code39ToCode32", 0x56),
                           flag("code32Prefix", 0xE7),
                           flag("checkDigitVerification", 0x30),
                           flag("transmitCheckDigit", 0x2B),
                           flag("fullASCII", 0x11),
                           byte("length1", 0x12),
                           byte("length2", 0x13)};
constexpr Arg kUpc[] = {flag("enableUPC_A", 0x01),
                        flag("enableUPC_E", 0x02),
                        flag("enableUPC_E1", 0x0C),
                        byte("UPC_EAN_JAN_decodeSupplementals", 0x10),
                        byte("UPC_EAN_JAN_supplementalsRedundancy", 0x50),
                        flag("transmitUPC_AcheckDigit", 0x28),
                        flag("transmitUPC_EcheckDigit", 0x29),
                        flag("transmitUPC_E1checkDigit", 0x2A),
                        byte("preambleUPC_A", 0x22),
                        byte("preambleUPC_E", 0x23),
                        byte("preambleUPC_E1", 0x24),
                        flag("convertUPC_EtoA", 0x25),
                        flag("convertUPC_E1ToA", 0x26),
                        flag("uccCouponExtendedCode", 0x55),
                        flag("linearDecode", 0x44, kImagers),
                        byte("upcEanSecurityLevel", 0x4D, kLasers)};
constexpr Arg kEanJan[] = {flag("enableEAN8_JAN8", 0x04),
                           flag("enableEAN13_JAN13", 0x03),
                           flag("enableBooklandEAN", 0x53),
                           byte("UPC_EAN_JAN_decodeSupplementals", 0x10),
                           byte("UPC_EAN_JAN_supplementalsRedundancy", 0x50),
                           flag("EAN8_JAN8_extend", 0x27),
                           flag("uccCouponExtendedCode", 0x55),
                           flag("linearDecode", 0x44, kImagers),
                           byte("upcEanSecurityLevel", 0x4D, kLasers)};
constexpr Arg kCode128[] = {flag("enable", 0x08), flag("uccEan128", 0x0E), flag("isbt128", 0x54),
                            byte("enableIsbtConcatenation", F1(0x41)),
                            byte("isbtConcatenationRedundancy", 0xDF)};
constexpr Arg kCode93[] = {flag("enable", 0x09), byte("length1", 0x1A), byte("length2", 0x1B)};
constexpr Arg kCode11[] = {flag("enable", 0x0A), byte("checkDigitVerification", 0x34),
                           flag("transmitCheckDigit", 0x2F), byte("length1", 0x1C),
                           byte("length2", 0x1D)};
constexpr Arg kInterleaved25[] = {flag("enable", 0x06),
                                  byte("length1", 0x16),
                                  byte("length2", 0x17),
                                  byte("checkDigitVerification", 0x31),
                                  flag("transmitCheckDigit", 0x2C),
                                  flag("convertToEAN13", 0x52)};
constexpr Arg kDiscrete25[] = {flag("enable", 0x05), byte("length1", 0x14), byte("length2", 0x15)};
constexpr Arg kCodabar[] = {flag("enable", 0x07), byte("length1", 0x18), byte("length2", 0x19),
                            flag("clsiEditing", 0x36), flag("notisEditing", 0x37)};
constexpr Arg kMsi[] = {flag("enable", 0x0B),
                        byte("length1", 0x1E),
                        byte("length2", 0x1F),
                        flag("checkDigitVerification", 0x32),
                        flag("transmitCheckDigit", 0x2E),
                        byte("checkDigitAlgorithm", 0x33)};
constexpr Arg kPostal[] = {flag("usPostnet", 0x59),       flag("usPlanet", 0x5A),
                           flag("ukPostal", 0x5B),        flag("transmitUKcheckDigit", 0x60),
                           flag("japanPostal", F0(0x22)), flag("australianPostal", F0(0x23)),
                           flag("dutchPostal", F0(0x46)), flag("transmitUScheckDigit", 0x5F)};
constexpr Arg kRss[] = {flag("rss14", F0(0x52)), flag("rssUmited", F0(0x53)),
                        flag("rssExpanded", F0(0x54)), flag("convertToUPC_EAN", F0(0x8D))};
constexpr Arg kComposite[] = {flag("cc_c", F0(0x55)),     flag("cc_ab", F0(0x56)),
                              flag("tlc39", F0(0x73)),    byte("upcMode", F0(0x58)),
                              byte("beepMode", F0(0x8E)), flag("uccEAN128EmulationMode", F0(0xAB))};
constexpr Arg kSymbologiesShort[] = {flag("pdf417", 0x0F),           flag("microPDF417", 0xE3),
                                     flag("code128Emulation", 0x7B), flag("dataMatrix", F0(0x24)),
                                     flag("maxiCode", F0(0x26)),     flag("qrCode", F0(0x25))};
constexpr Arg kSymbologiesFull[] = {flag("pdf417", 0x0F),
                                    flag("microPDF417", 0xE3),
                                    flag("code128Emulation", 0x7B),
                                    flag("dataMatrix", F0(0x24)),
                                    flag("maxiCode", F0(0x26)),
                                    flag("qrCode", F0(0x25)),
                                    byte("dataMatrixInverse", F1(0x4C)),
                                    byte("decodeMirrorImage", F1(0x19)),
                                    byte("qrCodeInverse", F1(0x4B)),
                                    flag("microQR", F1(0x3D)),
                                    flag("azTech", F1(0x3E)),
                                    byte("azTechInverse", F1(0x4D))};
constexpr Arg kSecurityLevel[] = {byte("redundancy", 0x4E),
                                  byte("securityLevel", 0x4D),
                                  {"interCharGapSize", F0(0x7D), Form::GapSize}};
constexpr Arg kMacroPdf[] = {byte("macroPDFTransmit", 0xBC), flag("controlHeader", 0xB8),
                             byte("escapeChar", 0xE9)};
constexpr Arg kMatrix25[] = {flag("enable", F1(0x6A)),
                             byte("length1", F1(0x6B)),
                             byte("length2", F1(0x6C)),
                             flag("redundancy", F1(0x6D)),
                             flag("checkDigitVerification", F1(0x6E)),
                             flag("transmitCheckDigit", F1(0x6F))};
constexpr Arg kChinese25[] = {flag("enable", F0(0x98))};
constexpr Arg kMiscellaneous[] = {
    byte("transmitCodeIdChar", 0x2D), byte("prefixValue", 0x69),
    byte("suffixValue1", 0x68),       byte("suffixValue2", 0x6A),
    byte("scanDataFormat", 0xEB),     flag("sendNoReadMessage", 0x5E)};
constexpr Arg kReader2D[] = {byte("laserOnTime", 0x88), byte("timeoutBetweenSameSymbol", 0x89),
                             byte("scanMode", 0x8A)};
constexpr Arg kReader1D[] = {byte("laserOnTime", 0x88),
                             byte("scanAngle", 0xBF),
                             byte("timeoutBetweenSameSymbol", 0x89),
                             byte("linearCodeTypeSecurityLevels", 0x4E),
                             flag("bidirectionalRedundancy", 0x43),
                             {"aimDurtion", 0, Form::AimTime},
                             byte("scanMode", 0x8A)};
constexpr Arg kImagerOptions[] = {flag("decodingAutoexposure", F0(0x29)),
                                  flag("decodingIllumination", F0(0x2A)),
                                  byte("decodeAimingPattern", F0(0x32)),
                                  byte("imgFocus", F0(0xA6), 1 << 3),
                                  byte("fifthOption", F0(0xAD)),
                                  flag("imageAutoexposure", F0(0x68)),
                                  flag("imageIllumination", F0(0x69)),
                                  {"gain", F1(0x37), Form::GainWord},
                                  {"exposureTime", F0(0x38), Form::Exposure, 0, F1(0x37)},
                                  byte("snapshotModeTimeout", F0(0x43)),
                                  flag("snapshotAimPattern", F0(0x2C)),
                                  byte("imageResolution", F0(0x2E)),
                                  flag("jpgImageOptions", F0(0x2B)),
                                  byte("qualityValue", F0(0x31)),
                                  {"jpgSizeValue", F0(0x33), Form::Byte, 0, F1(0x31)},
                                  byte("imageFileFormat", F0(0x30)),
                                  byte("bitsPerPixel", F0(0x2F))};

constexpr CommandInfo postalCommand() {
    CommandInfo info = command((1 << 3) | (1 << 4) | (1 << 8), kPostal);
    // The engine takes the US check digit right after the UK pair.
    constexpr std::uint8_t order[] = {0, 1, 2, 3, 7, 4, 5, 6};
    for (std::size_t i = 0; i < 8; ++i) {
        info.sendOrder[i] = order[i];
    }
    return info;
}

const std::array<CommandInfo, static_cast<std::size_t>(PacketCommand::Count)> kCommands{{
    command(kAll, kCode39),
    command(kAll, kUpc),
    command(kAll, kEanJan),
    command(kAll, kCode128),
    command(kAll, kCode93),
    command(kAll, kCode11),
    command(kAll, kInterleaved25),
    command(kAll, kDiscrete25),
    command(kAll, kCodabar),
    command(kAll, kMsi),
    postalCommand(),
    command(kAll, kRss),
    command(kImagers, kComposite),
    command(kImagers, kSymbologiesShort),
    command(1 << 8, kSymbologiesFull),
    command(kAll, kSecurityLevel),
    command(kImagers, kMacroPdf),
    command(1 << 8, kMatrix25),
    command((1 << 8) | (1 << 9), kChinese25),
    command(kAll, kMiscellaneous),
    command(kImagers, kReader2D),
    command(kLasers, kReader1D),
    command(kImagers, kImagerOptions),
}};

constexpr std::uint32_t kCommandTimeoutMs = 1000;
constexpr std::int32_t kCommandAttempts = 5;

const CommandInfo& info(PacketCommand c) {
    return kCommands[static_cast<std::size_t>(c)];
}

bool typeBit(std::uint16_t mask, EngineType type) {
    std::int32_t n = toNumber(type);
    return n >= 0 && n < 16 && (mask & (1u << n)) != 0;
}

bool applies(const Arg& a, EngineType type) {
    return a.types == 0 || typeBit(a.types, type);
}

std::uint16_t paramFor(const Arg& a, EngineType type) {
    return type == EngineType::Imager2D4507 && a.paramType8 != 0 ? a.paramType8 : a.param;
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
            if (type == EngineType::Imager2D) {
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

std::int32_t writeCommand(ReaderChannel& channel, ParamCache& cache, PacketCommand c,
                          const CommandInfo& cmd, std::span<std::int32_t* const> args) {
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
    ByteString packet;
    for (std::uint8_t b : {0x00, 0xC6, 0x04, 0x08, 0xFF}) {
        packet.append(static_cast<char16_t>(b));
    }
    packet.append(pairs);
    packet.setAt(0, static_cast<char16_t>(packet.length() & 0xFF));
    ByteString reply;
    std::int32_t accepted = exchange(channel, packet, kCommandTimeoutMs, &reply, kCommandAttempts);
    if (accepted == 0) {
        return 0;
    }
    for (std::size_t i = 0; i < cmd.count && i < args.size(); ++i) {
        if (args[i] == nullptr || !applies(cmd.args[i], type)) {
            continue;
        }
        cache.slot(c, i) = *args[i];
        if (cmd.args[i].name == "scanMode") {
            channel.owner->scanMode = *args[i];
        }
    }
    return 1;
}

std::int32_t readCommand(ReaderChannel& channel, ParamCache& cache, PacketCommand c,
                         const CommandInfo& cmd, std::span<std::int32_t* const> args) {
    EngineType type = channel.engineType;
    ByteString request;
    for (std::uint8_t b : {0x00, 0xC7, 0x04, 0x00}) {
        request.append(static_cast<char16_t>(b));
    }
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
    if (reply.byteAt(1) != 0xC6 || reply.byteAt(2) != 0x00 || reply.byteAt(3) != 0x00 ||
        reply.byteAt(4) != 0xFF || reply.length() < 5) {
        return 0;
    }
    std::array<std::int32_t, kPacketMaxArgs> values{};
    std::array<bool, kPacketMaxArgs> found{};
    std::size_t pos = 5;
    while (pos < reply.length()) {
        std::uint8_t b = reply.byteAt(pos);
        bool matched = false;
        for (std::size_t i = 0; i < cmd.count; ++i) {
            const Arg& a = cmd.args[i];
            if (!applies(a, type) || a.form == Form::AimTime || (paramFor(a, type) & 0xFF) != b ||
                pos + 1 >= reply.length()) {
                continue;
            }
            values[i] = reply.byteAt(pos + 1);
            found[i] = true;
            matched = true;
            break;
        }
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

std::span<const std::string_view> packetArgumentNames(PacketCommand c) {
    const CommandInfo& cmd = info(c);
    return {cmd.names.data(), cmd.count};
}

int packetArgumentIndex(PacketCommand c, std::string_view name) {
    return indexOfName(packetArgumentNames(c), name);
}

bool packetCommandApplies(PacketCommand c, EngineType engineType) {
    return c < PacketCommand::Count && typeBit(info(c).types, engineType);
}

bool packetArgumentApplies(PacketCommand c, std::size_t arg, EngineType engineType) {
    return packetCommandApplies(c, engineType) && arg < info(c).count &&
           applies(info(c).args[arg], engineType);
}

std::int32_t packetCommand(ReaderChannel& channel, ParamCache& cache, PacketCommand c,
                           int direction, std::span<std::int32_t* const> args) {
    if (!packetCommandApplies(c, channel.engineType) || (direction != 'r' && direction != 'w')) {
        return 0;
    }
    const CommandInfo& cmd = info(c);
    return direction == 'r' ? readCommand(channel, cache, c, cmd, args)
                            : writeCommand(channel, cache, c, cmd, args);
}

void readWholeEngine(ReaderChannel& channel, ParamCache& cache) {
    using P = PacketCommand;
    static constexpr P kLaser[] = {P::Upc,           P::Code128,    P::Code39,        P::Code93,
                                   P::Interleaved25, P::Discrete25, P::Codabar,       P::Msi,
                                   P::Rss,           P::EanJan,     P::Miscellaneous, P::Reader1D};
    static constexpr P kImager[] = {
        P::Upc,           P::EanJan,        P::Code39,   P::Code128,       P::Code93,  P::Code11,
        P::Interleaved25, P::Discrete25,    P::Codabar,  P::Msi,           P::Postal,  P::Rss,
        P::Composite,     P::SecurityLevel, P::MacroPdf, P::Miscellaneous, P::Reader2D};
    auto readAll = [&](P c) {
        std::array<std::int32_t, kPacketMaxArgs> values{};
        std::array<std::int32_t*, kPacketMaxArgs> refs{};
        std::size_t n = packetArgumentNames(c).size();
        for (std::size_t i = 0; i < n; ++i) {
            refs[i] = &values[i];
        }
        packetCommand(channel, cache, c, 'r', std::span<std::int32_t* const>(refs.data(), n));
    };
    switch (channel.engineType) {
        case EngineType::LongRange1D:
        case EngineType::Laser1D955:
            for (P c : kLaser) {
                readAll(c);
            }
            if (channel.engineType == EngineType::Laser1D955) {
                readAll(P::Code11);
                readAll(P::Chinese25);
            }
            break;
        case EngineType::Imager2D:
        case EngineType::Imager2D4507:
            for (P c : kImager) {
                readAll(c);
            }
            if (channel.engineType == EngineType::Imager2D) {
                readAll(P::Symbologies2DShort);
                readAll(P::ImagerOptions);
            } else {
                readAll(P::ImagerOptions);
                readAll(P::Chinese25);
                readAll(P::Matrix25);
                readAll(P::Symbologies2DFull);
            }
            break;
        default:
            break;
    }
}

}  // namespace vandora
