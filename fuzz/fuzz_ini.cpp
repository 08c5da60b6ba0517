// Fuzzes the INI parser with arbitrary file bytes. Every input must load or fail cleanly, and
// whatever loads must come back the same after a save and a second load: same sections, same
// entries, and the key index finding the later of equal keys. The file format cannot carry three
// things, which are allowed for: a value or header cut off by the end of the file is trimmed on
// the way back, and an empty key after the first entry of a section merges into the next line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>

#include "config/AppSettings.h"
#include "config/IniStore.h"
#include "config/SettingSections.h"

namespace {

using vandora::ByteString;
using vandora::IniEntry;
using vandora::IniSection;
using vandora::IniStore;

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

std::u16string_view trimmed(std::u16string_view text) {
    while (!text.empty() && text.front() <= 32) {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.back() <= 32) {
        text.remove_suffix(1);
    }
    return text;
}

bool hasLateEmptyKey(const IniSection& section) {
    for (std::size_t i = 1; i < section.entries().size(); ++i) {
        if (section.entries()[i].key.empty()) {
            return true;
        }
    }
    return false;
}

void checkIndex(const IniSection& section) {
    std::map<std::u16string, const IniEntry*> last;
    for (const IniEntry& entry : section.entries()) {
        last[std::u16string(entry.key.view())] = &entry;
    }
    for (const auto& [key, entry] : last) {
        check(section.find(ByteString(std::u16string_view(key))) == entry);
    }
}

void checkRoundTrip(const IniStore& first) {
    const std::vector<std::uint8_t> saved = first.fileBytes();
    IniStore second;
    check(second.loadBytes(saved.data(), saved.size()) == 1);
    check(second.sections().size() == first.sections().size());
    for (std::size_t s = 0; s < first.sections().size(); ++s) {
        const IniSection& a = first.sections()[s];
        const IniSection& b = second.sections()[s];
        check(b.name().view() == trimmed(a.name().view()));
        checkIndex(a);
        checkIndex(b);
        if (hasLateEmptyKey(a)) {
            continue;
        }
        check(a.entries().size() == b.entries().size());
        for (std::size_t e = 0; e < a.entries().size(); ++e) {
            const IniEntry& x = a.entries()[e];
            const IniEntry& y = b.entries()[e];
            check(x.key == y.key);
            bool lastOfFile = s + 1 == first.sections().size() && e + 1 == a.entries().size();
            check(lastOfFile ? y.value.view() == trimmed(x.value.view()) : x.value == y.value);
        }
    }
    // Once written by the store, a file reads back exactly.
    const std::vector<std::uint8_t> again = second.fileBytes();
    IniStore third;
    check(third.loadBytes(again.data(), again.size()) == 1);
    check(third.fileBytes() == again);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    IniStore store;
    if (store.loadBytes(data, size) == 0) {
        check(store.isEmpty());
        check(size == 0 || store.lastError() == IniStore::kNothingError);
        return 0;
    }
    checkRoundTrip(store);

    // The accessors on whatever the file holds.
    vandora::AppSettings settings;
    vandora::accessSection(store, vandora::kGeneral, 'r', settings.generalFields());
    vandora::accessSection(store, vandora::kRfid, 'r', settings.rfidFields());
    vandora::accessSection(store, vandora::kGeneral, 'w', settings.generalFields());
    return 0;
}
