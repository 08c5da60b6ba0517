// SimulatedTerminal: a whole terminal made of simulators, for the service's simulation mode.
//
// A spec picks the terminal model and the engines behind the two ports, as comma-separated
// fields: "model=N" (0 to 5), "barcode=T" (2, 3, 4, 8, 9, or 0 for none), "rfid=T" (5, 6, 7, or 0
// for none), "decodeMs=N" (0 to 60000: the barcode engine's time to a decode). Only what the model
// carries is taken (kModelEngines): the engines its start-up detection finds there, the RFID module
// on its port 2 (behind the binary link on model 4), none on model 5; anything else is refused with
// the reason. The default is a model-4 terminal with a 2D imager (type 3) and no RFID module; a
// model named without a barcode engine gets its 2D imager. The barcode engine decodes a built-in
// list of sample barcodes, one per trigger, round and round; the RFID module has one sample tag of
// each kind in its field. Everything runs on the clock given (the real one unless a test gives its
// own).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "SimulatedPort.h"
#include "engines/EngineModels.h"
#include "reader/ReaderPlatform.h"
#include "reader/ReaderTypes.h"

namespace vandora::sim {

struct TerminalSpec {
    std::int32_t model = DeviceModel::HRT400CE;
    // Engine type numbers, as the simulators know them.
    std::int32_t barcode = 3;
    std::int32_t rfid = 0;
    // From a trigger (or, scanning by itself, from the last decode) to the barcode engine's
    // decode, in milliseconds; -1: the engine's usual 30 ms. Fleet and load runs pace it.
    std::int32_t decodeMs = -1;
};

// What one terminal model carries, by engine type number; 0 ends a list.
struct ModelEngines {
    std::int32_t model;
    const char* registryName;  // the registry's DeviceModel text
    const char* label;         // for the usage text
    std::array<std::int32_t, 3> barcode;
    std::array<std::int32_t, 2> rfid;
    std::int32_t defaultBarcode;  // when the model is named without a barcode engine
};
extern const std::array<ModelEngines, 6> kModelEngines;

// Parses a spec; false (with the reason in error) for a malformed one or an engine the model does
// not carry.
bool parseTerminalSpec(const std::string& text, TerminalSpec& spec, std::string& error);
// The combinations each model carries, as lines for a usage text.
std::string terminalCombinations();

class SimulatedTerminal {
  public:
    explicit SimulatedTerminal(const TerminalSpec& spec, Clock& clock = RealClock::instance());
    ~SimulatedTerminal();
    SimulatedTerminal(const SimulatedTerminal&) = delete;
    SimulatedTerminal& operator=(const SimulatedTerminal&) = delete;

    // The platform for the reader manager: simulated ports and ready line, a registry file that
    // names the model.
    ReaderPlatform platform();
    std::shared_ptr<EngineSim> barcodeEngine() const { return barcode_; }

  private:
    TerminalSpec spec_;
    Clock* clock_;
    SimulatedPortProvider ports_;
    SimEngineReadyLine readyLine_;
    UnavailableRfidLink link_;
    std::shared_ptr<EngineSim> barcode_;
    std::shared_ptr<EngineSim> rfid_;
    std::string registryPath_;
};

}  // namespace vandora::sim
