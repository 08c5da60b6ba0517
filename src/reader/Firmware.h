// Decoder firmware: the engine's version text, and the upload of new firmware, an S-record file
// (.SHX) into the CCD/Laser engine or a .dat file into the newer 2D imager, with their result
// texts. The file formats are parsed whole before anything is sent, into the lines and packets
// that go on the wire, so that the parsers can be tried on their own.
//
// Files are untrusted: counts, lengths and addresses are checked against the file, nothing is
// allocated from a length field, and a file that does not hold up is a clear failure.
//
// Locking: the upload runs while no scan is in progress; callers hold no channel lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/ByteString.h"
#include "reader/ReaderManager.h"

namespace vandora {

// Texts of the upload, shown with the caption "Warning".
inline constexpr const char* kFirmwareWarningText =
    "Firmware update may cause damage to the barcode decoder when the terminal is accidentally "
    "turned off before the process is done. Suggest placing the terminal in cradle and connecting "
    "power supply cord. If you are aware of the above risk and wish to proceed, click "
    "[ok].\r\n\r\n\r\nCurrent firmware version : %s";
inline constexpr const char* kUploadFailsText = "Uploading decoder fails.";

// Largest firmware file read; far above any decoder image.
constexpr std::size_t kMaxFirmwareFileBytes = std::size_t{32} * 1024 * 1024;

// The engine's version text into out (empty on failure).
std::int32_t queryFirmwareVersion(ReaderManager& manager, EngineType engineType, ByteString& out);

// The firmware file the engine takes ("" when it takes none), the file dialog's filter and the
// text shown after a successful upload.
const char* firmwareFileFilter(EngineType engineType);
const char* uploadSucceedsText(EngineType engineType);
bool takesFirmware(EngineType engineType);

// One line of the CCD/Laser download protocol with its acknowledgement: "DOWNLOAD", ":ERASE",
// the end record, or a data record ("S3", count, address, data) to which the checksum byte and
// CR are added.
std::int32_t sendDownloadLine(ReaderChannel& channel, const ByteString& line,
                              std::uint32_t timeoutMs, std::int32_t tries);

// One data line of an S-record upload ("S3", count, address and data, without checksum and CR)
// and the progress to show once it is sent.
struct ShxLine {
    ByteString bytes;
    std::int32_t progress = 0;
};
struct ShxPlan {
    std::vector<ShxLine> lines;
    // The end record was reached; otherwise the upload fails once the lines are sent.
    bool ended = false;
};
// Up to five contiguous S3 records travel as one line with the first record's address; a record
// that does not follow on, or would take the count past 255, starts a new line. Other record
// types are skipped. A malformed data record ends the plan (not ended).
ShxPlan planShx(const std::uint8_t* text, std::size_t size);

// The records of a .dat file: the L record bytes of each, in order. False when a length runs
// past the file, a length cannot be framed (255), or the file ends without its zero length.
bool planDat(const std::uint8_t* data, std::size_t size, std::vector<ByteString>& records);
// The data packet of one record: 02, L + 1, the record, and the checksum of the last two.
ByteString datPacket(const ByteString& record);

// Upload of the file at path; progress gets positions from 0 to 100 (SHX) or 1000 (DAT).
std::int32_t uploadShxDecoder(ReaderManager& manager, const std::string& path,
                              const std::function<void(int)>& progress);
std::int32_t uploadDatDecoder(ReaderManager& manager, const std::string& path,
                              const std::function<void(int)>& progress);
// The upload the barcode engine takes, by its type; 0 for an engine that takes none.
std::int32_t uploadDecoder(ReaderManager& manager, const std::string& path,
                           const std::function<void(int)>& progress);

}  // namespace vandora
