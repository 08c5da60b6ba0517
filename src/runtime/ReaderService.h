// ReaderService: the hub of the running service, free of any toolkit.
//
// It owns the INI store, AppSettings, the engine settings, the ReaderManager, the worker threads
// and their semaphores. Every state change arrives as a Message on the one user-interface thread
// (EventLoop): trigger keys from other programs, decodes from the worker threads. It talks to its
// window through MainView (a headless view logs), and hands decodes to other programs through
// DecodeOutput.
//
// Threading: construct, startUp, handle and destroy on the user-interface thread. Worker threads
// only scan, signal, and post or send messages back.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "common/ByteString.h"
#include "config/AppSettings.h"
#include "config/EngineSettings.h"
#include "config/IniStore.h"
#include "platform/Semaphore.h"
#include "platform/SoundPlayer.h"
#include "reader/ReaderManager.h"
#include "runtime/EventLoop.h"
#include "runtime/Messages.h"
#include "runtime/WorkerThread.h"

namespace vandora {

// The window side of the main window.
class MainView {
  public:
    static constexpr int kOk = 1;
    static constexpr int kCancel = 2;

    virtual ~MainView() = default;
    virtual void setStatusText(const ByteString& text) = 0;
    // A message box; returns kOk or kCancel.
    virtual int messageBox(const std::string& text, const std::string& caption) = 0;
    virtual void showMaximized() {}
    // Whether the main window itself is the active window (decodes are then not typed).
    virtual bool isActive() const { return false; }
    // The "Please wait for initializing the 2D reader." box during a re-initialisation.
    virtual void showWaitMessage(bool /*show*/) {}
};

// One decode as the handler copies it out of the reader channel.
struct DecodeCopy {
    std::int32_t kind = 0;  // 1 barcode, 2 RFID
    EngineType engineType = EngineType::None;
    std::int32_t codeTypeId = 0;
    ByteString codeTypeName;
    ByteString data;      // barcode data, or the RFID UID text
    ByteString userData;  // RFID only
};

// Formatting and delivery of decodes to other programs.
class DecodeOutput {
  public:
    virtual ~DecodeOutput() = default;
    // The status text of a decode.
    virtual void showStatus(const DecodeCopy& decode, const AppSettings& settings,
                            MainView& view) = 0;
    // The keystrokes (only called with keyboardEmu set and another window active).
    virtual void typeOutput(const DecodeCopy& decode, const AppSettings& settings) = 0;
    // The queue record, event and broadcasts (only called with windowMessage or windowEvent).
    virtual void publish(const DecodeCopy& decode, const AppSettings& settings) = 0;
};

struct ReaderServiceParts {
    ReaderPlatform platform;
    MainView* view = nullptr;
    DecodeOutput* output = nullptr;
    SoundPlayer* sound = nullptr;
    // The INI file; empty: the program folder's "VandoraINI.txt".
    std::string iniPath;
    // Told of each decode after it was delivered (the simulation mode echoes it).
    std::function<void(const DecodeCopy&)> onDecode;
};

class ReaderService {
  public:
    explicit ReaderService(const ReaderServiceParts& parts);
    // Stops the worker threads in order; the reader manager then closes both readers.
    ~ReaderService();
    ReaderService(const ReaderService&) = delete;
    ReaderService& operator=(const ReaderService&) = delete;

    EventLoop& loop() { return loop_; }
    // Loads the file, starts the readers and the worker threads, sends the stored settings.
    void startUp();
    // The window procedure: every message of the main window comes here.
    void handle(const Message& message);
    // Asks "Do you want to quit?"; on OK saves everything and ends the loop. True when quitting.
    bool confirmQuit();
    // Saves everything and ends the loop without asking (a normal stop of the service).
    void quitNow();

    ReaderManager& readers() { return manager_; }
    AppSettings& settings() { return settings_; }
    IniStore& store() { return store_; }
    const std::string& iniPath() const { return iniPath_; }
    std::uint32_t decodeTimeoutSeconds = 3;

  private:
    struct Threads;

    void startThreads();
    void stopThreads();
    void triggerDown();
    void triggerUp();
    void singleScan();
    void onDecode(std::uint32_t kind);
    void saveEverything();
    void continuousWork();
    void reinitWork();

    ReaderServiceParts parts_;
    EventLoop loop_;
    IniStore store_;
    AppSettings settings_;
    EngineSettings engine_;
    ReaderManager manager_;
    std::string iniPath_;

    // Worker thread requests and done signals (initial 0, maximum 1).
    Semaphore scanRequest_{0, 1};
    Semaphore scanDone_{0, 1};
    Semaphore continuousRequest_{0, 1};
    Semaphore continuousDone_{0, 1};
    Semaphore continuousGate_{0, 1};
    Semaphore reinitRequest_{0, 1};
    Semaphore rfidRequest_{0, 1};
    Semaphore rfidDone_{0, 1};
    Semaphore vibrateRequest_{0, 1};
    Semaphore vibrateDone_{0, 1};
    Semaphore ledRequest_{0, 1};
    Semaphore ledDone_{0, 1};
    Semaphore beepRequest_{0, 1};
    Semaphore beepDone_{0, 1};
    // The signal settings as the window last released the signal threads with them.
    std::atomic<std::int32_t> vibrationTime_{0};
    std::atomic<std::int32_t> enableLed_{0};
    std::atomic<std::int32_t> buzzerDuration_{0};
    std::atomic<std::int32_t> buzzerFreq_{0};
    std::atomic<std::int32_t> soundIndex_{0};
    std::atomic<std::int32_t> stopFlag_{0};
    std::atomic<std::int32_t> rfidStopFlag_{0};
    // The CCD/Laser engine's alternate scan mode: continuous scanning on or off.
    std::int32_t toggleFlag_ = 0;

    WorkerThread reinitThread_;
    WorkerThread scanThread_;
    WorkerThread rfidThread_;
    WorkerThread continuousThread_;
    WorkerThread vibrateThread_;
    WorkerThread ledThread_;
    WorkerThread beepThread_;

    // The last barcode decode of the scan threads, handed to the user-interface thread.
    std::mutex decodeMutex_;
    DecodeCopy lastBarcode_;
    bool quitting_ = false;
};

}  // namespace vandora
