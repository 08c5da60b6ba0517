// ReaderManager and ReaderChannel: the terminal's two reader links (barcode engine on port 1,
// RFID module on port 2), the records every reader, settings and RFID operation works on.
//
// The manager finds the terminal model, opens and identifies each channel, has settings sent,
// keeps the start-up status text, runs the idle listener that closes an idle RFID port, and shuts
// both links down. Operating-system services arrive through ReaderPlatform; setting up a freshly
// opened engine, which the settings subsystem provides, through EngineSetup.
//
// Threading: start-up and shutdown run on the user-interface thread; scans run on worker threads
// holding a channel's channelLock; the idle listener is a thread of its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/ByteString.h"
#include "platform/Clock.h"
#include "platform/EngineReadyLine.h"
#include "platform/LibrarySignalDevices.h"
#include "platform/Semaphore.h"
#include "platform/SerialPort.h"
#include "platform/SignalDevices.h"
#include "reader/ReaderPlatform.h"
#include "reader/ReaderTypes.h"

namespace vandora {

class ReaderManager;
struct ReaderChannel;

// What the settings subsystem does to an engine when its channel opens and before it closes. The
// defaults do nothing and report success.
class EngineSetup {
  public:
    virtual ~EngineSetup() = default;
    // Sends the default set and stored settings to a freshly identified engine (barcode or RFID
    // target by channel.port) of manager.
    virtual std::int32_t applySettings(ReaderManager& /*manager*/, ReaderChannel& /*channel*/) {
        return 1;
    }
    // Writes the CCD/Laser engine's host-side EAN/UPC options back before its port closes.
    virtual void restoreHostOptions(ReaderManager& /*manager*/, ReaderChannel& /*channel*/) {}
};

// Host-side options of the CCD/Laser engine: the engine leaves these EAN/UPC and EAN-128 choices
// to the program, which applies them when it names a decode.
struct CcdHostOptions {
    std::int32_t convertToEAN13 = 0;
    std::int32_t transmitEan13CheckDigit = 0;
    std::int32_t transmitUpcACheckDigit = 0;
    std::int32_t ean128FieldSeparator = 0;
};

// What a module above the core keeps per channel (an RFID module: the tag in the field). The
// module's code makes it on first use; the channel only owns it and clears it with itself.
class ChannelModuleState {
  public:
    virtual ~ChannelModuleState() = default;
    // Back to nothing kept, as for a freshly opened channel.
    virtual void clear() = 0;
};

struct ReaderChannel {
    explicit ReaderChannel(const ReaderPlatform& platform);
    ~ReaderChannel();
    ReaderChannel(const ReaderChannel&) = delete;
    ReaderChannel& operator=(const ReaderChannel&) = delete;

    // Back to the closed state: port 0, no handle, 3000 ms scan time-out, 9600 baud, no engine,
    // all numbers 0, fresh semaphores. The port must already be closed.
    void initialise();
    bool isOpen() const { return handle != nullptr && handle->isOpen(); }

    const ReaderPlatform& platform() const { return *platform_; }
    Clock& clock() const { return *platform_->clock; }

    // The terminal model, kept up to date by the manager.
    std::int32_t terminalModel = DeviceModel::Unknown;
    std::int32_t port = 0;
    std::unique_ptr<SerialPort> handle;  // null when closed
    std::uint32_t scanTimeout = 3000;
    std::uint32_t baudRate = 9600;
    EngineType engineType = EngineType::None;
    std::uint32_t lastError = 0;
    std::int32_t codeTypeId = 0;
    ByteString codeTypeName;
    ByteString decodeData;
    std::int32_t rfidVariant = 0;
    ByteString parameterImage;
    std::atomic<std::int32_t> triggerOn{0};
    // The device went away under an open port (read or write error EIO, ENXIO or ENODEV); the
    // port is closed then. Cleared when the port opens again.
    std::atomic<std::int32_t> lost{0};
    // A trigger release that found the channel busy; the holder sends the stop when it lets go.
    std::atomic<std::int32_t> stopPending{0};
    Semaphore channelLock;
    Semaphore aimCancel;
    std::uint32_t aimTime = 0;
    // Kept by the module of the channel's row (RFID channel only); null until it is first used.
    std::unique_ptr<ChannelModuleState> moduleState;

  private:
    const ReaderPlatform* platform_;
};

class ReaderManager {
  public:
    explicit ReaderManager(const ReaderPlatform& platform, EngineSetup* setup = nullptr);
    ~ReaderManager();
    ReaderManager(const ReaderManager&) = delete;
    ReaderManager& operator=(const ReaderManager&) = delete;

    // Opens the channels still closed whose hint is nonzero; nonzero when one started.
    std::int32_t startReaders(EngineType barcodeHint, EngineType rfidHint);
    std::int32_t openReader(std::int32_t which, EngineType hint);
    void closeReader(std::int32_t which);
    void shutdownReaders();
    std::int32_t detectDeviceModel() const;
    // Loads the terminal system library of the model into the system signal devices; nonzero
    // when a library is loaded.
    std::int32_t loadSysLibrary();

    EngineType barcodeEngineType() const { return barcode.engineType; }
    EngineType rfidEngineType() const { return rfid.engineType; }
    std::int32_t deviceModel() const { return deviceModel_; }
    void setDeviceModel(std::int32_t model) {
        deviceModel_ = model;
        barcode.terminalModel = model;
        rfid.terminalModel = model;
    }

    ReaderChannel& channel(std::int32_t which) { return which == kRfidPort ? rfid : barcode; }
    const ReaderPlatform& platform() const { return platform_; }
    // The settings subsystem's set-up, for a port that is opened again after its idle close.
    EngineSetup& setup() { return *setup_; }
    Clock& clock() const { return *platform_.clock; }
    bool hasRfidListener() const { return rfidListenerThread_.joinable(); }
    // Starts the listener that closes the RFID port when activity stays quiet for
    // rfidIdleSeconds; nothing when it runs already. activity lives as long as the RFID channel.
    void startRfidListener(Semaphore& activity);
    // The good-read signal hardware: the platform's when it gives one, else the system library's.
    SignalDevices& signals() { return *signals_; }
    LibrarySignalDevices& systemSignals() { return systemSignals_; }
    // Set by the settings of the CCD/Laser engine, read when its decodes are named.
    CcdHostOptions& ccdHostOptions() { return ccdHostOptions_; }
    const CcdHostOptions& ccdHostOptions() const { return ccdHostOptions_; }
    // The key the RFID module authenticates MIFARE sectors with.
    const ByteString& mifareKey() const { return mifareKey_; }
    void beginImageCapture() { imageCapture_ = 1; }
    void endImageCapture() { imageCapture_ = 0; }

  private:
    void rfidIdleListener(ReaderChannel* channel, Semaphore* activity);
    void stopRfidListener();

    ReaderPlatform platform_;
    EngineSetup defaultSetup_;
    EngineSetup* setup_;

    std::thread rfidListenerThread_;
    Semaphore rfidListenerEnded_;
    std::atomic<std::int32_t> rfidListenerStop_{0};
    Semaphore* rfidActivity_ = nullptr;
    std::int32_t deviceModel_ = DeviceModel::Unknown;
    CcdHostOptions ccdHostOptions_;
    LibrarySignalDevices systemSignals_;
    SignalDevices* signals_;

  public:
    ByteString statusText;
    // The last start looked for an RFID module (no type was stored) and none answered: the
    // terminal has none, which is not a failure and adds nothing to statusText.
    bool rfidNotFound = false;
    ReaderChannel barcode;
    ReaderChannel rfid;
    // Read by the scan threads, switched by the main window.
    std::atomic<std::int32_t> barcodeReady{0};
    std::atomic<std::int32_t> rfidReady{0};
    // Read by the idle listener while the module's set-up (on the start or on a reopening read)
    // writes it.
    std::atomic<std::uint32_t> rfidIdleSeconds{20};
    std::atomic<std::int32_t> scanMode{6};

  private:
    // Set while an image is taken instead of a decode; a barcode read clears it.
    std::atomic<std::int32_t> imageCapture_{0};
    ByteString mifareKey_;
};

}  // namespace vandora
