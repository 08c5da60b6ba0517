// The settings plan of the CCD/Laser engine: its sections in load and save order, and the order of
// its default set. Every symbology section goes through the one command of the same name.
#include "config/engines/CcdCommands.h"
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

// The default set: each command with the default values of its table.
constexpr DefaultStep kDefaults[] = {
    {CommandId(C::Codabar)},   {CommandId(C::Industrial25)}, {CommandId(C::Interleaved25)},
    {CommandId(C::Matrix25)},  {CommandId(C::Code39)},       {CommandId(C::Code93)},
    {CommandId(C::Code128)},   {CommandId(C::Ean128)},       {CommandId(C::Pharmacode)},
    {CommandId(C::Msi)},       {CommandId(C::Negative)},     {CommandId(C::Plessey)},
    {CommandId(C::Rss)},       {CommandId(C::Telepen)},      {CommandId(C::Ean8)},
    {CommandId(C::Ean13UpcA)}, {CommandId(C::Gtin)},         {CommandId(C::UpcE)},
    {CommandId(C::Isbt128)},   {CommandId(C::Reader)},
};

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
