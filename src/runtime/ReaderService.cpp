#include "runtime/ReaderService.h"

#include <utility>

#include "config/SettingSections.h"
#include "config/SettingsTransfer.h"
#include "platform/Folders.h"
#include "reader/Scan.h"
#include "reader/engines/EngineTable.h"

namespace vandora {

namespace {

constexpr const char* kIniName = "VandoraINI.txt";
constexpr std::uint32_t kContinuousTimeoutMs = 500;
constexpr std::uint32_t kGateTakeBackMs = 10;
constexpr std::uint32_t kReinitPauseMs = 5000;

bool isImager(EngineType type) {
    return engineInfo(type).imager;
}

}  // namespace

ReaderService::ReaderService(const ReaderServiceParts& parts)
    : parts_(parts),
      engine_(),
      manager_(parts.platform, &engine_),
      iniPath_(parts.iniPath.empty() ? programFolder() + kIniName : parts.iniPath),
      file_(iniPath_, stateFolder()),
      status_(parts.view),
      goodRead_(manager_, parts.sound),
      sinks_{&status_, &goodRead_} {
    loop_.setHandler([this](const Message& m) { handle(m); });
}

ReaderService::~ReaderService() {
    stopThreads();
    // The manager (a member) then closes both readers and unloads the system library.
    manager_.shutdownReaders();
}

void ReaderService::startUp() {
    if (store_.isEmpty()) {
        file_.load(store_);
    }
    ReaderHints hints = readerHints(store_);
    if (manager_.startReaders(hints.barcode, hints.rfid) != 0) {
        settings_.enableBarcode = manager_.barcodeReady;
        settings_.enableRfid = manager_.rfidReady;
        if (manager_.barcodeReady != 0 && isImager(manager_.barcodeEngineType())) {
            settings_.imagePath = ByteString(programFolder().c_str());
            settings_.imagePath.append("images/");
        }
        startThreads();
    }
    if (!manager_.statusText.empty() && parts_.view != nullptr) {
        parts_.view->setStatusText(manager_.statusText);
    }
    if (!store_.isEmpty()) {
        loadAll(manager_, engine_, store_, settings_);
    }
}

void ReaderService::startThreads() {
    const EngineInfo& engine = engineInfo(manager_.barcodeEngineType());
    if (manager_.barcodeReady != 0) {
        scanThread_.start(scanRequest_, &scanDone_, stopFlag_, [this] {
            Decode decode;
            if (scanBarcode(manager_, decode, decodeTimeoutSeconds * 1000) != 0) {
                handOver(std::move(decode), false);
            }
        });
        if (engine.continuousScan) {
            continuousThread_.start(continuousRequest_, &continuousDone_, stopFlag_,
                                    [this] { continuousWork(); });
        }
        if (engine.reinitThread) {
            reinitThread_.start(reinitRequest_, nullptr, stopFlag_, [this] { reinitWork(); });
        }
    }
    if (manager_.rfidReady != 0) {
        // Tag reading comes with the RFID tag operations; the thread is in place for it.
        rfidThread_.start(rfidRequest_, &rfidDone_, rfidStopFlag_, [] {});
    }
    goodRead_.start();
}

void ReaderService::stopThreads() {
    // The order in which the window stops its threads; each finishes the job it is doing.
    reinitThread_.stop();
    scanThread_.stop();
    rfidThread_.stop();
    continuousThread_.stop();
    goodRead_.stop();
}

void ReaderService::continuousWork() {
    Decode decode;
    if (scanBarcode(manager_, decode, kContinuousTimeoutMs) != 0) {
        handOver(std::move(decode), true);
    }
    if (continuousGate_.tryWait()) {
        continuousRequest_.release();
        continuousGate_.release();
    }
    std::uint32_t pauseMs =
        engineInfo(manager_.barcodeEngineType()).continuousPause.forMode(manager_.scanMode);
    if (pauseMs != 0) {
        manager_.clock().sleepMs(pauseMs);
    }
}

void ReaderService::reinitWork() {
    std::int32_t ready = manager_.barcodeReady;
    manager_.barcodeReady = 0;
    if (parts_.view != nullptr) {
        parts_.view->showWaitMessage(true);
    }
    manager_.clock().sleepMs(kReinitPauseMs);
    if (parts_.view != nullptr) {
        parts_.view->showWaitMessage(false);
    }
    manager_.barcodeReady = ready;
    stopScanning(manager_, 1, 1);
}

void ReaderService::singleScan() {
    if (parts_.view != nullptr) {
        parts_.view->setStatusText(ByteString());
    }
    scanRequest_.release();
}

void ReaderService::triggerDown() {
    const EngineInfo& engine = engineInfo(manager_.barcodeEngineType());
    std::int32_t mode = manager_.scanMode;
    // A reader switched off in the settings does not scan.
    if (settings_.enableBarcode != 0) {
        if (engine.toggleScanModes.has(mode)) {
            if (toggleFlag_ == 0) {
                toggleFlag_ = 1;
                toggleCcdScan(manager_, 1);
                continuousGate_.release();
                continuousRequest_.release();
            } else {
                toggleFlag_ = 0;
                toggleCcdScan(manager_, 0);
                continuousGate_.wait(kGateTakeBackMs);
            }
        } else if (!engine.selfScanModes.has(mode)) {
            // Picture taking comes with image capture; until then an imager's trigger decodes.
            singleScan();
        }
    }
    // RFID part: a read (writing tags comes with the tag operations).
    if (settings_.enableRfid != 0 && settings_.rfidRW != 1) {
        rfidRequest_.release();
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

void ReaderService::handOver(Decode&& decode, bool wait) {
    Message message{Msg::Decode, static_cast<std::uint32_t>(decode.kind), 0};
    {
        std::lock_guard<std::mutex> lock(decodeMutex_);
        decodes_.push_back(std::move(decode));
    }
    if (wait) {
        loop_.send(message);
    } else {
        loop_.post(message);
    }
}

std::optional<Decode> ReaderService::takeDecode() {
    std::lock_guard<std::mutex> lock(decodeMutex_);
    if (decodes_.empty()) {
        return std::nullopt;
    }
    std::optional<Decode> decode(std::move(decodes_.front()));
    decodes_.pop_front();
    return decode;
}

void ReaderService::onDecode(std::uint32_t kind) {
    if (kind != static_cast<std::uint32_t>(DecodeKind::Barcode) &&
        kind != static_cast<std::uint32_t>(DecodeKind::Rfid)) {
        return;
    }
    // Decodes of both kinds queue in the order their messages were sent.
    std::optional<Decode> decode = takeDecode();
    if (!decode) {
        return;
    }
    bool active = parts_.view != nullptr && parts_.view->isActive();
    Delivery delivery = deliveryOf(std::move(*decode), active);
    for (DecodeSink* sink : sinks_) {
        sink->deliver(delivery, settings_);
    }
}

void ReaderService::handle(const Message& message) {
    switch (message.id) {
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
        case Msg::ReadImage:
            if (isImager(manager_.barcodeEngineType())) {
                loop_.post({Msg::User1Down, 0, 0});
            }
            break;
        case Msg::TriggerOn:
        case Msg::TriggerOff:
            if (isImager(manager_.barcodeEngineType())) {
                std::int32_t on = message.id == Msg::TriggerOn ? 1 : 0;
                manager_.barcodeReady = on;
                settings_.enableBarcode = on;
            }
            break;
        case Msg::ImageCaptureOn:
        case Msg::ImageCaptureOff:
            if (isImager(manager_.barcodeEngineType())) {
                settings_.imageEnable = message.id == Msg::ImageCaptureOn ? 1 : 0;
            }
            break;
        case Msg::Reinit:
            reinitRequest_.release();
            break;
        case Msg::Show:
            if (parts_.view != nullptr) {
                parts_.view->showMaximized();
            }
            break;
        case Msg::Quit:
            quitNow();
            break;
        default:
            break;
    }
}

void ReaderService::saveEverything() {
    saveAll(manager_, engine_, store_, settings_);
    if (file_.save(store_) == 0) {
        saveFailed_ = true;
        if (parts_.view != nullptr) {
            parts_.view->setStatusText(ByteString(file_.message().c_str()));
        }
    }
}

bool ReaderService::confirmQuit() {
    if (parts_.view != nullptr) {
        parts_.view->showMaximized();
        if (parts_.view->messageBox("Do you want to quit?", "Warning") != MainView::kOk) {
            return false;
        }
    }
    quitNow();
    return true;
}

void ReaderService::quitNow() {
    if (quitting_) {
        return;
    }
    quitting_ = true;
    // The loop stops first, so that a worker thread waiting to hand over a decode is let go;
    // scans in progress then finish before the engines are read back.
    loop_.quit(0);
    stopThreads();
    saveEverything();
}

}  // namespace vandora
