// ReaderService: the hub of the running service, free of any toolkit.
//
// It owns the INI store, AppSettings, the engine settings, the ReaderManager, the event loop and
// the workers (src/runtime/workers), each with its threads and semaphores: scan and continuous
// scan, RFID, pictures, firmware upload, reconnection, start and quit. The service wires them:
// it turns each message into a worker's call. Every state change arrives as a Message on the one
// user-interface thread (EventLoop): trigger keys from other programs, decodes from the worker
// threads. It talks to its window through MainView (a headless view logs). Each decode is moved
// from the thread that read it to the user-interface thread and handed to the sinks in turn: the
// outputs added with addSink, then the good-read signals, then the status text.
//
// Threading: construct, startUp, handle and destroy on the user-interface thread; the window's
// state (status text, settings) changes there. Worker threads only scan, signal, and post or
// send messages back; of them only the picture, reinitialisation and upload threads touch the
// window, to show and hide their own dialogs. The threads stop in the window's order: upload,
// reinitialisation, scan, RFID, continuous scan, good-read signals, pictures.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/ByteString.h"
#include "config/AppSettings.h"
#include "config/EngineSettings.h"
#include "config/IniStore.h"
#include "config/SettingAccess.h"
#include "platform/Bus.h"
#include "platform/PictureFiles.h"
#include "platform/SoundPlayer.h"
#include "reader/ReaderManager.h"
#include "runtime/DecodeSink.h"
#include "runtime/EventLoop.h"
#include "runtime/MainView.h"
#include "runtime/Messages.h"
#include "runtime/sinks/GoodReadSink.h"
#include "runtime/sinks/StatusSink.h"
#include "runtime/workers/PictureWorker.h"
#include "runtime/workers/ReconnectWorker.h"
#include "runtime/workers/RfidWorker.h"
#include "runtime/workers/ScanWorker.h"
#include "runtime/workers/StartStop.h"
#include "runtime/workers/UploadWorker.h"
#include "runtime/workers/WorkerParts.h"

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
    void startUp() { startStop_.startUp(); }
    // The same with the slow part (detection, settings sent to the engines) on a thread of its
    // own, so that the loop answers at once: Show is handled meanwhile, every other message
    // (trigger presses included) is kept and handled in order once the readers are up.
    void startUpInBackground() { startStop_.startUpInBackground(); }
    // A start or a reconnection is still working (loop thread only).
    bool busy() const { return startStop_.busy(); }
    // A start is still looking for the engines (a first start, or --detect).
    bool lookingForEngines() const { return startStop_.lookingForEngines(); }
    // The window procedure: every message of the main window comes here.
    void handle(const Message& message);
    // Asks "Do you want to quit?"; on OK saves everything and ends the loop. True when quitting.
    bool confirmQuit() { return startStop_.confirmQuit(); }
    // Saves everything and ends the loop without asking (a normal stop of the service).
    void quitNow() { startStop_.quitNow(); }
    // The save at quit failed; the status text said why and where the settings were kept.
    bool saveFailed() const { return startStop_.saveFailed(); }
    // Writes the settings file now, replacing it whole as the save at quit does, so that a
    // change made through the bus or a page survives a crash or a power loss. The first such
    // save of a store that did not come whole from the file reads the engines back first. A
    // failure is logged and shown, and the settings are kept in the recovery folder.
    bool saveSettings() { return startStop_.saveSettings(); }

    ReaderManager& readers() { return manager_; }
    AppSettings& settings() { return settings_; }
    IniStore& store() { return store_; }
    EngineSettings& engineSettings() { return engine_; }
    // What the settings pages and management tools change settings through (loop thread only).
    SettingsContext settingsContext() { return {manager_, engine_, store_, settings_}; }
    // The store-update flag: every settings change made while the service runs (pages, switches,
    // management calls) writes its section into the INI store only while it is set. "Restore
    // Defaults" sets it.
    bool storeUpdate() const { return storeUpdate_; }
    void setStoreUpdate(bool on) { storeUpdate_ = on; }
    const std::string& iniPath() const { return iniPath_; }
    // Whether the barcode scan thread runs (it does once a barcode reader started).
    bool scanThreadRunning() const { return scan_.running(); }
    // Opens or closes the gate of the continuous-scan thread: open, it reads again and again
    // (engines that read by themselves); closed, it stops after the read in progress. The
    // stored scan mode decides this whenever settings go to the engine.
    void setContinuousScan(bool on) { continuous_.setOpen(on); }
    // Switches a reader (kBarcodePort or kRfidPort) on or off, as the General page, a missing
    // reader's page, the tray menu and the trigger messages do: its ready flag and its enable
    // setting follow, and the state listener (the bus's BarcodeReady and RfidReady) is told.
    void switchReader(std::int32_t port, std::int32_t on);
    // The first-byte wait of a read and of a picture, in seconds; the worker threads read it at
    // each job, so it may be set from any thread.
    void setDecodeTimeoutSeconds(std::uint32_t seconds) { decodeTimeoutSeconds_ = seconds; }

    // Where "WM_IMAGE" is broadcast when a picture was saved (null: nowhere). Not owned.
    void setBroadcasts(DecodeSignals* signals) { picture_.setBroadcasts(signals); }
    // The hidden key sequence's warning before a firmware upload: shows the engine's version and,
    // on OK, has the upload thread ask for the file. Nothing for an engine that takes no firmware.
    void firmwareWarning() { upload_.warn(); }
    // Whether the upload thread still takes uploads (a cancelled file choice ends it for good).
    bool uploadThreadRunning() const { return upload_.running(); }
    // The name of the last picture saved ("" before the first).
    std::string lastPicture() const { return picture_.lastPicture(); }

    // What management tools read (loop thread only): the last status text shown, reads since
    // start, the error of the last failed read, and the engine's version text where it gives one.
    const ByteString& lastStatus() const { return view_.lastStatus; }
    std::uint64_t goodReads() const { return goodReads_; }
    std::uint64_t failedReads() const { return failedReads_; }
    std::int32_t lastReadError() const { return lastReadError_; }
    const ByteString& firmwareVersion() const { return startStop_.firmwareVersion(); }
    // Told on the loop thread whenever one of the values above, or the readers' state, changed.
    void setStateListener(std::function<void()> listener) { stateListener_ = std::move(listener); }

  private:
    // The file's settings to the engines; the stored scan mode opens or closes continuous
    // scanning.
    void loadStoredSettings();
    void startThreads();
    void stopThreads();
    void triggerDown();
    void triggerUp();
    void onDecode(std::uint32_t kind);

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
    EventLoop loop_;
    IniStore store_;
    AppSettings settings_;
    EngineSettings engine_;
    ReaderManager manager_;
    std::string iniPath_;
    bool storeUpdate_ = true;
    StatusSink status_;
    GoodReadSink goodRead_;
    std::vector<DecodeSink*> sinks_;
    std::uint64_t goodReads_ = 0;
    std::uint64_t failedReads_ = 0;
    std::int32_t lastReadError_ = 0;
    std::function<void()> stateListener_;

    // The general stop flag of the worker threads (the RFID one has its own), the decodes they
    // hand over, and the time-out they read with.
    std::atomic<std::int32_t> stopFlag_{0};
    DecodeHandOver decodes_;
    std::atomic<std::uint32_t> decodeTimeoutSeconds_{3};
    WorkerParts workers_;
    // The jobs. Start and quit come first: the reconnection runs on its background thread.
    StartStop startStop_;
    ScanWorker scan_;
    ContinuousScanWorker continuous_;
    RfidWorker rfid_;
    PictureWorker picture_;
    UploadWorker upload_;
    ReconnectWorker reconnect_;
};

}  // namespace vandora
