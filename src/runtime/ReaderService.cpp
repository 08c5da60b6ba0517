#include "runtime/ReaderService.h"

#include <utility>

#include "config/SettingsTransfer.h"
#include "platform/Folders.h"
#include "reader/Scan.h"
#include "reader/engines/EngineTable.h"
#include "runtime/DecodeFormat.h"

namespace vandora {

namespace {

constexpr const char* kIniName = "VandoraINI.txt";

bool isImager(EngineType type) {
    return engineInfo(type).imager;
}

}  // namespace

ReaderService::ReaderService(const ReaderServiceParts& parts)
    : engine_(),
      manager_(parts.platform, &engine_),
      iniPath_(parts.iniPath.empty() ? programFolder() + kIniName : parts.iniPath),
      status_(&view_),
      goodRead_(manager_, parts.sound),
      workers_{manager_, view_, loop_, stopFlag_, decodes_},
      startStop_(
          workers_, {store_, settings_, engine_, iniPath_, parts.detect, parts.platform.ports},
          {[this] { startThreads(); }, [this] { stopThreads(); }, [this] { loadStoredSettings(); },
           [this] {
               reconnect_.watch();
               // The readers' types, rates and readiness are known now.
               stateChanged();
           },
           [this](const Message& m) { handle(m); }}),
      scan_(workers_, decodeTimeoutSeconds_),
      continuous_(workers_),
      rfid_(workers_, parts.view != nullptr),
      picture_(workers_, engine_, parts.pictures, decodeTimeoutSeconds_),
      upload_(workers_),
      reconnect_(workers_, settings_, parts.platform.ports, startStop_,
                 [this] { loadStoredSettings(); }) {
    view_.inner = parts.view;
    view_.changed = [this] { stateChanged(); };
    loop_.setHandler([this](const Message& m) { handle(m); });
}

void ReaderService::ViewTap::showStatus(const ByteString& text, StatusOrigin origin) {
    // Kept first: a window redraws its page from the service's status.
    bool differs = text != lastStatus;
    lastStatus = text;
    if (inner != nullptr) {
        inner->showStatus(text, origin);
    }
    if (differs && changed) {
        changed();
    }
}

ReaderService::~ReaderService() {
    startStop_.joinBackground();
    // A worker waiting to hand a decode to a loop that no longer runs is let go.
    loop_.quit(0);
    stopThreads();
    // The manager (a member) then closes both readers and unloads the system library.
    manager_.shutdownReaders();
}

void ReaderService::startThreads() {
    const EngineInfo& engine = engineInfo(manager_.barcodeEngineType());
    if (manager_.barcodeReady != 0) {
        scan_.start();
        if (engine.continuousScan) {
            continuous_.start();
        }
        if (engine.reinitThread) {
            reconnect_.start();
        }
        if (engine.imager) {
            picture_.start();
        }
        if (engine.firmware != FirmwareFile::None) {
            upload_.start();
        }
    }
    if (manager_.rfidReady != 0) {
        rfid_.start();
    }
    goodRead_.start();
}

void ReaderService::stopThreads() {
    // The order in which the window stops its threads; each finishes the job it is doing.
    upload_.stop();
    reconnect_.stop();
    scan_.stop();
    rfid_.stop();
    continuous_.stop();
    goodRead_.stop();
    picture_.stop();
}

void ReaderService::loadStoredSettings() {
    loadAll(manager_, engine_, store_, settings_, {},
            [this](bool readsBySelf) { continuous_.setOpen(readsBySelf); });
}

void ReaderService::switchReader(std::int32_t port, std::int32_t on) {
    if (port == kRfidPort) {
        manager_.rfidReady = on;
        settings_.enableRfid = on;
    } else {
        manager_.barcodeReady = on;
        settings_.enableBarcode = on;
    }
    stateChanged();
}

void ReaderService::triggerDown() {
    const EngineInfo& engine = engineInfo(manager_.barcodeEngineType());
    std::int32_t mode = manager_.scanMode;
    // A reader switched off in the settings does not scan.
    if (settings_.enableBarcode != 0) {
        if (engine.toggleScanModes.has(mode)) {
            continuous_.toggle();
        } else if (engine.imager && settings_.imageEnable != 0) {
            picture_.take();
        } else if (!engine.selfScanModes.has(mode)) {
            scan_.scanOnce();
        }
    }
    // The RFID part, always after the barcode part.
    if (settings_.enableRfid != 0) {
        rfid_.trigger(settings_);
    }
}

void ReaderService::triggerUp() {
    if (settings_.imageEnable != 0 && isImager(manager_.barcodeEngineType())) {
        return;
    }
    if (engineInfo(manager_.barcodeEngineType()).releaseKeepsScanning.has(manager_.scanMode)) {
        return;
    }
    stopScanning(manager_, 1, 1);
}

void ReaderService::onDecode(std::uint32_t kind) {
    if (kind != static_cast<std::uint32_t>(DecodeKind::Barcode) &&
        kind != static_cast<std::uint32_t>(DecodeKind::Rfid)) {
        return;
    }
    // Decodes of both kinds queue in the order their messages were sent.
    std::optional<Decode> decode = decodes_.take();
    if (!decode) {
        return;
    }
    bool active = view_.isActive();
    Delivery delivery = deliveryOf(std::move(*decode), active);
    ++goodReads_;
    // Other programs first: the record, the broadcasts and the keystrokes must not wait for the
    // good-read signals' threads to be woken or for the status line to be drawn.
    for (DecodeSink* sink : sinks_) {
        sink->deliver(delivery, settings_);
    }
    goodRead_.deliver(delivery, settings_);
    status_.deliver(delivery, settings_);
    stateChanged();
}

void ReaderService::handle(const Message& message) {
    if (message.id == Msg::BackgroundDone) {
        startStop_.backgroundDone();
        return;
    }
    // While a start or a reconnection works on the readers, only Show is answered at once; the
    // rest waits its turn.
    if (startStop_.keep(message)) {
        return;
    }
    switch (message.id) {
        case Msg::ReadFailed:
            ++failedReads_;
            lastReadError_ = static_cast<std::int32_t>(message.wParam);
            stateChanged();
            return;
        case Msg::BarcodeLost:
            reconnect_.lost();
            break;
        case Msg::User1Down:
        case Msg::User2Down:
            triggerDown();
            break;
        case Msg::User1Up:
        case Msg::User2Up:
            triggerUp();
            break;
        case Msg::Decode:
            onDecode(message.wParam);
            break;
        case Msg::DecodeImage:
            picture_.store(settings_.imagePath);
            break;
        case Msg::ReadImage:
            // A trigger press for other programs: a picture in image mode, a decode otherwise.
            if (isImager(manager_.barcodeEngineType())) {
                loop_.post({Msg::User1Down, 0, 0});
            }
            break;
        case Msg::TriggerOn:
        case Msg::TriggerOff:
            if (isImager(manager_.barcodeEngineType())) {
                switchReader(kBarcodePort, message.id == Msg::TriggerOn ? 1 : 0);
            }
            break;
        case Msg::ImageCaptureOn:
        case Msg::ImageCaptureOff:
            if (isImager(manager_.barcodeEngineType())) {
                settings_.imageEnable = message.id == Msg::ImageCaptureOn ? 1 : 0;
            }
            break;
        case Msg::Reinit:
            reconnect_.reinit();
            break;
        case Msg::Show:
            view_.showMaximized();
            break;
        case Msg::Quit:
            quitNow();
            break;
        default:
            break;
    }
}

}  // namespace vandora
