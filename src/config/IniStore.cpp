#include "config/IniStore.h"

#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wctype.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <optional>

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

ByteString unitsOf(std::u16string_view text) {
    ByteString out(text.size());
    for (char16_t unit : text) {
        out.append(unit);
    }
    return out;
}

ByteString lowercasedUnitsOf(std::u16string_view text) {
    ByteString out(text.size());
    for (char16_t unit : text) {
        out.append(lowerLetter(unit));
    }
    return out;
}

// The form names and keys are compared in: A to Z lowercased, every other unit as it is.
std::u16string lookupForm(const ByteString& text) {
    std::u16string out(text.view());
    for (char16_t& unit : out) {
        unit = lowerAsciiLetter(unit);
    }
    return out;
}

}  // namespace

// The four-state parse of the file text. Tokens are taken as slices of the text and copied once
// they end, so memory stays proportional to the text however long a line is.
class IniParser {
  public:
    explicit IniParser(std::u16string_view text) : text_(text) {}

    std::deque<IniSection> run() {
        for (std::size_t i = 0; i < text_.size(); ++i) {
            step(i, text_[i]);
        }
        finish();
        return std::move(done_);
    }

  private:
    enum class State { LineStart, SectionName, Key, Value };

    std::u16string_view slice(std::size_t end) const {
        return text_.substr(tokenStart_, end - tokenStart_);
    }

    void startSection(std::size_t i) {
        if (current_) {
            done_.push_back(std::move(*current_));
        }
        current_.emplace(ByteString(std::size_t{0}));
        tokenStart_ = i + 1;
        state_ = State::SectionName;
    }

    void step(std::size_t i, char16_t unit) {
        switch (state_) {
            case State::LineStart:
                if (unit == u'[') {
                    startSection(i);
                } else if (!isBlank(unit) && current_) {
                    // Text before the first section is ignored.
                    tokenStart_ = i;
                    state_ = State::Key;
                }
                break;
            case State::SectionName:
                if (unit == u']') {
                    current_->name_ = lowercasedUnitsOf(trimmed(slice(i)));
                    tokenStart_ = i + 1;
                    state_ = State::Key;
                }
                break;
            case State::Key:
                if (unit == u'=') {
                    current_->add(lowercasedUnitsOf(trimmed(slice(i))), ByteString(std::size_t{0}));
                    tokenStart_ = i + 1;
                    state_ = State::Value;
                } else if (unit == u'[') {
                    // A line without "=" followed by a header: the unfinished key is dropped.
                    startSection(i);
                }
                break;
            case State::Value:
                if (unit == kLineFeed) {
                    current_->entries_.back().value = unitsOf(trimmed(slice(i)));
                    state_ = State::LineStart;
                }
                break;
        }
    }

    void finish() {
        // A name or value cut off by the end of the file is kept as it stands, untrimmed.
        if (state_ == State::SectionName) {
            current_->name_ = lowercasedUnitsOf(slice(text_.size()));
        } else if (state_ == State::Value) {
            current_->entries_.back().value = unitsOf(slice(text_.size()));
        }
        if (current_) {
            done_.push_back(std::move(*current_));
        }
    }

    std::u16string_view text_;
    State state_ = State::LineStart;
    std::size_t tokenStart_ = 0;
    std::optional<IniSection> current_;
    std::deque<IniSection> done_;
};

namespace {

bool readWholeFile(const std::string& path, std::vector<std::uint8_t>& out) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    // Only regular files: a device or pipe has no end to bound the memory by.
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return false;
    }
    out.clear();
    out.reserve(static_cast<std::size_t>(info.st_size));
    std::uint8_t chunk[65536];
    for (;;) {
        ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            ::close(fd);
            return false;
        }
        if (got == 0) {
            break;
        }
        out.insert(out.end(), chunk, chunk + got);
    }
    ::close(fd);
    return true;
}

// Everything the file holds after an optional FF FE, as character units.
std::u16string textOf(const std::uint8_t* data, std::size_t size) {
    std::u16string text;
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
        // UTF-16 little-endian; a last odd byte is ignored.
        std::size_t units = (size - 2) / 2;
        text.resize(units);
        for (std::size_t i = 0; i < units; ++i) {
            text[i] = static_cast<char16_t>(data[2 + 2 * i] | (data[3 + 2 * i] << 8));
        }
    } else {
        // 8-bit text: each byte is taken as signed, so 0x80 to 0xFF become 0xFF80 to 0xFFFF; the
        // 8-bit view gives the same byte back.
        text.resize(size);
        for (std::size_t i = 0; i < size; ++i) {
            text[i] =
                static_cast<char16_t>(static_cast<std::int16_t>(static_cast<std::int8_t>(data[i])));
        }
    }
    return text;
}

void putUnit(std::vector<std::uint8_t>& out, char16_t unit) {
    out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    out.push_back(static_cast<std::uint8_t>(unit >> 8));
}

void putUnits(std::vector<std::uint8_t>& out, std::u16string_view units) {
    for (char16_t unit : units) {
        putUnit(out, unit);
    }
}

void putAscii(std::vector<std::uint8_t>& out, std::string_view text) {
    for (char c : text) {
        putUnit(out, static_cast<char16_t>(static_cast<unsigned char>(c)));
    }
}

std::string folderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A symbolic link is saved through, so the link stays and its target gets the new contents.
std::string saveTarget(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        if (char* resolved = ::realpath(path.c_str(), nullptr)) {
            std::string target(resolved);
            std::free(resolved);
            return target;
        }
    }
    return path;
}

bool writeAll(IniFileSystem& fs, int fd, const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = fs.write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Opens a new, unique temporary file in the folder of target, with the mode of the file it will
// replace (or the usual mode for a new file).
int openTemporary(const std::string& target, std::string& tempPath) {
    static std::atomic<unsigned> counter{0};
    std::string folder = folderOf(target);
    std::string base =
        target.substr(target.rfind('/') == std::string::npos ? 0 : target.rfind('/') + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = folder + "/." + base + ".tmp-" + std::to_string(::getpid()) + "-" +
                   std::to_string(counter.fetch_add(1));
        int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            struct stat old {};
            if (::stat(target.c_str(), &old) == 0) {
                ::fchmod(fd, old.st_mode & 07777);
            }
            return fd;
        }
        if (errno != EEXIST) {
            return -1;
        }
    }
    return -1;
}

void syncFolder(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        // Best effort: the rename is done; a folder that cannot be synced loses nothing now.
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

ssize_t IniFileSystem::write(int fd, const void* data, std::size_t size) {
    return ::write(fd, data, size);
}

int IniFileSystem::fsync(int fd) {
    return ::fsync(fd);
}

int IniFileSystem::rename(const char* from, const char* to) {
    return ::rename(from, to);
}

// ---- IniSection

const IniEntry* IniSection::find(const ByteString& key) const {
    auto it = index_.find(lookupForm(key));
    return it == index_.end() ? nullptr : &entries_[it->second];
}

IniEntry* IniSection::findMutable(const ByteString& key) {
    auto it = index_.find(lookupForm(key));
    return it == index_.end() ? nullptr : &entries_[it->second];
}

void IniSection::add(ByteString key, ByteString value) {
    index_[std::u16string(key.view())] = entries_.size();
    entries_.push_back(IniEntry{std::move(key), std::move(value)});
}

// ---- IniStore

std::int32_t IniStore::load(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    if (!readWholeFile(path, bytes) || bytes.empty()) {
        return 0;
    }
    if (loadBytes(bytes.data(), bytes.size()) == 0) {
        return 0;
    }
    filePath_ = path;
    return 1;
}

std::int32_t IniStore::loadBytes(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    std::u16string text = textOf(data, size);
    clear();
    std::deque<IniSection> parsed = IniParser(text).run();
    if (parsed.empty()) {
        lastError_ = kNothingError;
        return 0;
    }
    sections_ = std::move(parsed);
    for (std::size_t i = 0; i < sections_.size(); ++i) {
        sectionIndex_.emplace(lookupForm(sections_[i].name()), i);
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
    std::vector<std::uint8_t> out;
    out.reserve(2 + 2 * units);
    out.push_back(0xFF);
    out.push_back(0xFE);
    for (const IniSection& section : sections_) {
        putAscii(out, "\r\n[");
        putUnits(out, section.name().view());
        putAscii(out, "]\r\n");
        for (const IniEntry& entry : section.entries()) {
            putUnits(out, entry.key.view());
            putAscii(out, "=");
            putUnits(out, entry.value.view());
            putAscii(out, "\r\n");
        }
    }
    return out;
}

std::int32_t IniStore::save(const std::string& path) {
    IniFileSystem fs;
    return save(path, fs);
}

std::int32_t IniStore::save(const std::string& path, IniFileSystem& fs) {
    if (sections_.empty()) {
        return 1;
    }
    std::vector<std::uint8_t> bytes = fileBytes();
    std::string target = saveTarget(path);
    std::string tempPath;
    int fd = openTemporary(target, tempPath);
    if (fd < 0) {
        lastError_ = kWriteError;
        return 0;
    }
    bool ok = writeAll(fs, fd, bytes) && fs.fsync(fd) == 0;
    // close can report a delayed write error; the rename must not go ahead then.
    ok = (::close(fd) == 0) && ok;
    ok = ok && fs.rename(tempPath.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(tempPath.c_str());
        lastError_ = kWriteError;
        return 0;
    }
    syncFolder(folderOf(target));
    return 1;
}

IniSection& IniStore::appendSection(ByteString name) {
    sectionIndex_.emplace(lookupForm(name), sections_.size());
    return sections_.emplace_back(std::move(name));
}

IniSection* IniStore::findSection(const ByteString& name) {
    auto it = sectionIndex_.find(lookupForm(name));
    return it == sectionIndex_.end() ? nullptr : &sections_[it->second];
}

const IniSection* IniStore::findSection(const ByteString& name) const {
    auto it = sectionIndex_.find(lookupForm(name));
    return it == sectionIndex_.end() ? nullptr : &sections_[it->second];
}

IniSection* IniStore::findOrAddSection(const ByteString& name) {
    if (IniSection* found = findSection(name)) {
        return found;
    }
    return &appendSection(name);
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
