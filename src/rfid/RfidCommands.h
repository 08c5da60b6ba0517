// The command sets of the two text-driven RFID modules: the letter commands and their error
// letters, the hexadecimal-text frames, and how the bracketed fields of a hexadecimal reply are cut
// out. All pure text helpers (replies are untrusted: every cut is bounded and a field that is
// missing, empty or too short is "no field"); the modules' own files send them.
#pragma once

#include <cstdint>
#include <span>

#include "common/ByteString.h"

namespace vandora {

// Block numbers and sectors travel as two hexadecimal digits.
constexpr std::int32_t kMaxCommandBlock = 255;

// --- letter module -------------------------------------------------------------------------

// The error code of a one-character error letter ("N", "F", "O", "R", "?"); 0 for any other
// reply, which is data or success.
std::uint32_t errorLetterCode(const ByteString& reply);

// "r%02x" (variant 0) or "rb%02x" (variant 1); false for a block that does not fit two digits.
bool letterReadCommand(std::int32_t variant, std::int32_t block, ByteString& out);
// "w%02x" / "wb%02x" followed by the content in uppercase hexadecimal.
bool letterWriteCommand(std::int32_t variant, std::int32_t block, const ByteString& content,
                        ByteString& out);
// "l%02x" followed by the key part ("AA" or "BB" and 12 digits).
bool letterLoginCommand(std::int32_t sector, const ByteString& loginKey, ByteString& out);

// A block read reply: an error letter gives its code in error and false; anything else is the
// block in hexadecimal (an empty block is false with error 0).
bool letterBlockReply(const ByteString& reply, ByteString& block, std::uint32_t& error);

// --- hexadecimal module --------------------------------------------------------------------

// 01 length 00 03 04, the command and parameters, 00 00, as uppercase hexadecimal text.
ByteString hexFrame(std::span<const std::uint8_t> commandAndParameters);
// 18 request frames: block reads (request 0x08 Tag-it, 0x20 ISO 15693) and writes (flags 0x00 or
// 0x40, request 0x28 Tag-it, 0x21 ISO 15693).
ByteString hexBlockFrame(std::uint8_t flags, std::uint8_t request, std::uint8_t block,
                         const ByteString& data = ByteString());

namespace HexRequest {
constexpr std::uint8_t TagItRead = 0x08;
constexpr std::uint8_t TagItWrite = 0x28;
constexpr std::uint8_t IsoRead = 0x20;
constexpr std::uint8_t IsoWrite = 0x21;
constexpr std::uint8_t OptionFlag = 0x40;
}  // namespace HexRequest

// The answer field of a reply by tag family (3, 5, 8, 16); false when there is none or it is
// empty.
bool extractField(std::int32_t tagType, const ByteString& reply, ByteString& field);

// What a detection answer gives.
struct HexTagAnswer {
    ByteString uid;  // uppercase hexadecimal text as the module shows it
    std::int32_t tagitInfoByte = 0;
    std::int32_t tagitBlockCount = 0;
};
bool hexTagAnswer(std::int32_t tagType, const ByteString& reply, HexTagAnswer& out);

// ISO 15693 block data from a field: the response flags byte dropped; false when the flags
// carry the error bit or no data follows.
bool iso15693BlockData(const ByteString& field, ByteString& data);
// The 4 data bytes of a Tag-it block read field (characters 6 to 15, two bits out of place).
bool tagItRealign(const ByteString& field, ByteString& data);

// Whether a write reply ends with "[00]".
bool endsWithOk(const ByteString& reply);

}  // namespace vandora
