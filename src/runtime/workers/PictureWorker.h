// Pictures of a 2D imager: the picture thread takes one for each request (a press in image mode,
// or another program's request), hands it to the loop and waits there until the loop has stored
// it, so that it never takes the next before the last is kept. The loop stores it under the
// time's name in the picture folder, shows it and broadcasts "WM_IMAGE".
//
// Threading: every member but the thread work on the loop thread. The decode time-out is read at
// each picture and may be changed from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "common/ByteString.h"
#include "config/EngineSettings.h"
#include "platform/Bus.h"
#include "platform/ImageCodec.h"
#include "platform/PictureFiles.h"
#include "platform/Semaphore.h"
#include "runtime/WorkerThread.h"
#include "runtime/workers/WorkerParts.h"

namespace vandora {

class PictureWorker {
  public:
    // files: where pictures are stored (null: the real file system).
    PictureWorker(const WorkerParts& parts, EngineSettings& engine, PictureFiles* files,
                  const std::atomic<std::uint32_t>& timeoutSeconds)
        : parts_(parts),
          engine_(engine),
          files_(files != nullptr ? files : &realFiles_),
          timeoutSeconds_(timeoutSeconds) {}

    void start();
    // Asks for a picture; on a terminal model with no way to keep one, says so instead.
    void take();
    // The picture taken ("WM_DECODE_IMG"): saved in imagePath (empty: the program folder's
    // "images/"), shown and announced.
    void store(const ByteString& imagePath);
    // Waits for the picture in progress.
    void stop() { thread_.stop(); }

    // Where "WM_IMAGE" is broadcast (null: nowhere). Not owned.
    void setBroadcasts(DecodeSignals* signals) { broadcasts_ = signals; }
    // The name of the last picture saved ("" before the first).
    const std::string& lastPicture() const { return lastPicture_; }

  private:
    void work();

    WorkerParts parts_;
    EngineSettings& engine_;
    PictureFiles realFiles_;
    PictureFiles* files_;
    const std::atomic<std::uint32_t>& timeoutSeconds_;
    DecodeSignals* broadcasts_ = nullptr;
    // The picture handed over and the format it is in: written by the thread before it sends
    // the picture's message, read by the loop while the thread waits for that message's end.
    std::vector<std::uint8_t> picture_;
    PictureFormat format_ = PictureFormat::Jpeg;
    std::string lastPicture_;
    Semaphore request_{0, 1};
    Semaphore done_{0, 1};
    WorkerThread thread_;
};

}  // namespace vandora
