// The CCD/Laser engine's settings, one row per setting: its key, where it sits in the engine's
// configuration block, and the value the program's default set gives it. Each symbology section
// holds the keys of its command's rows, in their order, so a key is spelled once; the command
// tables (CcdCommandTable.h) bind every row to its section key when compiled.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "config/SectionDef.h"
#include "config/engines/SettingRow.h"
#include "reader/engines/CcdLayout.h"

namespace vandora::ccd_table {

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
    ArgBinding bind;
    ArgKind kind = ArgKind::Bit;
    CcdField field{};
    HostOption host = HostOption::None;

    // The value the program's default set gives it.
    constexpr Arg byDefault(std::int32_t value) const {
        Arg a = *this;
        a.bind.setDefault(TypeSet::every(), value);
        return a;
    }
};

constexpr Arg bit(std::string_view name, std::uint8_t byte, std::uint8_t b) {
    return {{name}, ArgKind::Bit, {byte, b, 1}};
}
constexpr Arg field(std::string_view name, std::uint8_t byte, std::uint8_t low, std::uint8_t w) {
    return {{name}, ArgKind::Field, {byte, low, w}};
}
constexpr Arg length1(std::uint8_t byte) {
    return {{"length1"}, ArgKind::Length1, {byte, 0, 7}};
}
constexpr Arg length2(std::uint8_t byte) {
    return {{"length2"}, ArgKind::Length2, {byte, 0, 8}};
}
constexpr Arg hostFlag(std::string_view name, HostOption option, std::uint8_t byte,
                       std::uint8_t b) {
    return {{name}, ArgKind::HostFlag, {byte, b, 1}, option};
}

// An argument of a kind of its own (see ArgKind).
constexpr Arg ownKind(std::string_view name, ArgKind kind, CcdField field) {
    return {{name}, kind, field};
}

constexpr CcdField kFamilyBit{1, 7, 1};

// clang-format off
inline constexpr Arg kReader[] = {
    field("scanMode", 20, 4, 4).byDefault(6),
    field("redundancy", 11, 2, 2).byDefault(0),
    field("laserOnTime", 21, 0, 8).byDefault(3),
};
inline constexpr Arg kCodabar[] = {
    bit("enable", 0, 1).byDefault(1),
    field("startStopChar", 7, 4, 2).byDefault(0),
    bit("transmitStartStopChar", 7, 3).byDefault(0),
};
inline constexpr Arg kIndustrial25[] = {
    bit("enable", 0, 4).byDefault(1),
    bit("checkDigitVerification", 6, 7).byDefault(0),
    bit("transmitCheckDigit", 6, 6).byDefault(1),
    field("startStopPattern", 6, 0, 2).byDefault(0),
    bit("isMaxMinLengthFormat", 12, 7).byDefault(1),
    length1(12).byDefault(127),
    length2(13).byDefault(4),
};
inline constexpr Arg kInterleaved25[] = {
    bit("enable", 0, 3).byDefault(1),
    bit("checkDigitVerification", 5, 1).byDefault(0),
    bit("transmitCheckDigit", 5, 0).byDefault(1),
    field("startStopPattern", 6, 2, 2).byDefault(1),
    bit("isMaxMinLengthFormat", 14, 7).byDefault(1),
    length1(14).byDefault(127),
    length2(15).byDefault(4),
};
inline constexpr Arg kMatrix25[] = {
    bit("enable", 0, 2).byDefault(1),
    bit("checkDigitVerification", 6, 5).byDefault(0),
    bit("transmitCheckDigit", 6, 4).byDefault(1),
    field("startStopPattern", 7, 6, 2).byDefault(2),
    bit("isMaxMinLengthFormat", 16, 7).byDefault(1),
    length1(16).byDefault(127),
    length2(17).byDefault(4),
};
inline constexpr Arg kCode39[] = {
    bit("enable", 0, 7).byDefault(1),
    bit("checkDigitVerification", 5, 6).byDefault(0),
    bit("transmitCheckDigit", 5, 5).byDefault(1),
    bit("fullASCII", 5, 4).byDefault(0),
    bit("transmitStartStopChar", 5, 7).byDefault(0),
};
inline constexpr Arg kCode93[] = {
    bit("enable", 0, 0).byDefault(1),
};
inline constexpr Arg kEan128[] = {
    ownKind("enable", ArgKind::FamilyBit, ccd::kEan128Enable).byDefault(1),
    ownKind("wantCodeId", ArgKind::InvertedBit, ccd::kNoCodeId).byDefault(0),
    ownKind("ean128FieldSeparator", ArgKind::Separator, {0, 0, 0}).byDefault(0),
};
inline constexpr Arg kIsbt128[] = {
    bit("enable", 22, 4).byDefault(1),
};
inline constexpr Arg kCode128[] = {
    ownKind("enable", ArgKind::FamilyBit, ccd::kCode128Enable).byDefault(1),
};
inline constexpr Arg kPharmacode[] = {
    bit("enable", 0, 6).byDefault(0),
    bit("enableCIP39", 0, 5).byDefault(0),
    bit("transmitCheckDigit", 5, 3).byDefault(1),
    bit("transmitCIP39CheckDigit", 5, 2).byDefault(1),
};
inline constexpr Arg kMsi[] = {
    bit("enable", 2, 5).byDefault(0),
    field("checkDigitVerification", 9, 6, 2).byDefault(0),
    field("transmitCheckDigit", 9, 4, 2).byDefault(1),
    bit("isMaxMinLengthFormat", 18, 7).byDefault(1),
    length1(18).byDefault(127),
    length2(19).byDefault(4),
};
inline constexpr Arg kNegative[] = {
    bit("enable", 11, 4).byDefault(0),
};
inline constexpr Arg kPlessey[] = {
    bit("enable", 2, 4).byDefault(0),
    bit("transmitCheckDigit", 9, 3).byDefault(1),
    bit("convertToUKplessey", 9, 2).byDefault(0),
};
// The engine keeps the Expanded and RSS-14 enables in one bit.
inline constexpr Arg kRss[] = {
    bit("enableLimited", 2, 0).byDefault(0),
    bit("enableExpanded", 3, 6).byDefault(0),
    bit("enableRSS14", 3, 6).byDefault(0),
    bit("transmitRSS14CodeID", 3, 5).byDefault(1),
    bit("transmitRSS14ApplicationID", 3, 4).byDefault(1),
    bit("transmitRSS14CheckDigit", 3, 3).byDefault(1),
    bit("transmitRSSCodeID", 3, 2).byDefault(1),
    bit("transmitRSSApplicationID", 3, 1).byDefault(1),
    bit("transmitRSSCheckDigit", 3, 0).byDefault(1),
    bit("transmitRSSExpandedCodeID", 4, 7).byDefault(1),
};
inline constexpr Arg kTelepen[] = {
    bit("enable", 2, 2).byDefault(0),
    bit("enableAIM", 2, 1).byDefault(1),
};
inline constexpr Arg kEan8[] = {
    bit("enable", 1, 3).byDefault(1),
    bit("enableAddon2", 1, 2).byDefault(0),
    bit("enableAddon5", 1, 1).byDefault(0),
    bit("transmitCheckDigit", 10, 3).byDefault(1),
    bit("convertToEAN13", 11, 7).byDefault(0),
};
inline constexpr Arg kEan13UpcA[] = {
    bit("enable", 1, 0).byDefault(1),
    bit("enableAddon2", 2, 7).byDefault(0),
    bit("enableAddon5", 2, 6).byDefault(0),
    bit("enableISBN", 10, 7).byDefault(0),
    bit("enableISSN", 10, 6).byDefault(0),
    hostFlag("transmitEan13CheckDigit", HostOption::Ean13CheckDigit, 10, 2).byDefault(1),
    hostFlag("convertToEAN13", HostOption::ConvertToEan13, 9, 0).byDefault(1),
    hostFlag("transmitUpcACheckDigit", HostOption::UpcACheckDigit, 10, 4).byDefault(1),
    bit("transmitSystemNumber", 10, 0).byDefault(1),
};
inline constexpr Arg kGtin[] = {
    bit("enable", 11, 5).byDefault(0),
};
inline constexpr Arg kUpcE[] = {
    bit("enable", 1, 6).byDefault(1),
    bit("enableAddon2", 1, 5).byDefault(0),
    bit("enableAddon5", 1, 4).byDefault(0),
    bit("enableUpcE1", 4, 6).byDefault(0),
    bit("convertToUpcA", 9, 1).byDefault(0),
    bit("transmitCheckDigit", 10, 5).byDefault(1),
    bit("transmitSystemNumber", 10, 1).byDefault(0),
    bit("upcE1TripleCheck", 11, 1).byDefault(0),
};
// Written when the channel closes: the host-side flags back into their bits.
inline constexpr Arg kCheckDigitRestore[] = {
    bit("transmitEan13CheckDigit", 10, 2),
    bit("transmitUpcACheckDigit", 10, 4),
    bit("convertToEAN13", 9, 0),
};
// clang-format on

}  // namespace vandora::ccd_table

namespace vandora {

namespace ccd_keys {
inline constexpr auto codabar = keysOf(ccd_table::kCodabar);
inline constexpr auto industrial25 = keysOf(ccd_table::kIndustrial25);
inline constexpr auto interleaved25 = keysOf(ccd_table::kInterleaved25);
inline constexpr auto matrix25 = keysOf(ccd_table::kMatrix25);
inline constexpr auto code39 = keysOf(ccd_table::kCode39);
inline constexpr auto code93 = keysOf(ccd_table::kCode93);
inline constexpr auto ean128 = keysOf(ccd_table::kEan128);
inline constexpr auto isbt128 = keysOf(ccd_table::kIsbt128);
inline constexpr auto code128 = keysOf(ccd_table::kCode128);
inline constexpr auto pharmacode = keysOf(ccd_table::kPharmacode);
inline constexpr auto msi = keysOf(ccd_table::kMsi);
inline constexpr auto negative = keysOf(ccd_table::kNegative);
inline constexpr auto plessey = keysOf(ccd_table::kPlessey);
inline constexpr auto rss = keysOf(ccd_table::kRss);
inline constexpr auto telepen = keysOf(ccd_table::kTelepen);
inline constexpr auto ean8 = keysOf(ccd_table::kEan8);
inline constexpr auto ean13UpcA = keysOf(ccd_table::kEan13UpcA);
inline constexpr auto gtin = keysOf(ccd_table::kGtin);
inline constexpr auto upcE = keysOf(ccd_table::kUpcE);
}  // namespace ccd_keys

// Symbologies of the CCD/Laser engine (engine type 2).
inline constexpr SectionDef kCodabarCcd{"CodaBar CCD/Laser", ccd_keys::codabar};
inline constexpr SectionDef kIndustrial25Ccd{"Industrial25 CCD/Laser", ccd_keys::industrial25};
inline constexpr SectionDef kInterleaved25Ccd{"Interleaved25 CCD/Laser", ccd_keys::interleaved25};
inline constexpr SectionDef kMatrix25Ccd{"Matrix25 CCD/Laser", ccd_keys::matrix25};
inline constexpr SectionDef kCode39Ccd{"Code39 CCD/Laser", ccd_keys::code39};
inline constexpr SectionDef kCode93Ccd{"Code93 CCD/Laser", ccd_keys::code93};
inline constexpr SectionDef kEan128Ccd{"Ean128 CCD/Laser", ccd_keys::ean128};
inline constexpr SectionDef kIsbt128Ccd{"ISBT128 CCD/Laser", ccd_keys::isbt128};
inline constexpr SectionDef kCode128Ccd{"Code128 CCD/Laser", ccd_keys::code128};
inline constexpr SectionDef kPharmacodeCcd{"Pharmacode CCD/Laser", ccd_keys::pharmacode};
inline constexpr SectionDef kMsiCcd{"MSI CCD/Laser", ccd_keys::msi};
inline constexpr SectionDef kNegativeCcd{"Negative barcode CCD/Laser", ccd_keys::negative};
inline constexpr SectionDef kPlesseyCcd{"Plessey CCD/Laser", ccd_keys::plessey};
inline constexpr SectionDef kRssCcd{"RSS CCD/Laser", ccd_keys::rss};
inline constexpr SectionDef kTelepenCcd{"Telepen CCD/Laser", ccd_keys::telepen};
inline constexpr SectionDef kEan8Ccd{"EAN-8 CCD/Laser", ccd_keys::ean8};
inline constexpr SectionDef kEan13UpcACcd{"EAN-13,UPC-A CCD/Laser", ccd_keys::ean13UpcA};
inline constexpr SectionDef kGtinCcd{"GTIN CCD/Laser", ccd_keys::gtin};
inline constexpr SectionDef kUpcECcd{"UPC-E CCD/Laser", ccd_keys::upcE};

}  // namespace vandora
