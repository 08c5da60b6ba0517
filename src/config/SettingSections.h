// SettingSections: the INI sections the program reads and writes, as data, and the one accessor
// that serves them all.
//
// Each section is a name and its keys in accessor order; the order is also the order in which a
// new section's keys are first written, so it shapes the file. Key names stay exactly as the file
// has always spelled them (other programs read them), odd ones included.
//
// An accessor call takes a direction and one optional reference per key, in the section's order:
//   'r' (0x72): reads every present reference from the store; fails, touching nothing, when the
//               section is missing; a key missing from the section leaves its field alone.
//   'w' (0x77): writes every present reference, creating the section when it is missing.
//   any other:  does nothing and succeeds.
// An absent reference (null) skips its key. Integer references go through getInt/setInt, text
// references through getString/setString. Results are 1 or 0.
//
//   std::int32_t enable = 1, length1 = 4;
//   accessSection<kCode93Lr>(store, 'w', &enable, &length1);   // length2 absent
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <span>
#include <string_view>
#include <type_traits>

#include "common/ByteString.h"
#include "config/IniStore.h"

namespace vandora {

inline constexpr int kDirectionRead = 'r';
inline constexpr int kDirectionWrite = 'w';

enum class KeyKind : std::uint8_t { Int, Text };

struct SectionKey {
    std::string_view name;
    KeyKind kind = KeyKind::Int;
};

struct SectionDef {
    std::string_view name;
    std::span<const SectionKey> keys;
};

// The most keys any section has; accessor calls keep their references on the stack.
inline constexpr std::size_t kMaxSectionKeys = 24;

namespace section_keys {
using K = SectionKey;
constexpr KeyKind T = KeyKind::Text;

// clang-format off
inline constexpr K general[] = {
    {"goodReadBeepFileIdx"}, {"warningBeepFileIdx"}, {"vibrationTime"}, {"keyboardEmu"},
    {"windowMessage"}, {"windowEvent"}, {"autoEnter"}, {"autoEnterChar"}, {"prefixStr", T},
    {"suffixStr", T}, {"displayCodeType"}, {"displayCodeLength"}, {"displayUid"},
    {"displayUserData"}, {"delimiter"}, {"wantMaxWindow"}, {"enableLed"}, {"buzzerDuration"},
    {"buzzerFreq"}, {"imagePath", T}};
inline constexpr K rfid[] = {
    {"hasRfid"}, {"enableRfid"}, {"rfidRW"}, {"rfidReadStartByte"}, {"rfidReadLength"},
    {"displayUserDataByHex"}, {"rfidWriteStartByte"}, {"rfidWriteContent", T}, {"isHexContent"},
    {"mifareLoginKeyA", T}, {"m_rfidSecurityKeyType"}, {"timeOfPowerOn"}};

inline constexpr K readerCcd[] = {
    {"hasCCD"}, {"enableBarcode"}, {"redundancy"}, {"laserOnTime"}, {"scanMode"}};
inline constexpr K reader2D[] = {
    {"has2D"}, {"has2D_4507"}, {"enableBarcode"}, {"laserOnTime"}, {"timeoutBetweenSameSymbol"},
    {"decodingAutoexposure"}, {"decodingIllumination"}, {"decodeAimingPattern"}, {"imgFocus"},
    {"ledIllumination"}, {"scanMode"}};
inline constexpr K reader1DLr[] = {
    {"has1D_955"}, {"has1DLR"}, {"enableBarcode"}, {"laserOnTime"}, {"scanAngle"},
    {"timeoutBetweenSameSymbol"}, {"linearCodeTypeSecurityLevels"}, {"bidirectionalRedundancy"},
    {"aimDurtion"}, {"scanMode"}};
inline constexpr K image2D[] = {
    {"enable"}, {"imageAutoexposure"}, {"imageIllumination"}, {"gain"}, {"exposureTime"},
    {"snapshotModeTimeout"}, {"snapshotAimPattern"}, {"imageResolution"}, {"jpgImageOptions"},
    {"qualityValue"}, {"jpgSizeValue"}, {"imageFileFormat"}, {"bitsPerPixel"}};

inline constexpr K enableOnly[] = {{"enable"}};
inline constexpr K codabarCcd[] = {{"enable"}, {"startStopChar"}, {"transmitStartStopChar"}};
// Industrial, Interleaved and Matrix 2 of 5 on the CCD/Laser engine.
inline constexpr K twoOfFiveCcd[] = {
    {"enable"}, {"checkDigitVerification"}, {"transmitCheckDigit"}, {"startStopPattern"},
    {"isMaxMinLengthFormat"}, {"length1"}, {"length2"}};
inline constexpr K code39Ccd[] = {
    {"enable"}, {"checkDigitVerification"}, {"transmitCheckDigit"}, {"fullASCII"},
    {"transmitStartStopChar"}};
inline constexpr K ean128Ccd[] = {{"enable"}, {"wantCodeId"}, {"ean128FieldSeparator"}};
inline constexpr K pharmacodeCcd[] = {
    {"enable"}, {"enableCIP39"}, {"transmitCheckDigit"}, {"transmitCIP39CheckDigit"}};
inline constexpr K msiCcd[] = {
    {"enable"}, {"checkDigitVerification"}, {"transmitCheckDigit"}, {"isMaxMinLengthFormat"},
    {"length1"}, {"length2"}};
inline constexpr K plesseyCcd[] = {{"enable"}, {"transmitCheckDigit"}, {"convertToUKplessey"}};
inline constexpr K rssCcd[] = {
    {"enableLimited"}, {"enableExpanded"}, {"enableRSS14"}, {"transmitRSS14CodeID"},
    {"transmitRSS14ApplicationID"}, {"transmitRSS14CheckDigit"}, {"transmitRSSCodeID"},
    {"transmitRSSApplicationID"}, {"transmitRSSCheckDigit"}, {"transmitRSSExpandedCodeID"}};
inline constexpr K telepenCcd[] = {{"enable"}, {"enableAIM"}};
inline constexpr K ean8Ccd[] = {
    {"enable"}, {"enableAddon2"}, {"enableAddon5"}, {"transmitCheckDigit"}, {"convertToEAN13"}};
inline constexpr K ean13UpcACcd[] = {
    {"enable"}, {"enableAddon2"}, {"enableAddon5"}, {"enableISBN"}, {"enableISSN"},
    {"transmitEan13CheckDigit"}, {"convertToEAN13"}, {"transmitUpcACheckDigit"},
    {"transmitSystemNumber"}};
inline constexpr K upcECcd[] = {
    {"enable"}, {"enableAddon2"}, {"enableAddon5"}, {"enableUpcE1"}, {"convertToUpcA"},
    {"transmitCheckDigit"}, {"transmitSystemNumber"}, {"upcE1TripleCheck"}};

inline constexpr K upcLr[] = {
    {"enableUPC_A"}, {"enableUPC_E"}, {"enableUPC_E1"}, {"UPC_EAN_JAN_decodeSupplementals"},
    {"UPC_EAN_JAN_supplementalsRedundancy"}, {"transmitUPC_AcheckDigit"},
    {"transmitUPC_EcheckDigit"}, {"transmitUPC_E1checkDigit"}, {"preambleUPC_A"},
    {"preambleUPC_E"}, {"preambleUPC_E1"}, {"convertUPC_EtoA"}, {"convertUPC_E1ToA"},
    {"uccCouponExtendedCode"}, {"linearDecode"}, {"upcEanSecurityLevel"}};
inline constexpr K eanJanLr[] = {
    {"enableEAN8_JAN8"}, {"enableEAN13_JAN13"}, {"enableBooklandEAN"},
    {"UPC_EAN_JAN_decodeSupplementals"}, {"UPC_EAN_JAN_supplementalsRedundancy"},
    {"EAN8_JAN8_extend"}, {"uccCouponExtendedCode"}, {"linearDecode"}, {"upcEanSecurityLevel"}};
inline constexpr K code39Lr[] = {
    {"enable"}, {"trioptic"}, {"code39ToCode32"}, {"code32Prefix"}, {"checkDigitVerification"},
    {"transmitCheckDigit"}, {"fullASCII"}, {"length1"}, {"length2"}};
inline constexpr K code128Lr[] = {
    {"enable"}, {"uccEan128"}, {"isbt128"}, {"enableIsbtConcatenation"},
    {"isbtConcatenationRedundancy"}};
inline constexpr K lengths[] = {{"enable"}, {"length1"}, {"length2"}};
inline constexpr K code11[] = {
    {"enable"}, {"checkDigitVerification"}, {"transmitCheckDigit"}, {"length1"}, {"length2"}};
inline constexpr K interleaved25Lr[] = {
    {"enable"}, {"length1"}, {"length2"}, {"checkDigitVerification"}, {"transmitCheckDigit"},
    {"convertToEAN13"}};
inline constexpr K matrix25_2D[] = {
    {"enable"}, {"length1"}, {"length2"}, {"redundancy"}, {"checkDigitVerification"},
    {"transmitCheckDigit"}};
inline constexpr K codabarLr[] = {
    {"enable"}, {"length1"}, {"length2"}, {"clsiEditing"}, {"notisEditing"}};
inline constexpr K msiLr[] = {
    {"enable"}, {"length1"}, {"length2"}, {"checkDigitVerification"}, {"transmitCheckDigit"},
    {"checkDigitAlgorithm"}};
inline constexpr K postal2D[] = {
    {"usPostnet"}, {"usPlanet"}, {"ukPostal"}, {"transmitUKcheckDigit"}, {"japanPostal"},
    {"australianPostal"}, {"dutchPostal"}, {"transmitUScheckDigit"}};
inline constexpr K rssLr[] = {{"rss14"}, {"rssUmited"}, {"rssExpanded"}, {"convertToUPC_EAN"}};
inline constexpr K composite2D[] = {
    {"cc_c"}, {"cc_ab"}, {"tlc39"}, {"upcMode"}, {"beepMode"}, {"uccEAN128EmulationMode"}};
inline constexpr K symbologies2DFull[] = {
    {"pdf417"}, {"microPDF417"}, {"code128Emulation"}, {"dataMatrix"}, {"dataMatrixInverse"},
    {"decodeMirrorImage"}, {"maxiCode"}, {"qrCode"}, {"qrCodeInverse"}, {"microQR"}, {"azTech"},
    {"azTechInverse"}};
inline constexpr K symbologies2DShort[] = {
    {"pdf417"}, {"microPDF417"}, {"code128Emulation"}, {"dataMatrix"}, {"maxiCode"}, {"qrCode"}};
inline constexpr K security2D[] = {{"redundancy"}, {"securityLevel"}, {"interCharGapSize"}};
inline constexpr K macroPdf2D[] = {{"macroPDFTransmit"}, {"controlHeader"}, {"escapeChar"}};
inline constexpr K misc[] = {
    {"transmitCodeIdChar"}, {"prefixValue"}, {"suffixValue1"}, {"suffixValue2"},
    {"scanDataFormat"}, {"sendNoReadMessage"}};
// clang-format on
}  // namespace section_keys

inline constexpr std::size_t kGeneralKeyCount = std::size(section_keys::general);
inline constexpr std::size_t kRfidKeyCount = std::size(section_keys::rfid);

// The program's own settings (AppSettings).
inline constexpr SectionDef kGeneral{"General", section_keys::general};
inline constexpr SectionDef kRfid{"RFID", section_keys::rfid};

// The reader sections: has-flags and enableBarcode, and the reader settings the engine holds.
inline constexpr SectionDef kReaderCcd{"Barcode Reader CCD/Laser", section_keys::readerCcd};
inline constexpr SectionDef kReader2D{"Barcode Reader 2D", section_keys::reader2D};
inline constexpr SectionDef kReader1DLr{"Barcode Reader 1D_LR", section_keys::reader1DLr};
inline constexpr SectionDef kImage2D{"Image 2D", section_keys::image2D};

// Symbologies of the CCD/Laser engine (engine type 2).
inline constexpr SectionDef kCodabarCcd{"CodaBar CCD/Laser", section_keys::codabarCcd};
inline constexpr SectionDef kIndustrial25Ccd{"Industrial25 CCD/Laser", section_keys::twoOfFiveCcd};
inline constexpr SectionDef kInterleaved25Ccd{"Interleaved25 CCD/Laser",
                                              section_keys::twoOfFiveCcd};
inline constexpr SectionDef kMatrix25Ccd{"Matrix25 CCD/Laser", section_keys::twoOfFiveCcd};
inline constexpr SectionDef kCode39Ccd{"Code39 CCD/Laser", section_keys::code39Ccd};
inline constexpr SectionDef kCode93Ccd{"Code93 CCD/Laser", section_keys::enableOnly};
inline constexpr SectionDef kEan128Ccd{"Ean128 CCD/Laser", section_keys::ean128Ccd};
inline constexpr SectionDef kIsbt128Ccd{"ISBT128 CCD/Laser", section_keys::enableOnly};
inline constexpr SectionDef kCode128Ccd{"Code128 CCD/Laser", section_keys::enableOnly};
inline constexpr SectionDef kPharmacodeCcd{"Pharmacode CCD/Laser", section_keys::pharmacodeCcd};
inline constexpr SectionDef kMsiCcd{"MSI CCD/Laser", section_keys::msiCcd};
inline constexpr SectionDef kNegativeCcd{"Negative barcode CCD/Laser", section_keys::enableOnly};
inline constexpr SectionDef kPlesseyCcd{"Plessey CCD/Laser", section_keys::plesseyCcd};
inline constexpr SectionDef kRssCcd{"RSS CCD/Laser", section_keys::rssCcd};
inline constexpr SectionDef kTelepenCcd{"Telepen CCD/Laser", section_keys::telepenCcd};
inline constexpr SectionDef kEan8Ccd{"EAN-8 CCD/Laser", section_keys::ean8Ccd};
inline constexpr SectionDef kEan13UpcACcd{"EAN-13,UPC-A CCD/Laser", section_keys::ean13UpcACcd};
inline constexpr SectionDef kGtinCcd{"GTIN CCD/Laser", section_keys::enableOnly};
inline constexpr SectionDef kUpcECcd{"UPC-E CCD/Laser", section_keys::upcECcd};

// Symbologies of the 2D imagers (types 3, 8) and 1D lasers (types 4, 9). The suffix says which
// engines a section serves: "2D/1D_LR" all four, "2D" the imagers ("Code11 2D" also type 9).
inline constexpr SectionDef kUpcLr{"UPC 2D/1D_LR", section_keys::upcLr};
inline constexpr SectionDef kEanJanLr{"EAN,JAN 2D/1D_LR", section_keys::eanJanLr};
inline constexpr SectionDef kCode39Lr{"Code39 2D/1D_LR", section_keys::code39Lr};
inline constexpr SectionDef kCode128Lr{"Code128 2D/1D_LR", section_keys::code128Lr};
inline constexpr SectionDef kChinese25{"Chinese 2 Of 5", section_keys::enableOnly};
inline constexpr SectionDef kCode93Lr{"Code93 2D/1D_LR", section_keys::lengths};
inline constexpr SectionDef kCode11_2D{"Code11 2D", section_keys::code11};
inline constexpr SectionDef kInterleaved25Lr{"Interleaved25 2D/1D_LR",
                                             section_keys::interleaved25Lr};
inline constexpr SectionDef kDiscrete25Lr{"Discrete25 2D/1D_LR", section_keys::lengths};
inline constexpr SectionDef kMatrix25_2D{"Matrix25 2D", section_keys::matrix25_2D};
inline constexpr SectionDef kCodabarLr{"Codabar 2D/1D_LR", section_keys::codabarLr};
inline constexpr SectionDef kMsiLr{"MSI 2D/1D_LR", section_keys::msiLr};
inline constexpr SectionDef kPostal2D{"PostalCode 2D", section_keys::postal2D};
inline constexpr SectionDef kRssLr{"RSS 2D/1D_LR", section_keys::rssLr};
inline constexpr SectionDef kComposite2D{"Composite 2D", section_keys::composite2D};
// Two views of one section: type 3 uses the short one; type 8 uses both, the full one second so
// that its values win for the six keys they share.
inline constexpr SectionDef kSymbologies2DShort{"2D Symbologies", section_keys::symbologies2DShort};
inline constexpr SectionDef kSymbologies2DFull{"2D Symbologies", section_keys::symbologies2DFull};
inline constexpr SectionDef kSecurity2D{"Symbology security level, 2D", section_keys::security2D};
inline constexpr SectionDef kMacroPdf2D{"MacroPDF 2D", section_keys::macroPdf2D};
inline constexpr SectionDef kMiscLr{"Miscellaneous Option 2D/1D_LR", section_keys::misc};

// Every section above, for code that walks them all.
// clang-format off
inline constexpr const SectionDef* kAllSections[] = {
    &kGeneral, &kRfid, &kReaderCcd, &kReader2D, &kReader1DLr, &kImage2D, &kCodabarCcd,
    &kIndustrial25Ccd, &kInterleaved25Ccd, &kMatrix25Ccd, &kCode39Ccd, &kCode93Ccd, &kEan128Ccd,
    &kIsbt128Ccd, &kCode128Ccd, &kPharmacodeCcd, &kMsiCcd, &kNegativeCcd, &kPlesseyCcd, &kRssCcd,
    &kTelepenCcd, &kEan8Ccd, &kEan13UpcACcd, &kGtinCcd, &kUpcECcd, &kUpcLr, &kEanJanLr, &kCode39Lr,
    &kCode128Lr, &kChinese25, &kCode93Lr, &kCode11_2D, &kInterleaved25Lr, &kDiscrete25Lr,
    &kMatrix25_2D, &kCodabarLr, &kMsiLr, &kPostal2D, &kRssLr, &kComposite2D, &kSymbologies2DShort,
    &kSymbologies2DFull, &kSecurity2D, &kMacroPdf2D, &kMiscLr,
};
// clang-format on

// One key of one section, found when compiled: the engine command tables, the plans and the
// default sets name keys through it, so a key a section lacks is a build error, not a setting
// silently dropped.
struct KeyRef {
    const SectionDef* section = nullptr;
    std::uint8_t index = 0;

    constexpr bool isSet() const { return section != nullptr; }
    constexpr std::string_view name() const { return section->keys[index].name; }
    constexpr bool in(const SectionDef& s) const { return section == &s; }
};

namespace detail {
// Not constexpr: reaching it while compiling a key lookup stops the build.
inline void keyMissingFromSection() {}
}  // namespace detail

consteval KeyRef key(const SectionDef& section, std::string_view name) {
    for (std::size_t i = 0; i < section.keys.size(); ++i) {
        if (section.keys[i].name == name) {
            return {&section, static_cast<std::uint8_t>(i)};
        }
    }
    detail::keyMissingFromSection();
    return {};
}

// One optional reference to a setting: an integer, a text, or absent.
class FieldRef {
  public:
    constexpr FieldRef() = default;
    constexpr FieldRef(std::nullptr_t) {}                          // NOLINT: absent
    constexpr FieldRef(std::int32_t* number) : number_(number) {}  // NOLINT
    constexpr FieldRef(ByteString* text) : text_(text) {}          // NOLINT

    std::int32_t* number() const { return number_; }
    ByteString* text() const { return text_; }

  private:
    std::int32_t* number_ = nullptr;
    ByteString* text_ = nullptr;
};

// The accessor of any section. refs holds one reference per key in the section's order; fewer
// leave the remaining keys absent, and references beyond the section's keys are ignored.
std::int32_t accessSection(IniStore& store, const SectionDef& section, int direction,
                           std::span<const FieldRef> refs);
// The same for integer references only, the form the engine setting commands take.
std::int32_t accessSection(IniStore& store, const SectionDef& section, int direction,
                           std::span<std::int32_t* const> refs);

namespace detail {
template <typename Ref>
constexpr bool refFits(KeyKind kind) {
    if constexpr (std::is_same_v<Ref, std::nullptr_t>) {
        return true;
    } else if constexpr (std::is_same_v<Ref, std::int32_t*>) {
        return kind == KeyKind::Int;
    } else if constexpr (std::is_same_v<Ref, ByteString*>) {
        return kind == KeyKind::Text;
    } else {
        return false;
    }
}

template <const SectionDef& Section, typename... Refs, std::size_t... I>
constexpr bool refsFit(std::index_sequence<I...>) {
    return (refFits<Refs>(Section.keys[I].kind) && ...);
}
}  // namespace detail

// The accessor of one section, checked when compiled: at most one reference per key, each an
// std::int32_t* for an integer key, a ByteString* for a text key, or nullptr.
template <const SectionDef& Section, typename... Refs>
std::int32_t accessSection(IniStore& store, int direction, Refs... refs) {
    static_assert(sizeof...(Refs) <= Section.keys.size(), "more references than keys");
    static_assert(detail::refsFit<Section, Refs...>(std::index_sequence_for<Refs...>{}),
                  "a reference does not fit the kind of its key");
    const std::array<FieldRef, sizeof...(Refs)> list{FieldRef(refs)...};
    return accessSection(store, Section, direction, std::span<const FieldRef>(list));
}

}  // namespace vandora
