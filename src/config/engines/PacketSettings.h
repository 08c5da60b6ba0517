// The packet engines' settings, one row per setting: its key, its parameter number and value form,
// the engine types it takes part on, for which types load-all sends it and save-all writes it
// back, and the value the program's default set gives it on each engine family. Each symbology
// section holds the keys of its command's rows, in their order, so a key is spelled once; the
// command tables (PacketCommandTable.h) bind every row to its section key when compiled.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "config/SectionDef.h"
#include "config/engines/SettingRow.h"

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
constexpr Arg valueOf(std::string_view name, std::uint16_t param, Form form) {
    return {{name}, param, form};
}
// On an engine with alternateParams the argument goes to this parameter instead.
constexpr Arg alt(Arg a, std::uint16_t param) {
    a.altParam = param;
    return a;
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

// clang-format off
inline constexpr Arg kCode39[] = {
    flag("enable", 0x00).byDefault(1),
    flag("trioptic", 0x0D).byDefault(kImagers, 0),
    flag("code39ToCode32", 0x56).byDefault(kImagers, 0),
    flag("code32Prefix", 0xE7).byDefault(kImagers, 0),
    flag("checkDigitVerification", 0x30).byDefault(kImagers, 0),
    flag("transmitCheckDigit", 0x2B).byDefault(kImagers, 0),
    flag("fullASCII", 0x11).byDefault(kImagers, 0),
    byte("length1", 0x12).byDefault(4),
    byte("length2", 0x13).byDefault(55),
};
inline constexpr Arg kUpc[] = {
    flag("enableUPC_A", 0x01).byDefault(kImagers, 1),
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
    byte("upcEanSecurityLevel", 0x4D, kLasers),
};
inline constexpr Arg kEanJan[] = {
    flag("enableEAN8_JAN8", 0x04).byDefault(1),
    flag("enableEAN13_JAN13", 0x03).byDefault(1),
    flag("enableBooklandEAN", 0x53).byDefault(1),
    byte("UPC_EAN_JAN_decodeSupplementals", 0x10).byDefault(kImagers, 0),
    byte("UPC_EAN_JAN_supplementalsRedundancy", 0x50).byDefault(kImagers, 10),
    flag("EAN8_JAN8_extend", 0x27).byDefault(kImagers, 0),
    flag("uccCouponExtendedCode", 0x55).byDefault(kImagers, 0),
    flag("linearDecode", 0x44, kImagers),
    // The UPC section carries it to the engine; this one only records it.
    loadOn(byte("upcEanSecurityLevel", 0x4D, kLasers), kNoTypes)
        .byDefault(kLaser4, 1).byDefault(kLaser9, 2),
};
inline constexpr Arg kCode128[] = {
    flag("enable", 0x08).byDefault(1),
    flag("uccEan128", 0x0E).byDefault(kImagers, 1),
    flag("isbt128", 0x54).byDefault(kImagers, 1),
    loadOn(byte("enableIsbtConcatenation", F1(0x41)), kImagers).byDefault(kImagers, 0),
    loadOn(byte("isbtConcatenationRedundancy", 0xDF), kImagers).byDefault(kImagers, 10),
};
inline constexpr Arg kCode93[] = {
    flag("enable", 0x09).byDefault(1),
    byte("length1", 0x1A).byDefault(4),
    byte("length2", 0x1B).byDefault(55),
};
inline constexpr Arg kCode11[] = {
    flag("enable", 0x0A).byDefault(1),
    byte("checkDigitVerification", 0x34).byDefault(kImagers, 0),
    flag("transmitCheckDigit", 0x2F).byDefault(kImagers, 0),
    byte("length1", 0x1C).byDefault(4),
    byte("length2", 0x1D).byDefault(55),
};
inline constexpr Arg kInterleaved25[] = {
    flag("enable", 0x06).byDefault(1),
    byte("length1", 0x16).byDefault(4),
    byte("length2", 0x17).byDefault(55),
    byte("checkDigitVerification", 0x31),
    flag("transmitCheckDigit", 0x2C),
    flag("convertToEAN13", 0x52),
};
inline constexpr Arg kDiscrete25[] = {
    flag("enable", 0x05).byDefault(1),
    byte("length1", 0x14).byDefault(4),
    byte("length2", 0x15).byDefault(55),
};
inline constexpr Arg kCodabar[] = {
    flag("enable", 0x07).byDefault(1),
    byte("length1", 0x18).byDefault(4),
    byte("length2", 0x19).byDefault(55),
    flag("clsiEditing", 0x36).byDefault(kImagers, 0),
    flag("notisEditing", 0x37).byDefault(kImagers, 0),
};
inline constexpr Arg kMsi[] = {
    flag("enable", 0x0B).byDefault(1),
    byte("length1", 0x1E).byDefault(4),
    byte("length2", 0x1F).byDefault(55),
    flag("checkDigitVerification", 0x32).byDefault(kImagers, 0),
    flag("transmitCheckDigit", 0x2E).byDefault(kImagers, 0),
    byte("checkDigitAlgorithm", 0x33).byDefault(kImagers, 1),
};
inline constexpr Arg kPostal[] = {
    flag("usPostnet", 0x59).byDefault(kImagers, 1),
    flag("usPlanet", 0x5A).byDefault(kImagers, 1),
    flag("ukPostal", 0x5B).byDefault(kImagers, 1),
    flag("transmitUKcheckDigit", 0x60).byDefault(kImagers, 1),
    flag("japanPostal", F0(0x22)).byDefault(kImagers, 1),
    flag("australianPostal", F0(0x23)).byDefault(kImagers, 1),
    flag("dutchPostal", F0(0x46)).byDefault(kImagers, 1),
    flag("transmitUScheckDigit", 0x5F).byDefault(kImagers, 1),
};
inline constexpr Arg kRss[] = {
    flag("rss14", F0(0x52)).byDefault(kImagers, 1).byDefault(kLaser9, 1),
    flag("rssUmited", F0(0x53)).byDefault(kImagers, 1).byDefault(kLaser9, 1),
    flag("rssExpanded", F0(0x54)).byDefault(kImagers, 1).byDefault(kLaser9, 1),
    flag("convertToUPC_EAN", F0(0x8D)).byDefault(kImagers, 0).byDefault(kLaser9, 0),
};
inline constexpr Arg kComposite[] = {
    flag("cc_c", F0(0x55)).byDefault(1),
    flag("cc_ab", F0(0x56)).byDefault(0),
    flag("tlc39", F0(0x73)).byDefault(0),
    byte("upcMode", F0(0x58)).byDefault(1),
    byte("beepMode", F0(0x8E)).byDefault(1),
    flag("uccEAN128EmulationMode", F0(0xAB)).byDefault(0),
};
inline constexpr Arg kSymbologiesShort[] = {
    flag("pdf417", 0x0F).byDefault(kImager3, 1),
    flag("microPDF417", 0xE3).byDefault(kImager3, 0),
    flag("code128Emulation", 0x7B).byDefault(kImager3, 0),
    flag("dataMatrix", F0(0x24)).byDefault(kImager3, 1),
    flag("maxiCode", F0(0x26)).byDefault(kImager3, 1),
    flag("qrCode", F0(0x25)).byDefault(kImager3, 1),
};
inline constexpr Arg kSymbologiesFull[] = {
    flag("pdf417", 0x0F).byDefault(1),
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
    byte("azTechInverse", F1(0x4D)).byDefault(0),
};
inline constexpr Arg kSecurityLevel[] = {
    byte("redundancy", 0x4E).byDefault(kImagers, 1),
    byte("securityLevel", 0x4D).byDefault(kImagers, 0),
    valueOf("interCharGapSize", F0(0x7D), Form::GapSize).byDefault(kImagers, 6),
};
inline constexpr Arg kMacroPdf[] = {
    byte("macroPDFTransmit", 0xBC).byDefault(4),
    flag("controlHeader", 0xB8).byDefault(0),
    byte("escapeChar", 0xE9).byDefault(0),
};
inline constexpr Arg kMatrix25[] = {
    flag("enable", F1(0x6A)).byDefault(1),
    byte("length1", F1(0x6B)).byDefault(4),
    byte("length2", F1(0x6C)).byDefault(55),
    flag("redundancy", F1(0x6D)).byDefault(0),
    flag("checkDigitVerification", F1(0x6E)).byDefault(0),
    flag("transmitCheckDigit", F1(0x6F)).byDefault(0),
};
inline constexpr Arg kChinese25Args[] = {
    flag("enable", F0(0x98)).byDefault(1),
};
inline constexpr Arg kMiscellaneous[] = {
    byte("transmitCodeIdChar", 0x2D).byDefault(kImagers, 0),
    byte("prefixValue", 0x69),
    byte("suffixValue1", 0x68),
    byte("suffixValue2", 0x6A),
    byte("scanDataFormat", 0xEB).byDefault(kImagers, 0),
    flag("sendNoReadMessage", 0x5E).byDefault(kImagers, 0),
};
inline constexpr Arg kReader2DArgs[] = {
    byte("laserOnTime", 0x88).byDefault(30),
    pagesOnly(byte("timeoutBetweenSameSymbol", 0x89)).byDefault(6),
    loadOn(byte("scanMode", 0x8A), {EngineType::Imager2D4507}).byDefault(8),
};
inline constexpr Arg kReader1D[] = {
    byte("laserOnTime", 0x88).byDefault(30).again(30),
    byte("scanAngle", 0xBF),
    pagesOnly(byte("timeoutBetweenSameSymbol", 0x89)),
    byte("linearCodeTypeSecurityLevels", 0x4E).byDefault(2).again(1),
    pagesOnly(flag("bidirectionalRedundancy", 0x43)).byDefault(1).again(1),
    valueOf("aimDurtion", 0, Form::AimTime),
    byte("scanMode", 0x8A).again(8),
};
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
    valueOf("gain", F1(0x37), Form::GainWord).byDefault(100),
    // The newer imager keeps its exposure in the gain parameter, so it is not saved there.
    saveOn(alt(valueOf("exposureTime", F0(0x38), Form::Exposure), F1(0x37)), kImager3)
        .byDefault(10),
    pagesOnly(byte("snapshotModeTimeout", F0(0x43))).byDefault(0),
    flag("snapshotAimPattern", F0(0x2C)).byDefault(1),
    byte("imageResolution", F0(0x2E)).byDefault(0),
    flag("jpgImageOptions", F0(0x2B)).byDefault(1),
    byte("qualityValue", F0(0x31)).byDefault(65),
    alt(byte("jpgSizeValue", F0(0x33)), F1(0x31)).byDefault(40),
    byte("imageFileFormat", F0(0x30)).byDefault(1),
    byte("bitsPerPixel", F0(0x2F)).byDefault(2),
};
// clang-format on

}  // namespace vandora::packet_table

namespace vandora {

namespace packet_keys {
inline constexpr auto upc = keysOf(packet_table::kUpc);
inline constexpr auto eanJan = keysOf(packet_table::kEanJan);
inline constexpr auto code39 = keysOf(packet_table::kCode39);
inline constexpr auto code128 = keysOf(packet_table::kCode128);
inline constexpr auto chinese25 = keysOf(packet_table::kChinese25Args);
inline constexpr auto code93 = keysOf(packet_table::kCode93);
inline constexpr auto code11 = keysOf(packet_table::kCode11);
inline constexpr auto interleaved25 = keysOf(packet_table::kInterleaved25);
inline constexpr auto discrete25 = keysOf(packet_table::kDiscrete25);
inline constexpr auto matrix25 = keysOf(packet_table::kMatrix25);
inline constexpr auto codabar = keysOf(packet_table::kCodabar);
inline constexpr auto msi = keysOf(packet_table::kMsi);
inline constexpr auto postal = keysOf(packet_table::kPostal);
inline constexpr auto rss = keysOf(packet_table::kRss);
inline constexpr auto composite = keysOf(packet_table::kComposite);
inline constexpr auto symbologiesShort = keysOf(packet_table::kSymbologiesShort);
inline constexpr auto securityLevel = keysOf(packet_table::kSecurityLevel);
inline constexpr auto macroPdf = keysOf(packet_table::kMacroPdf);
inline constexpr auto miscellaneous = keysOf(packet_table::kMiscellaneous);
}  // namespace packet_keys

// Symbologies of the 2D imagers (types 3, 8) and 1D lasers (types 4, 9). The suffix says which
// engines a section serves: "2D/1D_LR" all four, "2D" the imagers ("Code11 2D" also type 9).
inline constexpr SectionDef kUpcLr{"UPC 2D/1D_LR", packet_keys::upc};
inline constexpr SectionDef kEanJanLr{"EAN,JAN 2D/1D_LR", packet_keys::eanJan};
inline constexpr SectionDef kCode39Lr{"Code39 2D/1D_LR", packet_keys::code39};
inline constexpr SectionDef kCode128Lr{"Code128 2D/1D_LR", packet_keys::code128};
inline constexpr SectionDef kChinese25{"Chinese 2 Of 5", packet_keys::chinese25};
inline constexpr SectionDef kCode93Lr{"Code93 2D/1D_LR", packet_keys::code93};
inline constexpr SectionDef kCode11_2D{"Code11 2D", packet_keys::code11};
inline constexpr SectionDef kInterleaved25Lr{"Interleaved25 2D/1D_LR", packet_keys::interleaved25};
inline constexpr SectionDef kDiscrete25Lr{"Discrete25 2D/1D_LR", packet_keys::discrete25};
inline constexpr SectionDef kMatrix25_2D{"Matrix25 2D", packet_keys::matrix25};
inline constexpr SectionDef kCodabarLr{"Codabar 2D/1D_LR", packet_keys::codabar};
inline constexpr SectionDef kMsiLr{"MSI 2D/1D_LR", packet_keys::msi};
inline constexpr SectionDef kPostal2D{"PostalCode 2D", packet_keys::postal};
inline constexpr SectionDef kRssLr{"RSS 2D/1D_LR", packet_keys::rss};
inline constexpr SectionDef kComposite2D{"Composite 2D", packet_keys::composite};
// The short view of "2D Symbologies"; the full view (type 8) has the keys in another order
// than its command and is listed in SettingSections.h.
inline constexpr SectionDef kSymbologies2DShort{"2D Symbologies", packet_keys::symbologiesShort};
inline constexpr SectionDef kSecurity2D{"Symbology security level, 2D", packet_keys::securityLevel};
inline constexpr SectionDef kMacroPdf2D{"MacroPDF 2D", packet_keys::macroPdf};
inline constexpr SectionDef kMiscLr{"Miscellaneous Option 2D/1D_LR", packet_keys::miscellaneous};

}  // namespace vandora
