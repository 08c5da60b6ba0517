#include "SimulatedTerminal.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "engines/EngineFacts.h"

namespace vandora::sim {

// clang-format off
// The engines each model's start-up detection finds: models 1 and 2 probe the CCD/Laser engine,
// the 2D imager and the long-range laser, model 5 the 1D laser and the newer imager, the others
// the CCD/Laser engine and both imagers. Their RFID module: the hexadecimal one on model 1, the
// letter one on models 2 and 3, the binary link's on model 4 (its port 2 is that link), the
// letter or hexadecimal one on an unknown model, none on model 5.
const std::array<ModelEngines, 6> kModelEngines = {{
    {DeviceModel::Unknown,  "",          "unknown",   {2, 3, 8}, {5, 6}, 3},
    {DeviceModel::HRT200CE, "HRT200CE",  "HRT200CE",  {2, 3, 4}, {6, 0}, 3},
    {DeviceModel::HRT300CE, "HRT300CE",  "HRT300CE",  {2, 3, 4}, {5, 0}, 3},
    {DeviceModel::PocketPC, "Pocket_PC", "Pocket PC", {2, 3, 8}, {5, 0}, 3},
    {DeviceModel::HRT400CE, "HRT400CE",  "HRT400CE",  {2, 3, 8}, {7, 0}, 3},
    {DeviceModel::HRT100CE, "HRT100CE",  "HRT100CE",  {8, 9, 0}, {0, 0}, 8},
}};
// clang-format on

namespace {

const ModelEngines& enginesOf(std::int32_t model) {
    for (const ModelEngines& row : kModelEngines) {
        if (row.model == model) {
            return row;
        }
    }
    return kModelEngines[0];
}

template <std::size_t N>
bool carries(const std::array<std::int32_t, N>& types, std::int32_t type) {
    return std::find(types.begin(), types.end(), type) != types.end();
}

// "2, 3 or 8", from a list ended by 0.
template <std::size_t N>
std::string typeList(const std::array<std::int32_t, N>& types) {
    std::vector<std::string> names;
    for (std::int32_t type : types) {
        if (type != 0) {
            names.push_back(std::to_string(type));
        }
    }
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
    }
    return text;
}

std::vector<std::uint8_t> bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

// Sample barcodes of each engine kind, as the engine reports them.
std::vector<SimDecode> samples(std::int32_t type) {
    const EngineFacts* facts = engineFacts(type);
    if (facts != nullptr && facts->framing == WireFraming::CcdText) {
        return {
            {'A', bytes("VANDORA-39")}, {'P', bytes("4006381333931")}, {'I', bytes("SHIP 0042")}};
    }
    std::vector<SimDecode> list = {
        {0x01, bytes("VANDORA-39")}, {0x0B, bytes("4006381333931")}, {0x03, bytes("SHIP 0042")}};
    if (facts != nullptr && facts->takesPictures) {
        list.push_back({0x1C, bytes("https://example.invalid/parcel/7731")});
        list.push_back({0x1B, bytes("LOT:A17;QTY:250;EXP:2027-03")});
    }
    return list;
}

bool parseNumber(const std::string& text, std::int32_t& out) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0') {
        return false;
    }
    out = static_cast<std::int32_t>(value);
    return true;
}

}  // namespace

bool parseTerminalSpec(const std::string& text, TerminalSpec& spec, std::string& error) {
    std::stringstream fields(text);
    std::string field;
    bool barcodeNamed = false;
    while (std::getline(fields, field, ',')) {
        if (field.empty()) {
            continue;
        }
        std::size_t eq = field.find('=');
        std::string key = field.substr(0, eq);
        std::int32_t value = 0;
        if (eq == std::string::npos || !parseNumber(field.substr(eq + 1), value)) {
            error = "bad field '" + field + "'";
            return false;
        }
        if (key == "model" && value >= 0 && value <= 5) {
            spec.model = value;
        } else if (key == "barcode" && (value == 0 || value == 2 || value == 3 || value == 4 ||
                                        value == 8 || value == 9)) {
            spec.barcode = value;
            barcodeNamed = true;
        } else if (key == "rfid" && (value == 0 || value == 5 || value == 6 || value == 7)) {
            spec.rfid = value;
        } else if (key == "decodeMs" && value >= 0 && value <= 60000) {
            spec.decodeMs = value;
        } else {
            error = "bad field '" + field + "': " +
                    (key == "model"      ? "model is 0 to 5"
                     : key == "barcode"  ? "barcode is 0, 2, 3, 4, 8 or 9"
                     : key == "rfid"     ? "rfid is 0, 5, 6 or 7"
                     : key == "decodeMs" ? "decodeMs is 0 to 60000"
                                         : "the fields are model, barcode, rfid and decodeMs");
            return false;
        }
    }
    // A terminal with an engine its model never has would start and then find nothing.
    const ModelEngines& row = enginesOf(spec.model);
    const std::string model = "model=" + std::to_string(spec.model);
    if (!barcodeNamed) {
        spec.barcode = row.defaultBarcode;
    }
    if (spec.barcode != 0 && !carries(row.barcode, spec.barcode)) {
        error = model + " has no barcode engine " + std::to_string(spec.barcode) +
                ": its barcode engine is " + typeList(row.barcode) + " (or barcode=0)";
        return false;
    }
    if (spec.rfid != 0 && !carries(row.rfid, spec.rfid)) {
        error = row.rfid[0] == 0
                    ? model + " has no RFID module (rfid=0 only)"
                    : model + " has no RFID module " + std::to_string(spec.rfid) +
                          ": its RFID module is " + typeList(row.rfid) + " (or rfid=0)";
        return false;
    }
    return true;
}

std::string terminalCombinations() {
    std::string text;
    for (const ModelEngines& row : kModelEngines) {
        std::string line = "model=" + std::to_string(row.model) + " (" + row.label + ")";
        line.resize(std::max<std::size_t>(line.size(), 21), ' ');
        line += "barcode=" + typeList(row.barcode);
        line.resize(std::max<std::size_t>(line.size(), 40), ' ');
        line += row.rfid[0] == 0 ? "no RFID module" : "rfid=" + typeList(row.rfid);
        text += line + "\n";
    }
    return text;
}

SimulatedTerminal::SimulatedTerminal(const TerminalSpec& spec, Clock& clock)
    : spec_(spec), clock_(&clock), ports_(clock), readyLine_(ports_, kBarcodePort) {
    if (spec.barcode != 0) {
        SimOptions options;
        options.decodes = samples(spec.barcode);
        options.repeatDecodes = true;
        if (spec.decodeMs >= 0) {
            options.decodeDelayUs = static_cast<std::uint64_t>(spec.decodeMs) * 1000;
        }
        barcode_ = makeEngineModel(spec.barcode, options);
        ports_.attach(kBarcodePort, barcode_);
    }
    if (spec.rfid != 0) {
        rfid_ = makeEngineModel(spec.rfid, {});
        if (TagField* field = rfid_->tagField()) {
            field->clear();
            for (SimTag& tag : sampleTags()) {
                field->place(std::move(tag));
            }
        }
        ports_.attach(kRfidPort, rfid_);
    }
    // Simulated ports have no modem lines to wait on.
    ports_.faultsFor(kBarcodePort).noModemLines = true;
    ports_.faultsFor(kRfidPort).noModemLines = true;
    registryPath_ = (std::filesystem::temp_directory_path() /
                     ("vandora-sim-registry-" + std::to_string(getpid()) + ".ini"))
                        .string();
    std::ofstream(registryPath_) << "[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel="
                                 << enginesOf(spec.model).registryName << "\n";
}

SimulatedTerminal::~SimulatedTerminal() {
    std::error_code ec;
    std::filesystem::remove(registryPath_, ec);
}

ReaderPlatform SimulatedTerminal::platform() {
    ReaderPlatform platform;
    platform.clock = clock_;
    platform.ports = &ports_;
    platform.readyLine = &readyLine_;
    platform.rfidLink = &link_;
    platform.registryPath = registryPath_;
    return platform;
}

}  // namespace vandora::sim
