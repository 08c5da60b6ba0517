// SimulatedTerminal: a whole terminal made of simulators, for the service's simulation mode.
//
// A spec picks the terminal model and the engines behind the two ports, as comma-separated
// fields: "model=N" (0 to 5), "barcode=T" (2, 3, 4, 8, 9, or 0 for none), "rfid=T" (5, 6, 7 on
// model 4 only, or 0 for none). The default is a model-4 terminal with a 2D imager (type 3) and no
// RFID module. The barcode engine decodes a built-in list of sample barcodes, one per trigger,
// round and round; the RFID module has one sample tag of each kind in its field. Everything runs
// on the real clock.
#pragma once

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
};

// Parses a spec; false (with a message in error) for a malformed one.
bool parseTerminalSpec(const std::string& text, TerminalSpec& spec, std::string& error);

class SimulatedTerminal {
  public:
    explicit SimulatedTerminal(const TerminalSpec& spec);
    ~SimulatedTerminal();
    SimulatedTerminal(const SimulatedTerminal&) = delete;
    SimulatedTerminal& operator=(const SimulatedTerminal&) = delete;

    // The platform for the reader manager: simulated ports and ready line, a registry file that
    // names the model.
    ReaderPlatform platform();
    std::shared_ptr<EngineSim> barcodeEngine() const { return barcode_; }

  private:
    TerminalSpec spec_;
    SimulatedPortProvider ports_;
    SimEngineReadyLine readyLine_;
    UnavailableRfidLink link_;
    std::shared_ptr<EngineSim> barcode_;
    std::shared_ptr<EngineSim> rfid_;
    std::string registryPath_;
};

}  // namespace vandora::sim
