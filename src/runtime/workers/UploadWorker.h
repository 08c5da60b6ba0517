// Decoder firmware upload: the hidden key sequence's warning on the loop thread, then the upload
// thread asks for the file and sends it while scans wait. A cancelled file choice ends uploads
// until the next start.
//
// Threading: warn, start and stop on the loop thread; the thread shows its own dialogs.
#pragma once

#include <atomic>

#include "platform/Semaphore.h"
#include "runtime/WorkerThread.h"
#include "runtime/workers/WorkerParts.h"

namespace vandora {

class UploadWorker {
  public:
    explicit UploadWorker(const WorkerParts& parts) : parts_(parts) {}

    void start();
    // Shows the engine's version and, on OK, has the thread ask for the file. Nothing for an
    // engine that takes no firmware.
    void warn();
    // Whether the thread still takes uploads.
    bool running() const { return thread_.running() && !ended_; }
    // Waits for the upload in progress.
    void stop() { thread_.stop(); }

  private:
    void work();

    WorkerParts parts_;
    std::atomic<bool> ended_{false};
    Semaphore request_{0, 1};
    WorkerThread thread_;
};

}  // namespace vandora
