// Decode output formatting: the status text, the keystroke text and the queue record of a
// decode. Runs on the user-interface thread on copies of the decode.
#pragma once

#include <array>
#include <cstdint>

#include "common/ByteString.h"
#include "config/AppSettings.h"

namespace vandora {

constexpr std::size_t kDecodeRecordSize = 4232;
constexpr std::size_t kRecordDataOffset = 133;
constexpr std::size_t kRecordDataMax = 4095;
constexpr std::size_t kRecordUidOffset = 12;
constexpr std::size_t kRecordUidMax = 20;
constexpr std::uint8_t kRecordKindBarcode = 7;
constexpr std::uint8_t kRecordKindRfid = 0x20;

using DecodeQueueRecord = std::array<std::uint8_t, kDecodeRecordSize>;

// The data of a 2D text code (PDF417, Data Matrix, QR Code from a 2D imager) converted from the
// terminal's code page ($VANDORA_CODEPAGE, else CP1252) into UTF-16 units, zero cells turned into
// spaces; any other decode unchanged. An invalid sequence becomes U+FFFD.
ByteString convertDecodeText(std::int32_t engineType, std::int32_t codeTypeId,
                             const ByteString& data);
// Bytes of a code page into UTF-16 units.
ByteString decodeCodePage(const ByteString& bytes, const char* codePage);

ByteString barcodeStatusText(std::int32_t engineType, std::int32_t codeTypeId,
                             const ByteString& typeName, const ByteString& shownText);
ByteString rfidStatusText(const ByteString& typeName, const ByteString& uid,
                          const ByteString& userData, bool hex);

// The keystroke text of a decode (kind 1 barcode: typeName and text; kind 2 RFID: text is the
// UID); empty when keyboardEmu is 0.
ByteString buildOutputText(int kind, const ByteString& typeName, const ByteString& text,
                           const ByteString* userData, const AppSettings& settings);

// The letter that stands for an RFID tag family in the record.
std::uint8_t tagLetter(std::int32_t tagType);

DecodeQueueRecord barcodeRecord(std::int32_t codeTypeId, const ByteString& data);
DecodeQueueRecord rfidRecord(std::int32_t tagType, const ByteString& uid,
                             const ByteString* userData);

// Bytes as two lowercase hexadecimal digits each, no separators.
ByteString lowerHex(const ByteString& bytes);

}  // namespace vandora
