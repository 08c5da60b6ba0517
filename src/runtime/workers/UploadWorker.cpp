#include "runtime/workers/UploadWorker.h"

#include <string>

#include "platform/Log.h"
#include "reader/Firmware.h"
#include "reader/Trigger.h"
#include "reader/engines/EngineTable.h"

namespace vandora {

namespace {

constexpr const char* kWarningCaption = "Warning";
constexpr int kShxProgressRange = 100;
constexpr int kDatProgressRange = 1000;

}  // namespace

void UploadWorker::start() {
    thread_.start(
        request_, nullptr, parts_.stopFlag, [this] { work(); }, "upload");
}

void UploadWorker::warn() {
    ReaderManager& manager = parts_.manager;
    EngineType type = manager.barcodeEngineType();
    if (!takesFirmware(type)) {
        return;
    }
    ByteString version;
    {
        ChannelHold hold(manager.barcode);
        queryFirmwareVersion(manager, type, version);
    }
    std::string text = kFirmwareWarningText;
    text.replace(text.find("%s"), 2, version.narrow());
    if (parts_.view.messageBox(text, kWarningCaption) == MainView::kOk) {
        request_.release();
    }
}

void UploadWorker::work() {
    MainView& view = parts_.view;
    ReaderManager& manager = parts_.manager;
    EngineType type = manager.barcodeEngineType();
    if (ended_) {
        return;
    }
    std::string path = view.chooseFile(firmwareFileFilter(type));
    if (path.empty()) {
        // A cancelled choice ends uploads until the next start.
        ended_ = true;
        return;
    }
    view.setEnabled(false);
    view.showProgress(true);
    int range =
        engineInfo(type).firmware == FirmwareFile::Dat ? kDatProgressRange : kShxProgressRange;
    std::int32_t ok = 0;
    {
        // Scans wait meanwhile: nothing else may talk to the engine while it takes firmware.
        ChannelHold hold(manager.barcode);
        ok = uploadDecoder(manager, path,
                           [&view, range](int position) { view.setProgress(position, range); });
    }
    view.showProgress(false);
    view.setEnabled(true);
    if (ok != 0) {
        logMessage(LogLevel::Notice, "decoder firmware " + path + " uploaded");
    } else {
        logMessage(LogLevel::Error, std::string(kUploadFailsText) + " (" + path + ")",
                   {{"ERROR_CODE", std::to_string(manager.barcode.lastError)}});
    }
    view.messageBox(ok != 0 ? uploadSucceedsText(type) : kUploadFailsText, kWarningCaption);
}

}  // namespace vandora
