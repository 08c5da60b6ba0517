// Start-up and quit of the service: the settings file loaded, the readers started (at once, or
// on a thread of their own while the loop keeps every message but Show), what was found logged
// and said, and at quit the worker threads stopped and every setting saved. The same thread
// serves a lost engine's reconnection (runInBackground).
//
// Threading: everything on the loop thread; the slow part of a start runs on the background
// thread, and the loop handles nothing but Show until it is done.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <thread>

#include "common/ByteString.h"
#include "config/AppSettings.h"
#include "config/EngineSettings.h"
#include "config/IniStore.h"
#include "config/SettingsFile.h"
#include "runtime/workers/WorkerParts.h"

namespace vandora {

// What start and quit do to the rest of the service.
struct StartStopHooks {
    // The worker threads that fit the engines found.
    std::function<void()> startWorkers;
    // Every worker thread, in the window's order; each finishes its job first.
    std::function<void()> stopWorkers;
    // The store's settings to the engines.
    std::function<void()> sendStoredSettings;
    // A start is over: the readers' types, rates and readiness are known.
    std::function<void()> started;
    // A message kept while the readers were busy, in its turn.
    std::function<void(const Message&)> handle;
};

struct StartStopParts {
    IniStore& store;
    AppSettings& settings;
    EngineSettings& engine;
    std::string iniPath;
    // Detect both engines whatever the file says, and store what is found.
    bool detect = false;
    // The ports' device paths, for the log (null: the ports' own names).
    SerialPortProvider* ports = nullptr;
};

class StartStop {
  public:
    StartStop(const WorkerParts& workers, const StartStopParts& parts, StartStopHooks hooks);
    ~StartStop() { joinBackground(); }
    StartStop(const StartStop&) = delete;
    StartStop& operator=(const StartStop&) = delete;

    void startUp();
    void startUpInBackground();
    // Runs work off the loop thread, then `then` on it; meanwhile the service is busy.
    void runInBackground(std::function<void()> work, std::function<void()> then);
    // The background work ended ("BackgroundDone"): its follow-up, then what was kept meanwhile.
    void backgroundDone();
    // Keeps a message while busy (all but Show); false when it is to be handled now.
    bool keep(const Message& message);
    void joinBackground();

    bool busy() const { return busy_; }
    bool lookingForEngines() const { return lookingForEngines_; }
    bool quitting() const { return quitting_; }
    bool saveFailed() const { return saveFailed_; }
    // Asked once at start, before any thread talks to the engine.
    const ByteString& firmwareVersion() const { return firmwareVersion_; }

    bool saveSettings();
    bool confirmQuit();
    void quitNow();

  private:
    void loadFile();
    void startReadersAndSettings();
    void finishStart();
    // Which engines were found at which rate, and which failed.
    void logReaders();
    void saveEverything();

    WorkerParts workers_;
    StartStopParts parts_;
    StartStopHooks hooks_;
    SettingsFile file_;
    // The store holds every section save-all writes (a recognised file, or a save-all since).
    bool storeWhole_ = false;
    bool saveFailed_ = false;
    bool noEngineConfigured_ = false;
    // The start under way looks for the engines instead of taking them from the file.
    bool lookingForEngines_ = false;
    ByteString firmwareVersion_;

    std::thread background_;
    std::function<void()> backgroundThen_;
    bool busy_ = false;
    bool quitWhenDone_ = false;
    bool quitting_ = false;
    std::deque<Message> kept_;
};

}  // namespace vandora
