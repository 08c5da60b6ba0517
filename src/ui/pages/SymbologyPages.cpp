#include "ui/pages/SymbologyPages.h"

#include <algorithm>

#include "config/SettingAccess.h"
#include "config/SettingSections.h"
#include "config/SettingsTransfer.h"
#include "ui/pages/FieldPage.h"

namespace vandora::ui {

namespace {

using T = EngineType;
const TypeSet k2D = pageFamily(PageFamily::Imager2D);
const TypeSet kLr = pageFamily(PageFamily::Laser1D);
// Every symbology's switch.
constexpr std::string_view kEnableKey = "enable";

// clang-format off
const std::vector<std::string> kEnableAddons{"*Ignore Addons", "Decode only with Addons", "Auto-discriminate"};
const std::vector<std::string> kGapSizes{"*Normal intercharacter gaps", "Large intercharacter gaps"};
const std::vector<std::string> kInverse{"*Regular Only", "Inverse Only", "Autodetect"};
const std::vector<std::string> kSecurity{"0", "1", "*2", "3"};
// clang-format on

// The intercharacter gap: 6 normal, 10 large.
int gapIndex(int value, int /*count*/) {
    return value == 10 ? 1 : 0;
}
int gapValue(int index) {
    return index == 1 ? 10 : 6;
}
// The picture format: 1 JPEG, 3 BMP.
int formatIndex(int value, int /*count*/) {
    return value == 3 ? 1 : 0;
}
int formatValue(int index) {
    return index == 1 ? 3 : 1;
}
// Exposure in steps of 5 ms from 5 ms.
int fiveMsIndex(int value, int count) {
    return sameIndex(value / 5 - 1, count);
}
int fiveMsValue(int index) {
    return (index + 1) * 5;
}
// Exposure in steps of 1 ms from 1 ms.
int oneMsIndex(int value, int count) {
    return sameIndex(value - 1, count);
}
int oneMsValue(int index) {
    return index + 1;
}

std::vector<std::string> exposureFrom1Ms() {
    std::vector<std::string> items{"*1 ms"};
    for (int ms = 2; ms <= 10; ++ms) {
        items.push_back(std::to_string(ms) + " ms");
    }
    return items;
}

Field gapList() {
    return in(
        only(choice("Intercharacter gap size:", "interCharGapSize", kGapSizes, gapIndex, gapValue),
             k2D),
        kSecurity2D);
}

Field pattern(int marked) {
    const char* const names[] = {"use Industrial 25", "use Interleaved 25", "use Matrix 25"};
    std::vector<std::string> items;
    items.reserve(3);
    for (int i = 0; i < 3; ++i) {
        items.push_back(std::string(i == marked ? "*" : "") + names[i]);
    }
    return choice("Start/stop pattern", "startStopPattern", std::move(items));
}

Field ccdLengths() {
    return lengths(1, 127, "isMaxMinLengthFormat");
}
Field packetLengths() {
    return lengths(0, 255);
}

Field preambles() {
    Field f{FieldKind::Preamble,
            {},
            "preambleUPC_A",
            {"=== Select UPC-A preamble ====", "=== Select UPC-E preamble ====",
             "=== Select UPC-E1 preamble ===="}};
    f.key2 = "preambleUPC_E";
    f.key3 = "preambleUPC_E1";
    return f;
}

Field browse() {
    Field f{FieldKind::Browse, {}, "imagePath"};
    f.section = &kGeneral;
    return f;
}

// The pages of every engine kind. A page's fields may differ by engine type within its kind.
// clang-format off
const std::vector<PageTable>& pageTables() {
    static const std::vector<PageTable> tables = {
        // CCD/Laser
        {"Codabar", &kCodabarCcd, {
            choice("Start/stop character:", "startStopChar", {"abcd/abcd", "abcd/tn*e", "ABCD/ABCD", "ABCD/TN*E"}),
            check("Transmit start/stop character", "transmitStartStopChar")}},
        {"GS1-128", &kEan128Ccd, {
            check("Transmit code ID", "wantCodeId"),
            Field{FieldKind::Char, "Field separator:", "ean128FieldSeparator"}}},
        {"Code 39", &kCode39Ccd, {
            check("Verify check digit", "checkDigitVerification"), check("Transmit check digit", "transmitCheckDigit"),
            check("Full ASCII", "fullASCII"), check("Transmit start/stop character", "transmitStartStopChar")}},
        {"EAN-13/UPC-A", &kEan13UpcACcd, {
            check("EAN-13/UPC-A addon 2", "enableAddon2"), check("EAN-13/UPC-A addon 5", "enableAddon5"),
            check("ISBN conversion", "enableISBN"), check("ISSN conversion", "enableISSN"),
            check("Transmit EAN-13 check digit", "transmitEan13CheckDigit"),
            check("Convert UPC-A to EAN-13", "convertToEAN13"),
            check("Transmit UPC-A check digit", "transmitUpcACheckDigit"),
            check("Transmit system number", "transmitSystemNumber"),
            in(check("Enable GTIN for EAN-13", "enable"), kGtinCcd)}},
        {"EAN-8", &kEan8Ccd, {
            check("EAN-8 Addon 2", "enableAddon2"), check("EAN-8 Addon 5", "enableAddon5"),
            check("Transmit check digit", "transmitCheckDigit"), check("Convert to EAN-13", "convertToEAN13")}},
        {"Industrial 25", &kIndustrial25Ccd, {
            check("Verify check digit", "checkDigitVerification"), check("Transmit check digit", "transmitCheckDigit"),
            pattern(0), ccdLengths()}},
        {"Interleaved 25", &kInterleaved25Ccd, {
            check("Verify check digit", "checkDigitVerification"), check("Transmit check digit", "transmitCheckDigit"),
            pattern(1), ccdLengths()}},
        {"Matrix 25", &kMatrix25Ccd, {
            check("Verify check digit", "checkDigitVerification"), check("Transmit check digit", "transmitCheckDigit"),
            pattern(2), ccdLengths()}},
        {"MSI", &kMsiCcd, {
            choice("Verify check digit:", "checkDigitVerification",
                   {"single modulo 10", "double modulo 10", "modulo 11 and modulo 10"}),
            choice("Transmit check digit:", "transmitCheckDigit",
                   {"last check digit is NOT transmitted", "both check digits are transmitted",
                    "both check digits are NOT transmitted"}),
            ccdLengths()}},
        {"I/F Pharma.", &kPharmacodeCcd, {
            check("Enable Italian Pharmacode", "enable"), check("Transmit check digit", "transmitCheckDigit"),
            check("Enable French Pharmacode", "enableCIP39"), check("Transmit check digit", "transmitCIP39CheckDigit")}},
        {"Plessey", &kPlesseyCcd, {
            check("Transmit check digit", "transmitCheckDigit"), check("Convert to UK Plessey", "convertToUKplessey")}},
        {"GS1 DataBar", &kRssCcd, {
            check("GS1 DataBar-14", "enableRSS14"), check("Transmit code ID", "transmitRSS14CodeID"),
            check("Transmit Application ID", "transmitRSS14ApplicationID"),
            check("Transmit check digit", "transmitRSS14CheckDigit"),
            check("GS1 DataBar Limited", "enableLimited"), check("Transmit code ID", "transmitRSSCodeID"),
            check("Transmit Application ID", "transmitRSSApplicationID"),
            check("Transmit check digit", "transmitRSSCheckDigit"),
            check("GS1 DataBar Expanded", "enableExpanded"), check("Transmit code ID", "transmitRSSExpandedCodeID")}},
        {"Telepen", &kTelepenCcd, {check("Enable original Telepen(Numeric)", "enableAIM")}},
        {"UPC-E", &kUpcECcd, {
            choice("", "enableUpcE1", {"*enable UPC-E0", "enable UPC-E1/UPC-E0"}),
            check("Addon 2", "enableAddon2"), check("Addon 5", "enableAddon5"),
            check("Convert to UPC-A", "convertToUpcA"), check("Transmit check digit", "transmitCheckDigit"),
            check("Transmit system number", "transmitSystemNumber")}},

        // 2D imagers and 1D long-range lasers
        {"Codabar", &kCodabarLr, {
            check("CLSI editing", "clsiEditing"), check("NOTIS editing", "notisEditing"), packetLengths(),
            gapList()}},
        {"Code 11", &kCode11_2D, {
            choice("Check digit verification:", "checkDigitVerification",
                   {"*disable", "one check digit", "two check digits"}),
            check("Transmit check digit", "transmitCheckDigit"), packetLengths()}},
        {"Code 128", &kCode128Lr, {
            only(check("GS1-128", "uccEan128"), k2D), only(check("UCC/EAN-128", "uccEan128"), kLr),
            check("ISBT 128", "isbt128"),
            only(choice("Concatenation:", "enableIsbtConcatenation", {"Disable", "Enable", "Auto-discriminate"}), k2D),
            only(number("Concatenation Redundancy:", "isbtConcatenationRedundancy", 0, 255), k2D)}},
        {"Code 39", &kCode39Lr, {
            check("Trioptic", "trioptic"), check("Convert Code 39 to Code 32", "code39ToCode32"),
            check("Code 32 prefix", "code32Prefix"), check("Check digit verification", "checkDigitVerification"),
            check("Transmit check digit", "transmitCheckDigit"), check("Full ASCII conversion", "fullASCII"),
            packetLengths(), gapList()}},
        {"Code 93", &kCode93Lr, {packetLengths()}},
        {"Composite Code", &kComposite2D, {
            check("Enable composite CC-C", "cc_c"), check("Enable composite CC-A/B", "cc_ab"),
            check("Enable composite TLC-39", "tlc39"),
            choice("UPC composite mode :", "upcMode",
                   {"UPC never linked", "*UPC always linked", "autodiscriminate UPC composites"}),
            check("UCC/EAN Code 128 emulation mode", "uccEAN128EmulationMode")}},
        {"Industrial 25", &kDiscrete25Lr, {packetLengths()}},
        {"EAN/JAN", &kEanJanLr, {
            check("Enable EAN-8", "enableEAN8_JAN8"), check("Enable EAN-13", "enableEAN13_JAN13"),
            check("Bookland EAN", "enableBooklandEAN"),
            choice("Enable Addons:", "UPC_EAN_JAN_decodeSupplementals", kEnableAddons),
            number("Addons redundancy", "UPC_EAN_JAN_supplementalsRedundancy", 0, 255),
            check("EAN-8 extend", "EAN8_JAN8_extend"), check("UCC coupon extended code", "uccCouponExtendedCode"),
            only(choice("EAN security level:", "upcEanSecurityLevel", kSecurity), kLr)}},
        {"Interleaved 25", &kInterleaved25Lr, {
            choice("Check digit verification:", "checkDigitVerification",
                   {"*disable", "USS check digit", "OPCC check digit"}),
            check("Transmit check digit", "transmitCheckDigit"),
            check("Convert Interleaved 25 to EAN-13", "convertToEAN13"), packetLengths()}},
        {"Macro PDF", &kMacroPdf2D, {
            group("Macro PDF Transmit/Decode Mode:", 1),
            choice("", "macroPDFTransmit",
                   {"buffer all & transmit when complete", "transmit any symbol in set", "*passthrough all symbols"}),
            choice("Escape characters:", "escapeChar", {"*none", "GLI protocol"}),
            note("(CAUTION: When printing, keep each Macro PDF sequence separate, as each has a unique "
                 "identifier. Do not mix symbols of several sequences.)")}},
        {"Miscellaneous Options", &kMiscLr, {
            choice("Transmit code ID character :", "transmitCodeIdChar", {"*none", "AIM code ID character"})}},
        {"MSI", &kMsiLr, {
            choice("Check digit verification:", "checkDigitVerification",
                   {"*one MSI check digit", "two MSI check digit"}),
            check("Transmit check digit", "transmitCheckDigit"),
            choice("Check digit algorithm:", "checkDigitAlgorithm", {"MOD 10/MOD 11", "*MOD 10/MOD 10"}),
            packetLengths()}},
        {"Postal Code", &kPostal2D, {
            check("US Postnet", "usPostnet"), check("Transmit US check digit", "transmitUScheckDigit"),
            check("US Planet", "usPlanet"), check("UK Postal", "ukPostal"),
            check("Transmit UK check digit", "transmitUKcheckDigit"), check("Japan Postal", "japanPostal"),
            check("Australian Postal", "australianPostal"), check("Dutch Postal", "dutchPostal")}},
        {"GS1 DataBar", &kRssLr, {
            check("GS1 DataBar-14", "rss14"), check("GS1 DataBar Limited", "rssUmited"),
            check("GS1 DataBar Expanded", "rssExpanded"), check("Convert GS1 DataBar To UPC/EAN", "convertToUPC_EAN")}},
        {"2D Symbologies", &kSymbologies2DShort, {
            check("PDF 417", "pdf417"), check("Micro PDF417", "microPDF417"),
            check("Code 128 emulation", "code128Emulation"), check("Data Matrix", "dataMatrix"),
            check("Maxicode", "maxiCode"), check("QR code", "qrCode")}, false, {T::Imager2D}},
        {"2D Symbologies", &kSymbologies2DFull, {
            check("PDF 417", "pdf417"), check("Micro PDF417", "microPDF417"),
            check("Code 128 emulation", "code128Emulation"), check("Data Matrix", "dataMatrix"),
            choice("Inverse options:", "dataMatrixInverse", kInverse), check("Maxicode", "maxiCode"),
            check("QR Code", "qrCode"), choice("Inverse options:", "qrCodeInverse", kInverse),
            check("MicroQR", "microQR"), check("AzTec", "azTech"),
            choice("Inverse options:", "azTechInverse", kInverse)}, false, {T::Imager2D4507}},
        {"UPC", &kUpcLr, {
            check("UPC-A", "enableUPC_A"), check("UPC-E", "enableUPC_E"), check("UPC-E1", "enableUPC_E1"),
            choice("Enable Addons:", "UPC_EAN_JAN_decodeSupplementals", kEnableAddons),
            number("Addons redundancy", "UPC_EAN_JAN_supplementalsRedundancy", 0, 255),
            check("UPC-A check digit", "transmitUPC_AcheckDigit"), check("UPC-E check digit", "transmitUPC_EcheckDigit"),
            check("UPC-E1 check digit", "transmitUPC_E1checkDigit"),
            only(check("Convert UPC-E0 to A", "convertUPC_EtoA"), k2D),
            only(check("Convert UPC-E1 to A", "convertUPC_E1ToA"), k2D),
            only(check("Convert E0 to A", "convertUPC_EtoA"), kLr),
            only(check("Convert E1 to A", "convertUPC_E1ToA"), kLr),
            check("UCC coupon extended code", "uccCouponExtendedCode"), preambles(),
            only(choice("UPC security level:", "upcEanSecurityLevel", kSecurity), kLr)}},
        {"Image Capture", &kImage2D, {
            check("Image capture illumination", "imageIllumination"),
            check("Image capture autoexposure", "imageAutoexposure"),
            number("Select gain:", "gain", 0, 255),
            only(choice("Exposure time:", "exposureTime", {"5 ms", "*10 ms", "15 ms", "20 ms", "25 ms", "30 ms"},
                        fiveMsIndex, fiveMsValue), {T::Imager2D}),
            only(choice("Exposure time:", "exposureTime", exposureFrom1Ms(), oneMsIndex, oneMsValue),
                 {T::Imager2D4507}),
            check("Snapshot mode aim pattern", "snapshotAimPattern"),
            only(choice("Image resolution:", "imageResolution", {"*640_480", "320_240", "212_160", "160_120"}),
                 {T::Imager2D}),
            only(choice("Image resolution:", "imageResolution", {"*752_480", "376_240", "188_120"}),
                 {T::Imager2D4507}),
            choice("Image format:", "imageFileFormat", {"*JPEG", "BMP"}, formatIndex, formatValue),
            check("Optimized for JPEG quality", "jpgImageOptions"),
            number("Select JPEG quality:", "qualityValue", 5, 100),
            number("Select JPEG size:", "jpgSizeValue", 5, 150),
            choice("Bits per pixel:", "bitsPerPixel", {"1", "4", "*8"}),
            browse()}},
        {"Matrix 25", &kMatrix25_2D, {
            check("Transmit check digit", "transmitCheckDigit"),
            check("Check digit verification:", "checkDigitVerification"), check("Redundency", "redundancy"),
            packetLengths()}},
    };
    return tables;
}
// clang-format on

const PageTable* pageNamed(std::string_view title, const SectionDef& section) {
    for (const PageTable& table : pageTables()) {
        if (table.title == title && table.section == &section) {
            return &table;
        }
    }
    return nullptr;
}

// One line of the "Symbologies" tab: an enable box, a button opening a page, or both.
struct Line {
    std::string name;  // the button's text, or the check box's when there is no page
    int box = 0;       // the enable box (0: none)
    int button = 0;    // the button (0: no page)
    const SectionDef* section = nullptr;  // holds the enable, and the page's fields
    std::string_view title;               // the page the button opens
    TypeSet types = TypeSet::every();
};

Line boxed(std::string name, int boxId, int button, const SectionDef& section,
           std::string_view title) {
    return {std::move(name), boxId, button, &section, title, TypeSet::every()};
}
Line button(std::string name, int button, const SectionDef& section, std::string_view title) {
    return {std::move(name), 0, button, &section, title, TypeSet::every()};
}
Line checkOnly(std::string name, int boxId, const SectionDef& section) {
    return {std::move(name), boxId, 0, &section, {}, TypeSet::every()};
}
Line only(Line line, TypeSet types) {
    line.types = types;
    return line;
}

struct TabKind {
    TypeSet types;
    std::vector<Line> lines;
    // Every line is disabled while the engine reads by itself (its continuous scan modes).
    const SectionDef* lockedBy = nullptr;
};

// clang-format off
const std::vector<TabKind>& tabKinds() {
    static const std::vector<TabKind> kinds = {
        {pageFamily(PageFamily::CcdLaser), {
            boxed("Codabar", 14, 65, kCodabarCcd, "Codabar"), checkOnly("Code 128", 15, kCode128Ccd),
            boxed("Code 39", 16, 67, kCode39Ccd, "Code 39"), checkOnly("Code 93", 17, kCode93Ccd),
            boxed("EAN-13/UPC-A", 18, 69, kEan13UpcACcd, "EAN-13/UPC-A"), boxed("EAN-8", 19, 70, kEan8Ccd, "EAN-8"),
            boxed("Industrial 25", 20, 71, kIndustrial25Ccd, "Industrial 25"),
            boxed("Matrix 25", 21, 72, kMatrix25Ccd, "Matrix 25"),
            boxed("Interleaved 25", 22, 73, kInterleaved25Ccd, "Interleaved 25"), boxed("MSI", 23, 74, kMsiCcd, "MSI"),
            checkOnly("Negative barcode", 24, kNegativeCcd), button("I/F Pharma.", 76, kPharmacodeCcd, "I/F Pharma."),
            boxed("Plessey", 26, 77, kPlesseyCcd, "Plessey"), boxed("GS1-128", 87, 81, kEan128Ccd, "GS1-128"),
            boxed("Telepen", 28, 79, kTelepenCcd, "Telepen"), boxed("UPC-E", 29, 80, kUpcECcd, "UPC-E"),
            button("GS1 DataBar", 78, kRssCcd, "GS1 DataBar"), checkOnly("ISBT 128", 107, kIsbt128Ccd)},
         &kReaderCcd},
        {kLr, {
            boxed("Codabar", 14, 65, kCodabarLr, "Codabar"), boxed("Code 128", 15, 66, kCode128Lr, "Code 128"),
            boxed("Code 39", 16, 67, kCode39Lr, "Code 39"), boxed("Code 93", 17, 68, kCode93Lr, "Code 93"),
            boxed("Industrial 25", 20, 71, kDiscrete25Lr, "Industrial 25"), button("EAN/JAN", 70, kEanJanLr, "EAN/JAN"),
            button("UPC", 69, kUpcLr, "UPC"), boxed("MSI", 22, 73, kMsiLr, "MSI"),
            boxed("Interleaved 25", 23, 74, kInterleaved25Lr, "Interleaved 25"),
            button("Misc.", 80, kMiscLr, "Miscellaneous Options"), button("GS1 DataBar", 78, kRssLr, "GS1 DataBar"),
            boxed("Code 11", 21, 72, kCode11_2D, "Code 11"),
            only(checkOnly("Chinese 25", 110, kChinese25), {T::Laser1D955})}},
        {k2D, {
            boxed("Codabar", 14, 65, kCodabarLr, "Codabar"), boxed("Code 128", 15, 66, kCode128Lr, "Code 128"),
            boxed("Code 39", 16, 67, kCode39Lr, "Code 39"), boxed("Code 93", 17, 68, kCode93Lr, "Code 93"),
            boxed("Industrial 25", 20, 71, kDiscrete25Lr, "Industrial 25"), button("EAN/JAN", 70, kEanJanLr, "EAN/JAN"),
            button("UPC", 69, kUpcLr, "UPC"), boxed("Code 11", 21, 72, kCode11_2D, "Code 11"),
            boxed("Interleaved 25", 22, 73, kInterleaved25Lr, "Interleaved 25"), boxed("MSI", 23, 74, kMsiLr, "MSI"),
            button("GS1 DataBar", 78, kRssLr, "GS1 DataBar"), button("Composite", 76, kComposite2D, "Composite Code"),
            only(button("2D symbologies", 77, kSymbologies2DShort, "2D Symbologies"), {T::Imager2D}),
            only(button("2D symbologies", 77, kSymbologies2DFull, "2D Symbologies"), {T::Imager2D4507}),
            button("Postal", 75, kPostal2D, "Postal Code"), button("Macro PDF", 79, kMacroPdf2D, "Macro PDF"),
            button("Misc.", 80, kMiscLr, "Miscellaneous Options"),
            boxed("Image Capture", 87, 81, kImage2D, "Image Capture"),
            only(boxed("Matrix 25", 107, 108, kMatrix25_2D, "Matrix 25"), {T::Imager2D4507}),
            only(checkOnly("Chinese 25", 110, kChinese25), {T::Imager2D4507})}},
    };
    return kinds;
}
// clang-format on

// The lines of the terminal's engine; a terminal without a known barcode engine gets the
// CCD/Laser lines, all disabled.
std::vector<Line> linesFor(EngineType engine, const SectionDef** lockedBy) {
    for (const TabKind& kind : tabKinds()) {
        if (kind.types.has(engine)) {
            std::vector<Line> lines;
            for (const Line& line : kind.lines) {
                if (line.types.has(engine)) {
                    lines.push_back(line);
                }
            }
            if (lockedBy != nullptr) {
                *lockedBy = kind.lockedBy;
            }
            return lines;
        }
    }
    return linesFor(EngineType::CcdLaser, lockedBy);
}

bool present(ReaderService& service, const SectionDef& section) {
    return findPresentSection(service.readers(), section.name) == &section;
}

class SymbologiesTab final : public Page {
  public:
    explicit SymbologiesTab(ReaderService& service) : Page("Symbologies"), service_(service) {
        lines_ = linesFor(service.readers().barcodeEngineType(), &lockedBy_);
        // Two columns of lines, as many rows as fit the tab.
        constexpr int kRows = 10;
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            const Line& line = lines_[i];
            int column = static_cast<int>(i) / kRows;
            int x = 8 + column * 156;
            int y = 8 + (static_cast<int>(i) % kRows) * 24;
            if (line.box != 0) {
                add({line.box,
                     ControlKind::Check,
                     line.button != 0 ? "" : line.name,
                     {x, y, line.button != 0 ? 18 : 148, 20}});
            }
            if (line.button != 0) {
                add({line.button, ControlKind::Button, line.name, {x + 20, y, 128, 20}});
            }
        }
        refresh();
    }

    void refresh() override {
        // The mode the engine last took; reading it back would race the engine's own reads.
        bool locked = lockedBy_ != nullptr && present(service_, *lockedBy_) &&
                      barcodeReadsBySelf(service_.readers());
        for (const Line& line : lines_) {
            bool usable = !locked && present(service_, *line.section);
            bool on = true;
            if (line.box != 0) {
                Control* box = findMutable(line.box);
                on = usable && enableOf(line) != 0;
                box->value = on ? 1 : 0;
                box->enabled = usable;
            }
            if (line.button != 0) {
                findMutable(line.button)->enabled = usable && on;
            }
        }
    }

  protected:
    Action changed(Control& control) override {
        for (const Line& line : lines_) {
            if (line.box != control.id) {
                continue;
            }
            SettingsContext context = service_.settingsContext();
            IniStore values;
            if (!readCurrent(context, *line.section, values)) {
                control.value = control.value != 0 ? 0 : 1;
                return {Action::Kind::Message, 0, "The reader did not answer."};
            }
            IniSection* at = values.findOrAddSection(ByteString::fromBytes(line.section->name));
            values.setInt(at, ByteString::fromBytes(kEnableKey), control.value);
            if (applySection(context, *line.section, values, service_.storeUpdate()) !=
                ApplyResult::Applied) {
                control.value = control.value != 0 ? 0 : 1;
                return {Action::Kind::Message, 0, "The reader did not take the setting."};
            }
            if (service_.storeUpdate()) {
                service_.saveSettings();
            }
            if (line.button != 0) {
                findMutable(line.button)->enabled = control.value != 0;
            }
            break;
        }
        return {};
    }

    Action pressed(Control& control) override {
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            if (lines_[i].button == control.id) {
                return {Action::Kind::OpenSymbologyPage, static_cast<int>(i), {}};
            }
        }
        return {};
    }

  private:
    std::int32_t enableOf(const Line& line) {
        IniStore values;
        SettingsContext context = service_.settingsContext();
        if (!readCurrent(context, *line.section, values)) {
            return 0;
        }
        return sectionInt(values, *line.section, kEnableKey);
    }

    ReaderService& service_;
    std::vector<Line> lines_;
    const SectionDef* lockedBy_ = nullptr;
};

}  // namespace

std::unique_ptr<Page> makeSymbologiesTab(ReaderService& service) {
    return std::make_unique<SymbologiesTab>(service);
}

std::unique_ptr<Page> makeSymbologyPage(ReaderService& service, int index) {
    std::vector<Line> lines = linesFor(service.readers().barcodeEngineType(), nullptr);
    if (index < 0 || static_cast<std::size_t>(index) >= lines.size()) {
        return nullptr;
    }
    const Line& line = lines[static_cast<std::size_t>(index)];
    const PageTable* table = line.button != 0 ? pageNamed(line.title, *line.section) : nullptr;
    if (table == nullptr || !present(service, *line.section)) {
        return nullptr;
    }
    return std::make_unique<FieldPage>(service, *table);
}

std::vector<int> symbologyPageIndexes(ReaderService& service) {
    std::vector<int> indexes;
    std::vector<Line> lines = linesFor(service.readers().barcodeEngineType(), nullptr);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].button != 0 && present(service, *lines[i].section)) {
            indexes.push_back(static_cast<int>(i));
        }
    }
    return indexes;
}

}  // namespace vandora::ui
