#include "reader/ImageCapture.h"

#include "reader/Exchange.h"
#include "reader/Scan.h"
#include "reader/TerminalModels.h"
#include "reader/Trigger.h"
#include "reader/engines/PacketProtocol.h"

namespace vandora {

namespace {

constexpr std::uint32_t kSnapshotModeMs = 1000;
constexpr std::int32_t kSnapshotModeAttempts = 5;
constexpr std::uint8_t kImagerMode = 0xF7;

}  // namespace

bool pictureHandlingKnown(std::int32_t model) {
    return terminalModel(model).picture != PictureHandling::Refused;
}

std::int32_t captureImage(ReaderManager& manager, std::vector<std::uint8_t>& picture,
                          std::uint32_t timeoutMs, PictureFormat format,
                          const std::function<void(int)>& progress) {
    picture.clear();
    // Nothing is taken that could not be kept: the generic model and a model without a rule.
    if (!pictureHandlingKnown(manager.deviceModel()) || manager.barcodeReady == 0) {
        return 0;
    }
    ReaderChannel& channel = manager.barcode;
    manager.beginImageCapture();
    {
        ChannelHold hold(channel);
        // Snapshot mode: the imager mode packet has source 0. Its answer does not matter.
        ByteString snapshot;
        snapshot.append(u'\x05');
        snapshot.append(static_cast<char16_t>(kImagerMode));
        snapshot.append(u'\x00');
        snapshot.append(u'\x00');
        snapshot.append(u'\x01');
        ByteString reply;
        exchange(channel, snapshot, kSnapshotModeMs, &reply, kSnapshotModeAttempts);
    }
    if (setTrigger(channel, 1) == 0) {
        return 0;
    }
    if (progress) {
        progress(0);
    }
    std::int32_t received = 0;
    {
        ChannelHold hold(channel);
        channel.scanTimeout = timeoutMs;
        received = receiveImage(channel, progress);
    }
    setTrigger(channel, 0);
    if (received == 0) {
        return 0;
    }
    std::vector<std::uint8_t> raw = channel.decodeData.bytes();
    switch (terminalModel(manager.deviceModel()).picture) {
        case PictureHandling::AsReceived:
            picture = std::move(raw);
            break;
        case PictureHandling::Converted:
            convertImage(raw, format, picture);
            break;
        case PictureHandling::Refused:
            return 0;
    }
    if (progress) {
        progress(100);
    }
    return 1;
}

std::int32_t convertImage(const std::vector<std::uint8_t>& raw, PictureFormat format,
                          std::vector<std::uint8_t>& out) {
    out = raw;
    std::vector<std::uint8_t> turned;
    if (!rotatePicture180(raw.data(), raw.size(), format, turned)) {
        return 0;
    }
    out = std::move(turned);
    return 1;
}

}  // namespace vandora
