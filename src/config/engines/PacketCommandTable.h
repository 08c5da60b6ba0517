// The packet engines' setting commands as data: for every argument, the section key it mirrors,
// its parameter number and value form, the engine types it takes part on, and for which types
// load-all sends it and save-all writes it back. The section binding is resolved when compiled.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "config/SettingSections.h"
#include "config/engines/CommandSet.h"
#include "config/engines/PacketCommands.h"

namespace vandora::packet_table {

enum class Form : std::uint8_t {
    Flag,      // 1 when nonzero
    Byte,      // low 8 bits
    GainWord,  // word with high byte 0
    GapSize,   // 6 and 10 as they are, anything else as 6
    Exposure,  // sent whenever present, in the engine's exposure form
    AimTime,   // kept in the channel, never sent
};

inline constexpr TypeSet kImagers{EngineType::Imager2D, EngineType::Imager2D4507};
inline constexpr TypeSet kLasers{EngineType::LongRange1D, EngineType::Laser1D955};
inline constexpr TypeSet kPacketEngines{EngineType::Imager2D, EngineType::Imager2D4507,
                                        EngineType::LongRange1D, EngineType::Laser1D955};
inline constexpr TypeSet kNoTypes{};

// How an engine is put back to its factory settings before its default set.
enum class FactoryReset : std::uint8_t {
    None,
    // The engine falls back to its factory rate: close, open and find it again.
    ReopenAndProbe,
    // Talk to it at 9600 and move it to its working rate again.
    Rebaud,
};

// How the packet engines differ, one row per type.
struct PacketEngine {
    EngineType type;
    // The arguments with a second parameter number use it on this engine.
    bool alternateParams = false;
    // The exposure goes out in steps of 5 as a word of the engine's own table.
    bool steppedExposure = false;
    FactoryReset reset = FactoryReset::None;
    // The link set-up carries one more pair (ED 00).
    bool laserLinkPair = false;
};

inline constexpr PacketEngine kPacketEngineRows[] = {
    {.type = EngineType::Imager2D, .steppedExposure = true},
    {.type = EngineType::LongRange1D, .reset = FactoryReset::ReopenAndProbe, .laserLinkPair = true},
    {.type = EngineType::Imager2D4507, .alternateParams = true},
    {.type = EngineType::Laser1D955, .reset = FactoryReset::Rebaud, .laserLinkPair = true},
};

constexpr PacketEngine packetEngine(EngineType type) {
    for (const PacketEngine& row : kPacketEngineRows) {
        if (row.type == type) {
            return row;
        }
    }
    return {.type = type};
}

struct Arg {
    ArgBinding bind;
    std::uint16_t param = 0;
    Form form = Form::Byte;
    // Engine types the argument takes part on (the command's types narrowed further).
    TypeSet types = TypeSet::every();
    // The parameter on an engine with alternateParams; 0: the same.
    std::uint16_t altParam = 0;
    // An argument no section holds.
    bool own = false;
};

struct Command {
    TypeSet types;
    std::array<Arg, kMaxCommandArgs> args{};
    std::array<ArgBinding, kMaxCommandArgs> bindings{};
    std::size_t count = 0;
    // Order in which changed pairs are sent.
    std::array<std::uint8_t, kMaxCommandArgs> sendOrder{};
};

constexpr std::uint16_t F0(std::uint8_t n) {
    return static_cast<std::uint16_t>(0xF000 | n);
}
constexpr std::uint16_t F1(std::uint8_t n) {
    return static_cast<std::uint16_t>(0xF100 | n);
}

constexpr Arg flag(std::string_view name, std::uint16_t param, TypeSet types = TypeSet::every()) {
    return {{name}, param, Form::Flag, types};
}
constexpr Arg byte(std::string_view name, std::uint16_t param, TypeSet types = TypeSet::every()) {
    return {{name}, param, Form::Byte, types};
}
// Load-all sends it only to these types.
constexpr Arg loadOn(Arg a, TypeSet types) {
    a.bind.load = types;
    return a;
}
// Save-all writes it back only for these types.
constexpr Arg saveOn(Arg a, TypeSet types) {
    a.bind.save = types;
    return a;
}
// In its section, but load-all and save-all leave it to the settings pages.
constexpr Arg pagesOnly(Arg a) {
    return saveOn(loadOn(a, kNoTypes), kNoTypes);
}
constexpr Arg own(Arg a) {
    a.own = true;
    return saveOn(loadOn(a, kNoTypes), kNoTypes);
}

// A command whose arguments mirror keys of the given sections (the first that has the name).
template <std::size_t N>
consteval Command command(TypeSet types, const SectionDef& first, const SectionDef& second,
                          const Arg (&args)[N]) {
    static_assert(N <= kMaxCommandArgs);
    Command c;
    c.types = types;
    c.count = N;
    for (std::size_t i = 0; i < N; ++i) {
        c.args[i] = args[i];
        c.sendOrder[i] = static_cast<std::uint8_t>(i);
        if (args[i].own) {
            c.bindings[i] = args[i].bind;
            continue;
        }
        bool inFirst = false;
        for (const SectionKey& k : first.keys) {
            inFirst = inFirst || k.name == args[i].bind.name;
        }
        c.args[i].bind.key =
            inFirst ? key(first, args[i].bind.name) : key(second, args[i].bind.name);
        c.bindings[i] = c.args[i].bind;
    }
    return c;
}

template <std::size_t N>
consteval Command command(TypeSet types, const SectionDef& section, const Arg (&args)[N]) {
    return command(types, section, section, args);
}

// clang-format off
inline constexpr Arg kCode39[] = {
    flag("enable", 0x00), flag("trioptic", 0x0D), flag("code39ToCode32", 0x56),
    flag("code32Prefix", 0xE7), flag("checkDigitVerification", 0x30),
    flag("transmitCheckDigit", 0x2B), flag("fullASCII", 0x11), byte("length1", 0x12),
    byte("length2", 0x13)};
inline constexpr Arg kUpc[] = {
    flag("enableUPC_A", 0x01), flag("enableUPC_E", 0x02), flag("enableUPC_E1", 0x0C),
    byte("UPC_EAN_JAN_decodeSupplementals", 0x10),
    byte("UPC_EAN_JAN_supplementalsRedundancy", 0x50), flag("transmitUPC_AcheckDigit", 0x28),
    flag("transmitUPC_EcheckDigit", 0x29), flag("transmitUPC_E1checkDigit", 0x2A),
    byte("preambleUPC_A", 0x22), byte("preambleUPC_E", 0x23), byte("preambleUPC_E1", 0x24),
    flag("convertUPC_EtoA", 0x25), flag("convertUPC_E1ToA", 0x26),
    flag("uccCouponExtendedCode", 0x55), flag("linearDecode", 0x44, kImagers),
    byte("upcEanSecurityLevel", 0x4D, kLasers)};
inline constexpr Arg kEanJan[] = {
    flag("enableEAN8_JAN8", 0x04), flag("enableEAN13_JAN13", 0x03),
    flag("enableBooklandEAN", 0x53), byte("UPC_EAN_JAN_decodeSupplementals", 0x10),
    byte("UPC_EAN_JAN_supplementalsRedundancy", 0x50), flag("EAN8_JAN8_extend", 0x27),
    flag("uccCouponExtendedCode", 0x55), flag("linearDecode", 0x44, kImagers),
    // The UPC section carries it to the engine; this one only records it.
    loadOn(byte("upcEanSecurityLevel", 0x4D, kLasers), kNoTypes)};
inline constexpr Arg kCode128[] = {
    flag("enable", 0x08), flag("uccEan128", 0x0E), flag("isbt128", 0x54),
    loadOn(byte("enableIsbtConcatenation", F1(0x41)), kImagers),
    loadOn(byte("isbtConcatenationRedundancy", 0xDF), kImagers)};
inline constexpr Arg kCode93[] = {flag("enable", 0x09), byte("length1", 0x1A), byte("length2", 0x1B)};
inline constexpr Arg kCode11[] = {
    flag("enable", 0x0A), byte("checkDigitVerification", 0x34), flag("transmitCheckDigit", 0x2F),
    byte("length1", 0x1C), byte("length2", 0x1D)};
inline constexpr Arg kInterleaved25[] = {
    flag("enable", 0x06), byte("length1", 0x16), byte("length2", 0x17),
    byte("checkDigitVerification", 0x31), flag("transmitCheckDigit", 0x2C),
    flag("convertToEAN13", 0x52)};
inline constexpr Arg kDiscrete25[] = {
    flag("enable", 0x05), byte("length1", 0x14), byte("length2", 0x15)};
inline constexpr Arg kCodabar[] = {
    flag("enable", 0x07), byte("length1", 0x18), byte("length2", 0x19), flag("clsiEditing", 0x36),
    flag("notisEditing", 0x37)};
inline constexpr Arg kMsi[] = {
    flag("enable", 0x0B), byte("length1", 0x1E), byte("length2", 0x1F),
    flag("checkDigitVerification", 0x32), flag("transmitCheckDigit", 0x2E),
    byte("checkDigitAlgorithm", 0x33)};
inline constexpr Arg kPostal[] = {
    flag("usPostnet", 0x59), flag("usPlanet", 0x5A), flag("ukPostal", 0x5B),
    flag("transmitUKcheckDigit", 0x60), flag("japanPostal", F0(0x22)),
    flag("australianPostal", F0(0x23)), flag("dutchPostal", F0(0x46)),
    flag("transmitUScheckDigit", 0x5F)};
inline constexpr Arg kRss[] = {
    flag("rss14", F0(0x52)), flag("rssUmited", F0(0x53)), flag("rssExpanded", F0(0x54)),
    flag("convertToUPC_EAN", F0(0x8D))};
inline constexpr Arg kComposite[] = {
    flag("cc_c", F0(0x55)), flag("cc_ab", F0(0x56)), flag("tlc39", F0(0x73)),
    byte("upcMode", F0(0x58)), byte("beepMode", F0(0x8E)),
    flag("uccEAN128EmulationMode", F0(0xAB))};
inline constexpr Arg kSymbologiesShort[] = {
    flag("pdf417", 0x0F), flag("microPDF417", 0xE3), flag("code128Emulation", 0x7B),
    flag("dataMatrix", F0(0x24)), flag("maxiCode", F0(0x26)), flag("qrCode", F0(0x25))};
inline constexpr Arg kSymbologiesFull[] = {
    flag("pdf417", 0x0F), flag("microPDF417", 0xE3), flag("code128Emulation", 0x7B),
    flag("dataMatrix", F0(0x24)), flag("maxiCode", F0(0x26)), flag("qrCode", F0(0x25)),
    byte("dataMatrixInverse", F1(0x4C)), byte("decodeMirrorImage", F1(0x19)),
    byte("qrCodeInverse", F1(0x4B)), flag("microQR", F1(0x3D)), flag("azTech", F1(0x3E)),
    byte("azTechInverse", F1(0x4D))};
inline constexpr Arg kSecurityLevel[] = {
    byte("redundancy", 0x4E), byte("securityLevel", 0x4D),
    {{"interCharGapSize"}, F0(0x7D), Form::GapSize}};
inline constexpr Arg kMacroPdf[] = {
    byte("macroPDFTransmit", 0xBC), flag("controlHeader", 0xB8), byte("escapeChar", 0xE9)};
inline constexpr Arg kMatrix25[] = {
    flag("enable", F1(0x6A)), byte("length1", F1(0x6B)), byte("length2", F1(0x6C)),
    flag("redundancy", F1(0x6D)), flag("checkDigitVerification", F1(0x6E)),
    flag("transmitCheckDigit", F1(0x6F))};
inline constexpr Arg kChinese25Args[] = {flag("enable", F0(0x98))};
inline constexpr Arg kMiscellaneous[] = {
    byte("transmitCodeIdChar", 0x2D), byte("prefixValue", 0x69), byte("suffixValue1", 0x68),
    byte("suffixValue2", 0x6A), byte("scanDataFormat", 0xEB), flag("sendNoReadMessage", 0x5E)};
inline constexpr Arg kReader2DArgs[] = {
    byte("laserOnTime", 0x88), pagesOnly(byte("timeoutBetweenSameSymbol", 0x89)),
    loadOn(byte("scanMode", 0x8A), {EngineType::Imager2D4507})};
inline constexpr Arg kReader1D[] = {
    byte("laserOnTime", 0x88), byte("scanAngle", 0xBF),
    pagesOnly(byte("timeoutBetweenSameSymbol", 0x89)),
    byte("linearCodeTypeSecurityLevels", 0x4E), pagesOnly(flag("bidirectionalRedundancy", 0x43)),
    {{"aimDurtion"}, 0, Form::AimTime}, byte("scanMode", 0x8A)};
// Feeds two sections: the decoding options of "Barcode Reader 2D" and the picture options of
// "Image 2D".
inline constexpr Arg kImagerOptions[] = {
    pagesOnly(flag("decodingAutoexposure", F0(0x29))), flag("decodingIllumination", F0(0x2A)),
    byte("decodeAimingPattern", F0(0x32)), byte("imgFocus", F0(0xA6), {EngineType::Imager2D}),
    own(byte("fifthOption", F0(0xAD))), flag("imageAutoexposure", F0(0x68)),
    flag("imageIllumination", F0(0x69)), {{"gain"}, F1(0x37), Form::GainWord},
    // The newer imager keeps its exposure in the gain parameter, so it is not saved there.
    saveOn({{"exposureTime"}, F0(0x38), Form::Exposure, TypeSet::every(), F1(0x37)},
           {EngineType::Imager2D}),
    pagesOnly(byte("snapshotModeTimeout", F0(0x43))), flag("snapshotAimPattern", F0(0x2C)),
    byte("imageResolution", F0(0x2E)), flag("jpgImageOptions", F0(0x2B)),
    byte("qualityValue", F0(0x31)),
    {{"jpgSizeValue"}, F0(0x33), Form::Byte, TypeSet::every(), F1(0x31)},
    byte("imageFileFormat", F0(0x30)), byte("bitsPerPixel", F0(0x2F))};
// clang-format on

consteval Command postalCommand() {
    Command info =
        command({EngineType::Imager2D, EngineType::LongRange1D, EngineType::Imager2D4507},
                kPostal2D, kPostal);
    // The engine takes the US check digit right after the UK pair.
    constexpr std::uint8_t order[] = {0, 1, 2, 3, 7, 4, 5, 6};
    for (std::size_t i = 0; i < 8; ++i) {
        info.sendOrder[i] = order[i];
    }
    return info;
}

// In PacketCommand order.
inline constexpr std::array<Command, static_cast<std::size_t>(PacketCommand::Count)> kCommands{{
    command(kPacketEngines, kCode39Lr, kCode39),
    command(kPacketEngines, kUpcLr, kUpc),
    command(kPacketEngines, kEanJanLr, kEanJan),
    command(kPacketEngines, kCode128Lr, kCode128),
    command(kPacketEngines, kCode93Lr, kCode93),
    command(kPacketEngines, kCode11_2D, kCode11),
    command(kPacketEngines, kInterleaved25Lr, kInterleaved25),
    command(kPacketEngines, kDiscrete25Lr, kDiscrete25),
    command(kPacketEngines, kCodabarLr, kCodabar),
    command(kPacketEngines, kMsiLr, kMsi),
    postalCommand(),
    command(kPacketEngines, kRssLr, kRss),
    command(kImagers, kComposite2D, kComposite),
    command(kImagers, kSymbologies2DShort, kSymbologiesShort),
    command({EngineType::Imager2D4507}, kSymbologies2DFull, kSymbologiesFull),
    command(kPacketEngines, kSecurity2D, kSecurityLevel),
    command(kImagers, kMacroPdf2D, kMacroPdf),
    command({EngineType::Imager2D4507}, kMatrix25_2D, kMatrix25),
    command({EngineType::Imager2D4507, EngineType::Laser1D955}, kChinese25, kChinese25Args),
    command(kPacketEngines, kMiscLr, kMiscellaneous),
    command(kImagers, kReader2D, kReader2DArgs),
    command(kLasers, kReader1DLr, kReader1D),
    command(kImagers, kReader2D, kImage2D, kImagerOptions),
}};

constexpr const Command& info(PacketCommand c) {
    return kCommands[static_cast<std::size_t>(c)];
}

// The index of a named argument of a command; a name the command lacks does not compile.
consteval std::uint8_t argIndex(PacketCommand c, std::string_view name) {
    const Command& cmd = info(c);
    for (std::size_t i = 0; i < cmd.count; ++i) {
        if (cmd.args[i].bind.name == name) {
            return static_cast<std::uint8_t>(i);
        }
    }
    detail::keyMissingFromSection();
    return 0;
}

}  // namespace vandora::packet_table
