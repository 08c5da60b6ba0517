// What a reader manager is built on: the operating-system services it uses (clock, serial ports,
// engine-ready line, the RFID binary link, the signal hardware) and the registry file that names
// the terminal model. Simulators and tests hand the reader their own services through this one
// small record.
#pragma once

#include <string>

#include "platform/Clock.h"
#include "platform/EngineReadyLine.h"
#include "platform/RfidLinkApi.h"
#include "platform/SerialPort.h"
#include "platform/SignalDevices.h"

namespace vandora {

// The operating-system services the reader code uses. Not owned.
struct ReaderPlatform {
    Clock* clock = &RealClock::instance();
    SerialPortProvider* ports = nullptr;
    EngineReadyLine* readyLine = nullptr;
    RfidLinkApi* rfidLink = nullptr;
    // Good-read signal hardware; null: the terminal system library of the model.
    SignalDevices* signals = nullptr;
    // Registry file; empty: $VANDORA_REGISTRY or the default path.
    std::string registryPath;
    // Password text handed to the binary link on open (8 hexadecimal characters); empty: the
    // link's built-in default.
    std::string linkPassword;
};

}  // namespace vandora
