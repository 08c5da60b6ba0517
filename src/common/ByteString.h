// ByteString: the program's growable string of 16-bit units, always ended by a 0 unit.
//
// Engine commands, replies, INI text and decoded data are all kept here one byte per unit, so
// the same type carries binary packets and window texts. Reading past the end yields the ending
// 0 unit instead of failing, which the reply parsers rely on for short answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vandora {

class ByteString {
  public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    ByteString();
    explicit ByteString(std::size_t reserveUnits);
    ByteString(const char* text);      // NOLINT: implicit by design, like the literals it replaces
    ByteString(const char16_t* text);  // NOLINT
    ByteString(std::u16string_view units);
    // Bytes taken one per unit (0 to 255); embedded zero bytes are kept.
    static ByteString fromBytes(const std::uint8_t* data, std::size_t size);
    static ByteString fromBytes(std::string_view bytes);

    ByteString(const ByteString& other);
    ByteString(ByteString&& other) noexcept;
    ByteString& operator=(const ByteString& other);
    ByteString& operator=(ByteString&& other) noexcept;
    ByteString& operator=(const char* text);
    ByteString& operator=(const char16_t* text);

    std::size_t length() const { return size_; }
    bool empty() const { return size_ == 0; }
    // Units allocated, ending 0 included.
    std::size_t capacity() const { return units_.size(); }

    // Unit at index; the ending 0 past the end.
    char16_t at(std::size_t index) const { return index < size_ ? units_[index] : u'\0'; }
    char16_t operator[](std::size_t index) const { return at(index); }
    // Low byte of the unit at index (0 past the end).
    std::uint8_t byteAt(std::size_t index) const { return static_cast<std::uint8_t>(at(index)); }
    // Sets a unit inside the string; an index past the end does nothing.
    void setAt(std::size_t index, char16_t unit);

    // Wide view: the units themselves, 0-terminated.
    const char16_t* wide() const { return units_.data(); }
    std::u16string_view view() const { return {units_.data(), size_}; }
    // 8-bit view, built afresh: each unit cut to its low byte.
    std::string narrow() const;
    std::vector<std::uint8_t> bytes() const;

    void append(char16_t unit);
    void append(const char* text);  // each byte taken as 0 to 255
    void append(const ByteString& other);
    void appendBytes(const std::uint8_t* data, std::size_t size);

    // printf-style formatting that replaces the content ("%d", "%02X", "%02x", "%s", "%c").
    void format(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

    bool operator==(const char* text) const;
    bool operator==(const ByteString& other) const;
    bool operator!=(const char* text) const { return !(*this == text); }
    bool operator!=(const ByteString& other) const { return !(*this == other); }

    // Forward and backward searches; npos when absent. `from` is the first index looked at.
    std::size_t find(char16_t unit, std::size_t from = 0) const;
    std::size_t find(const ByteString& needle, std::size_t from = 0) const;
    std::size_t rfind(char16_t unit) const;
    std::size_t rfind(const ByteString& needle) const;

    // Copy of up to count units from start (clamped to the string).
    ByteString mid(std::size_t start, std::size_t count = npos) const;
    ByteString left(std::size_t count) const { return mid(0, count); }
    // Splits at the first occurrence of unit: `before` gets what precedes it, `after` what
    // follows. Returns false (and leaves both untouched) when the unit does not occur.
    bool splitAt(char16_t unit, ByteString& before, ByteString& after) const;
    // Removes up to count units from start.
    void remove(std::size_t start, std::size_t count);
    // Removes leading and trailing units whose signed 16-bit value lies in 0..32.
    void trim();
    // Lowercases A to Z only.
    void toLower();
    // Replaces every occurrence of one unit by another.
    void replace(char16_t from, char16_t to);
    void clear();
    void truncate(std::size_t newLength);

  private:
    // The units with their capacity. A capacity of up to 32 units, which is what most names,
    // keys, values and commands need, lives inside the string itself: no allocation.
    class UnitBuffer {
      public:
        static constexpr std::size_t kInlineUnits = 32;

        UnitBuffer(std::size_t count, char16_t fill) { assign(count, fill); }
        UnitBuffer(const UnitBuffer& other);
        UnitBuffer(UnitBuffer&& other) noexcept;
        UnitBuffer& operator=(const UnitBuffer& other) = delete;
        UnitBuffer& operator=(UnitBuffer&& other) noexcept;
        ~UnitBuffer() { release(); }

        std::size_t size() const { return size_; }
        char16_t* data() { return heap_ != nullptr ? heap_ : inline_; }
        const char16_t* data() const { return heap_ != nullptr ? heap_ : inline_; }
        char16_t* begin() { return data(); }
        const char16_t* begin() const { return data(); }
        char16_t& operator[](std::size_t i) { return data()[i]; }
        const char16_t& operator[](std::size_t i) const { return data()[i]; }
        // Grows to count units keeping the first ones; new units get fill.
        void resize(std::size_t count, char16_t fill);
        // count units, all fill.
        void assign(std::size_t count, char16_t fill);

      private:
        // Units the storage holds: the heap block's size, or the inline ones.
        std::size_t room() const { return heap_ != nullptr ? heapUnits_ : kInlineUnits; }
        void release();

        char16_t* heap_ = nullptr;  // owned; null while the units are inline
        std::size_t heapUnits_ = 0;
        std::size_t size_ = 0;
        char16_t inline_[kInlineUnits];
    };

    void ensure(std::size_t units);  // room for units plus the ending 0
    void setSize(std::size_t size);

    UnitBuffer units_;
    std::size_t size_ = 0;
};

// Hexadecimal text into bytes, two characters a byte, an odd last character as a high half.
// Characters are not validated: up to '9' counts code - 48, up to 'F' code - 55, above code - 87.
void hexToBytes(const ByteString& text, ByteString& out);

// Bytes as uppercase hexadecimal text ("%02X" per byte).
ByteString bytesToHex(const ByteString& bytes);

}  // namespace vandora
