// SettingSections: the INI sections the program reads and writes, as data, and the one accessor
// that serves them all.
//
// Each section is a name and its keys in accessor order; the order is also the order in which a
// new section's keys are first written, so it shapes the file. Key names stay exactly as the file
// has always spelled them (other programs read them), odd ones included. The program's own
// sections and the reader sections are listed here; a symbology section takes its keys from the
// rows of its engine command (engines/CcdSettings.h, engines/PacketSettings.h).
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
#include "config/SectionDef.h"

namespace vandora {

inline constexpr int kDirectionRead = 'r';
inline constexpr int kDirectionWrite = 'w';

namespace section_keys {
using K = SectionKey;
constexpr KeyKind T = KeyKind::Text;

// clang-format off
inline constexpr K general[] = {
    {"goodReadBeepFileIdx"}, {"warningBeepFileIdx"}, {"vibrationTime"}, {"keyboardEmu"},
    {"windowMessage"}, {"windowEvent"}, {"autoEnter"}, {"autoEnterChar"}, {"prefixStr", T},
    {"suffixStr", T}, {"displayCodeType"}, {"displayCodeLength"}, {"displayUid"},
    {"displayUserData"}, {"delimiter"}, {"wantMaxWindow"}, {"enableLed"}, {"buzzerDuration"},
    {"buzzerFreq"}, {"imagePath", T}, {"interKeyDelay"}, {"terminatorDelay"}, {"unicodeEntry"}};
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

inline constexpr K symbologies2DFull[] = {
    {"pdf417"}, {"microPDF417"}, {"code128Emulation"}, {"dataMatrix"}, {"dataMatrixInverse"},
    {"decodeMirrorImage"}, {"maxiCode"}, {"qrCode"}, {"qrCodeInverse"}, {"microQR"}, {"azTech"},
    {"azTechInverse"}};
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

// The full view of "2D Symbologies" (type 8): its keys in the file's order, which is not its
// command's.
inline constexpr SectionDef kSymbologies2DFull{"2D Symbologies", section_keys::symbologies2DFull};

}  // namespace vandora

// The symbology sections: each holds the keys of its engine command's rows, so the keys are
// spelled once, next to what the engine does with them.
#include "config/engines/CcdSettings.h"     // IWYU pragma: export
#include "config/engines/PacketSettings.h"  // IWYU pragma: export

namespace vandora {

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
