// Unicode text between the program's UTF-16 units (ByteString, the keyboard's characters) and the
// UTF-8 of the bus, the settings windows and the command line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/ByteString.h"

namespace vandora {

constexpr char32_t kReplacementCharacter = 0xFFFD;

constexpr bool isHighSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
constexpr bool isLowSurrogate(char32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}
constexpr bool isSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDFFF;
}

// The character that starts at units[i] of the first n UTF-16 units: a surrogate pair taken
// together (i then moves onto its second unit), any other unit as it is, a lone surrogate too.
template <typename Units>
char32_t takeCodePoint(const Units& units, std::size_t n, std::size_t& i) {
    char32_t unit = units[i];
    if (isHighSurrogate(unit) && i + 1 < n && isLowSurrogate(units[i + 1])) {
        ++i;
        return 0x10000 + ((unit - 0xD800) << 10) + (static_cast<char32_t>(units[i]) - 0xDC00);
    }
    return unit;
}

// One code point as one to four UTF-8 bytes.
void appendUtf8(std::string& out, char32_t codePoint);
// One code point as one UTF-16 unit, or a surrogate pair from U+10000 on.
void appendUtf16(ByteString& out, char32_t codePoint);

// The UTF-8 sequence that starts at text[at]. A malformed one (a stray continuation byte, a lead
// byte with too few bytes after it, a lead byte not followed by continuation bytes) is not valid,
// reads as U+FFFD, and its length is what to step over: the lead byte alone, or up to the byte
// that broke the sequence.
struct Utf8Char {
    char32_t codePoint = kReplacementCharacter;
    std::size_t length = 1;
    bool valid = false;
};
Utf8Char utf8CharAt(std::string_view text, std::size_t at);

// UTF-16 units as UTF-8 (a lone surrogate becomes U+FFFD), and back (a malformed sequence or a
// code point past U+10FFFF becomes U+FFFD).
std::string utf8Of(const ByteString& text);
ByteString fromUtf8(std::string_view text);
// UTF-8 appended to out as UTF-16 units; false, with out partly written, on a malformed sequence.
bool appendStrictUtf8(std::string_view text, ByteString& out);

}  // namespace vandora
