#include "runtime/ServiceOutput.h"

#include <poll.h>

#include <cerrno>
#include <cstdio>

#include "runtime/DecodeFormat.h"
#include "runtime/DecodePublish.h"
#include "runtime/KeyboardEmulation.h"
#include "runtime/Messages.h"

namespace vandora {

namespace {
class ViewStatus final : public StatusView {
  public:
    explicit ViewStatus(MainView& view) : view_(view) {}
    void setStatusText(const ByteString& text) override { view_.setStatusText(text); }

  private:
    MainView& view_;
};
}  // namespace

OutputOptions outputOptionsOf(const AppSettings& settings) {
    OutputOptions options;
    options.keyboardEmu = settings.keyboardEmu;
    options.prefixStr = settings.prefixStr;
    options.suffixStr = settings.suffixStr;
    options.displayCodeType = settings.displayCodeType;
    options.displayCodeLength = settings.displayCodeLength;
    options.displayUid = settings.displayUid;
    options.displayUserData = settings.displayUserData;
    options.delimiter = settings.delimiter;
    options.autoEnter = settings.autoEnter;
    options.autoEnterChar = settings.autoEnterChar;
    options.displayUserDataByHex = settings.displayUserDataByHex;
    options.isHexContent = settings.isHexContent;
    return options;
}

ServiceOutput::ServiceOutput(ServiceOutputOptions options)
    : options_(std::move(options)), keyboard_(makeKeyboardSink(options_.keyboard)) {}

void ServiceOutput::attach(MainDialog& dialog) {
    dialog_ = &dialog;
    channel_ = std::make_unique<DecodeChannelWriter>();
    if (bus_.open(options_.systemBus) < 0) {
        std::fprintf(stderr, "vandora: no %s bus: posted messages and broadcasts are off\n",
                     options_.systemBus ? "system" : "session");
        return;
    }
    EventLoop& loop = dialog.loop();
    bus_.serve(
        [&loop](const std::string& name, std::uint32_t wParam, std::int64_t lParam) {
            std::optional<Message> message = postedMessage(name, wParam, lParam);
            if (message) {
                loop.post(*message);
            }
            return message.has_value();
        },
        [&loop] { loop.post(shownMessage()); });
    loop.watchFd(bus_.fd(), POLLIN, [this](short) { bus_.process(); });
}

bool ServiceOutput::claimInstance() {
    if (!bus_.isOpen()) {
        return true;
    }
    int r = bus_.requestName();
    if (r == -EEXIST || r == -EALREADY) {
        std::string error;
        bus_.callShow(error);
        return false;
    }
    bus_.process();
    return true;
}

void ServiceOutput::showStatus(const DecodeCopy& decode, const AppSettings& settings,
                               MainView& view) {
    StatusFields fields;
    fields.kind = decode.kind;
    fields.engineType = decode.engineType;
    fields.codeTypeId = decode.codeTypeId;
    fields.typeName = decode.codeTypeName;
    fields.text = decode.kind == 1
                      ? convertDecodeText(decode.engineType, decode.codeTypeId, decode.data)
                      : decode.data;
    fields.userData = decode.userData;
    ViewStatus status(view);
    showDecodeStatus(status, fields, settings.displayUserDataByHex != 0);
}

void ServiceOutput::typeOutput(const DecodeCopy& decode, const AppSettings& settings) {
    ByteString text = decode.kind == 1
                          ? convertDecodeText(decode.engineType, decode.codeTypeId, decode.data)
                          : decode.data;
    ByteString output = buildOutputText(decode.kind, decode.codeTypeName, text, &decode.userData,
                                        outputOptionsOf(settings));
    if (!output.empty()) {
        emulateKeyboard(output, settings.keyboardEmu == 2, *keyboard_, RealClock::instance());
    }
}

void ServiceOutput::publish(const DecodeCopy& decode, const AppSettings& settings) {
    DecodeQueueRecord record = decode.kind == 1
                                   ? barcodeRecord(decode.codeTypeId, decode.data)
                                   : rfidRecord(decode.codeTypeId, decode.data, &decode.userData);
    PublishTargets targets;
    targets.channel = channel_.get();
    targets.signals = bus_.isOpen() ? &bus_ : nullptr;
    targets.windowEvent = settings.windowEvent != 0;
    targets.windowMessage = settings.windowMessage != 0;
    publishDecode(record, targets);
}

}  // namespace vandora
