#include "runtime/DecodeSink.h"

#include <utility>

#include "runtime/DecodeFormat.h"

namespace vandora {

Delivery deliveryOf(Decode decode, bool windowActive) {
    Delivery delivery;
    delivery.text = decode.kind == DecodeKind::Barcode
                        ? convertDecodeText(decode.engineType, decode.codeTypeId, decode.data)
                        : decode.data;
    delivery.decode = std::move(decode);
    delivery.windowActive = windowActive;
    return delivery;
}

}  // namespace vandora
