#include "config/IniStore.h"

#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <utility>

#include "platform/FileContents.h"

namespace vandora {

namespace {

constexpr char16_t kLineFeed = u'\n';

bool isBlank(char16_t unit) {
    // Units 0x8000 and above count as negative and are kept by trim.
    return unit <= 32;
}

std::u16string_view trimmed(std::u16string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

char16_t lowerAsciiLetter(char16_t unit) {
    return (unit >= u'A' && unit <= u'Z') ? static_cast<char16_t>(unit + 32) : unit;
}

// Parsed names and keys are lowercased with the full wide-character tables, not only A to Z, so
// that a file written by hand with accented capitals still reads the same on every start. The
// locale is fixed rather than taken from the environment so the result does not depend on how
// the program was started.
locale_t wideLocale() {
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    return locale;
}

char16_t lowerLetter(char16_t unit) {
    if (unit < 0x80) {
        return lowerAsciiLetter(unit);
    }
    locale_t locale = wideLocale();
    if (locale == locale_t{}) {
        return unit;
    }
    wint_t lowered = towlower_l(static_cast<wint_t>(unit), locale);
    return lowered <= 0xFFFF ? static_cast<char16_t>(lowered) : unit;
}

}  // namespace

// The four-state parse of the file text, in two passes. The first walks the states and notes
// where each name, key and value lies; the second builds the sections in place with their entry
// lists sized once, so nothing is moved or copied twice and memory stays proportional to the
// text however the lines are shaped.
class IniParser {
  public:
    explicit IniParser(std::u16string_view text) : text_(text) {}

    void run(std::deque<IniSection>& out) {
        // Every entry has its "=" and every section its "[": counted first (a quick pass over the
        // text), the lists are sized once instead of being copied each time they double.
        entries_.reserve(static_cast<std::size_t>(std::count(text_.begin(), text_.end(), u'=')));
        sections_.reserve(static_cast<std::size_t>(std::count(text_.begin(), text_.end(), u'[')));
        for (std::size_t i = skip(0); i < text_.size(); i = skip(i + 1)) {
            step(i, text_[i]);
        }
        finish();
        build(out);
    }

  private:
    enum class State { LineStart, SectionName, Key, Value };
    struct Span {
        std::size_t begin = 0;
        std::size_t end = 0;
        bool trim = true;
    };
    struct RawEntry {
        Span key;
        Span value;
    };
    struct RawSection {
        Span name;
        std::size_t firstEntry = 0;
    };

    // The next unit at or after i that can change the state; units before it only lengthen the
    // current name, key or value.
    std::size_t skip(std::size_t i) const {
        const std::size_t n = text_.size();
        switch (state_) {
            case State::SectionName:
                while (i < n && text_[i] != u']') {
                    ++i;
                }
                break;
            case State::Key:
                while (i < n && text_[i] != u'=' && text_[i] != u'[') {
                    ++i;
                }
                break;
            case State::Value:
                while (i < n && text_[i] != kLineFeed) {
                    ++i;
                }
                break;
            case State::LineStart:
                break;
        }
        return i;
    }

    void startSection(std::size_t i) {
        sections_.push_back(RawSection{Span{i + 1, i + 1, true}, entries_.size()});
        tokenStart_ = i + 1;
        state_ = State::SectionName;
    }

    void step(std::size_t i, char16_t unit) {
        switch (state_) {
            case State::LineStart:
                if (unit == u'[') {
                    startSection(i);
                } else if (!isBlank(unit) && !sections_.empty()) {
                    // Text before the first section is ignored.
                    tokenStart_ = i;
                    state_ = State::Key;
                }
                break;
            case State::SectionName:
                if (unit == u']') {
                    sections_.back().name.end = i;
                    tokenStart_ = i + 1;
                    state_ = State::Key;
                }
                break;
            case State::Key:
                if (unit == u'=') {
                    entries_.push_back(
                        RawEntry{Span{tokenStart_, i, true}, Span{i + 1, i + 1, true}});
                    state_ = State::Value;
                } else if (unit == u'[') {
                    // A line without "=" followed by a header: the unfinished key is dropped.
                    startSection(i);
                }
                break;
            case State::Value:
                if (unit == kLineFeed) {
                    entries_.back().value.end = i;
                    state_ = State::LineStart;
                }
                break;
        }
    }

    void finish() {
        // A name or value cut off by the end of the file is kept as it stands, untrimmed.
        if (state_ == State::SectionName) {
            sections_.back().name = Span{sections_.back().name.begin, text_.size(), false};
        } else if (state_ == State::Value) {
            entries_.back().value = Span{entries_.back().value.begin, text_.size(), false};
        }
    }

    // Lowercased into a scratch buffer that lives until the next call.
    std::u16string_view lowercased(std::u16string_view text) const {
        scratch_.assign(text);
        for (char16_t& unit : scratch_) {
            unit = lowerLetter(unit);
        }
        return scratch_;
    }

    std::u16string_view view(const Span& span) const {
        std::u16string_view text = text_.substr(span.begin, span.end - span.begin);
        return span.trim ? trimmed(text) : text;
    }

    void build(std::deque<IniSection>& out) const {
        for (std::size_t s = 0; s < sections_.size(); ++s) {
            const std::size_t first = sections_[s].firstEntry;
            const std::size_t last =
                s + 1 < sections_.size() ? sections_[s + 1].firstEntry : entries_.size();
            IniSection& section = out.emplace_back(lowercased(view(sections_[s].name)));
            section.entries_.reserve(last - first);
            for (std::size_t e = first; e < last; ++e) {
                section.entries_.emplace_back(lowercased(view(entries_[e].key)),
                                              view(entries_[e].value));
                section.indexLast();
            }
        }
    }

    std::u16string_view text_;
    State state_ = State::LineStart;
    std::size_t tokenStart_ = 0;
    std::vector<RawSection> sections_;
    std::vector<RawEntry> entries_;
    mutable std::u16string scratch_;
};

namespace {

// UTF-16 little-endian without its FF FE, as editors and scripts often write it: 8-bit text
// never holds a NUL byte, while settings text (names, digits, brackets, line ends) has one in
// every second byte. Characters whose low byte is 0 are rare, so NULs at even offsets say no.
bool looksUtf16le(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kLookedAt = 4096;
    std::size_t units = std::min(size, kLookedAt) / 2;
    std::size_t oddZeros = 0;
    std::size_t evenZeros = 0;
    for (std::size_t i = 0; i < units; ++i) {
        evenZeros += data[2 * i] == 0 ? 1 : 0;
        oddZeros += data[2 * i + 1] == 0 ? 1 : 0;
    }
    return units > 0 && oddZeros * 2 >= units && evenZeros * 8 <= oddZeros;
}

std::u16string utf16leText(const std::uint8_t* data, std::size_t size) {
    // A last odd byte is ignored.
    std::size_t units = size / 2;
    std::u16string text(units, u'\0');
    if constexpr (std::endian::native == std::endian::little) {
        if (units != 0) {
            std::memcpy(text.data(), data, units * 2);
        }
    } else {
        for (std::size_t i = 0; i < units; ++i) {
            text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
        }
    }
    return text;
}

// Everything the file holds, as character units: UTF-16 little-endian after FF FE or without
// it, otherwise 8-bit text (after a UTF-8 byte-order mark, which is not part of the text).
std::u16string textOf(const std::uint8_t* data, std::size_t size) {
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
        return utf16leText(data + 2, size - 2);
    }
    if (looksUtf16le(data, size)) {
        return utf16leText(data, size);
    }
    if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
        data += 3;
        size -= 3;
    }
    // 8-bit text: each byte is taken as signed, so 0x80 to 0xFF become 0xFF80 to 0xFFFF; the
    // 8-bit view gives the same byte back.
    std::u16string text(size, u'\0');
    for (std::size_t i = 0; i < size; ++i) {
        text[i] =
            static_cast<char16_t>(static_cast<std::int16_t>(static_cast<std::int8_t>(data[i])));
    }
    return text;
}

// Writes UTF-16 little-endian units into a buffer sized beforehand; one copy on a little-endian
// machine instead of two stores per unit.
class UnitWriter {
  public:
    explicit UnitWriter(std::uint8_t* at) : at_(at) {}
    void units(std::u16string_view text) {
        if constexpr (std::endian::native == std::endian::little) {
            if (!text.empty()) {
                std::memcpy(at_, text.data(), text.size() * 2);
            }
            at_ += text.size() * 2;
        } else {
            for (char16_t unit : text) {
                *at_++ = static_cast<std::uint8_t>(unit & 0xFF);
                *at_++ = static_cast<std::uint8_t>(unit >> 8);
            }
        }
    }
    void ascii(std::string_view text) {
        for (char c : text) {
            *at_++ = static_cast<std::uint8_t>(c);
            *at_++ = 0;
        }
    }
    const std::uint8_t* at() const { return at_; }

  private:
    std::uint8_t* at_;
};

}  // namespace

// ---- IniSection

const IniEntry* IniSection::find(const ByteString& key) const {
    auto keyOf = [this](std::size_t i) { return entries_[i].key.view(); };
    std::optional<std::size_t> found = index_.find(key.view(), keyOf);
    return found ? &entries_[*found] : nullptr;
}

IniEntry* IniSection::findMutable(const ByteString& key) {
    return const_cast<IniEntry*>(std::as_const(*this).find(key));
}

void IniSection::add(ByteString key, ByteString value) {
    entries_.emplace_back(std::move(key), std::move(value));
    indexLast();
}

void IniSection::indexLast() {
    auto keyOf = [this](std::size_t i) { return entries_[i].key.view(); };
    index_.insert(entries_.size() - 1, true, keyOf);
}

// ---- IniStore

std::int32_t IniStore::load(const std::string& path) {
    std::u16string text;
    {
        std::vector<std::uint8_t> bytes;
        if (!readWholeFile(path, bytes) || bytes.empty()) {
            return 0;
        }
        text = textOf(bytes.data(), bytes.size());
        // The file's bytes go before the parse: its lists and entries then reuse their memory
        // instead of asking the system for more, which for a large file cost more than the parse.
    }
    if (parse(text) == 0) {
        return 0;
    }
    filePath_ = path;
    return 1;
}

std::int32_t IniStore::loadBytes(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    return parse(textOf(data, size));
}

std::int32_t IniStore::parse(std::u16string_view text) {
    clear();
    IniParser(text).run(sections_);
    if (sections_.empty()) {
        lastError_ = kNothingError;
        return 0;
    }
    for (std::size_t i = 0; i < sections_.size(); ++i) {
        indexSection(i);
    }
    return 1;
}

std::vector<std::uint8_t> IniStore::fileBytes() const {
    std::size_t units = 0;
    for (const IniSection& section : sections_) {
        units += section.name().length() + 6;
        for (const IniEntry& entry : section.entries()) {
            units += entry.key.length() + entry.value.length() + 3;
        }
    }
    std::vector<std::uint8_t> out(2 + 2 * units);
    out[0] = 0xFF;
    out[1] = 0xFE;
    UnitWriter put(out.data() + 2);
    for (const IniSection& section : sections_) {
        put.ascii("\r\n[");
        put.units(section.name().view());
        put.ascii("]\r\n");
        for (const IniEntry& entry : section.entries()) {
            put.units(entry.key.view());
            put.ascii("=");
            put.units(entry.value.view());
            put.ascii("\r\n");
        }
    }
    return out;
}

std::int32_t IniStore::save(const std::string& path, mode_t newFileMode) {
    AtomicFileSystem fs;
    return save(path, fs, newFileMode);
}

std::int32_t IniStore::save(const std::string& path, AtomicFileSystem& fs, mode_t newFileMode) {
    saveError_ = 0;
    if (sections_.empty()) {
        return 1;
    }
    AtomicFile file(path, newFileMode);
    if (file.write(fileBytes(), fs) == 0) {
        saveError_ = file.lastError();
        lastError_ = kWriteError;
        return 0;
    }
    return 1;
}

void IniStore::indexSection(std::size_t position) {
    auto nameOf = [this](std::size_t i) { return sections_[i].name().view(); };
    sectionIndex_.insert(position, false, nameOf);
}

IniSection* IniStore::findSection(const ByteString& name) {
    return const_cast<IniSection*>(std::as_const(*this).findSection(name));
}

const IniSection* IniStore::findSection(const ByteString& name) const {
    auto nameOf = [this](std::size_t i) { return sections_[i].name().view(); };
    std::optional<std::size_t> found = sectionIndex_.find(name.view(), nameOf);
    return found ? &sections_[*found] : nullptr;
}

IniSection* IniStore::findOrAddSection(const ByteString& name) {
    if (IniSection* found = findSection(name)) {
        return found;
    }
    sections_.emplace_back(name);
    indexSection(sections_.size() - 1);
    return &sections_.back();
}

std::int32_t IniStore::getString(const IniSection* section, const ByteString& key,
                                 ByteString& out) const {
    if (section == nullptr) {
        return 0;
    }
    const IniEntry* entry = section->find(key);
    if (entry == nullptr) {
        return 0;
    }
    out = entry->value;
    return 1;
}

std::int32_t IniStore::getInt(const IniSection* section, const ByteString& key,
                              std::int32_t& out) const {
    ByteString value;
    if (getString(section, key, value) == 0) {
        return 0;
    }
    out = iniAtoi(value);
    return 1;
}

std::int32_t IniStore::setString(IniSection* section, const ByteString& key,
                                 const ByteString& value) {
    if (section == nullptr) {
        return 0;
    }
    if (IniEntry* entry = section->findMutable(key)) {
        entry->value = value;
        return 1;
    }
    ByteString lowered = key;
    lowered.toLower();
    section->add(std::move(lowered), value);
    return 1;
}

std::int32_t IniStore::setInt(IniSection* section, const ByteString& key, std::int32_t number) {
    ByteString text;
    text.format("%d", number);
    return setString(section, key, text);
}

void IniStore::clear() {
    sections_.clear();
    sectionIndex_.clear();
    filePath_.clear();
    lastError_.clear();
}

std::int32_t iniAtoi(const ByteString& value) {
    std::string text = value.narrow();
    std::size_t i = 0;
    auto at = [&](std::size_t k) { return k < text.size() ? text[k] : '\0'; };
    while (at(i) == ' ' || (at(i) >= '\t' && at(i) <= '\r')) {
        ++i;
    }
    bool negative = false;
    if (at(i) == '+' || at(i) == '-') {
        negative = at(i) == '-';
        ++i;
    }
    std::int64_t magnitude = 0;
    const std::int64_t limit = negative ? -static_cast<std::int64_t>(INT32_MIN) : INT32_MAX;
    while (at(i) >= '0' && at(i) <= '9') {
        magnitude = magnitude * 10 + (at(i) - '0');
        if (magnitude > limit) {
            magnitude = limit;
        }
        ++i;
    }
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

std::string iniFilePath(const std::string& programFolder) {
    return programFolder + "VandoraINI.txt";
}

std::string defaultImageFolder(const std::string& programFolder) {
    return programFolder + "images/";
}

}  // namespace vandora
