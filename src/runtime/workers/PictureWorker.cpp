#include "runtime/workers/PictureWorker.h"

#include <ctime>
#include <utility>

#include "config/engines/ImagerPictureFormat.h"
#include "platform/Folders.h"
#include "platform/Log.h"
#include "reader/ImageCapture.h"

namespace vandora {

namespace {

constexpr const char* kNoDiskSpaceText = "Not enough disk space";
constexpr const char* kWarningCaption = "Warning";
constexpr const char* kImageBroadcast = "WM_IMAGE";
constexpr int kPictureProgressRange = 100;

}  // namespace

void PictureWorker::start() {
    thread_.start(
        request_, &done_, parts_.stopFlag, [this] { work(); }, "picture");
}

void PictureWorker::take() {
    std::int32_t model = parts_.manager.deviceModel();
    if (pictureHandlingKnown(model)) {
        request_.release();
        return;
    }
    // Said, not taken.
    std::string text =
        "no picture taken: terminal model " + std::to_string(model) + " has no picture handling";
    logMessage(LogLevel::Warning, text, {{"DEVICE_MODEL", std::to_string(model)}});
    parts_.view.setStatusText(ByteString(text.c_str()));
}

void PictureWorker::work() {
    MainView& view = parts_.view;
    ReaderManager& manager = parts_.manager;
    view.showProgress(true);
    PictureFormat format = imagerPictureFormat(manager, engine_);
    std::vector<std::uint8_t> picture;
    std::int32_t taken =
        captureImage(manager, picture, timeoutSeconds_.load() * 1000, format,
                     [&view](int percent) { view.setProgress(percent, kPictureProgressRange); });
    view.showProgress(false);
    if (taken == 0) {
        if (manager.barcode.lost != 0) {
            parts_.loop.post({Msg::BarcodeLost, 0, 0});
        }
        return;
    }
    // Handed over while this thread waits: the loop stores it before the next picture is taken.
    picture_ = std::move(picture);
    format_ = format;
    parts_.loop.send({Msg::DecodeImage, 1, 0});
}

void PictureWorker::store(const ByteString& imagePath) {
    std::string folder = imagePath.narrow();
    if (folder.empty()) {
        folder = programFolder() + "images/";
    }
    files_->ensureDirectory(folder);
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::string name = pictureFileName(folder, local, pictureExtension(format_));
    if (!files_->hasDiskSpace(folder, picture_.size())) {
        logMessage(LogLevel::Warning,
                   std::string(kNoDiskSpaceText) + " for a picture in " + folder);
        parts_.view.messageBox(kNoDiskSpaceText, kWarningCaption);
        return;
    }
    int error = 0;
    std::string saved = files_->save(name, picture_, error);
    if (saved.empty()) {
        logMessage(LogLevel::Error, "cannot write the picture " + name,
                   {{"ERRNO", std::to_string(error)}});
        return;
    }
    lastPicture_ = saved;
    parts_.view.showPicture(saved);
    if (broadcasts_ != nullptr) {
        broadcasts_->emitMessage(kImageBroadcast, 0, 0);
        broadcasts_->flush();
    }
}

}  // namespace vandora
