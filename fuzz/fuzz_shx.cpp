// Drives the S-record parser with arbitrary file text. Every line it plans must be one the engine
// can take: "S3", a count that covers exactly the address and data after it, never more than 255,
// at most five records' data, and progress positions from 5 to 105.
#include <cstdint>
#include <cstdlib>

#include "reader/Firmware.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vandora::ShxPlan plan = vandora::planShx(data, size);
    for (const vandora::ShxLine& line : plan.lines) {
        const vandora::ByteString& b = line.bytes;
        if (b.length() < 7 || b.byteAt(0) != 'S' || b.byteAt(1) != '3' ||
            // count = address + data + the checksum the line gets when it is sent
            b.byteAt(2) != b.length() - 3 + 1 || b.byteAt(2) > 255 || line.progress < 5 ||
            line.progress > 105) {
            std::abort();
        }
    }
    return 0;
}
