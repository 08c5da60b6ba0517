// The input of fuzz_reply and what it does with it, shared with the seed generator so that the
// seeds are checked against exactly what the fuzzer runs.
//
// The first input byte picks the engine type (byte % 7 into kReplyTypes) and the reader
// ((byte / 7) % 4: reply, decode, image, firmware); the rest is cut into answers
// ([length][bytes]..., a length of 0 meaning 256), one answer sent for each write of the host.
// Everything runs in virtual time, so a run ends however the bytes look.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "SimulatedPort.h"
#include "reader/Exchange.h"
#include "reader/PortOps.h"
#include "reader/ReaderManager.h"

namespace vandora::fuzz {

constexpr std::int32_t kReplyTypes[] = {2, 3, 4, 5, 6, 8, 9};
constexpr std::size_t kReplyTypeCount = std::size(kReplyTypes);
enum ReplyReader { kReadReply = 0, kReadDecode = 1, kReadImage = 2, kReadFirmware = 3 };
constexpr std::size_t kMaxAnswer = 256;

// Sends the next answer for every write of the host.
class ChunkModel final : public sim::EngineModel {
  public:
    explicit ChunkModel(std::vector<std::vector<std::uint8_t>> chunks)
        : chunks_(std::move(chunks)) {}
    void onHostBytes(const std::uint8_t*, std::size_t, std::uint32_t, sim::SimLink& link) override {
        if (next_ < chunks_.size()) {
            link.send(chunks_[next_++], 0);
        }
    }

  private:
    std::vector<std::vector<std::uint8_t>> chunks_;
    std::size_t next_ = 0;
};

struct ReplyRun {
    std::int32_t result = 0;
    ByteString out;
};

inline ReplyRun runReplyInput(const std::uint8_t* data, std::size_t size,
                              void (*progress)(int) = nullptr) {
    ReplyRun run;
    if (size < 1) {
        return run;
    }
    std::int32_t type = kReplyTypes[data[0] % kReplyTypeCount];
    int reader = (data[0] / kReplyTypeCount) % 4;
    std::vector<std::vector<std::uint8_t>> chunks;
    std::size_t pos = 1;
    while (pos < size) {
        std::size_t n = data[pos++];
        if (n == 0) {
            n = kMaxAnswer;
        }
        n = std::min(n, size - pos);
        chunks.emplace_back(data + pos, data + pos + n);
        pos += n;
    }
    VirtualClock clock;
    sim::SimulatedPortProvider ports(clock);
    ports.attach(1, std::make_shared<ChunkModel>(std::move(chunks)));
    ports.faultsFor(1).noModemLines = true;
    ReaderPlatform platform;
    platform.clock = &clock;
    platform.ports = &ports;
    platform.registryPath = "/nonexistent";
    ReaderManager manager(platform);
    ReaderChannel& channel = manager.barcode;
    channel.port = 1;
    channel.engineType = EngineType(type);
    if (openPort(channel) == 0) {
        run.result = -1;
        return run;
    }
    writeFrame(channel, ByteString("go"));
    switch (reader) {
        case kReadReply:
            run.result = readReply(channel, run.out, 1000, 0);
            break;
        case kReadDecode:
            run.result = readReply(channel, run.out, 1000, 1);
            break;
        case kReadImage:
            channel.engineType = EngineType::Imager2D;
            run.result = receiveImage(channel, [progress](int percent) {
                if (progress != nullptr) {
                    progress(percent);
                }
            });
            run.out = channel.decodeData;
            break;
        default:
            channel.engineType = EngineType::Imager2D;
            run.result = exchangeFirmware(channel, ByteString("fw"), 500, &run.out, 2);
            break;
    }
    return run;
}

}  // namespace vandora::fuzz
