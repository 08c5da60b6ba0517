#include "runtime/workers/ScanWorker.h"

#include <utility>

#include "reader/Scan.h"
#include "reader/engines/EngineTable.h"

namespace vandora {

namespace {

constexpr std::uint32_t kContinuousTimeoutMs = 500;
constexpr std::uint32_t kGateTakeBackMs = 10;

}  // namespace

void ScanWorker::start() {
    thread_.start(
        request_, &done_, parts_.stopFlag, [this] { work(); }, "scan");
}

void ScanWorker::scanOnce() {
    // The read starts first: the status line and the bus's announcement of it need not delay it.
    request_.release();
    parts_.view.setStatusText(ByteString());
}

void ScanWorker::work() {
    ReaderManager& manager = parts_.manager;
    Decode decode;
    // Handed over before the engine is turned off: the outputs need not wait for that.
    if (scanBarcode(manager, decode, timeoutSeconds_.load() * 1000, [this](Decode& read) {
            parts_.decodes.handOver(parts_.loop, std::move(read), false);
        }) == 0) {
        if (manager.barcode.lost != 0) {
            parts_.loop.post({Msg::BarcodeLost, 0, 0});
        } else {
            parts_.loop.post({Msg::ReadFailed, manager.barcode.lastError, 0});
        }
    }
}

void ContinuousScanWorker::start() {
    thread_.start(
        request_, &done_, parts_.stopFlag, [this] { work(); }, "continuous");
}

void ContinuousScanWorker::setOpen(bool on) {
    if (on) {
        gate_.release();
        request_.release();
    } else {
        gate_.wait(kGateTakeBackMs);
    }
}

void ContinuousScanWorker::toggle() {
    toggleFlag_ = toggleFlag_ == 0 ? 1 : 0;
    toggleCcdScan(parts_.manager, toggleFlag_);
    setOpen(toggleFlag_ != 0);
}

void ContinuousScanWorker::work() {
    ReaderManager& manager = parts_.manager;
    Decode decode;
    if (scanBarcode(manager, decode, kContinuousTimeoutMs) != 0) {
        parts_.decodes.handOver(parts_.loop, std::move(decode), true);
    } else if (manager.barcode.lost != 0) {
        parts_.loop.post({Msg::BarcodeLost, 0, 0});
    }
    if (gate_.tryWait()) {
        request_.release();
        gate_.release();
    }
    std::uint32_t pauseMs =
        engineInfo(manager.barcodeEngineType()).continuousPause.forMode(manager.scanMode);
    if (pauseMs != 0) {
        manager.clock().sleepMs(pauseMs);
    }
}

}  // namespace vandora
