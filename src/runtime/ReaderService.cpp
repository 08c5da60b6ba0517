#include "runtime/ReaderService.h"

#include <poll.h>

#include <array>
#include <cstdio>
#include <ctime>
#include <memory>
#include <utility>

#include "config/SettingLimits.h"
#include "config/SettingSections.h"
#include "config/SettingsTransfer.h"
#include "platform/Folders.h"
#include "platform/Log.h"
#include "reader/Firmware.h"
#include "reader/ImageCapture.h"
#include "reader/PortOps.h"
#include "reader/Scan.h"
#include "reader/Trigger.h"
#include "reader/engines/EngineTable.h"
#include "rfid/TagOps.h"
#include "runtime/DecodeFormat.h"
#include "runtime/PictureFormat.h"

namespace vandora {

namespace {

constexpr const char* kIniName = "VandoraINI.txt";
constexpr std::uint32_t kContinuousTimeoutMs = 500;
constexpr std::uint32_t kGateTakeBackMs = 10;
constexpr std::uint32_t kReinitPauseMs = 5000;
constexpr std::uint32_t kReconnectRetryMs = 1000;
constexpr const char* kNoEngineText = "no barcode engine configured";
// Shown while a start looks for the engines the slow way (every type at every rate).
constexpr const char* kLookingText = "looking for the barcode engine...";
constexpr const char* kEngineLostText = "barcode engine disconnected";
constexpr const char* kEngineBackText = "barcode engine reconnected";
constexpr const char* kCannotWriteText = "Cannot write data to tag.";
// A tag written on a trigger is read back a little beyond what was written.
constexpr std::int32_t kReadBackExtraBytes = 10;
constexpr const char* kNoDiskSpaceText = "Not enough disk space";
constexpr const char* kWarningCaption = "Warning";
constexpr const char* kImageBroadcast = "WM_IMAGE";
constexpr int kPictureProgressRange = 100;
constexpr int kShxProgressRange = 100;
constexpr int kDatProgressRange = 1000;

bool isImager(EngineType type) {
    return engineInfo(type).imager;
}

// A picture asked for on a terminal model that has no way to keep one: said, not taken.
void refusePicture(MainView* view, std::int32_t model) {
    std::string text =
        "no picture taken: terminal model " + std::to_string(model) + " has no picture handling";
    logMessage(LogLevel::Warning, text, {{"DEVICE_MODEL", std::to_string(model)}});
    if (view != nullptr) {
        view->setStatusText(ByteString(text.c_str()));
    }
}

}  // namespace

ReaderService::ReaderService(const ReaderServiceParts& parts)
    : parts_(parts),
      engine_(),
      manager_(parts.platform, &engine_),
      iniPath_(parts.iniPath.empty() ? programFolder() + kIniName : parts.iniPath),
      file_(iniPath_, stateFolder()),
      status_(&view_),
      goodRead_(manager_, parts.sound),
      pictureFiles_(parts.pictures != nullptr ? parts.pictures : &realPictureFiles_) {
    view_.inner = parts.view;
    view_.changed = [this] { stateChanged(); };
    parts_.view = &view_;
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
    if (background_.joinable()) {
        background_.join();
    }
    // A worker waiting to hand a decode to a loop that no longer runs is let go.
    loop_.quit(0);
    stopThreads();
    // The manager (a member) then closes both readers and unloads the system library.
    manager_.shutdownReaders();
}

void ReaderService::startUp() {
    loadFile();
    startReadersAndSettings();
    finishStart();
}

void ReaderService::startUpInBackground() {
    loadFile();
    // The program's own settings are known from the file at once: a tool that asks for one
    // while the engines are still being found (vandoractl listen, for windowEvent) gets the
    // file's value, not the default. The start reads them again with the rest.
    if (!store_.isEmpty()) {
        auto general = settings_.generalFields();
        accessSection(store_, kGeneral, kDirectionRead, std::span<const FieldRef>(general));
    }
    // A start without a known engine takes seconds: it is said, not left silent.
    ReaderHints hints = readerHints(store_);
    lookingForEngines_ = parts_.detect || engineInfo(hints.barcode).hint == HintRole::Detect;
    if (lookingForEngines_ && parts_.view != nullptr) {
        parts_.view->showStatus(ByteString(kLookingText), StatusOrigin::Plain);
    }
    runInBackground([this] { startReadersAndSettings(); }, [this] { finishStart(); });
}

void ReaderService::loadFile() {
    if (!store_.isEmpty()) {
        return;
    }
    file_.load(store_);
    // A file an earlier save wrote holds every section save-all writes; anything else gets them
    // from the engines before the first save that does not wait for quit.
    storeWhole_ = file_.recognised() && !store_.isEmpty();
    // Values the pages would never have let through are said, so that a hand edit that went
    // wrong is not silently taken.
    for (const std::string& problem : invalidStoredValues(store_)) {
        logMessage(LogLevel::Warning, "bad value in " + iniPath_ + ": " + problem);
    }
}

// The slow part of a start: detection, the default sets and the stored settings sent to the
// engines. Runs while the loop keeps every message but Show.
void ReaderService::startReadersAndSettings() {
    ReaderHints hints = readerHints(store_);
    if (parts_.detect) {
        hints.barcode = EngineType::Detect;
        hints.rfid = EngineType::Detect;
    }
    // A file that names no barcode engine opens none; it is said, not silently obeyed.
    noEngineConfigured_ = engineInfo(hints.barcode).hint == HintRole::NoEngine;
    if (manager_.startReaders(hints.barcode, hints.rfid) != 0) {
        settings_.enableBarcode = manager_.barcodeReady;
        settings_.enableRfid = manager_.rfidReady;
        if (manager_.barcodeReady != 0 && isImager(manager_.barcodeEngineType())) {
            settings_.imagePath = ByteString(programFolder().c_str());
            settings_.imagePath.append("images/");
        }
        // Asked once, before any thread talks to the engine: management tools show it.
        if (manager_.barcodeReady != 0) {
            queryFirmwareVersion(manager_, manager_.barcodeEngineType(), firmwareVersion_);
        }
        startThreads();
    }
    if (!store_.isEmpty()) {
        loadStoredSettings();
    }
    if (parts_.detect) {
        // What detection found is stored at once, not only at the next quit.
        saveAll(manager_, engine_, store_, settings_);
        storeWhole_ = true;
        saveFailed_ = file_.save(store_) == 0;
    }
}

void ReaderService::logReaders() {
    // The device path, or the port's own name where there is none (simulated ports).
    auto port = [this](std::int32_t which) {
        std::string path = parts_.platform.ports != nullptr
                               ? parts_.platform.ports->devicePath(which)
                               : std::string();
        return path.empty() ? "COM" + std::to_string(which) + ":" : path;
    };
    if (manager_.barcodeReady != 0) {
        const ReaderChannel& barcode = manager_.barcode;
        logMessage(LogLevel::Info,
                   "barcode engine " + std::to_string(toNumber(barcode.engineType)) + " at " +
                       std::to_string(barcode.baudRate) + " baud on " + port(kBarcodePort),
                   {{"ENGINE_TYPE", std::to_string(toNumber(barcode.engineType))},
                    {"PORT", port(kBarcodePort)},
                    {"BAUD", std::to_string(barcode.baudRate)}});
    }
    if (manager_.rfidReady != 0) {
        const ReaderChannel& rfid = manager_.rfid;
        logMessage(LogLevel::Info,
                   "RFID module " + std::to_string(toNumber(rfid.engineType)) + " variant " +
                       std::to_string(rfid.rfidVariant) + " on " + port(kRfidPort),
                   {{"ENGINE_TYPE", std::to_string(toNumber(rfid.engineType))},
                    {"PORT", port(kRfidPort)},
                    {"RFID_VARIANT", std::to_string(rfid.rfidVariant)}});
    }
    if (manager_.rfidNotFound) {
        logMessage(LogLevel::Info, "no RFID module found on " + port(kRfidPort));
    }
    // The start-up status text holds one line per reader that failed.
    std::string failures = manager_.statusText.narrow();
    std::size_t begin = 0;
    while (begin < failures.size()) {
        std::size_t end = failures.find('\n', begin);
        std::string line = failures.substr(begin, end == std::string::npos ? end : end - begin);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty()) {
            // The barcode engine's line comes first; the RFID module's line names it.
            std::int32_t which = line.find("RFID") != std::string::npos ? kRfidPort : kBarcodePort;
            logMessage(LogLevel::Error, line,
                       {{"ERROR_CODE", std::to_string(manager_.channel(which).lastError)},
                        {"PORT", port(which)}});
        }
        begin = end == std::string::npos ? failures.size() : end + 1;
    }
}

void ReaderService::finishStart() {
    ByteString status = manager_.statusText;
    logReaders();
    if (noEngineConfigured_) {
        logMessage(LogLevel::Warning, "no barcode engine configured in " + iniPath_ +
                                          "; vandora --detect looks for one and stores it");
        status = ByteString(kNoEngineText);
    }
    if (saveFailed_) {
        logMessage(LogLevel::Error, file_.message());
        status = ByteString(file_.message().c_str());
    }
    if (!status.empty() && parts_.view != nullptr) {
        parts_.view->showStatus(status, StatusOrigin::Logged);
    } else if (lookingForEngines_ && parts_.view != nullptr) {
        // The search is over and nothing failed: the status line no longer says it searches.
        parts_.view->showStatus(ByteString(), StatusOrigin::Plain);
    }
    lookingForEngines_ = false;
    watchBarcodeHangUp();
    // The readers' types, rates and readiness are known now.
    stateChanged();
}

void ReaderService::runInBackground(std::function<void()> work, std::function<void()> then) {
    busy_ = true;
    backgroundThen_ = std::move(then);
    background_ = std::thread([this, work = std::move(work)] {
        work();
        loop_.post({Msg::BackgroundDone, 0, 0});
    });
}

void ReaderService::onBackgroundDone() {
    if (background_.joinable()) {
        background_.join();
    }
    busy_ = false;
    if (backgroundThen_) {
        std::function<void()> then = std::move(backgroundThen_);
        backgroundThen_ = nullptr;
        then();
    }
    if (quitWhenDone_) {
        quitNow();
        return;
    }
    // What came meanwhile, in order; a new background job keeps the rest again.
    while (!kept_.empty() && !busy_) {
        Message m = kept_.front();
        kept_.pop_front();
        handle(m);
    }
}

void ReaderService::watchBarcodeHangUp() {
    unwatchBarcodeHangUp();
    ReaderChannel& channel = manager_.barcode;
    int fd = channel.handle ? channel.handle->hangUpFd() : -1;
    if (fd < 0 || manager_.barcodeReady == 0) {
        return;
    }
    // Asked for no events: poll still reports the device's hang-up, and nothing else.
    hangUpWatchId_ = loop_.watchFd(fd, 0, [this](short revents) {
        if ((revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            unwatchBarcodeHangUp();
            onBarcodeLost();
        }
    });
}

void ReaderService::unwatchBarcodeHangUp() {
    if (hangUpWatchId_ >= 0) {
        loop_.unwatchFd(hangUpWatchId_);
        hangUpWatchId_ = -1;
    }
}

void ReaderService::onBarcodeLost() {
    if (barcodeLost_ || quitting_) {
        return;
    }
    barcodeLost_ = true;
    unwatchBarcodeHangUp();
    lostType_ = manager_.barcodeEngineType();
    manager_.barcodeReady = 0;
    settings_.enableBarcode = 0;
    // Under the channel lock: a read still on the port ends first (a gone device fails at once).
    manager_.barcode.channelLock.wait();
    closePort(manager_.barcode);
    manager_.barcode.channelLock.release();
    std::string path =
        parts_.platform.ports != nullptr ? parts_.platform.ports->devicePath(kBarcodePort) : "";
    logMessage(LogLevel::Warning,
               std::string(kEngineLostText) + ": the engine" +
                   (path.empty() ? std::string() : " at " + path) + " went away",
               {{"PORT", path}});
    if (parts_.view != nullptr) {
        parts_.view->showStatus(ByteString(kEngineLostText), StatusOrigin::Logged);
    }
    if (path.empty() || !deviceWatch_.start(path)) {
        return;
    }
    deviceWatchId_ = loop_.watchFd(deviceWatch_.fd(), POLLIN, [this](short) {
        if (deviceWatch_.drain() && !busy_) {
            reconnectBarcode();
        }
    });
    // It may be back already.
    if (deviceWatch_.drain()) {
        reconnectBarcode();
    }
}

void ReaderService::reconnectBarcode() {
    if (!barcodeLost_ || busy_ || quitting_) {
        return;
    }
    auto opened = std::make_shared<std::int32_t>(0);
    runInBackground(
        [this, opened] {
            *opened = manager_.openReader(kBarcodePort, lostType_);
            if (*opened != 0) {
                // The engine may have lost its settings with its power: they are sent again.
                loadStoredSettings();
            }
        },
        [this, opened] {
            if (*opened == 0) {
                // Not answering yet (still powering up): the next change of the device tries
                // again.
                if (deviceWatch_.drain()) {
                    loop_.addTimer(kReconnectRetryMs, [this] { reconnectBarcode(); });
                }
                return;
            }
            if (deviceWatchId_ >= 0) {
                loop_.unwatchFd(deviceWatchId_);
                deviceWatchId_ = -1;
            }
            deviceWatch_.stop();
            barcodeLost_ = false;
            manager_.barcodeReady = 1;
            settings_.enableBarcode = 1;
            logMessage(LogLevel::Notice, kEngineBackText);
            if (parts_.view != nullptr) {
                parts_.view->showStatus(ByteString(kEngineBackText), StatusOrigin::Logged);
            }
            watchBarcodeHangUp();
        });
}

void ReaderService::startThreads() {
    const EngineInfo& engine = engineInfo(manager_.barcodeEngineType());
    if (manager_.barcodeReady != 0) {
        scanThread_.start(scanRequest_, &scanDone_, stopFlag_, [this] {
            Decode decode;
            // Handed over before the engine is turned off: the outputs need not wait for that.
            if (scanBarcode(manager_, decode, decodeTimeoutSeconds * 1000,
                            [this](Decode& read) { handOver(std::move(read), false); }) == 0) {
                if (manager_.barcode.lost != 0) {
                    loop_.post({Msg::BarcodeLost, 0, 0});
                } else {
                    loop_.post({Msg::ReadFailed, manager_.barcode.lastError, 0});
                }
            }
        });
        if (engine.continuousScan) {
            continuousThread_.start(continuousRequest_, &continuousDone_, stopFlag_,
                                    [this] { continuousWork(); });
        }
        if (engine.reinitThread) {
            reinitThread_.start(reinitRequest_, nullptr, stopFlag_, [this] { reinitWork(); });
        }
        if (engine.imager) {
            imageThread_.start(pictureRequest_, &pictureDone_, stopFlag_, [this] { imageWork(); });
        }
        if (engine.firmware != FirmwareFile::None) {
            uploadThread_.start(uploadRequest_, nullptr, stopFlag_, [this] { uploadWork(); });
        }
    }
    if (manager_.rfidReady != 0) {
        rfidThread_.start(rfidRequest_, &rfidDone_, rfidStopFlag_, [this] { rfidWork(); });
    }
    goodRead_.start();
}

void ReaderService::stopThreads() {
    // The order in which the window stops its threads; each finishes the job it is doing.
    uploadThread_.stop();
    reinitThread_.stop();
    scanThread_.stop();
    rfidThread_.stop();
    continuousThread_.stop();
    goodRead_.stop();
    imageThread_.stop();
}

void ReaderService::loadStoredSettings() {
    loadAll(manager_, engine_, store_, settings_, {},
            [this](bool readsBySelf) { setContinuousScan(readsBySelf); });
}

void ReaderService::setContinuousScan(bool on) {
    if (on) {
        continuousGate_.release();
        continuousRequest_.release();
    } else {
        continuousGate_.wait(kGateTakeBackMs);
    }
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

void ReaderService::continuousWork() {
    Decode decode;
    if (scanBarcode(manager_, decode, kContinuousTimeoutMs) != 0) {
        handOver(std::move(decode), true);
    } else if (manager_.barcode.lost != 0) {
        loop_.post({Msg::BarcodeLost, 0, 0});
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

void ReaderService::rfidWork() {
    RfidReadArgs args;
    {
        std::lock_guard<std::mutex> lock(rfidArgsMutex_);
        args = rfidArgs_;
    }
    TagRead tag;
    if (readTag(manager_, args.start, args.length, args.key, args.keyType, tag) == 0) {
        loop_.post({Msg::ReadFailed, manager_.rfid.lastError, 0});
        return;
    }
    Decode decode;
    decode.kind = DecodeKind::Rfid;
    decode.engineType = manager_.rfid.engineType;
    decode.codeTypeId = tag.codeTypeId;
    decode.codeTypeName = std::move(tag.codeTypeName);
    decode.data = std::move(tag.uid);
    decode.userData = std::move(tag.userData);
    handOver(std::move(decode), true);
}

// Writes the configured content to the tag in the field and shows the tag read back; nothing is
// delivered to the outputs.
void ReaderService::writeTagOnTrigger() {
    ByteString data;
    if (settings_.isHexContent != 0) {
        hexToBytes(settings_.rfidWriteContent, data);
    } else {
        data = settings_.rfidWriteContent;
    }
    std::int32_t written = writeTag(manager_, settings_.rfidWriteStartByte, data,
                                    settings_.mifareLoginKeyA, settings_.m_rfidSecurityKeyType);
    // Without a window there is nobody to show the tag read back to.
    if (written == 0) {
        logMessage(LogLevel::Warning, kCannotWriteText,
                   {{"ERROR_CODE", std::to_string(manager_.rfid.lastError)}});
    }
    if (view_.inner == nullptr) {
        return;
    }
    if (written == 0) {
        parts_.view->showStatus(ByteString(kCannotWriteText), StatusOrigin::Logged);
        return;
    }
    TagRead tag;
    std::int32_t length = static_cast<std::int32_t>(data.length()) + kReadBackExtraBytes;
    if (readTag(manager_, settings_.rfidWriteStartByte, length, settings_.mifareLoginKeyA,
                settings_.m_rfidSecurityKeyType, tag) == 0) {
        return;
    }
    parts_.view->setStatusText(
        rfidStatusText(tag.codeTypeName, tag.uid, tag.userData, settings_.isHexContent != 0));
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

void ReaderService::imageWork() {
    MainView* view = parts_.view;
    if (view != nullptr) {
        view->showProgress(true);
    }
    PictureFormat format = imagerPictureFormat(manager_, engine_);
    std::vector<std::uint8_t> picture;
    std::int32_t taken =
        captureImage(manager_, picture, decodeTimeoutSeconds * 1000, format, [view](int percent) {
            if (view != nullptr) {
                view->setProgress(percent, kPictureProgressRange);
            }
        });
    if (view != nullptr) {
        view->showProgress(false);
    }
    if (taken == 0) {
        if (manager_.barcode.lost != 0) {
            loop_.post({Msg::BarcodeLost, 0, 0});
        }
        return;
    }
    // Handed over while this thread waits: the loop stores it before the next picture is taken.
    picture_ = std::move(picture);
    pictureFormat_ = format;
    loop_.send({Msg::DecodeImage, 1, 0});
}

void ReaderService::onDecodeImage() {
    std::string folder = settings_.imagePath.narrow();
    if (folder.empty()) {
        folder = programFolder() + "images/";
    }
    pictureFiles_->ensureDirectory(folder);
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::string name = pictureFileName(folder, local, pictureExtension(pictureFormat_));
    if (!pictureFiles_->hasDiskSpace(folder, picture_.size())) {
        logMessage(LogLevel::Warning,
                   std::string(kNoDiskSpaceText) + " for a picture in " + folder);
        if (parts_.view != nullptr) {
            parts_.view->messageBox(kNoDiskSpaceText, kWarningCaption);
        }
        return;
    }
    int error = 0;
    std::string saved = pictureFiles_->save(name, picture_, error);
    if (saved.empty()) {
        logMessage(LogLevel::Error, "cannot write the picture " + name,
                   {{"ERRNO", std::to_string(error)}});
        return;
    }
    lastPicture_ = saved;
    if (parts_.view != nullptr) {
        parts_.view->showPicture(saved);
    }
    if (broadcasts_ != nullptr) {
        broadcasts_->emitMessage(kImageBroadcast, 0, 0);
        broadcasts_->flush();
    }
}

void ReaderService::firmwareWarning() {
    EngineType type = manager_.barcodeEngineType();
    if (!takesFirmware(type)) {
        return;
    }
    ByteString version;
    {
        ChannelHold hold(manager_.barcode);
        queryFirmwareVersion(manager_, type, version);
    }
    std::string text = kFirmwareWarningText;
    text.replace(text.find("%s"), 2, version.narrow());
    if (parts_.view == nullptr || parts_.view->messageBox(text, kWarningCaption) == MainView::kOk) {
        uploadRequest_.release();
    }
}

void ReaderService::uploadWork() {
    MainView* view = parts_.view;
    EngineType type = manager_.barcodeEngineType();
    if (uploadEnded_ || view == nullptr) {
        return;
    }
    std::string path = view->chooseFile(firmwareFileFilter(type));
    if (path.empty()) {
        // A cancelled choice ends uploads until the next start.
        uploadEnded_ = true;
        return;
    }
    view->setEnabled(false);
    view->showProgress(true);
    int range =
        engineInfo(type).firmware == FirmwareFile::Dat ? kDatProgressRange : kShxProgressRange;
    std::int32_t ok = 0;
    {
        // Scans wait meanwhile: nothing else may talk to the engine while it takes firmware.
        ChannelHold hold(manager_.barcode);
        ok = uploadDecoder(manager_, path,
                           [view, range](int position) { view->setProgress(position, range); });
    }
    view->showProgress(false);
    view->setEnabled(true);
    if (ok != 0) {
        logMessage(LogLevel::Notice, "decoder firmware " + path + " uploaded");
    } else {
        logMessage(LogLevel::Error, std::string(kUploadFailsText) + " (" + path + ")",
                   {{"ERROR_CODE", std::to_string(manager_.barcode.lastError)}});
    }
    view->messageBox(ok != 0 ? uploadSucceedsText(type) : kUploadFailsText, kWarningCaption);
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
                setContinuousScan(true);
            } else {
                toggleFlag_ = 0;
                toggleCcdScan(manager_, 0);
                setContinuousScan(false);
            }
        } else if (engine.imager && settings_.imageEnable != 0) {
            if (pictureHandlingKnown(manager_.deviceModel())) {
                pictureRequest_.release();
            } else {
                refusePicture(parts_.view, manager_.deviceModel());
            }
        } else if (!engine.selfScanModes.has(mode)) {
            singleScan();
        }
    }
    if (settings_.enableRfid != 0) {
        if (settings_.rfidRW != 1) {
            {
                // The read thread takes the settings as they were at the press.
                std::lock_guard<std::mutex> lock(rfidArgsMutex_);
                rfidArgs_ = {settings_.rfidReadStartByte, settings_.rfidReadLength,
                             settings_.mifareLoginKeyA, settings_.m_rfidSecurityKeyType};
            }
            rfidRequest_.release();
        } else {
            writeTagOnTrigger();
        }
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
    bool active = parts_.view->isActive();
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
        onBackgroundDone();
        return;
    }
    // While a start or a reconnection works on the readers, only Show is answered at once; the
    // rest waits its turn.
    if (busy_ && message.id != Msg::Show) {
        kept_.push_back(message);
        return;
    }
    switch (message.id) {
        case Msg::ReadFailed:
            ++failedReads_;
            lastReadError_ = static_cast<std::int32_t>(message.wParam);
            stateChanged();
            return;
        case Msg::BarcodeLost:
            onBarcodeLost();
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
            onDecodeImage();
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
            if (barcodeLost_) {
                // A lost engine is looked for again at once.
                if (deviceWatch_.drain()) {
                    reconnectBarcode();
                }
                break;
            }
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

bool ReaderService::saveSettings() {
    if (!storeWhole_) {
        // A first start's store holds only what was changed: a file of that alone would name
        // no engine at the next start.
        saveAll(manager_, engine_, store_, settings_);
        storeWhole_ = true;
    }
    if (file_.save(store_) != 0) {
        return true;
    }
    logMessage(LogLevel::Error, file_.message());
    if (parts_.view != nullptr) {
        parts_.view->showStatus(ByteString(file_.message().c_str()), StatusOrigin::Logged);
    }
    return false;
}

void ReaderService::saveEverything() {
    saveAll(manager_, engine_, store_, settings_);
    storeWhole_ = true;
    if (file_.save(store_) == 0) {
        saveFailed_ = true;
        if (parts_.view != nullptr) {
            logMessage(LogLevel::Error, file_.message());
            parts_.view->showStatus(ByteString(file_.message().c_str()), StatusOrigin::Logged);
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
    if (busy_) {
        // The readers are being started or reconnected: quit once that work is done.
        quitWhenDone_ = true;
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
