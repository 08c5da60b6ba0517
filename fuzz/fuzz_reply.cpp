// Drives the reply, decode and image readers with arbitrary engine bytes (the input format is in
// ReplyInput.h). The readers must end however the bytes look, with bounded output, and report
// image progress only from 0 to 90 percent.
#include <cstdint>
#include <cstdlib>

#include "ReplyInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vandora::fuzz::ReplyRun run = vandora::fuzz::runReplyInput(data, size, [](int percent) {
        if (percent < 0 || percent > 90) {
            std::abort();
        }
    });
    if (run.result < 0 || run.out.length() > vandora::kMaxImageBytes) {
        std::abort();
    }
    return 0;
}
