// The packet engines' setting commands as data, one row per setting: the section key it mirrors
// (resolved when compiled), its parameter number and value form, the engine types it takes part
// on, for which types load-all sends it and save-all writes it back, and the value the program's
// default set gives it on each engine family.
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
inline constexpr TypeSet kImager3{EngineType::Imager2D};
inline constexpr TypeSet kImager8{EngineType::Imager2D4507};
inline constexpr TypeSet kLaser4{EngineType::LongRange1D};
inline constexpr TypeSet kLaser9{EngineType::Laser1D955};

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

    // The value the program's default set gives it, on every type of its command or on some.
    constexpr Arg byDefault(std::int32_t value) const { return byDefault(TypeSet::every(), value); }
    constexpr Arg byDefault(TypeSet on, std::int32_t value) const {
        Arg a = *this;
        a.bind.setDefault(on, value);
        return a;
    }
    // The value when the default set sends the command a second time.
    constexpr Arg again(std::int32_t value) const {
        Arg a = *this;
        a.bind.again = value;
        return a;
    }
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

inline constexpr Arg kCode39[] = {flag("enable", 0x00).byDefault(1),
                                  flag("trioptic", 0x0D).byDefault(kImagers, 0),
                                  flag("code39ToCode32", 0x56).byDefault(kImagers, 0),
                                  flag("code32Prefix", 0xE7).byDefault(kImagers, 0),
                                  flag("checkDigitVerification", 0x30).byDefault(kImagers, 0),
                                  flag("transmitCheckDigit", 0x2B).byDefault(kImagers, 0),
                                  flag("fullASCII", 0x11).byDefault(kImagers, 0),
                                  byte("length1", 0x12).byDefault(4),
                                  byte("length2", 0x13).byDefault(55)};
inline constexpr Arg kUpc[] = {flag("enableUPC_A", 0x01).byDefault(kImagers, 1),
                               flag("enableUPC_E", 0x02).byDefault(kImagers, 1),
                               flag("enableUPC_E1", 0x0C).byDefault(kImagers, 0),
                               byte("UPC_EAN_JAN_decodeSupplementals", 0x10),
                               byte("UPC_EAN_JAN_supplementalsRedundancy", 0x50),
                               flag("transmitUPC_AcheckDigit", 0x28).byDefault(kImagers, 1),
                               flag("transmitUPC_EcheckDigit", 0x29).byDefault(kImagers, 1),
                               flag("transmitUPC_E1checkDigit", 0x2A).byDefault(kImagers, 1),
                               byte("preambleUPC_A", 0x22).byDefault(kImagers, 1),
                               byte("preambleUPC_E", 0x23).byDefault(kImagers, 1),
                               byte("preambleUPC_E1", 0x24).byDefault(kImagers, 1),
                               flag("convertUPC_EtoA", 0x25).byDefault(kImagers, 0),
                               flag("convertUPC_E1ToA", 0x26).byDefault(kImagers, 0),
                               flag("uccCouponExtendedCode", 0x55),
                               flag("linearDecode", 0x44, kImagers),
                               byte("upcEanSecurityLevel", 0x4D, kLasers)};
inline constexpr Arg kEanJan[] = {
    flag("enableEAN8_JAN8", 0x04).byDefault(1), flag("enableEAN13_JAN13", 0x03).byDefault(1),
    flag("enableBooklandEAN", 0x53).byDefault(1),
    byte("UPC_EAN_JAN_decodeSupplementals", 0x10).byDefault(kImagers, 0),
    byte("UPC_EAN_JAN_supplementalsRedundancy", 0x50).byDefault(kImagers, 10),
    flag("EAN8_JAN8_extend", 0x27).byDefault(kImagers, 0),
    flag("uccCouponExtendedCode", 0x55).byDefault(kImagers, 0),
    flag("linearDecode", 0x44, kImagers),
    // The UPC section carries it to the engine; this one only records it.
    loadOn(byte("upcEanSecurityLevel", 0x4D, kLasers), kNoTypes)
        .byDefault(kLaser4, 1)
        .byDefault(kLaser9, 2)};
inline constexpr Arg kCode128[] = {
    flag("enable", 0x08).byDefault(1), flag("uccEan128", 0x0E).byDefault(kImagers, 1),
    flag("isbt128", 0x54).byDefault(kImagers, 1),
    loadOn(byte("enableIsbtConcatenation", F1(0x41)), kImagers).byDefault(kImagers, 0),
    loadOn(byte("isbtConcatenationRedundancy", 0xDF), kImagers).byDefault(kImagers, 10)};
inline constexpr Arg kCode93[] = {flag("enable", 0x09).byDefault(1),
                                  byte("length1", 0x1A).byDefault(4),
                                  byte("length2", 0x1B).byDefault(55)};
inline constexpr Arg kCode11[] = {
    flag("enable", 0x0A).byDefault(1), byte("checkDigitVerification", 0x34).byDefault(kImagers, 0),
    flag("transmitCheckDigit", 0x2F).byDefault(kImagers, 0), byte("length1", 0x1C).byDefault(4),
    byte("length2", 0x1D).byDefault(55)};
inline constexpr Arg kInterleaved25[] = {
    flag("enable", 0x06).byDefault(1),   byte("length1", 0x16).byDefault(4),
    byte("length2", 0x17).byDefault(55), byte("checkDigitVerification", 0x31),
    flag("transmitCheckDigit", 0x2C),    flag("convertToEAN13", 0x52)};
inline constexpr Arg kDiscrete25[] = {flag("enable", 0x05).byDefault(1),
                                      byte("length1", 0x14).byDefault(4),
                                      byte("length2", 0x15).byDefault(55)};
inline constexpr Arg kCodabar[] = {
    flag("enable", 0x07).byDefault(1), byte("length1", 0x18).byDefault(4),
    byte("length2", 0x19).byDefault(55), flag("clsiEditing", 0x36).byDefault(kImagers, 0),
    flag("notisEditing", 0x37).byDefault(kImagers, 0)};
inline constexpr Arg kMsi[] = {flag("enable", 0x0B).byDefault(1),
                               byte("length1", 0x1E).byDefault(4),
                               byte("length2", 0x1F).byDefault(55),
                               flag("checkDigitVerification", 0x32).byDefault(kImagers, 0),
                               flag("transmitCheckDigit", 0x2E).byDefault(kImagers, 0),
                               byte("checkDigitAlgorithm", 0x33).byDefault(kImagers, 1)};
inline constexpr Arg kPostal[] = {flag("usPostnet", 0x59).byDefault(kImagers, 1),
                                  flag("usPlanet", 0x5A).byDefault(kImagers, 1),
                                  flag("ukPostal", 0x5B).byDefault(kImagers, 1),
                                  flag("transmitUKcheckDigit", 0x60).byDefault(kImagers, 1),
                                  flag("japanPostal", F0(0x22)).byDefault(kImagers, 1),
                                  flag("australianPostal", F0(0x23)).byDefault(kImagers, 1),
                                  flag("dutchPostal", F0(0x46)).byDefault(kImagers, 1),
                                  flag("transmitUScheckDigit", 0x5F).byDefault(kImagers, 1)};
inline constexpr Arg kRss[] = {
    flag("rss14", F0(0x52)).byDefault(kImagers, 1).byDefault(kLaser9, 1),
    flag("rssUmited", F0(0x53)).byDefault(kImagers, 1).byDefault(kLaser9, 1),
    flag("rssExpanded", F0(0x54)).byDefault(kImagers, 1).byDefault(kLaser9, 1),
    flag("convertToUPC_EAN", F0(0x8D)).byDefault(kImagers, 0).byDefault(kLaser9, 0)};
inline constexpr Arg kComposite[] = {
    flag("cc_c", F0(0x55)).byDefault(1),     flag("cc_ab", F0(0x56)).byDefault(0),
    flag("tlc39", F0(0x73)).byDefault(0),    byte("upcMode", F0(0x58)).byDefault(1),
    byte("beepMode", F0(0x8E)).byDefault(1), flag("uccEAN128EmulationMode", F0(0xAB)).byDefault(0)};
inline constexpr Arg kSymbologiesShort[] = {flag("pdf417", 0x0F).byDefault(kImager3, 1),
                                            flag("microPDF417", 0xE3).byDefault(kImager3, 0),
                                            flag("code128Emulation", 0x7B).byDefault(kImager3, 0),
                                            flag("dataMatrix", F0(0x24)).byDefault(kImager3, 1),
                                            flag("maxiCode", F0(0x26)).byDefault(kImager3, 1),
                                            flag("qrCode", F0(0x25)).byDefault(kImager3, 1)};
inline constexpr Arg kSymbologiesFull[] = {flag("pdf417", 0x0F).byDefault(1),
                                           flag("microPDF417", 0xE3).byDefault(0),
                                           flag("code128Emulation", 0x7B).byDefault(0),
                                           flag("dataMatrix", F0(0x24)).byDefault(1),
                                           flag("maxiCode", F0(0x26)).byDefault(1),
                                           flag("qrCode", F0(0x25)).byDefault(1),
                                           byte("dataMatrixInverse", F1(0x4C)).byDefault(0),
                                           byte("decodeMirrorImage", F1(0x19)).byDefault(0),
                                           byte("qrCodeInverse", F1(0x4B)).byDefault(0),
                                           flag("microQR", F1(0x3D)).byDefault(1),
                                           flag("azTech", F1(0x3E)).byDefault(1),
                                           byte("azTechInverse", F1(0x4D)).byDefault(0)};
inline constexpr Arg kSecurityLevel[] = {
    byte("redundancy", 0x4E).byDefault(kImagers, 1),
    byte("securityLevel", 0x4D).byDefault(kImagers, 0),
    Arg{{"interCharGapSize"}, F0(0x7D), Form::GapSize}.byDefault(kImagers, 6)};
inline constexpr Arg kMacroPdf[] = {byte("macroPDFTransmit", 0xBC).byDefault(4),
                                    flag("controlHeader", 0xB8).byDefault(0),
                                    byte("escapeChar", 0xE9).byDefault(0)};
inline constexpr Arg kMatrix25[] = {flag("enable", F1(0x6A)).byDefault(1),
                                    byte("length1", F1(0x6B)).byDefault(4),
                                    byte("length2", F1(0x6C)).byDefault(55),
                                    flag("redundancy", F1(0x6D)).byDefault(0),
                                    flag("checkDigitVerification", F1(0x6E)).byDefault(0),
                                    flag("transmitCheckDigit", F1(0x6F)).byDefault(0)};
inline constexpr Arg kChinese25Args[] = {flag("enable", F0(0x98)).byDefault(1)};
inline constexpr Arg kMiscellaneous[] = {byte("transmitCodeIdChar", 0x2D).byDefault(kImagers, 0),
                                         byte("prefixValue", 0x69),
                                         byte("suffixValue1", 0x68),
                                         byte("suffixValue2", 0x6A),
                                         byte("scanDataFormat", 0xEB).byDefault(kImagers, 0),
                                         flag("sendNoReadMessage", 0x5E).byDefault(kImagers, 0)};
inline constexpr Arg kReader2DArgs[] = {
    byte("laserOnTime", 0x88).byDefault(30),
    pagesOnly(byte("timeoutBetweenSameSymbol", 0x89)).byDefault(6),
    loadOn(byte("scanMode", 0x8A), {EngineType::Imager2D4507}).byDefault(8)};
inline constexpr Arg kReader1D[] = {
    byte("laserOnTime", 0x88).byDefault(30).again(30),
    byte("scanAngle", 0xBF),
    pagesOnly(byte("timeoutBetweenSameSymbol", 0x89)),
    byte("linearCodeTypeSecurityLevels", 0x4E).byDefault(2).again(1),
    pagesOnly(flag("bidirectionalRedundancy", 0x43)).byDefault(1).again(1),
    {{"aimDurtion"}, 0, Form::AimTime},
    byte("scanMode", 0x8A).again(8)};
// Feeds two sections: the decoding options of "Barcode Reader 2D" and the picture options of
// "Image 2D".
inline constexpr Arg kImagerOptions[] = {
    pagesOnly(flag("decodingAutoexposure", F0(0x29))).byDefault(1),
    flag("decodingIllumination", F0(0x2A)).byDefault(1),
    byte("decodeAimingPattern", F0(0x32)).byDefault(kImager3, 1).byDefault(kImager8, 2),
    byte("imgFocus", F0(0xA6), {EngineType::Imager2D}).byDefault(0),
    own(byte("fifthOption", F0(0xAD))).byDefault(0),
    flag("imageAutoexposure", F0(0x68)).byDefault(1),
    flag("imageIllumination", F0(0x69)).byDefault(1),
    Arg{{"gain"}, F1(0x37), Form::GainWord}.byDefault(100),
    // The newer imager keeps its exposure in the gain parameter, so it is not saved there.
    saveOn({{"exposureTime"}, F0(0x38), Form::Exposure, TypeSet::every(), F1(0x37)},
           {EngineType::Imager2D})
        .byDefault(10),
    pagesOnly(byte("snapshotModeTimeout", F0(0x43))).byDefault(0),
    flag("snapshotAimPattern", F0(0x2C)).byDefault(1),
    byte("imageResolution", F0(0x2E)).byDefault(0), flag("jpgImageOptions", F0(0x2B)).byDefault(1),
    byte("qualityValue", F0(0x31)).byDefault(65),
    Arg{{"jpgSizeValue"}, F0(0x33), Form::Byte, TypeSet::every(), F1(0x31)}.byDefault(40),
    byte("imageFileFormat", F0(0x30)).byDefault(1), byte("bitsPerPixel", F0(0x2F)).byDefault(2)};

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
