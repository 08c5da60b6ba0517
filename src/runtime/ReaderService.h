// ReaderService: the hub of the running service, free of any toolkit.
//
// It owns the INI store, AppSettings, the engine settings, the ReaderManager, the worker threads
// and their semaphores, and the event loop. Every state change arrives as a Message on the one
// user-interface thread (EventLoop): trigger keys from other programs, decodes from the worker
// threads. It talks to its window through MainView (a headless view logs). Each decode is moved
// from the thread that read it to the user-interface thread and handed to the sinks in turn: the
// outputs added with addSink, then the good-read signals, then the status text.
//
// Threading: construct, startUp, handle and destroy on the user-interface thread. Worker threads
// only scan, signal, and post or send messages back.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/ByteString.h"
#include "config/AppSettings.h"
#include "config/EngineSettings.h"
#include "config/IniStore.h"
#include "config/SettingAccess.h"
#include "config/SettingsFile.h"
#include "platform/Bus.h"
#include "platform/DeviceWatch.h"
#include "platform/ImageCodec.h"
#include "platform/PictureFiles.h"
#include "platform/Semaphore.h"
#include "platform/SoundPlayer.h"
#include "reader/Decode.h"
#include "reader/ReaderManager.h"
#include "runtime/DecodeSink.h"
#include "runtime/EventLoop.h"
#include "runtime/MainView.h"
#include "runtime/Messages.h"
#include "runtime/WorkerThread.h"
#include "runtime/sinks/GoodReadSink.h"
#include "runtime/sinks/StatusSink.h"

namespace vandora {

struct ReaderServiceParts {
    ReaderPlatform platform;
    MainView* view = nullptr;
    SoundPlayer* sound = nullptr;
    // The INI file; empty: the program folder's "VandoraINI.txt".
    std::string iniPath;
    // Detect both engines whatever the file says, and store what is found.
    bool detect = false;
    // Where pictures are stored; null: the real file system.
    PictureFiles* pictures = nullptr;
};

class ReaderService {
  public:
    explicit ReaderService(const ReaderServiceParts& parts);
    // Stops the worker threads in order; the reader manager then closes both readers.
    ~ReaderService();
    ReaderService(const ReaderService&) = delete;
    ReaderService& operator=(const ReaderService&) = delete;

    EventLoop& loop() { return loop_; }
    // An output for decodes, after those added before it. The sink must outlive the service.
    void addSink(DecodeSink& sink) { sinks_.push_back(&sink); }
    // Loads the file, starts the readers and the worker threads, sends the stored settings.
    void startUp();
    // The same with the slow part (detection, settings sent to the engines) on a thread of its
    // own, so that the loop answers at once: Show is handled meanwhile, every other message
    // (trigger presses included) is kept and handled in order once the readers are up.
    void startUpInBackground();
    // A start or a reconnection is still working (loop thread only).
    bool busy() const { return busy_; }
    // A start is still looking for the engines (a first start, or --detect).
    bool lookingForEngines() const { return lookingForEngines_; }
    // The window procedure: every message of the main window comes here.
    void handle(const Message& message);
    // Asks "Do you want to quit?"; on OK saves everything and ends the loop. True when quitting.
    bool confirmQuit();
    // Saves everything and ends the loop without asking (a normal stop of the service).
    void quitNow();
    // The save at quit failed; the status text said why and where the settings were kept.
    bool saveFailed() const { return saveFailed_; }
    // Writes the settings file now, replacing it whole as the save at quit does, so that a
    // change made through the bus or a page survives a crash or a power loss. The first such
    // save of a store that did not come whole from the file reads the engines back first. A
    // failure is logged and shown, and the settings are kept in the recovery folder.
    bool saveSettings();

    ReaderManager& readers() { return manager_; }
    AppSettings& settings() { return settings_; }
    IniStore& store() { return store_; }
    EngineSettings& engineSettings() { return engine_; }
    // What the settings pages and management tools change settings through (loop thread only).
    SettingsContext settingsContext() { return {manager_, engine_, store_, settings_}; }
    // The store-update flag: every settings change made while the service runs (pages, switches,
    // management calls) writes its section into the INI store only while it is set. "Restore
    // Defaults" sets it.
    std::int32_t storeUpdate = 1;
    const std::string& iniPath() const { return iniPath_; }
    // Whether the barcode scan thread runs (it does once a barcode reader started).
    bool scanThreadRunning() const { return scanThread_.running(); }
    // Opens or closes the gate of the continuous-scan thread: open, it reads again and again
    // (engines that read by themselves); closed, it stops after the read in progress. The
    // stored scan mode decides this whenever settings go to the engine.
    void setContinuousScan(bool on);
    // Switches a reader (kBarcodePort or kRfidPort) on or off, as the General page, a missing
    // reader's page, the tray menu and the trigger messages do: its ready flag and its enable
    // setting follow, and the state listener (the bus's BarcodeReady and RfidReady) is told.
    void switchReader(std::int32_t port, std::int32_t on);
    std::uint32_t decodeTimeoutSeconds = 3;

    // Where "WM_IMAGE" is broadcast when a picture was saved (null: nowhere). Not owned.
    void setBroadcasts(DecodeSignals* signals) { broadcasts_ = signals; }
    // The hidden key sequence's warning before a firmware upload: shows the engine's version and,
    // on OK, has the upload thread ask for the file. Nothing for an engine that takes no firmware.
    void firmwareWarning();
    // Whether the upload thread still takes uploads (a cancelled file choice ends it for good).
    bool uploadThreadRunning() const { return uploadThread_.running() && !uploadEnded_; }
    // The name of the last picture saved ("" before the first).
    std::string lastPicture() const { return lastPicture_; }

    // What management tools read (loop thread only): the last status text shown, reads since
    // start, the error of the last failed read, and the engine's version text where it gives one.
    const ByteString& lastStatus() const { return view_.lastStatus; }
    std::uint64_t goodReads() const { return goodReads_; }
    std::uint64_t failedReads() const { return failedReads_; }
    std::int32_t lastReadError() const { return lastReadError_; }
    const ByteString& firmwareVersion() const { return firmwareVersion_; }
    // Told on the loop thread whenever one of the values above, or the readers' state, changed.
    void setStateListener(std::function<void()> listener) { stateListener_ = std::move(listener); }

  private:
    void loadFile();
    // The file's settings to the engines; the stored scan mode opens or closes continuous
    // scanning.
    void loadStoredSettings();
    void startReadersAndSettings();
    void finishStart();
    // Which engines were found at which rate, and which failed.
    void logReaders();
    void runInBackground(std::function<void()> work, std::function<void()> then);
    void onBackgroundDone();
    // The barcode engine's device went away: close its port, say so, wait for it to return.
    void onBarcodeLost();
    void watchBarcodeHangUp();
    void unwatchBarcodeHangUp();
    void reconnectBarcode();
    void startThreads();
    void stopThreads();
    void triggerDown();
    void triggerUp();
    void singleScan();
    // From a worker thread: leaves the decode for the user-interface thread and tells it, waiting
    // until it was delivered when wait is set.
    void handOver(Decode&& decode, bool wait);
    std::optional<Decode> takeDecode();
    void onDecode(std::uint32_t kind);
    void saveEverything();
    void continuousWork();
    void reinitWork();
    void rfidWork();
    void writeTagOnTrigger();
    void imageWork();
    void uploadWork();
    void onDecodeImage();

    // The window as the service talks to it: every call goes on to the real view, and the status
    // text is kept for management tools.
    class ViewTap final : public MainView {
      public:
        MainView* inner = nullptr;
        ByteString lastStatus;
        std::function<void()> changed;

        void setStatusText(const ByteString& text) override {
            showStatus(text, StatusOrigin::Plain);
        }
        void showStatus(const ByteString& text, StatusOrigin origin) override;
        int messageBox(const std::string& text, const std::string& caption) override {
            return inner != nullptr ? inner->messageBox(text, caption) : kOk;
        }
        void showMaximized() override {
            if (inner != nullptr) {
                inner->showMaximized();
            }
        }
        bool isActive() const override { return inner != nullptr && inner->isActive(); }
        void showWaitMessage(bool show) override {
            if (inner != nullptr) {
                inner->showWaitMessage(show);
            }
        }
        void showProgress(bool show) override {
            if (inner != nullptr) {
                inner->showProgress(show);
            }
        }
        void setProgress(int position, int range) override {
            if (inner != nullptr) {
                inner->setProgress(position, range);
            }
        }
        void setEnabled(bool enabled) override {
            if (inner != nullptr) {
                inner->setEnabled(enabled);
            }
        }
        std::string chooseFile(const std::string& filter) override {
            return inner != nullptr ? inner->chooseFile(filter) : std::string();
        }
        void showPicture(const std::string& path) override {
            if (inner != nullptr) {
                inner->showPicture(path);
            }
        }
    };
    void stateChanged() {
        if (stateListener_) {
            stateListener_();
        }
    }

    ViewTap view_;
    ReaderServiceParts parts_;
    EventLoop loop_;
    IniStore store_;
    AppSettings settings_;
    EngineSettings engine_;
    ReaderManager manager_;
    std::string iniPath_;
    SettingsFile file_;
    // The store holds every section save-all writes (a recognised file, or a save-all since).
    bool storeWhole_ = false;
    bool saveFailed_ = false;
    StatusSink status_;
    GoodReadSink goodRead_;
    std::vector<DecodeSink*> sinks_;

    // Worker thread requests and done signals (initial 0, maximum 1).
    Semaphore scanRequest_{0, 1};
    Semaphore scanDone_{0, 1};
    Semaphore continuousRequest_{0, 1};
    Semaphore continuousDone_{0, 1};
    Semaphore continuousGate_{0, 1};
    Semaphore reinitRequest_{0, 1};
    Semaphore rfidRequest_{0, 1};
    Semaphore rfidDone_{0, 1};
    std::atomic<std::int32_t> stopFlag_{0};
    std::atomic<std::int32_t> rfidStopFlag_{0};
    // The CCD/Laser engine's alternate scan mode: continuous scanning on or off.
    std::int32_t toggleFlag_ = 0;

    WorkerThread reinitThread_;
    WorkerThread scanThread_;
    WorkerThread rfidThread_;

    // What the RFID read thread reads with, taken at the press.
    struct RfidReadArgs {
        std::int32_t start = -1;
        std::int32_t length = 0;
        ByteString key;
        std::int32_t keyType = 0;
    };
    std::mutex rfidArgsMutex_;
    RfidReadArgs rfidArgs_;
    WorkerThread continuousThread_;

    // Pictures: the thread that takes them, the last one taken and the format it is in. The
    // thread waits until the loop has stored the picture before it takes another.
    Semaphore pictureRequest_{0, 1};
    Semaphore pictureDone_{0, 1};
    WorkerThread imageThread_;
    std::vector<std::uint8_t> picture_;
    PictureFormat pictureFormat_ = PictureFormat::Jpeg;
    PictureFiles realPictureFiles_;
    PictureFiles* pictureFiles_;
    DecodeSignals* broadcasts_ = nullptr;
    std::string lastPicture_;
    // Firmware upload.
    Semaphore uploadRequest_{0, 1};
    WorkerThread uploadThread_;
    std::atomic<bool> uploadEnded_{false};

    // Decodes of the worker threads not yet taken by the user-interface thread, oldest first: one
    // for each decode message on its way.
    std::mutex decodeMutex_;
    std::deque<Decode> decodes_;
    bool quitting_ = false;
    std::uint64_t goodReads_ = 0;
    std::uint64_t failedReads_ = 0;
    std::int32_t lastReadError_ = 0;
    ByteString firmwareVersion_;
    std::function<void()> stateListener_;

    // Start and reconnection work off the loop thread, and what the loop kept meanwhile.
    std::thread background_;
    std::function<void()> backgroundThen_;
    bool busy_ = false;
    // The start under way looks for the engines instead of taking them from the file.
    bool lookingForEngines_ = false;
    bool quitWhenDone_ = false;
    std::deque<Message> kept_;
    bool noEngineConfigured_ = false;
    // A lost barcode engine: its type, the watch for its device and for its hang-up.
    bool barcodeLost_ = false;
    EngineType lostType_ = EngineType::None;
    DeviceWatch deviceWatch_;
    int deviceWatchId_ = -1;
    int hangUpWatchId_ = -1;
};

}  // namespace vandora
