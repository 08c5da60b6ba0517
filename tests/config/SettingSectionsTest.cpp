#include <set>
#include <string>

#include <gtest/gtest.h>

#include "config/AppSettings.h"
#include "config/IniTestUtil.h"
#include "config/SettingSections.h"

namespace vandora::testing {
namespace {

// ---- the three directions

struct DirectionCase {
    const char* label;
    int direction;
    bool sectionInFile;
    std::int32_t result;
    std::int32_t enable, length1, length2;  // fields after the call (all start at 7)
    const char* store;                      // render() of the store after the call
};

std::ostream& operator<<(std::ostream& out, const DirectionCase& c) {
    return out << c.label;
}

class SectionDirection : public ::testing::TestWithParam<DirectionCase> {};

TEST_P(SectionDirection, ReadsWritesOrDoesNothing) {
    const DirectionCase& c = GetParam();
    IniStore store;
    if (c.sectionInFile) {
        store = parsed(bytesOf("[Code93 2D/1D_LR]\r\nlength1=12\r\nenable=0\r\nother=x\r\n"));
    }
    std::int32_t enable = 7, length1 = 7, length2 = 7;
    EXPECT_EQ(accessSection<kCode93Lr>(store, c.direction, &enable, &length1, &length2), c.result);
    EXPECT_EQ(enable, c.enable);
    EXPECT_EQ(length1, c.length1);
    EXPECT_EQ(length2, c.length2);
    EXPECT_EQ(render(store), c.store);
}

const DirectionCase kDirectionCases[] = {
    {"read of a missing section fails and touches nothing", 'r', false, 0, 7, 7, 7, ""},
    {"read takes the keys present and leaves the others", 'r', true, 1, 0, 12, 7,
     "[code93 2d/1d_lr] length1=12 enable=0 other=x"},
    {"write creates the section with keys in accessor order", 'w', false, 1, 7, 7, 7,
     "[Code93 2D/1D_LR] enable=7 length1=7 length2=7"},
    {"write changes keys in place and keeps unknown ones", 'w', true, 1, 7, 7, 7,
     "[code93 2d/1d_lr] length1=7 enable=7 other=x length2=7"},
    {"other letter does nothing and succeeds", 'x', true, 1, 7, 7, 7,
     "[code93 2d/1d_lr] length1=12 enable=0 other=x"},
    {"capital R is not read", 'R', true, 1, 7, 7, 7,
     "[code93 2d/1d_lr] length1=12 enable=0 other=x"},
    {"capital W does not create a section", 'W', false, 1, 7, 7, 7, ""},
    {"direction beyond a byte is not cut to r", 0x100 + 'r', true, 1, 7, 7, 7,
     "[code93 2d/1d_lr] length1=12 enable=0 other=x"},
};

INSTANTIATE_TEST_SUITE_P(Cases, SectionDirection, ::testing::ValuesIn(kDirectionCases));

TEST(SectionAccessor, WritingWithEveryReferenceAbsentStillCreatesTheHeader) {
    IniStore store;
    EXPECT_EQ(accessSection<kCode39Lr>(store, 'w'), 1);
    EXPECT_EQ(store.fileBytes(), utf16File(u"\r\n[Code39 2D/1D_LR]\r\n"));
}

TEST(SectionAccessor, AbsentReferencesSkipTheirKeys) {
    IniStore store =
        parsed(bytesOf("[code39 2d/1d_lr]\r\nenable=1\r\ntrioptic=1\r\nlength2=9\r\n"));
    std::int32_t enable = 5, trioptic = 5, length2 = 5;
    ASSERT_EQ(accessSection<kCode39Lr>(store, 'r', &enable), 1);
    EXPECT_EQ(enable, 1);
    EXPECT_EQ(trioptic, 5);
    EXPECT_EQ(length2, 5);

    enable = 0;
    ASSERT_EQ(accessSection<kCode39Lr>(store, 'w', nullptr, nullptr, nullptr, nullptr, nullptr,
                                       nullptr, nullptr, nullptr, &length2),
              1);
    EXPECT_EQ(render(store), "[code39 2d/1d_lr] enable=1 trioptic=1 length2=5");
}

TEST(SectionAccessor, IntegerSpanFormMatchesTheEngineCommandArguments) {
    IniStore store;
    std::int32_t enable = 1, startStop = 2, transmit = 3;
    std::int32_t* args[] = {&enable, nullptr, &transmit};
    ASSERT_EQ(accessSection(store, kCodabarCcd, 'w', args), 1);
    EXPECT_EQ(render(store), "[CodaBar CCD/Laser] enable=1 transmitstartstopchar=3");
    enable = transmit = 0;
    std::int32_t* all[] = {&enable, &startStop, &transmit};
    ASSERT_EQ(accessSection(store, kCodabarCcd, 'r', all), 1);
    EXPECT_EQ(enable, 1);
    EXPECT_EQ(startStop, 2);
    EXPECT_EQ(transmit, 3);
}

TEST(SectionAccessor, BothFormsOf2DSymbologiesShareOneSection) {
    IniStore store;
    std::int32_t shortForm[6] = {1, 1, 1, 1, 1, 1};
    std::int32_t fullForm[12] = {2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2};
    std::int32_t* shortRefs[6];
    std::int32_t* fullRefs[12];
    for (int i = 0; i < 6; ++i) {
        shortRefs[i] = &shortForm[i];
    }
    for (int i = 0; i < 12; ++i) {
        fullRefs[i] = &fullForm[i];
    }
    accessSection(store, kSymbologies2DShort, 'w', shortRefs);
    accessSection(store, kSymbologies2DFull, 'w', fullRefs);
    ASSERT_EQ(store.sections().size(), 1u);
    EXPECT_EQ(render(store),
              "[2D Symbologies] pdf417=2 micropdf417=2 code128emulation=2 datamatrix=2 maxicode=2 "
              "qrcode=2 datamatrixinverse=2 decodemirrorimage=2 qrcodeinverse=2 microqr=2 "
              "aztech=2 aztechinverse=2");
}

// Every key of every section survives a write, a save to a file, a load and a read, with a
// value of its own: no two keys of a section collide, whatever their case.
TEST(SectionTable, EveryKeyRoundTripsThroughTheFile) {
    IniStore store;
    std::int32_t base = 100;
    std::vector<std::pair<const SectionDef*, std::vector<std::int32_t>>> written;
    for (const SectionDef* section : kAllSections) {
        if (section == &kSymbologies2DShort) {
            continue;  // a view of the full form's section
        }
        std::vector<std::int32_t> numbers(section->keys.size());
        std::vector<ByteString> texts(section->keys.size());
        std::vector<FieldRef> refs;
        for (std::size_t i = 0; i < numbers.size(); ++i) {
            numbers[i] = base++;
            texts[i].format("t%d", numbers[i]);
            refs.push_back(section->keys[i].kind == KeyKind::Int ? FieldRef(&numbers[i])
                                                                 : FieldRef(&texts[i]));
        }
        ASSERT_EQ(accessSection(store, *section, 'w', refs), 1);
        written.emplace_back(section, numbers);
    }
    ScratchFolder folder;
    ASSERT_EQ(store.save(folder.path("VandoraINI.txt")), 1);
    IniStore loaded;
    ASSERT_EQ(loaded.load(folder.path("VandoraINI.txt")), 1);
    EXPECT_EQ(loaded.sections().size(), written.size());

    for (const auto& [section, numbers] : written) {
        SCOPED_TRACE(std::string(section->name));
        EXPECT_EQ(loaded.findSection(ByteString::fromBytes(section->name))->entries().size(),
                  numbers.size());
        std::vector<std::int32_t> readNumbers(numbers.size(), -1);
        std::vector<ByteString> readTexts(numbers.size());
        std::vector<FieldRef> refs;
        for (std::size_t i = 0; i < numbers.size(); ++i) {
            refs.push_back(section->keys[i].kind == KeyKind::Int ? FieldRef(&readNumbers[i])
                                                                 : FieldRef(&readTexts[i]));
        }
        ASSERT_EQ(accessSection(loaded, *section, 'r', refs), 1);
        for (std::size_t i = 0; i < numbers.size(); ++i) {
            if (section->keys[i].kind == KeyKind::Int) {
                EXPECT_EQ(readNumbers[i], numbers[i]) << section->keys[i].name;
            } else {
                EXPECT_EQ(readTexts[i].narrow(), "t" + std::to_string(numbers[i]))
                    << section->keys[i].name;
            }
        }
    }
}

// The file's vocabulary is a contract with the other programs that read it: every section's name
// and its keys in accessor order (which is also the order a new section's keys are written in).
// The symbology sections take their keys from the engine command rows, so this pins what a change
// there would do to the file.
TEST(SectionTable, TheFileVocabularyStaysAsItIs) {
    struct Vocabulary {
        const char* section;
        const char* keys;
    };
    const Vocabulary expected[] = {
        {"General",
         "goodReadBeepFileIdx warningBeepFileIdx vibrationTime keyboardEmu windowMessage "
         "windowEvent autoEnter autoEnterChar prefixStr suffixStr displayCodeType "
         "displayCodeLength displayUid displayUserData delimiter wantMaxWindow enableLed "
         "buzzerDuration buzzerFreq imagePath interKeyDelay terminatorDelay unicodeEntry"},
        {"RFID",
         "hasRfid enableRfid rfidRW rfidReadStartByte rfidReadLength displayUserDataByHex "
         "rfidWriteStartByte rfidWriteContent isHexContent mifareLoginKeyA "
         "m_rfidSecurityKeyType timeOfPowerOn"},
        {"Barcode Reader CCD/Laser", "hasCCD enableBarcode redundancy laserOnTime scanMode"},
        {"Barcode Reader 2D",
         "has2D has2D_4507 enableBarcode laserOnTime timeoutBetweenSameSymbol "
         "decodingAutoexposure decodingIllumination decodeAimingPattern imgFocus "
         "ledIllumination scanMode"},
        {"Barcode Reader 1D_LR",
         "has1D_955 has1DLR enableBarcode laserOnTime scanAngle timeoutBetweenSameSymbol "
         "linearCodeTypeSecurityLevels bidirectionalRedundancy aimDurtion scanMode"},
        {"Image 2D",
         "enable imageAutoexposure imageIllumination gain exposureTime snapshotModeTimeout "
         "snapshotAimPattern imageResolution jpgImageOptions qualityValue jpgSizeValue "
         "imageFileFormat bitsPerPixel"},
        {"CodaBar CCD/Laser", "enable startStopChar transmitStartStopChar"},
        {"Industrial25 CCD/Laser",
         "enable checkDigitVerification transmitCheckDigit startStopPattern "
         "isMaxMinLengthFormat length1 length2"},
        {"Interleaved25 CCD/Laser",
         "enable checkDigitVerification transmitCheckDigit startStopPattern "
         "isMaxMinLengthFormat length1 length2"},
        {"Matrix25 CCD/Laser",
         "enable checkDigitVerification transmitCheckDigit startStopPattern "
         "isMaxMinLengthFormat length1 length2"},
        {"Code39 CCD/Laser",
         "enable checkDigitVerification transmitCheckDigit fullASCII transmitStartStopChar"},
        {"Code93 CCD/Laser", "enable"},
        {"Ean128 CCD/Laser", "enable wantCodeId ean128FieldSeparator"},
        {"ISBT128 CCD/Laser", "enable"},
        {"Code128 CCD/Laser", "enable"},
        {"Pharmacode CCD/Laser", "enable enableCIP39 transmitCheckDigit transmitCIP39CheckDigit"},
        {"MSI CCD/Laser",
         "enable checkDigitVerification transmitCheckDigit isMaxMinLengthFormat length1 "
         "length2"},
        {"Negative barcode CCD/Laser", "enable"},
        {"Plessey CCD/Laser", "enable transmitCheckDigit convertToUKplessey"},
        {"RSS CCD/Laser",
         "enableLimited enableExpanded enableRSS14 transmitRSS14CodeID "
         "transmitRSS14ApplicationID transmitRSS14CheckDigit transmitRSSCodeID "
         "transmitRSSApplicationID transmitRSSCheckDigit transmitRSSExpandedCodeID"},
        {"Telepen CCD/Laser", "enable enableAIM"},
        {"EAN-8 CCD/Laser", "enable enableAddon2 enableAddon5 transmitCheckDigit convertToEAN13"},
        {"EAN-13,UPC-A CCD/Laser",
         "enable enableAddon2 enableAddon5 enableISBN enableISSN transmitEan13CheckDigit "
         "convertToEAN13 transmitUpcACheckDigit transmitSystemNumber"},
        {"GTIN CCD/Laser", "enable"},
        {"UPC-E CCD/Laser",
         "enable enableAddon2 enableAddon5 enableUpcE1 convertToUpcA transmitCheckDigit "
         "transmitSystemNumber upcE1TripleCheck"},
        {"UPC 2D/1D_LR",
         "enableUPC_A enableUPC_E enableUPC_E1 UPC_EAN_JAN_decodeSupplementals "
         "UPC_EAN_JAN_supplementalsRedundancy transmitUPC_AcheckDigit "
         "transmitUPC_EcheckDigit transmitUPC_E1checkDigit preambleUPC_A preambleUPC_E "
         "preambleUPC_E1 convertUPC_EtoA convertUPC_E1ToA uccCouponExtendedCode "
         "linearDecode upcEanSecurityLevel"},
        {"EAN,JAN 2D/1D_LR",
         "enableEAN8_JAN8 enableEAN13_JAN13 enableBooklandEAN "
         "UPC_EAN_JAN_decodeSupplementals UPC_EAN_JAN_supplementalsRedundancy "
         "EAN8_JAN8_extend uccCouponExtendedCode linearDecode upcEanSecurityLevel"},
        {"Code39 2D/1D_LR",
         "enable trioptic code39ToCode32 code32Prefix checkDigitVerification "
         "transmitCheckDigit fullASCII length1 length2"},
        {"Code128 2D/1D_LR",
         "enable uccEan128 isbt128 enableIsbtConcatenation isbtConcatenationRedundancy"},
        {"Chinese 2 Of 5", "enable"},
        {"Code93 2D/1D_LR", "enable length1 length2"},
        {"Code11 2D", "enable checkDigitVerification transmitCheckDigit length1 length2"},
        {"Interleaved25 2D/1D_LR",
         "enable length1 length2 checkDigitVerification transmitCheckDigit convertToEAN13"},
        {"Discrete25 2D/1D_LR", "enable length1 length2"},
        {"Matrix25 2D",
         "enable length1 length2 redundancy checkDigitVerification transmitCheckDigit"},
        {"Codabar 2D/1D_LR", "enable length1 length2 clsiEditing notisEditing"},
        {"MSI 2D/1D_LR",
         "enable length1 length2 checkDigitVerification transmitCheckDigit "
         "checkDigitAlgorithm"},
        {"PostalCode 2D",
         "usPostnet usPlanet ukPostal transmitUKcheckDigit japanPostal australianPostal "
         "dutchPostal transmitUScheckDigit"},
        {"RSS 2D/1D_LR", "rss14 rssUmited rssExpanded convertToUPC_EAN"},
        {"Composite 2D", "cc_c cc_ab tlc39 upcMode beepMode uccEAN128EmulationMode"},
        {"2D Symbologies", "pdf417 microPDF417 code128Emulation dataMatrix maxiCode qrCode"},
        {"2D Symbologies",
         "pdf417 microPDF417 code128Emulation dataMatrix dataMatrixInverse "
         "decodeMirrorImage maxiCode qrCode qrCodeInverse microQR azTech azTechInverse"},
        {"Symbology security level, 2D", "redundancy securityLevel interCharGapSize"},
        {"MacroPDF 2D", "macroPDFTransmit controlHeader escapeChar"},
        {"Miscellaneous Option 2D/1D_LR",
         "transmitCodeIdChar prefixValue suffixValue1 suffixValue2 scanDataFormat "
         "sendNoReadMessage"},
    };
    ASSERT_EQ(std::size(kAllSections), std::size(expected));
    for (std::size_t s = 0; s < std::size(expected); ++s) {
        std::string keys;
        for (const SectionKey& key : kAllSections[s]->keys) {
            keys += (keys.empty() ? "" : " ") + std::string(key.name);
        }
        EXPECT_EQ(kAllSections[s]->name, expected[s].section);
        EXPECT_EQ(keys, expected[s].keys) << expected[s].section;
    }
}

// ---- AppSettings through the General and RFID sections

TEST(SettingsSections, GeneralAndRfidRoundTripWithTheirTexts) {
    AppSettings out;
    out.prefixStr = ByteString(u"<\u00E9=[");
    out.suffixStr = ">";
    out.imagePath = "/opt/vandora/images/";
    out.delimiter = 0;
    out.rfidWriteContent = "0A0B";
    out.mifareLoginKeyA = "FFFFFFFFFFFF";
    out.timeOfPowerOn = 30;
    IniStore store;
    ASSERT_EQ(accessSection(store, kGeneral, 'w', out.generalFields()), 1);
    ASSERT_EQ(accessSection(store, kRfid, 'w', out.rfidFields()), 1);
    IniStore loaded = parsed(store.fileBytes());

    AppSettings in;
    in.delimiter = 9;
    ASSERT_EQ(accessSection(loaded, kGeneral, 'r', in.generalFields()), 1);
    ASSERT_EQ(accessSection(loaded, kRfid, 'r', in.rfidFields()), 1);
    EXPECT_EQ(in.prefixStr, out.prefixStr);
    EXPECT_EQ(in.suffixStr, ">");
    EXPECT_EQ(in.imagePath, "/opt/vandora/images/");
    EXPECT_EQ(in.delimiter, 0);
    EXPECT_EQ(in.rfidWriteContent, "0A0B");
    EXPECT_EQ(in.mifareLoginKeyA, "FFFFFFFFFFFF");
    EXPECT_EQ(in.timeOfPowerOn, 30);
}

TEST(SettingsSections, MissingSectionsKeysAndNumbersReadAsTheRulesSay) {
    IniStore store = parsed(bytesOf("[General]\r\nvibrationTime=abc\r\nbuzzerFreq=-1\r\n"));
    AppSettings s;
    s.keyboardEmu = 2;
    s.vibrationTime = 5;
    // No RFID section: the read fails and every RFID field keeps its default.
    EXPECT_EQ(accessSection(store, kRfid, 'r', s.rfidFields()), 0);
    EXPECT_EQ(s.rfidReadStartByte, -1);
    EXPECT_EQ(s.rfidWriteStartByte, -1);
    EXPECT_EQ(s.rfidReadLength, 10);
    EXPECT_EQ(s.mifareLoginKeyA, "3C5A9E71B2D4");
    // General lacks keyboardEmu, which keeps its value; "abc" reads as 0.
    EXPECT_EQ(accessSection(store, kGeneral, 'r', s.generalFields()), 1);
    EXPECT_EQ(s.keyboardEmu, 2);
    EXPECT_EQ(s.vibrationTime, 0);
    EXPECT_EQ(s.buzzerFreq, -1);
}

}  // namespace
}  // namespace vandora::testing
