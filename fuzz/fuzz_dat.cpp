// Drives the .dat parser with arbitrary file bytes. Accepted records must lie inside the file,
// fit a data packet's length byte, and their packets must carry them unchanged.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "reader/Firmware.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<vandora::ByteString> records;
    bool ok = vandora::planDat(data, size, records);
    std::size_t total = 0;
    for (const vandora::ByteString& record : records) {
        total += 4 + record.length();
        if (record.length() == 0 || record.length() > 254) {
            std::abort();
        }
        vandora::ByteString packet = vandora::datPacket(record);
        if (packet.length() != record.length() + 4 || packet.byteAt(1) != record.length() + 1 ||
            packet.mid(2, record.length()) != record) {
            std::abort();
        }
    }
    if (ok && 8 + total + 1 > size) {
        std::abort();
    }
    return 0;
}
