#include "common/Utf.h"

namespace vandora {

void appendUtf8(std::string& out, char32_t codePoint) {
    char32_t cp = codePoint;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void appendUtf16(ByteString& out, char32_t codePoint) {
    if (codePoint >= 0x10000) {
        char32_t above = codePoint - 0x10000;
        out.append(static_cast<char16_t>(0xD800 + (above >> 10)));
        out.append(static_cast<char16_t>(0xDC00 + (above & 0x3FF)));
    } else {
        out.append(static_cast<char16_t>(codePoint));
    }
}

Utf8Char utf8CharAt(std::string_view text, std::size_t at) {
    auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = lead < 0x80             ? 1
                         : (lead & 0xE0) == 0xC0 ? 2
                         : (lead & 0xF0) == 0xE0 ? 3
                         : (lead & 0xF8) == 0xF0 ? 4
                                                 : 0;
    if (length == 1) {
        return {lead, 1, true};
    }
    if (length == 0 || at + length > text.size()) {
        return {};
    }
    char32_t cp = lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        auto next = static_cast<unsigned char>(text[at + k]);
        if ((next & 0xC0) != 0x80) {
            return {kReplacementCharacter, k, false};
        }
        cp = (cp << 6) | (next & 0x3F);
    }
    return {cp, length, true};
}

std::string utf8Of(const ByteString& text) {
    std::string out;
    out.reserve(text.length());
    for (std::size_t i = 0; i < text.length(); ++i) {
        char32_t c = takeCodePoint(text, text.length(), i);
        appendUtf8(out, isSurrogate(c) ? kReplacementCharacter : c);
    }
    return out;
}

ByteString fromUtf8(std::string_view text) {
    ByteString out;
    for (std::size_t i = 0; i < text.size();) {
        Utf8Char c = utf8CharAt(text, i);
        appendUtf16(out, c.codePoint > 0x10FFFF ? kReplacementCharacter : c.codePoint);
        i += c.length;
    }
    return out;
}

bool appendStrictUtf8(std::string_view text, ByteString& out) {
    for (std::size_t i = 0; i < text.size();) {
        Utf8Char c = utf8CharAt(text, i);
        if (!c.valid) {
            return false;
        }
        appendUtf16(out, c.codePoint);
        i += c.length;
    }
    return true;
}

}  // namespace vandora
