// Drives the reply, decode and image readers with arbitrary engine bytes. The first input byte
// picks the engine type and the reader; the rest is cut into answers ([length][bytes]...), one
// answer sent for each write of the host. Everything runs in virtual time, so a run ends however
// the bytes look; the readers must end too, with bounded output.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "SimulatedPort.h"
#include "reader/Exchange.h"
#include "reader/PortOps.h"
#include "reader/ReaderManager.h"

namespace {

using namespace vandora;

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

constexpr std::int32_t kTypes[] = {2, 3, 4, 5, 6, 8, 9};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    std::int32_t type = kTypes[data[0] % 7];
    int reader = (data[0] / 7) % 4;
    std::vector<std::vector<std::uint8_t>> chunks;
    std::size_t pos = 1;
    while (pos < size) {
        std::size_t n = data[pos++];
        if (n == 0) {
            n = 256;
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
        abort();
    }
    writeFrame(channel, ByteString("go"));
    ByteString out;
    switch (reader) {
        case 0:
            readReply(channel, out, 1000, 0);
            break;
        case 1:
            readReply(channel, out, 1000, 1);
            break;
        case 2:
            channel.engineType = EngineType::Imager2D;
            receiveImage(channel, [](int percent) {
                if (percent < 0 || percent > 90) {
                    abort();
                }
            });
            out = channel.decodeData;
            break;
        default:
            channel.engineType = EngineType::Imager2D;
            exchangeFirmware(channel, ByteString("fw"), 500, &out, 2);
            break;
    }
    if (out.length() > kMaxImageBytes) {
        abort();
    }
    return 0;
}
