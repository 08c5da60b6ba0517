#include "runtime/workers/WorkerParts.h"

#include <chrono>

namespace vandora {

void DecodeHandOver::handOver(EventLoop& loop, Decode&& decode, bool wait) {
    Message message{Msg::Decode, static_cast<std::uint32_t>(decode.kind), 0};
    if (decode.madeMs == 0) {
        decode.madeMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        decodes_.push_back(std::move(decode));
    }
    if (wait) {
        loop.send(message);
    } else {
        loop.post(message);
    }
}

std::optional<Decode> DecodeHandOver::take() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (decodes_.empty()) {
        return std::nullopt;
    }
    std::optional<Decode> decode(std::move(decodes_.front()));
    decodes_.pop_front();
    return decode;
}

}  // namespace vandora
