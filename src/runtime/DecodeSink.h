// DecodeSink: one output of decodes. The service hands every decode to each of its sinks in
// turn; a sink checks its own switch in the settings and leaves the decode alone when it is off.
// A new output is one new sink.
//
// Threading: deliver runs on the user-interface thread.
#pragma once

#include "common/ByteString.h"
#include "config/AppSettings.h"
#include "reader/Decode.h"

namespace vandora {

// One decode on its way to the sinks.
struct Delivery {
    Decode decode;
    // The text every sink shows or types: a barcode's data converted from the terminal's code
    // page where its code type needs that, an RFID tag's UID.
    ByteString text;
    // The service's own window is the active window.
    bool windowActive = false;
};

// Converts the decode's text, once for all sinks.
Delivery deliveryOf(Decode decode, bool windowActive);

class DecodeSink {
  public:
    virtual ~DecodeSink() = default;
    virtual void deliver(const Delivery& delivery, const AppSettings& settings) = 0;
};

}  // namespace vandora
