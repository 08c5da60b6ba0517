#include "runtime/ServiceOutput.h"

namespace vandora {

bool ServiceOutput::claimInstance() {
    return true;
}

void ServiceOutput::showStatus(const DecodeCopy& decode, const AppSettings& /*settings*/,
                               MainView& view) {
    ByteString text("type : ");
    text.append(decode.codeTypeName);
    text.append("\r\ncode : ");
    text.append(decode.data);
    view.setStatusText(text);
}

void ServiceOutput::typeOutput(const DecodeCopy& /*decode*/, const AppSettings& /*settings*/) {}

void ServiceOutput::publish(const DecodeCopy& /*decode*/, const AppSettings& /*settings*/) {}

}  // namespace vandora
