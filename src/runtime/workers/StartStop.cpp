#include "runtime/workers/StartStop.h"

#include <span>
#include <utility>

#include "config/SettingLimits.h"
#include "config/SettingSections.h"
#include "config/SettingsTransfer.h"
#include "platform/Folders.h"
#include "platform/Log.h"
#include "platform/ThreadName.h"
#include "reader/Firmware.h"
#include "reader/engines/EngineTable.h"

namespace vandora {

namespace {

constexpr const char* kNoEngineText = "no barcode engine configured";
// Shown while a start looks for the engines the slow way (every type at every rate).
constexpr const char* kLookingText = "looking for the barcode engine...";

}  // namespace

StartStop::StartStop(const WorkerParts& workers, const StartStopParts& parts, StartStopHooks hooks)
    : workers_(workers),
      parts_(parts),
      hooks_(std::move(hooks)),
      file_(parts_.iniPath, stateFolder()) {}

void StartStop::startUp() {
    loadFile();
    startReadersAndSettings();
    finishStart();
}

void StartStop::startUpInBackground() {
    loadFile();
    IniStore& store = parts_.store;
    // The program's own settings are known from the file at once: a tool that asks for one
    // while the engines are still being found (vandoractl listen, for windowEvent) gets the
    // file's value, not the default. The start reads them again with the rest.
    if (!store.isEmpty()) {
        auto general = parts_.settings.generalFields();
        accessSection(store, kGeneral, kDirectionRead, std::span<const FieldRef>(general));
    }
    // A start without a known engine takes seconds: it is said, not left silent.
    ReaderHints hints = readerHints(store);
    lookingForEngines_ = parts_.detect || engineInfo(hints.barcode).hint == HintRole::Detect;
    if (lookingForEngines_) {
        workers_.view.showStatus(ByteString(kLookingText), StatusOrigin::Plain);
    }
    runInBackground([this] { startReadersAndSettings(); }, [this] { finishStart(); });
}

void StartStop::loadFile() {
    IniStore& store = parts_.store;
    if (!store.isEmpty()) {
        return;
    }
    file_.load(store);
    // A file an earlier save wrote holds every section save-all writes; anything else gets them
    // from the engines before the first save that does not wait for quit.
    storeWhole_ = file_.recognised() && !store.isEmpty();
    // Values the pages would never have let through are said, so that a hand edit that went
    // wrong is not silently taken.
    for (const std::string& problem : invalidStoredValues(store)) {
        logMessage(LogLevel::Warning, "bad value in " + parts_.iniPath + ": " + problem);
    }
}

// The slow part of a start: detection, the default sets and the stored settings sent to the
// engines. Runs while the loop keeps every message but Show.
void StartStop::startReadersAndSettings() {
    ReaderManager& manager = workers_.manager;
    AppSettings& settings = parts_.settings;
    ReaderHints hints = readerHints(parts_.store);
    if (parts_.detect) {
        hints.barcode = EngineType::Detect;
        hints.rfid = EngineType::Detect;
    }
    // A file that names no barcode engine opens none; it is said, not silently obeyed.
    noEngineConfigured_ = engineInfo(hints.barcode).hint == HintRole::NoEngine;
    if (manager.startReaders(hints.barcode, hints.rfid) != 0) {
        settings.enableBarcode = manager.barcodeReady;
        settings.enableRfid = manager.rfidReady;
        if (manager.barcodeReady != 0 && engineInfo(manager.barcodeEngineType()).imager) {
            settings.imagePath = ByteString(programFolder().c_str());
            settings.imagePath.append("images/");
        }
        // Asked once, before any thread talks to the engine: management tools show it.
        if (manager.barcodeReady != 0) {
            queryFirmwareVersion(manager, manager.barcodeEngineType(), firmwareVersion_);
        }
        hooks_.startWorkers();
    }
    if (!parts_.store.isEmpty()) {
        hooks_.sendStoredSettings();
    }
    if (parts_.detect) {
        // What detection found is stored at once, not only at the next quit.
        saveAll(manager, parts_.engine, parts_.store, settings);
        storeWhole_ = true;
        saveFailed_ = file_.save(parts_.store) == 0;
    }
}

void StartStop::logReaders() {
    ReaderManager& manager = workers_.manager;
    // The device path, or the port's own name where there is none (simulated ports).
    auto port = [this](std::int32_t which) {
        std::string path =
            parts_.ports != nullptr ? parts_.ports->devicePath(which) : std::string();
        return path.empty() ? "COM" + std::to_string(which) + ":" : path;
    };
    if (manager.barcodeReady != 0) {
        const ReaderChannel& barcode = manager.barcode;
        logMessage(LogLevel::Info,
                   "barcode engine " + std::to_string(toNumber(barcode.engineType)) + " at " +
                       std::to_string(barcode.baudRate) + " baud on " + port(kBarcodePort),
                   {{"ENGINE_TYPE", std::to_string(toNumber(barcode.engineType))},
                    {"PORT", port(kBarcodePort)},
                    {"BAUD", std::to_string(barcode.baudRate)}});
    }
    if (manager.rfidReady != 0) {
        const ReaderChannel& rfid = manager.rfid;
        logMessage(LogLevel::Info,
                   "RFID module " + std::to_string(toNumber(rfid.engineType)) + " variant " +
                       std::to_string(rfid.rfidVariant) + " on " + port(kRfidPort),
                   {{"ENGINE_TYPE", std::to_string(toNumber(rfid.engineType))},
                    {"PORT", port(kRfidPort)},
                    {"RFID_VARIANT", std::to_string(rfid.rfidVariant)}});
    }
    if (manager.rfidNotFound) {
        logMessage(LogLevel::Info, "no RFID module found on " + port(kRfidPort));
    }
    // The start-up status text holds one line per reader that failed.
    std::string failures = manager.statusText.narrow();
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
                       {{"ERROR_CODE", std::to_string(manager.channel(which).lastError)},
                        {"PORT", port(which)}});
        }
        begin = end == std::string::npos ? failures.size() : end + 1;
    }
}

void StartStop::finishStart() {
    ByteString status = workers_.manager.statusText;
    logReaders();
    if (noEngineConfigured_) {
        logMessage(LogLevel::Warning, "no barcode engine configured in " + parts_.iniPath +
                                          "; vandora --detect looks for one and stores it");
        status = ByteString(kNoEngineText);
    }
    if (saveFailed_) {
        logMessage(LogLevel::Error, file_.message());
        status = ByteString(file_.message().c_str());
    }
    if (!status.empty()) {
        workers_.view.showStatus(status, StatusOrigin::Logged);
    } else if (lookingForEngines_) {
        // The search is over and nothing failed: the status line no longer says it searches.
        workers_.view.showStatus(ByteString(), StatusOrigin::Plain);
    }
    lookingForEngines_ = false;
    hooks_.started();
}

void StartStop::runInBackground(std::function<void()> work, std::function<void()> then) {
    busy_ = true;
    backgroundThen_ = std::move(then);
    background_ = std::thread([this, work = std::move(work)] {
        nameThisThread("start");
        work();
        workers_.loop.post({Msg::BackgroundDone, 0, 0});
    });
}

void StartStop::joinBackground() {
    if (background_.joinable()) {
        background_.join();
    }
}

void StartStop::backgroundDone() {
    joinBackground();
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
        hooks_.handle(m);
    }
}

bool StartStop::keep(const Message& message) {
    // While a start or a reconnection works on the readers, only Show is answered at once; the
    // rest waits its turn.
    if (!busy_ || message.id == Msg::Show) {
        return false;
    }
    kept_.push_back(message);
    return true;
}

bool StartStop::saveSettings() {
    if (!storeWhole_) {
        // A first start's store holds only what was changed: a file of that alone would name
        // no engine at the next start.
        saveAll(workers_.manager, parts_.engine, parts_.store, parts_.settings);
        storeWhole_ = true;
    }
    if (file_.save(parts_.store) != 0) {
        return true;
    }
    logMessage(LogLevel::Error, file_.message());
    workers_.view.showStatus(ByteString(file_.message().c_str()), StatusOrigin::Logged);
    return false;
}

void StartStop::saveEverything() {
    saveAll(workers_.manager, parts_.engine, parts_.store, parts_.settings);
    storeWhole_ = true;
    if (file_.save(parts_.store) == 0) {
        saveFailed_ = true;
        logMessage(LogLevel::Error, file_.message());
        workers_.view.showStatus(ByteString(file_.message().c_str()), StatusOrigin::Logged);
    }
}

bool StartStop::confirmQuit() {
    workers_.view.showMaximized();
    if (workers_.view.messageBox("Do you want to quit?", "Warning") != MainView::kOk) {
        return false;
    }
    quitNow();
    return true;
}

void StartStop::quitNow() {
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
    workers_.loop.quit(0);
    hooks_.stopWorkers();
    saveEverything();
}

}  // namespace vandora
