// Decode output formatting: the status text, the keystroke text and the queue record of a
// decode. Runs on the user-interface thread on copies of the decode.
#pragma once

#include <array>
#include <cstdint>

#include "common/ByteString.h"
#include "common/Hex.h"
#include "platform/DecodeChannel.h"
#include "reader/ReaderTypes.h"

namespace vandora {

constexpr std::size_t kRecordDataOffset = 133;
constexpr std::size_t kRecordDataMax = 4095;
constexpr std::size_t kRecordUidOffset = 12;
constexpr std::size_t kRecordUidMax = 20;
constexpr std::uint8_t kRecordKindBarcode = 7;
constexpr std::uint8_t kRecordKindRfid = 0x20;

using DecodeQueueRecord = std::array<std::uint8_t, kDecodeRecordSize>;

// The output settings a decode is formatted with, named as the settings keys; the typing sink
// copies them from the settings. Defaults are the factory settings.
struct OutputOptions {
    std::int32_t keyboardEmu = 1;  // 0 none, 1 posted characters, 2 virtual-key presses
    ByteString prefixStr;
    ByteString suffixStr;
    std::int32_t displayCodeType = 0;
    std::int32_t displayCodeLength = 0;
    std::int32_t displayUid = 1;
    std::int32_t displayUserData = 0;
    std::int32_t delimiter = 44;     // character between output fields; 0: none
    std::int32_t autoEnter = 1;      // 0 none, 1 terminator after the output, 2 before it
    std::int32_t autoEnterChar = 1;  // 1 CR, 2 tab, 3 space, 4 comma, 5 semicolon
    std::int32_t displayUserDataByHex = 0;
    std::int32_t isHexContent = 0;
};

// Where the status text of a decode goes (the status box of the main window).
class StatusView {
  public:
    virtual ~StatusView() = default;
    virtual void setStatusText(const ByteString& text) = 0;
};

// One decode as the status text shows it.
struct StatusFields {
    std::int32_t kind = 1;                     // 1 barcode, 2 RFID
    EngineType engineType = EngineType::None;  // barcode: the engine that read it
    std::int32_t codeTypeId = 0;               // barcode: the code type number
    ByteString typeName;                       // code type name, or tag type name
    ByteString text;                           // barcode: the converted text; RFID: the UID
    ByteString userData;                       // RFID only
};

// The data of a 2D text code (PDF417, Data Matrix, QR Code from a 2D imager) converted from the
// terminal's code page ($VANDORA_CODEPAGE, else CP1252) into UTF-16 units, zero cells turned into
// spaces; any other decode unchanged. An invalid sequence becomes U+FFFD.
ByteString convertDecodeText(EngineType engineType, std::int32_t codeTypeId,
                             const ByteString& data);
// Bytes of a code page into UTF-16 units.
ByteString decodeCodePage(const ByteString& bytes, const char* codePage);

ByteString barcodeStatusText(EngineType engineType, std::int32_t codeTypeId,
                             const ByteString& typeName, const ByteString& shownText);
ByteString rfidStatusText(const ByteString& typeName, const ByteString& uid,
                          const ByteString& userData, bool hex);
// Sets the status text of a decode. hexUserData: displayUserDataByHex after a read, isHexContent
// for the tag read back after a write.
void showDecodeStatus(StatusView& view, const StatusFields& fields, bool hexUserData);

// The keystroke text of a decode (kind 1 barcode: typeName and text; kind 2 RFID: text is the
// UID); empty when keyboardEmu is 0.
ByteString buildOutputText(int kind, const ByteString& typeName, const ByteString& text,
                           const ByteString* userData, const OutputOptions& options);

// The letter that stands for an RFID tag family in the record.
std::uint8_t tagLetter(std::int32_t tagType);

DecodeQueueRecord barcodeRecord(std::int32_t codeTypeId, const ByteString& data);
DecodeQueueRecord rfidRecord(std::int32_t tagType, const ByteString& uid,
                             const ByteString* userData);

}  // namespace vandora
