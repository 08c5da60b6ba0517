#include "runtime/sinks/PublishSink.h"

#include "runtime/DecodeFormat.h"
#include "runtime/DecodePublish.h"

namespace vandora {

void PublishSink::deliver(const Delivery& delivery, const AppSettings& settings) {
    PublishTargets targets;
    targets.channel = &channel_;
    targets.signals = signals_;
    targets.windowEvent = settings.windowEvent != 0;
    targets.windowMessage = settings.windowMessage != 0;
    if (!targets.windowEvent && !targets.windowMessage) {
        return;
    }
    const Decode& decode = delivery.decode;
    DecodeQueueRecord record = decode.kind == DecodeKind::Barcode
                                   ? barcodeRecord(decode.codeTypeId, decode.data)
                                   : rfidRecord(decode.codeTypeId, decode.data, &decode.userData);
    publishDecode(record, targets);
}

}  // namespace vandora
