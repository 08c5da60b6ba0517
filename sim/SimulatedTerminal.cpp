#include "SimulatedTerminal.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "engines/EngineFacts.h"

namespace vandora::sim {

namespace {

const char* modelName(std::int32_t model) {
    switch (model) {
        case DeviceModel::HRT200CE:
            return "HRT200CE";
        case DeviceModel::HRT300CE:
            return "HRT300CE";
        case DeviceModel::PocketPC:
            return "Pocket_PC";
        case DeviceModel::HRT400CE:
            return "HRT400CE";
        case DeviceModel::HRT100CE:
            return "HRT100CE";
        default:
            return "";
    }
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
        } else if (key == "rfid" && (value == 0 || value == 5 || value == 6 || value == 7)) {
            spec.rfid = value;
        } else {
            error = "bad field '" + field + "': " +
                    (key == "model"     ? "model is 0 to 5"
                     : key == "barcode" ? "barcode is 0, 2, 3, 4, 8 or 9"
                     : key == "rfid"    ? "rfid is 0, 5, 6 or 7"
                                        : "the fields are model, barcode and rfid");
            return false;
        }
    }
    // Only that terminal model reaches its RFID module through the binary link.
    if (spec.rfid == toNumber(EngineType::RfidBinaryLink) && spec.model != DeviceModel::HRT400CE) {
        error = "rfid=7 needs model=4";
        return false;
    }
    return true;
}

SimulatedTerminal::SimulatedTerminal(const TerminalSpec& spec)
    : spec_(spec), ports_(RealClock::instance()), readyLine_(ports_, kBarcodePort) {
    if (spec.barcode != 0) {
        SimOptions options;
        options.decodes = samples(spec.barcode);
        options.repeatDecodes = true;
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
                                 << modelName(spec.model) << "\n";
}

SimulatedTerminal::~SimulatedTerminal() {
    std::error_code ec;
    std::filesystem::remove(registryPath_, ec);
}

ReaderPlatform SimulatedTerminal::platform() {
    ReaderPlatform platform;
    platform.clock = &RealClock::instance();
    platform.ports = &ports_;
    platform.readyLine = &readyLine_;
    platform.rfidLink = &link_;
    platform.registryPath = registryPath_;
    return platform;
}

}  // namespace vandora::sim
