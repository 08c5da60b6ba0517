// Hexadecimal text of bytes: the digits, one digit's value, and bytes to text and back, as the
// engines' commands, the firmware files, the serial trace and the simulators write them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/ByteString.h"

namespace vandora {

inline constexpr char kUpperHexDigits[] = "0123456789ABCDEF";
inline constexpr char kLowerHexDigits[] = "0123456789abcdef";

// The value of one hexadecimal digit (either case); -1 for anything else.
constexpr int hexDigitValue(char32_t c) {
    if (c >= U'0' && c <= U'9') {
        return static_cast<int>(c - U'0');
    }
    if (c >= U'A' && c <= U'F') {
        return static_cast<int>(c - U'A') + 10;
    }
    if (c >= U'a' && c <= U'f') {
        return static_cast<int>(c - U'a') + 10;
    }
    return -1;
}

// A char's digit value: the char is taken as a byte, so that no negative char passes for one.
constexpr int hexDigitValue(char c) {
    return hexDigitValue(static_cast<char32_t>(static_cast<unsigned char>(c)));
}

// Pairs of digits to bytes; false (out empty or partial) for an odd length or a non-digit.
bool parseHex(std::string_view text, std::vector<std::uint8_t>& out);

// Bytes as uppercase hexadecimal text, two digits a byte, nothing between.
std::string hexText(const std::vector<std::uint8_t>& bytes);
// The same of a ByteString's bytes in lowercase (bytesToHex, beside ByteString, in uppercase).
ByteString lowerHex(const ByteString& bytes);

}  // namespace vandora
