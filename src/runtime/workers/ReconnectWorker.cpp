#include "runtime/workers/ReconnectWorker.h"

#include <poll.h>

#include <memory>
#include <string>

#include "platform/Log.h"
#include "reader/PortOps.h"
#include "reader/Scan.h"

namespace vandora {

namespace {

constexpr std::uint32_t kReinitPauseMs = 5000;
constexpr std::uint32_t kReconnectRetryMs = 1000;
constexpr const char* kEngineLostText = "barcode engine disconnected";
constexpr const char* kEngineBackText = "barcode engine reconnected";

}  // namespace

void ReconnectWorker::start() {
    thread_.start(
        request_, nullptr, parts_.stopFlag, [this] { work(); }, "reconnect");
}

void ReconnectWorker::reinit() {
    if (lost_) {
        // A lost engine is looked for again at once.
        if (deviceWatch_.drain()) {
            reconnect();
        }
        return;
    }
    request_.release();
}

void ReconnectWorker::work() {
    ReaderManager& manager = parts_.manager;
    std::int32_t ready = manager.barcodeReady;
    manager.barcodeReady = 0;
    parts_.view.showWaitMessage(true);
    manager.clock().sleepMs(kReinitPauseMs);
    parts_.view.showWaitMessage(false);
    manager.barcodeReady = ready;
    stopScanning(manager, 1, 1);
}

void ReconnectWorker::watch() {
    unwatch();
    ReaderManager& manager = parts_.manager;
    ReaderChannel& channel = manager.barcode;
    int fd = channel.handle ? channel.handle->hangUpFd() : -1;
    if (fd < 0 || manager.barcodeReady == 0) {
        return;
    }
    // Asked for no events: poll still reports the device's hang-up, and nothing else.
    hangUpWatchId_ = parts_.loop.watchFd(fd, 0, [this](short revents) {
        if ((revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            unwatch();
            lost();
        }
    });
}

void ReconnectWorker::unwatch() {
    if (hangUpWatchId_ >= 0) {
        parts_.loop.unwatchFd(hangUpWatchId_);
        hangUpWatchId_ = -1;
    }
}

void ReconnectWorker::lost() {
    if (lost_ || startStop_.quitting()) {
        return;
    }
    ReaderManager& manager = parts_.manager;
    lost_ = true;
    unwatch();
    lostType_ = manager.barcodeEngineType();
    manager.barcodeReady = 0;
    settings_.enableBarcode = 0;
    // Under the channel lock: a read still on the port ends first (a gone device fails at once).
    manager.barcode.channelLock.wait();
    closePort(manager.barcode);
    manager.barcode.channelLock.release();
    std::string path = ports_ != nullptr ? ports_->devicePath(kBarcodePort) : "";
    logMessage(LogLevel::Warning,
               std::string(kEngineLostText) + ": the engine" +
                   (path.empty() ? std::string() : " at " + path) + " went away",
               {{"PORT", path}});
    parts_.view.showStatus(ByteString(kEngineLostText), StatusOrigin::Logged);
    if (path.empty() || !deviceWatch_.start(path)) {
        return;
    }
    deviceWatchId_ = parts_.loop.watchFd(deviceWatch_.fd(), POLLIN, [this](short) {
        if (deviceWatch_.drain() && !startStop_.busy()) {
            reconnect();
        }
    });
    // It may be back already.
    if (deviceWatch_.drain()) {
        reconnect();
    }
}

void ReconnectWorker::reconnect() {
    if (!lost_ || startStop_.busy() || startStop_.quitting()) {
        return;
    }
    auto opened = std::make_shared<std::int32_t>(0);
    startStop_.runInBackground(
        [this, opened] {
            *opened = parts_.manager.openReader(kBarcodePort, lostType_);
            if (*opened != 0) {
                // The engine may have lost its settings with its power: they are sent again.
                sendStoredSettings_();
            }
        },
        [this, opened] {
            if (*opened == 0) {
                // Not answering yet (still powering up): the next change of the device tries
                // again.
                if (deviceWatch_.drain()) {
                    parts_.loop.addTimer(kReconnectRetryMs, [this] { reconnect(); });
                }
                return;
            }
            if (deviceWatchId_ >= 0) {
                parts_.loop.unwatchFd(deviceWatchId_);
                deviceWatchId_ = -1;
            }
            deviceWatch_.stop();
            lost_ = false;
            parts_.manager.barcodeReady = 1;
            settings_.enableBarcode = 1;
            logMessage(LogLevel::Notice, kEngineBackText);
            parts_.view.showStatus(ByteString(kEngineBackText), StatusOrigin::Logged);
            watch();
        });
}

}  // namespace vandora
