#include "config/EngineSettings.h"

#include <array>

#include "config/engines/CcdCommands.h"
#include "config/engines/SettingsPlan.h"

namespace vandora {

namespace {

// Sends one command of the default set with the default values its table gives the engine type;
// the command's result is not looked at.
void runStep(const CommandSet& commands, const DefaultStep& step, ReaderManager& manager,
             ReaderChannel& channel, ParamCache& cache) {
    std::array<std::int32_t, kMaxCommandArgs> values{};
    std::array<std::int32_t*, kMaxCommandArgs> refs{};
    std::size_t count = 0;
    std::span<const ArgBinding> args = commands.arguments(step.command);
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::int32_t value = args[i].defaultFor(channel.engineType, step.again);
        if (value != kNoDefault) {
            values[i] = value;
            refs[i] = &values[i];
            count = i + 1;
        }
    }
    commands.run(manager, channel, cache, step.command, kDirectionWrite,
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
    for (const DefaultStep& step : plan->defaults) {
        if (step.types.has(channel.engineType)) {
            runStep(commands, step, manager, channel, cache_);
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

void EngineSettings::restoreHostOptions(ReaderManager& manager, ReaderChannel& channel) {
    std::int32_t ean13 = manager.ccdHostOptions().transmitEan13CheckDigit;
    std::int32_t upcA = manager.ccdHostOptions().transmitUpcACheckDigit;
    std::int32_t convert = manager.ccdHostOptions().convertToEAN13;
    std::int32_t* args[] = {&ean13, &upcA, &convert};
    ccdCommand(manager, channel, CcdCommand::CheckDigitRestore, 'w', args);
}

}  // namespace vandora
