#include "common/Hex.h"

namespace vandora {

bool parseHex(std::string_view text, std::vector<std::uint8_t>& out) {
    out.clear();
    if (text.size() % 2 != 0) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); i += 2) {
        int high = hexDigitValue(text[i]);
        int low = hexDigitValue(text[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        out.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return true;
}

std::string hexText(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    text.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        text.push_back(kUpperHexDigits[b >> 4]);
        text.push_back(kUpperHexDigits[b & 0x0F]);
    }
    return text;
}

namespace {
ByteString hexOf(const ByteString& bytes, const char (&digits)[17]) {
    ByteString out(bytes.length() * 2);
    for (std::size_t i = 0; i < bytes.length(); ++i) {
        std::uint8_t b = bytes.byteAt(i);
        out.append(static_cast<char16_t>(digits[b >> 4]));
        out.append(static_cast<char16_t>(digits[b & 0x0F]));
    }
    return out;
}
}  // namespace

ByteString bytesToHex(const ByteString& bytes) {
    return hexOf(bytes, kUpperHexDigits);
}

ByteString lowerHex(const ByteString& bytes) {
    return hexOf(bytes, kLowerHexDigits);
}

}  // namespace vandora
