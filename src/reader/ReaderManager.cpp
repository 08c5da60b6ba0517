#include "reader/ReaderManager.h"

#include "platform/Folders.h"
#include "platform/Registry.h"
#include "platform/ThreadName.h"
#include "reader/Identify.h"
#include "reader/PortOps.h"
#include "reader/TerminalModels.h"
#include "reader/engines/EngineTable.h"

namespace vandora {

namespace {

constexpr std::uint32_t kOpenSettleMs = 500;
constexpr std::uint32_t kListenerEndWaitMs = 500;
constexpr const char* kIdentKey = "HKEY_LOCAL_MACHINE\\Ident";

// The registry keeps values in a 100-byte buffer: longer texts are cut there.
std::string registryText(const RegistryKey& key, const char* name) {
    std::string value;
    if (!key.queryValue(name, value)) {
        return {};
    }
    std::size_t nul = value.find('\0');
    if (nul != std::string::npos) {
        value.resize(nul);
    }
    if (value.size() > 99) {
        value.resize(99);
    }
    return value;
}

}  // namespace

ReaderChannel::ReaderChannel(const ReaderPlatform& platform)
    : channelLock(1, 1, *platform.clock), aimCancel(0, 1, *platform.clock), platform_(&platform) {}

ReaderChannel::~ReaderChannel() {
    closePort(*this);
}

void ReaderChannel::initialise() {
    port = 0;
    handle.reset();
    scanTimeout = 3000;
    baudRate = 9600;
    engineType = EngineType::None;
    lastError = 0;
    codeTypeId = 0;
    codeTypeName.clear();
    decodeData.clear();
    rfidVariant = 0;
    parameterImage.clear();
    triggerOn = 0;
    stopPending = 0;
    lost = 0;
    channelLock.reset(1);
    aimCancel.reset(0);
    aimTime = 0;
    if (moduleState) {
        moduleState->clear();
    }
}

ReaderManager::ReaderManager(const ReaderPlatform& platform, EngineSetup* setup)
    : platform_(platform),
      setup_(setup != nullptr ? setup : &defaultSetup_),
      rfidListenerEnded_(0, 1, *platform_.clock),
      systemSignals_(*platform_.clock),
      signals_(platform_.signals != nullptr ? platform_.signals : &systemSignals_),
      barcode(platform_),
      rfid(platform_),
      mifareKey_("3C5A9E71B2D4") {}

ReaderManager::~ReaderManager() {
    shutdownReaders();
}

std::int32_t ReaderManager::detectDeviceModel() const {
    std::optional<RegistryKey> key = platform_.registryPath.empty()
                                         ? RegistryKey::open(kIdentKey)
                                         : RegistryKey::openIn(platform_.registryPath, kIdentKey);
    if (!key) {
        return DeviceModel::Unknown;
    }
    std::string text = registryText(*key, "DeviceModel");
    if (text.empty()) {
        text = registryText(*key, "Name");
    }
    return modelFromRegistryName(text);
}

std::int32_t ReaderManager::loadSysLibrary() {
    const char* name = terminalModel(deviceModel_).sysLibrary;
    if (*name == '\0') {
        return 0;
    }
    return systemSignals_.load(systemFolder() + name) ? 1 : 0;
}

std::int32_t ReaderManager::startReaders(EngineType barcodeHint, EngineType rfidHint) {
    setDeviceModel(detectDeviceModel());
    std::int32_t barcodeResult = 0;
    std::int32_t rfidResult = 0;
    if (!barcode.isOpen() && engineInfo(barcodeHint).hint != HintRole::NoEngine) {
        barcodeResult = openReader(kBarcodePort, barcodeHint);
        barcodeReady = barcodeResult != 0 ? 1 : 0;
        if (barcodeResult == 0) {
            if (barcode.lastError != 0) {
                statusText.format("The barcode scanner fails, error code = %d\r\n",
                                  static_cast<int>(barcode.lastError));
            } else {
                statusText = "No barcode scanner is installed.\r\n";
            }
        }
    }
    rfidNotFound = false;
    if (!rfid.isOpen() && engineInfo(rfidHint).hint != HintRole::NoEngine) {
        rfidResult = openReader(kRfidPort, rfidHint);
        rfidReady = rfidResult != 0 ? 1 : 0;
        // Most terminals have no RFID module: detection finding none is no failure. A module the
        // settings name that fails is one.
        rfidNotFound = rfidResult == 0 && engineInfo(rfidHint).hint == HintRole::Detect;
        if (rfidResult == 0 && !rfidNotFound) {
            if (rfid.lastError != 0) {
                ByteString text;
                text.format("The RFID scanner fails, error code = %d",
                            static_cast<int>(rfid.lastError));
                statusText.append(text);
            } else {
                statusText.append("No RFID scanner is installed.\r\n");
            }
        }
    }
    loadSysLibrary();
    return (barcodeResult | rfidResult) != 0 ? 1 : 0;
}

std::int32_t ReaderManager::openReader(std::int32_t which, EngineType hint) {
    ReaderChannel& channel = this->channel(which);
    channel.port = which == kRfidPort ? kRfidPort : kBarcodePort;
    if (openPort(channel) == 0) {
        return 0;
    }
    // An engine just opened (again, after it went away) has not been triggered, whatever the
    // last stop sent to the one before it achieved.
    channel.triggerOn = 0;
    if (channel.port == kBarcodePort) {
        clock().sleepMs(kOpenSettleMs);
        if (identifyEngine(channel, hint) == 0) {
            closePort(channel);
            return 0;
        }
        setup_->applySettings(*this, channel);
        return 1;
    }
    if (identifyEngine(channel, hint) == 0) {
        closePort(channel);
        return 0;
    }
    const EngineModule* module = engineInfo(channel.engineType).module;
    return module != nullptr ? module->open(*this, channel) : 0;
}

void ReaderManager::startRfidListener(Semaphore& activity) {
    if (rfidListenerThread_.joinable()) {
        return;
    }
    rfidListenerStop_ = 0;
    rfidActivity_ = &activity;
    rfidListenerThread_ = std::thread([this, &activity] {
        nameThisThread("rfid-idle");
        rfidIdleListener(&rfid, &activity);
    });
}

void ReaderManager::rfidIdleListener(ReaderChannel* channel, Semaphore* activity) {
    while (rfidListenerStop_ == 0) {
        if (activity->wait(rfidIdleSeconds * 1000)) {
            continue;
        }
        channel->channelLock.wait();
        closePort(*channel);
        channel->channelLock.release();
    }
    rfidListenerEnded_.release();
}

void ReaderManager::stopRfidListener() {
    if (!rfidListenerThread_.joinable()) {
        return;
    }
    rfidListenerStop_ = 1;
    rfidActivity_->release();
    // The listener normally ends at once. One that is still waiting for the channel lock (an RFID
    // exchange in progress) is joined all the same: it uses this manager, so it must not outlive
    // it, and the exchange it waits for is bounded by its own time-outs.
    rfidListenerEnded_.wait(kListenerEndWaitMs);
    rfidListenerThread_.join();
}

void ReaderManager::closeReader(std::int32_t which) {
    if (which == kBarcodePort) {
        if (engineInfo(barcode.engineType).ccdBlock) {
            setup_->restoreHostOptions(*this, barcode);
        }
        closePort(barcode);
        barcode.initialise();
        barcodeReady = 0;
        return;
    }
    stopRfidListener();
    rfidListenerEnded_.reset(0);
    if (terminalModel(deviceModel_).rfidOverLink) {
        if (platform_.rfidLink != nullptr) {
            platform_.rfidLink->linkClose(kRfidPort);
        }
        rfidReady = 0;
        return;
    }
    closePort(rfid);
    rfid.initialise();
    rfidReady = 0;
}

void ReaderManager::shutdownReaders() {
    closeReader(kBarcodePort);
    closeReader(kRfidPort);
    signals_->cancelWaits();
    if (signals_ != &systemSignals_) {
        systemSignals_.cancelWaits();
    }
    systemSignals_.unload();
}

}  // namespace vandora
