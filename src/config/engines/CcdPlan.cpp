// The settings plan of the CCD/Laser engine: its sections in load and save order, and its default
// set. Every symbology section goes through the one command of the same name.
#include "config/engines/CcdCommandTable.h"
#include "config/engines/SettingsPlan.h"

namespace vandora {

namespace {

using C = CcdCommand;

constexpr SectionStep kLoad[] = {
    {&kReaderCcd},     {&kCodabarCcd}, {&kIndustrial25Ccd}, {&kInterleaved25Ccd}, {&kMatrix25Ccd},
    {&kCode39Ccd},     {&kCode93Ccd},  {&kIsbt128Ccd},      {&kCode128Ccd},       {&kEan128Ccd},
    {&kPharmacodeCcd}, {&kMsiCcd},     {&kNegativeCcd},     {&kPlesseyCcd},       {&kRssCcd},
    {&kTelepenCcd},    {&kEan8Ccd},    {&kEan13UpcACcd},    {&kGtinCcd},          {&kUpcECcd},
};

constexpr SectionStep kSave[] = {
    // The reader section is written even when the engine does not answer.
    {&kReaderCcd, TypeSet::every(), true},
    {&kCodabarCcd},
    {&kIsbt128Ccd},
    {&kCode128Ccd},
    {&kEan128Ccd},
    {&kCode39Ccd},
    {&kCode93Ccd},
    {&kEan13UpcACcd},
    {&kEan8Ccd},
    {&kGtinCcd},
    {&kIndustrial25Ccd},
    {&kInterleaved25Ccd},
    {&kMatrix25Ccd},
    {&kMsiCcd},
    {&kNegativeCcd},
    {&kPharmacodeCcd},
    {&kPlesseyCcd},
    {&kRssCcd},
    {&kTelepenCcd},
    {&kUpcECcd},
};

consteval DefaultItem item(CcdCommand c, std::initializer_list<NamedValue> values) {
    DefaultItem d;
    d.command = static_cast<CommandId>(c);
    for (const NamedValue& v : values) {
        d.values[d.count++] = {ccd_table::argIndex(c, v.name), v.value, v.types};
    }
    return d;
}

// clang-format off
constexpr DefaultItem kDefaults[] = {
    item(C::Codabar, {{"enable", 1}, {"startStopChar", 0}, {"transmitStartStopChar", 0}}),
    item(C::Industrial25, {{"enable", 1}, {"checkDigitVerification", 0},
                           {"transmitCheckDigit", 1}, {"startStopPattern", 0},
                           {"isMaxMinLengthFormat", 1}, {"length1", 127}, {"length2", 4}}),
    item(C::Interleaved25, {{"enable", 1}, {"checkDigitVerification", 0},
                            {"transmitCheckDigit", 1}, {"startStopPattern", 1},
                            {"isMaxMinLengthFormat", 1}, {"length1", 127}, {"length2", 4}}),
    item(C::Matrix25, {{"enable", 1}, {"checkDigitVerification", 0}, {"transmitCheckDigit", 1},
                       {"startStopPattern", 2}, {"isMaxMinLengthFormat", 1}, {"length1", 127},
                       {"length2", 4}}),
    item(C::Code39, {{"enable", 1}, {"checkDigitVerification", 0}, {"transmitCheckDigit", 1},
                     {"fullASCII", 0}, {"transmitStartStopChar", 0}}),
    item(C::Code93, {{"enable", 1}}),
    item(C::Code128, {{"enable", 1}}),
    item(C::Ean128, {{"enable", 1}, {"wantCodeId", 0}, {"ean128FieldSeparator", 0}}),
    item(C::Pharmacode, {{"enable", 0}, {"enableCIP39", 0}, {"transmitCheckDigit", 1},
                         {"transmitCIP39CheckDigit", 1}}),
    item(C::Msi, {{"enable", 0}, {"checkDigitVerification", 0}, {"transmitCheckDigit", 1},
                  {"isMaxMinLengthFormat", 1}, {"length1", 127}, {"length2", 4}}),
    item(C::Negative, {{"enable", 0}}),
    item(C::Plessey, {{"enable", 0}, {"transmitCheckDigit", 1}, {"convertToUKplessey", 0}}),
    item(C::Rss, {{"enableLimited", 0}, {"enableExpanded", 0}, {"enableRSS14", 0},
                  {"transmitRSS14CodeID", 1}, {"transmitRSS14ApplicationID", 1},
                  {"transmitRSS14CheckDigit", 1}, {"transmitRSSCodeID", 1},
                  {"transmitRSSApplicationID", 1}, {"transmitRSSCheckDigit", 1},
                  {"transmitRSSExpandedCodeID", 1}}),
    item(C::Telepen, {{"enable", 0}, {"enableAIM", 1}}),
    item(C::Ean8, {{"enable", 1}, {"enableAddon2", 0}, {"enableAddon5", 0},
                   {"transmitCheckDigit", 1}, {"convertToEAN13", 0}}),
    item(C::Ean13UpcA, {{"enable", 1}, {"enableAddon2", 0}, {"enableAddon5", 0},
                        {"enableISBN", 0}, {"enableISSN", 0}, {"transmitEan13CheckDigit", 1},
                        {"convertToEAN13", 1}, {"transmitUpcACheckDigit", 1},
                        {"transmitSystemNumber", 1}}),
    item(C::Gtin, {{"enable", 0}}),
    item(C::UpcE, {{"enable", 1}, {"enableAddon2", 0}, {"enableAddon5", 0}, {"enableUpcE1", 0},
                   {"convertToUpcA", 0}, {"transmitCheckDigit", 1}, {"transmitSystemNumber", 0},
                   {"upcE1TripleCheck", 0}}),
    item(C::Isbt128, {{"enable", 1}}),
    item(C::Reader, {{"scanMode", 6}, {"redundancy", 0}, {"laserOnTime", 3}}),
};
// clang-format on

// The default set changes the host's copy of the block: fetch it first. A failed query leaves the
// old copy, and the commands then fail on their own.
std::int32_t prepare(ReaderChannel& channel, ParamCache& /*cache*/) {
    ccdQueryBlock(channel);
    return 1;
}

const CommandSet& commands() {
    return ccdCommandSet();
}

}  // namespace

const FamilyPlan kCcdFamily{&commands, kLoad, kSave, &prepare, kDefaults};

}  // namespace vandora
