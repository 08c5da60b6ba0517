// The barcode engine's reinitialisation and reconnection. The message 0x8205 has the
// reinitialisation thread pause the reader for a while and stop its scanning; for an engine
// whose device went away (a hang-up of its port, or a read that found it gone) it looks for the
// engine again instead. A lost engine's port is closed, the loss said, and its device path
// watched; when the device is back the engine is opened and sent its settings again on the
// background thread.
//
// Threading: everything on the loop thread but the reinitialisation work and the reopening.
#pragma once

#include <functional>

#include "config/AppSettings.h"
#include "platform/DeviceWatch.h"
#include "platform/Semaphore.h"
#include "runtime/WorkerThread.h"
#include "runtime/workers/StartStop.h"
#include "runtime/workers/WorkerParts.h"

namespace vandora {

class ReconnectWorker {
  public:
    // ports: the device paths (null: none, so a lost engine is not watched for).
    // sendStoredSettings: the store's settings to a reopened engine.
    ReconnectWorker(const WorkerParts& parts, AppSettings& settings, SerialPortProvider* ports,
                    StartStop& startStop, std::function<void()> sendStoredSettings)
        : parts_(parts),
          settings_(settings),
          ports_(ports),
          startStop_(startStop),
          sendStoredSettings_(std::move(sendStoredSettings)) {}

    // The reinitialisation thread (engines that have one).
    void start();
    // Waits for the reinitialisation in progress.
    void stop() { thread_.stop(); }
    // The message 0x8205.
    void reinit();
    // Watches the barcode engine's port for its hang-up (after a start and a reconnection).
    void watch();
    // The barcode engine's device went away: close its port, say so, wait for it to return.
    void lost();

  private:
    void unwatch();
    void reconnect();
    void work();

    WorkerParts parts_;
    AppSettings& settings_;
    SerialPortProvider* ports_;
    StartStop& startStop_;
    std::function<void()> sendStoredSettings_;
    Semaphore request_{0, 1};
    WorkerThread thread_;
    // A lost barcode engine: its type, the watch for its device and for its hang-up.
    bool lost_ = false;
    EngineType lostType_ = EngineType::None;
    DeviceWatch deviceWatch_;
    int deviceWatchId_ = -1;
    int hangUpWatchId_ = -1;
};

}  // namespace vandora
