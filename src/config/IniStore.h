// IniStore: the settings file held in memory as named sections of key=value entries.
//
// The file is user-editable and other programs on the terminal read it too, so the store keeps
// every section and key it does not know, in file order, and writes them back unchanged. Files are
// read as UTF-16 little-endian when they start with FF FE or, without it, when every second byte
// is mostly NUL (as UTF-16 text of Latin letters is, and 8-bit text never); otherwise as 8-bit
// text, a UTF-8 byte-order mark skipped. They are always written as UTF-16 little-endian with
// FF FE.
//
// Names and keys are compared without regard to the case of A to Z. Parsed section names and keys
// are stored lowercased (every letter, not only A to Z); a section created by the program keeps
// the name it was given.
//
// Section handles are pointers into the store; they stay valid until clear(), a load that gets
// past reading the file, or the store's destruction. Results are 1 for success, 0 for failure.
// Not thread-safe: the main window's thread is the only user.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/ByteString.h"
#include "config/FoldedIndex.h"
#include "platform/AtomicFile.h"

namespace vandora {

struct IniEntry {
    IniEntry() = default;
    IniEntry(ByteString k, ByteString v) : key(std::move(k)), value(std::move(v)) {}
    // Built straight from text, without a temporary string to move from.
    IniEntry(std::u16string_view k, std::u16string_view v) : key(k), value(v) {}

    ByteString key;
    ByteString value;
};

class IniSection {
  public:
    IniSection() = default;
    explicit IniSection(ByteString name) : name_(std::move(name)) {}
    explicit IniSection(std::u16string_view name) : name_(name) {}

    const ByteString& name() const { return name_; }
    // Insertion order, which is the order written to the file; equal keys may occur twice.
    const std::vector<IniEntry>& entries() const { return entries_; }
    // The later of two entries with an equal key; null when absent.
    const IniEntry* find(const ByteString& key) const;

  private:
    friend class IniStore;
    friend class IniParser;
    IniEntry* findMutable(const ByteString& key);
    // Appends an entry whose key is already lowercased; it becomes the one the key finds.
    void add(ByteString key, ByteString value);
    void indexLast();

    ByteString name_;
    std::vector<IniEntry> entries_;
    // Positions in entries_; equal keys resolve to the latest entry.
    FoldedIndex index_;
};

class IniStore {
  public:
    // A new INI file is for its user and group only: it may hold the Mifare login key.
    static constexpr mode_t kIniFileMode = 0640;
    static constexpr const char* kNothingError = "The INI file contains nothing.";
    static constexpr const char* kWriteError =
        "Unable to write the INI file.\r\nPlease make sure it is not opened by WordPad.";

    // Reads and parses a file, replacing the contents. A file that cannot be read or is empty
    // fails and leaves the store as it was; a file without a section fails, empties the store and
    // sets kNothingError.
    std::int32_t load(const std::string& path);
    // Parses file bytes as load does after reading them; the file path becomes empty.
    std::int32_t loadBytes(const std::uint8_t* data, std::size_t size);

    // Writes the whole store as one AtomicFile write, so a failure at any step leaves the old
    // file whole. A store without sections succeeds without touching the file. A failure sets
    // kWriteError, and saveError() to the errno of the step that failed. A file that did not
    // exist gets newFileMode (less the umask); an existing one keeps its mode.
    std::int32_t save(const std::string& path, mode_t newFileMode = kIniFileMode);
    std::int32_t save(const std::string& path, AtomicFileSystem& fs,
                      mode_t newFileMode = kIniFileMode);
    // The bytes that save writes: FF FE, then every section as UTF-16 little-endian text.
    std::vector<std::uint8_t> fileBytes() const;

    bool isEmpty() const { return sections_.empty(); }
    const std::deque<IniSection>& sections() const { return sections_; }

    // The first section of that name in list order; null when there is none.
    IniSection* findSection(const ByteString& name);
    const IniSection* findSection(const ByteString& name) const;
    // findSection, or else a new empty section with the name as given, appended to the list.
    IniSection* findOrAddSection(const ByteString& name);

    // Success when the section holds the key; out is touched only then. A null section fails.
    std::int32_t getString(const IniSection* section, const ByteString& key, ByteString& out) const;
    // As getString, with the value's 8-bit view read as a decimal number (atoi rules).
    std::int32_t getInt(const IniSection* section, const ByteString& key, std::int32_t& out) const;
    // Replaces the value of the entry the key finds, or appends a new entry under the lowercased
    // key. A null section does nothing and fails.
    std::int32_t setString(IniSection* section, const ByteString& key, const ByteString& value);
    std::int32_t setInt(IniSection* section, const ByteString& key, std::int32_t number);

    const ByteString& lastError() const { return lastError_; }
    int saveError() const { return saveError_; }
    // The path of the last successful load; empty before.
    const std::string& filePath() const { return filePath_; }
    void clear();

  private:
    // Replaces the contents with the sections of the file's text.
    std::int32_t parse(std::u16string_view text);
    void indexSection(std::size_t position);

    std::deque<IniSection> sections_;  // a deque keeps section handles stable while appending
    // Positions in sections_; equal names resolve to the first section.
    FoldedIndex sectionIndex_;
    std::string filePath_;
    ByteString lastError_;
    int saveError_ = 0;
};

// The runtime's atoi on a value's 8-bit view: leading white space, an optional sign, decimal
// digits up to the first other character (an ending 0 included); 0 when there are none. Values
// beyond the 32-bit range give the nearest limit.
std::int32_t iniAtoi(const ByteString& value);

// The settings file and picture folder in the program folder (which ends with a separator).
std::string iniFilePath(const std::string& programFolder);
std::string defaultImageFolder(const std::string& programFolder);

}  // namespace vandora
