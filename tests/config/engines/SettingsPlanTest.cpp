#include "config/engines/SettingsPlan.h"

#include <set>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "reader/engines/EngineTable.h"

namespace vandora::testing {
namespace {

std::string label(EngineType type) {
    return engineInfo(type).name;
}

// The has-flag save-all writes and the start-up reads is the one the engine table names.
TEST(SettingsPlans, HasFlagIsTheEngineTablesConfigurationKey) {
    for (const EngineInfo& info : engineRows()) {
        const SettingsPlan& plan = settingsPlan(info.type);
        EXPECT_EQ(plan.type, info.type);
        if (plan.hasFlag.isSet()) {
            EXPECT_EQ(plan.hasFlag.name(), info.configKey) << label(info.type);
        } else {
            EXPECT_STREQ(info.configKey, "") << label(info.type);
        }
        EXPECT_EQ(plan.barcode != nullptr, plan.hasFlag.isSet()) << label(info.type);
    }
}

TEST(SettingsPlans, EveryBarcodeEngineHasAPlanAndTheHintOrderNamesEachOnce) {
    std::set<EngineType> hinted(hintOrder().begin(), hintOrder().end());
    EXPECT_EQ(hinted.size(), hintOrder().size());
    for (const EngineInfo& info : engineRows()) {
        bool barcodeEngine = info.port == kBarcodePort;
        EXPECT_EQ(settingsPlan(info.type).barcode != nullptr, barcodeEngine) << label(info.type);
        EXPECT_EQ(hinted.count(info.type) == 1, barcodeEngine) << label(info.type);
        bool rfidModule = info.port == kRfidPort;
        EXPECT_EQ(settingsPlan(info.type).rfid != nullptr, rfidModule) << label(info.type);
    }
}

// Each section a plan loads or saves carries at least one setting to or from the engine on every
// type the step names, and every key is carried by one argument only.
TEST(SettingsPlans, EverySectionStepMovesSettingsAndEachKeyHasOneSource) {
    for (const SettingsPlan& plan : settingsPlans()) {
        if (plan.barcode == nullptr) {
            continue;
        }
        const CommandSet& commands = plan.barcode->commands();
        for (bool saving : {false, true}) {
            auto steps = saving ? plan.barcode->save : plan.barcode->load;
            for (const SectionStep& step : steps) {
                if (!step.types.has(plan.type)) {
                    continue;
                }
                std::set<std::size_t> keys;
                std::size_t moved = 0;
                for (std::size_t c = 0; c < commands.commandCount(); ++c) {
                    auto args = commands.arguments(static_cast<CommandId>(c));
                    for (std::size_t i = 0; i < args.size(); ++i) {
                        const ArgBinding& arg = args[i];
                        TypeSet types = saving ? arg.save : arg.load;
                        if (!arg.key.isSet() || !arg.key.in(*step.section) ||
                            !types.has(plan.type) ||
                            !commands.argumentApplies(static_cast<CommandId>(c), i, plan.type)) {
                            continue;
                        }
                        ++moved;
                        EXPECT_TRUE(keys.insert(arg.key.index).second)
                            << label(plan.type) << " " << step.section->name << " "
                            << arg.key.name();
                        EXPECT_EQ(step.section->keys[arg.key.index].kind, KeyKind::Int);
                    }
                }
                EXPECT_GT(moved, 0u)
                    << label(plan.type) << (saving ? " save " : " load ") << step.section->name;
            }
        }
    }
}

// Every engine section is loaded and saved by some engine's plan: a section added to the tables
// but left out of the plans would never reach the engine or the file.
TEST(SettingsPlans, EveryEngineSectionIsLoadedAndSaved) {
    std::set<const SectionDef*> loaded;
    std::set<const SectionDef*> saved;
    for (const SettingsPlan& plan : settingsPlans()) {
        if (plan.barcode == nullptr) {
            continue;
        }
        for (const SectionStep& step : plan.barcode->load) {
            if (step.types.has(plan.type)) {
                loaded.insert(step.section);
            }
        }
        for (const SectionStep& step : plan.barcode->save) {
            if (step.types.has(plan.type)) {
                saved.insert(step.section);
            }
        }
    }
    for (const SectionDef* section : kAllSections) {
        if (section == &kGeneral || section == &kRfid) {
            continue;  // the program's own, moved by load-all and save-all themselves
        }
        EXPECT_EQ(loaded.count(section), 1u) << section->name;
        EXPECT_EQ(saved.count(section), 1u) << section->name;
    }
}

// An argument mirrors the key of its own name.
TEST(SettingsPlans, ArgumentsMirrorTheKeysOfTheirName) {
    for (const SettingsPlan& plan : settingsPlans()) {
        if (plan.barcode == nullptr) {
            continue;
        }
        const CommandSet& commands = plan.barcode->commands();
        for (std::size_t c = 0; c < commands.commandCount(); ++c) {
            for (const ArgBinding& arg : commands.arguments(static_cast<CommandId>(c))) {
                if (arg.key.isSet()) {
                    EXPECT_EQ(arg.key.name(), arg.name);
                }
            }
        }
    }
}

// Each command of a default set applies to the engine types it is sent on and gives at least one
// of them a value, so that no step of a default set silently sends nothing.
TEST(SettingsPlans, EveryDefaultStepSendsAValueTheEngineTakes) {
    for (const SettingsPlan& plan : settingsPlans()) {
        if (plan.barcode == nullptr) {
            continue;
        }
        const CommandSet& commands = plan.barcode->commands();
        for (const DefaultStep& step : plan.barcode->defaults) {
            if (!step.types.has(plan.type)) {
                continue;
            }
            std::size_t taken = 0;
            auto args = commands.arguments(step.command);
            for (std::size_t i = 0; i < args.size(); ++i) {
                if (args[i].defaultFor(plan.type, step.again) != kNoDefault &&
                    commands.argumentApplies(step.command, i, plan.type)) {
                    ++taken;
                }
            }
            EXPECT_GT(taken, 0u) << label(plan.type) << " command " << int(step.command);
        }
    }
}

}  // namespace
}  // namespace vandora::testing
