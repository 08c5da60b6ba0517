// The RFID side of a trigger press: a tag read on the RFID read thread, delivered like a decode,
// or (rfidRW 1) a tag write on the loop thread that only shows the tag read back. Every call into
// the RFID tag operations is here.
//
// Threading: trigger, start and stop on the loop thread. The read thread has a stop flag of its
// own.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "common/ByteString.h"
#include "config/AppSettings.h"
#include "platform/Semaphore.h"
#include "runtime/WorkerThread.h"
#include "runtime/workers/WorkerParts.h"

namespace vandora {

class RfidWorker {
  public:
    // windowed: there is a window to show a written tag in.
    RfidWorker(const WorkerParts& parts, bool windowed) : parts_(parts), windowed_(windowed) {}

    void start();
    // A trigger press with the settings as they are now.
    void trigger(const AppSettings& settings);
    // Waits for the read in progress.
    void stop() { thread_.stop(); }

  private:
    void readWork();
    void writeOnTrigger(const AppSettings& settings);

    // What the read thread reads with, taken at the press.
    struct ReadArgs {
        std::int32_t start = -1;
        std::int32_t length = 0;
        ByteString key;
        std::int32_t keyType = 0;
    };

    WorkerParts parts_;
    bool windowed_;
    std::mutex argsMutex_;
    ReadArgs args_;
    std::atomic<std::int32_t> stopFlag_{0};
    Semaphore request_{0, 1};
    Semaphore done_{0, 1};
    WorkerThread thread_;
};

}  // namespace vandora
