#include "config/EngineSettings.h"

#include <array>

#include "config/engines/CcdCommands.h"
#include "config/engines/SettingsPlan.h"

namespace vandora {

namespace {

// Runs one default-set item; the single command's result is not looked at.
void runItem(const CommandSet& commands, const DefaultItem& item, ReaderChannel& channel,
             ParamCache& cache) {
    std::array<std::int32_t, kMaxCommandArgs> values{};
    std::array<std::int32_t*, kMaxCommandArgs> refs{};
    std::size_t count = 0;
    for (std::size_t k = 0; k < item.count; ++k) {
        const DefaultValue& v = item.values[k];
        if (!v.types.has(channel.engineType)) {
            continue;
        }
        values[v.arg] = v.value;
        refs[v.arg] = &values[v.arg];
        count = std::max(count, static_cast<std::size_t>(v.arg) + 1);
    }
    commands.run(channel, cache, item.command, kDirectionWrite,
                 std::span<std::int32_t* const>(refs.data(), count));
}

}  // namespace

std::int32_t EngineSettings::applyDefaults(ReaderManager& manager, std::int32_t which) {
    return which == kRfidPort ? rfidDefaults(manager) : barcodeDefaults(manager);
}

std::int32_t EngineSettings::barcodeDefaults(ReaderManager& manager) {
    ReaderChannel& channel = manager.barcode;
    const FamilyPlan* plan = settingsPlan(channel.engineType).barcode;
    if (plan == nullptr) {
        return 0;
    }
    if (plan->prepareDefaults(channel, cache_) == 0) {
        return 0;
    }
    const CommandSet& commands = plan->commands();
    for (const DefaultItem& item : plan->defaults) {
        if (item.types.has(channel.engineType)) {
            runItem(commands, item, channel, cache_);
        }
    }
    return 1;
}

std::int32_t EngineSettings::rfidDefaults(ReaderManager& manager) {
    ReaderChannel& channel = manager.rfid;
    const RfidPlan* plan = settingsPlan(channel.engineType).rfid;
    switch (plan != nullptr ? plan->setup : RfidSetup::None) {
        case RfidSetup::AsciiRegisters:
            return setUpAsciiModule(manager, channel);
        case RfidSetup::HexFrames:
            return setUpHexModule(manager, channel, hexSetup_);
        case RfidSetup::None:
            break;
    }
    return 1;
}

void EngineSettings::restoreHostOptions(ReaderChannel& channel) {
    ReaderManager& manager = *channel.owner;
    std::int32_t ean13 = manager.transmitEan13CheckDigit;
    std::int32_t upcA = manager.transmitUpcACheckDigit;
    std::int32_t convert = manager.convertToEAN13;
    std::int32_t* args[] = {&ean13, &upcA, &convert};
    ccdCommand(channel, CcdCommand::CheckDigitRestore, 'w', args);
}

}  // namespace vandora
