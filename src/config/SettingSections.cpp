#include "config/SettingSections.h"

#include <algorithm>

namespace vandora {

namespace {

ByteString textOf(std::string_view text) {
    return ByteString::fromBytes(text);
}

}  // namespace

static_assert(std::ranges::all_of(kAllSections,
                                  [](const SectionDef* s) {
                                      return s->keys.size() <= kMaxSectionKeys;
                                  }),
              "raise kMaxSectionKeys");

std::int32_t accessSection(IniStore& store, const SectionDef& section, int direction,
                           std::span<const FieldRef> refs) {
    const std::size_t count = std::min(refs.size(), section.keys.size());
    if (direction == kDirectionRead) {
        const IniSection* found = store.findSection(textOf(section.name));
        if (found == nullptr) {
            return 0;
        }
        for (std::size_t i = 0; i < count; ++i) {
            if (std::int32_t* number = refs[i].number()) {
                store.getInt(found, textOf(section.keys[i].name), *number);
            } else if (ByteString* text = refs[i].text()) {
                store.getString(found, textOf(section.keys[i].name), *text);
            }
        }
        return 1;
    }
    if (direction == kDirectionWrite) {
        IniSection* target = store.findOrAddSection(textOf(section.name));
        for (std::size_t i = 0; i < count; ++i) {
            if (std::int32_t* number = refs[i].number()) {
                store.setInt(target, textOf(section.keys[i].name), *number);
            } else if (ByteString* text = refs[i].text()) {
                store.setString(target, textOf(section.keys[i].name), *text);
            }
        }
        return 1;
    }
    // Any other direction is a no-op that reports success, so a caller can pass its own
    // direction through without checking it first.
    return 1;
}

std::int32_t accessSection(IniStore& store, const SectionDef& section, int direction,
                           std::span<std::int32_t* const> refs) {
    std::array<FieldRef, kMaxSectionKeys> list{};
    const std::size_t count = std::min(refs.size(), list.size());
    for (std::size_t i = 0; i < count; ++i) {
        list[i] = FieldRef(refs[i]);
    }
    return accessSection(store, section, direction, std::span<const FieldRef>(list.data(), count));
}

}  // namespace vandora
