#include "config/SectionTransfer.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <utility>
#include <vector>

namespace vandora {

namespace {

// Keys of the engine sections that hold the program's own settings, not the engine's.
enum class ProgramField : std::uint8_t { EnableBarcode, ImageEnable };

struct ProgramKey {
    KeyRef key;
    ProgramField field;
};

constexpr ProgramKey kProgramKeys[] = {
    {key(kReaderCcd, "enableBarcode"), ProgramField::EnableBarcode},
    {key(kReader2D, "enableBarcode"), ProgramField::EnableBarcode},
    {key(kReader1DLr, "enableBarcode"), ProgramField::EnableBarcode},
    {key(kImage2D, "enable"), ProgramField::ImageEnable},
};

std::int32_t& programField(AppSettings& settings, ProgramField field) {
    return field == ProgramField::ImageEnable ? settings.imageEnable : settings.enableBarcode;
}

bool bound(const ArgBinding& arg, const SectionDef& section) {
    return arg.key.isSet() && arg.key.in(section);
}

// The commands that carry a section's keys for one direction, in the order of their first key in
// the section; each once.
std::vector<CommandId> commandsOf(const EngineLink& engine, const SectionDef& section,
                                  bool saving) {
    std::vector<std::pair<std::size_t, CommandId>> found;
    for (std::size_t c = 0; c < engine.commands.commandCount(); ++c) {
        auto id = static_cast<CommandId>(c);
        std::size_t first = SIZE_MAX;
        for (const ArgBinding& arg : engine.commands.arguments(id)) {
            TypeSet types = saving ? arg.save : arg.load;
            if (bound(arg, section) && types.has(engine.type)) {
                first = std::min<std::size_t>(first, arg.key.index);
            }
        }
        if (first != SIZE_MAX) {
            found.emplace_back(first, id);
        }
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<CommandId> ids;
    ids.reserve(found.size());
    for (const auto& [first, id] : found) {
        ids.push_back(id);
    }
    return ids;
}

// A section's integer values as the file has them; absent keys are marked.
class SectionValues {
  public:
    static constexpr std::int32_t kAbsent = INT32_MIN;

    SectionValues(IniStore& store, const SectionDef& section) {
        values_.fill(kAbsent);
        std::array<std::int32_t*, kMaxSectionKeys> refs{};
        for (std::size_t i = 0; i < section.keys.size(); ++i) {
            if (section.keys[i].kind == KeyKind::Int) {
                refs[i] = &values_[i];
            }
        }
        exists_ =
            accessSection(store, section, kDirectionRead,
                          std::span<std::int32_t* const>(refs.data(), section.keys.size())) != 0;
    }
    bool exists() const { return exists_; }
    std::int32_t* find(std::size_t index) {
        return values_[index] == kAbsent ? nullptr : &values_[index];
    }

  private:
    std::array<std::int32_t, kMaxSectionKeys> values_{};
    bool exists_ = false;
};

// Values one command read from the engine.
struct EngineValues {
    CommandId command = 0;
    std::array<std::int32_t, kMaxCommandArgs> values{};
    bool ok = false;
};

}  // namespace

bool loadSection(const EngineLink& engine, IniStore& store, const SectionDef& section,
                 AppSettings& settings, int* refused) {
    SectionValues values(store, section);
    if (!values.exists()) {
        return false;
    }
    for (const ProgramKey& own : kProgramKeys) {
        if (own.key.in(section)) {
            if (std::int32_t* value = values.find(own.key.index)) {
                programField(settings, own.field) = *value;
            }
        }
    }
    for (CommandId id : commandsOf(engine, section, false)) {
        std::array<std::int32_t*, kMaxCommandArgs> args{};
        std::size_t count = 0;
        std::span<const ArgBinding> bindings = engine.commands.arguments(id);
        for (std::size_t i = 0; i < bindings.size(); ++i) {
            const ArgBinding& arg = bindings[i];
            if (!bound(arg, section) || !arg.load.has(engine.type)) {
                continue;
            }
            // Keys missing from the file are left out.
            if (std::int32_t* value = values.find(arg.key.index)) {
                args[i] = value;
                count = i + 1;
            }
        }
        if (count > 0 &&
            engine.commands.run(engine.manager, engine.channel, engine.cache, id, kDirectionWrite,
                                std::span<std::int32_t* const>(args.data(), count)) == 0 &&
            refused != nullptr) {
            ++*refused;
        }
    }
    return true;
}

bool saveSection(const EngineLink& engine, IniStore& store, const SectionStep& step, KeyRef hasFlag,
                 AppSettings& settings) {
    const SectionDef& section = *step.section;
    std::vector<CommandId> commands = commandsOf(engine, section, true);
    std::vector<EngineValues> reads(commands.size());
    for (std::size_t c = 0; c < commands.size(); ++c) {
        EngineValues& read = reads[c];
        read.command = commands[c];
        std::array<std::int32_t*, kMaxCommandArgs> refs{};
        std::span<const ArgBinding> bindings = engine.commands.arguments(read.command);
        for (std::size_t i = 0; i < bindings.size(); ++i) {
            if (bound(bindings[i], section) && bindings[i].save.has(engine.type)) {
                refs[i] = &read.values[i];
            }
        }
        read.ok = engine.commands.run(
                      engine.manager, engine.channel, engine.cache, read.command, kDirectionRead,
                      std::span<std::int32_t* const>(refs.data(), bindings.size())) != 0;
    }
    bool lastOk = !reads.empty() && reads.back().ok;
    if (!lastOk && !step.writeEvenIfReadFails) {
        return false;
    }
    std::int32_t one = 1;
    std::array<std::int32_t*, kMaxSectionKeys> refs{};
    for (const ProgramKey& own : kProgramKeys) {
        if (own.key.in(section)) {
            refs[own.key.index] = &programField(settings, own.field);
        }
    }
    if (hasFlag.isSet() && hasFlag.in(section)) {
        refs[hasFlag.index] = &one;
    }
    for (EngineValues& read : reads) {
        std::span<const ArgBinding> bindings = engine.commands.arguments(read.command);
        for (std::size_t i = 0; i < bindings.size(); ++i) {
            const ArgBinding& arg = bindings[i];
            if (bound(arg, section) && arg.save.has(engine.type) &&
                engine.commands.argumentApplies(read.command, i, engine.type) &&
                refs[arg.key.index] == nullptr) {
                refs[arg.key.index] = &read.values[i];
            }
        }
    }
    accessSection(store, section, kDirectionWrite,
                  std::span<std::int32_t* const>(refs.data(), section.keys.size()));
    return true;
}

bool restoreEnable(const EngineLink& engine, IniStore& store, const SectionDef& section,
                   std::int32_t& enable) {
    for (CommandId id : commandsOf(engine, section, false)) {
        std::span<const ArgBinding> bindings = engine.commands.arguments(id);
        // A symbology's switch is its command's first argument.
        if (bindings.empty() || !bound(bindings[0], section) ||
            bindings[0].key.name() != "enable") {
            continue;
        }
        std::int32_t value = 0;
        std::array<std::int32_t*, 1> ref{&value};
        if (engine.commands.run(engine.manager, engine.channel, engine.cache, id, kDirectionRead,
                                ref) == 0) {
            return false;
        }
        std::array<std::int32_t*, kMaxSectionKeys> refs{};
        refs[bindings[0].key.index] = &value;
        accessSection(store, section, kDirectionWrite,
                      std::span<std::int32_t* const>(refs.data(), bindings[0].key.index + 1u));
        enable = value;
        return true;
    }
    return false;
}

}  // namespace vandora
