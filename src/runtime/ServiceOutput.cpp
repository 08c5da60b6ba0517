#include "runtime/ServiceOutput.h"

#include <poll.h>

#include <cerrno>
#include <cstdio>

#include "runtime/DecodeFormat.h"
#include "runtime/KeyboardEmulation.h"

namespace vandora {

namespace {
constexpr const char* kDecodeMessage = "DECODE_MSG";
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
            std::optional<std::uint32_t> id = messageByName(name);
            if (!id) {
                return false;
            }
            loop.post({*id, wParam, lParam});
            return true;
        },
        [&loop] {
            loop.post({Msg::Show, 0, 0});
        });
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
    if (decode.kind == 1) {
        ByteString text = convertDecodeText(decode.engineType, decode.codeTypeId, decode.data);
        view.setStatusText(
            barcodeStatusText(decode.engineType, decode.codeTypeId, decode.codeTypeName, text));
    } else {
        view.setStatusText(rfidStatusText(decode.codeTypeName, decode.data, decode.userData,
                                          settings.displayUserDataByHex != 0));
    }
}

void ServiceOutput::typeOutput(const DecodeCopy& decode, const AppSettings& settings) {
    ByteString text = decode.kind == 1
                          ? convertDecodeText(decode.engineType, decode.codeTypeId, decode.data)
                          : decode.data;
    ByteString output =
        buildOutputText(decode.kind, decode.codeTypeName, text, &decode.userData, settings);
    if (!output.empty()) {
        emulateKeyboard(output, settings.keyboardEmu == 2, *keyboard_, RealClock::instance());
    }
}

void ServiceOutput::publish(const DecodeCopy& decode, const AppSettings& settings) {
    if (!channel_) {
        return;
    }
    DecodeQueueRecord record = decode.kind == 1
                                   ? barcodeRecord(decode.codeTypeId, decode.data)
                                   : rfidRecord(decode.codeTypeId, decode.data, &decode.userData);
    channel_->discardUnread();
    // A record that cannot be left for the readers is not announced either.
    if (!channel_->write(record.data(), record.size())) {
        return;
    }
    if (settings.windowEvent != 0) {
        channel_->setEvent();
    }
    if (settings.windowMessage != 0 && bus_.isOpen()) {
        bus_.emitCopyData(kDecodeMessage, record.data(), record.size());
        bus_.emitMessage(kDecodeMessage, record[0], 0);
        bus_.flush();
    }
}

}  // namespace vandora
