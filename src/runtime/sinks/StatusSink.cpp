#include "runtime/sinks/StatusSink.h"

#include "runtime/DecodeFormat.h"

namespace vandora {

namespace {
class ViewStatus final : public StatusView {
  public:
    explicit ViewStatus(MainView& view) : view_(view) {}
    void setStatusText(const ByteString& text) override {
        view_.showStatus(text, StatusOrigin::Decode);
    }

  private:
    MainView& view_;
};
}  // namespace

void StatusSink::deliver(const Delivery& delivery, const AppSettings& settings) {
    if (view_ == nullptr) {
        return;
    }
    const Decode& decode = delivery.decode;
    StatusFields fields;
    fields.kind = static_cast<std::int32_t>(decode.kind);
    fields.engineType = decode.engineType;
    fields.codeTypeId = decode.codeTypeId;
    fields.typeName = decode.codeTypeName;
    fields.text = delivery.text;
    fields.userData = decode.userData;
    ViewStatus status(*view_);
    showDecodeStatus(status, fields, settings.displayUserDataByHex != 0);
}

}  // namespace vandora
