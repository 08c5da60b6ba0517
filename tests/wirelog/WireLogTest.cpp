// What the engines receive, pinned: each scenario runs against the simulated engines and every
// engine's command log (one line per frame: rate, valid flag, bytes; never times) must equal its
// golden file in tests/wirelog/ byte for byte. A failure names the file and the first line that
// differs. VANDORA_WRITE_WIRELOGS=1 writes the golden files anew from the tree as it is.
//
// The scenarios go through the entry points the program uses: the manager's start, the settings
// transfer, the tag operations, picture capture, the firmware upload, and for a trigger the
// service's own messages. Those without the service run in virtual time; the service runs its
// worker threads on the real clock, so its scenarios (suite WireLogThreaded) only put on the wire
// what does not depend on when a thread gets to run: the release waits for the decode, and the
// logs are read once the service is gone.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "SimulatedPort.h"
#include "SimulatedTerminal.h"
#include "config/AppSettings.h"
#include "config/EngineSettings.h"
#include "config/IniStore.h"
#include "config/SettingsTransfer.h"
#include "engines/EngineModels.h"
#include "platform/ImageCodec.h"
#include "reader/Firmware.h"
#include "reader/ImageCapture.h"
#include "reader/ReaderManager.h"
#include "reader/Scan.h"
#include "rfid/TagOps.h"
#include "rfid/link/RfidLink.h"
#include "runtime/ReaderService.h"
#include "support/OwnerClock.h"

namespace vandora {
namespace {

namespace fs = std::filesystem;

const fs::path kWireLogDir = fs::path(VANDORA_SOURCE_DIR) / "tests" / "wirelog";
// The sample Mifare tag's login key (key A).
const char* const kTagKey = "3C5A9E71B2D4";

enum class Action {
    Identify,    // start with detection
    LoadAll,     // start with the engine's own hint, then the fixture file's settings
    SaveAll,     // start, then every setting read back
    TagRead,     // start, then 16 bytes of the default page
    TagWrite,    // start, then A1 B2 C3 at byte 20
    Picture,     // start, then one picture
    Firmware,    // start, then the engine's firmware file
    Press,       // the service starts from its file; a trigger press, the decode, the release
    PressWrite,  // the same with the file's content written to the tag on the press
};

bool throughService(Action action) {
    return action == Action::Press || action == Action::PressWrite;
}

struct Scenario {
    const char* name;
    Action action;
    std::int32_t model;
    std::int32_t barcode;  // engine type numbers; 0 none
    std::int32_t rfid;
    // Through the service: the settings file it starts from.
    const char* ini = "";
    // The rate the engines talk at when the scenario starts; 0: their working rate.
    std::uint32_t startBaud = 0;
};

// Each barcode engine reads one code; an RFID module has one tag in its field.
const Scenario kScenarios[] = {
    {"IdentifyCcdLaser", Action::Identify, DeviceModel::Unknown, 2, 0},
    {"IdentifyImager2D", Action::Identify, DeviceModel::Unknown, 3, 0},
    {"IdentifyLongRange1D", Action::Identify, DeviceModel::HRT200CE, 4, 0},
    {"IdentifyImager2D4507", Action::Identify, DeviceModel::HRT100CE, 8, 0},
    {"IdentifyLaser1D955", Action::Identify, DeviceModel::HRT100CE, 9, 0},
    {"IdentifyRfidLetters", Action::Identify, DeviceModel::Unknown, 0, 5},
    {"IdentifyRfidHex", Action::Identify, DeviceModel::Unknown, 0, 6},
    {"IdentifyRfidBinaryLink", Action::Identify, DeviceModel::HRT400CE, 0, 7},
    // Engines still at their power-up rate are moved to their working rate.
    {"IdentifyImager2DFrom9600", Action::Identify, DeviceModel::Unknown, 3, 0, "", 9600},
    {"IdentifyLongRange1DFrom9600", Action::Identify, DeviceModel::HRT200CE, 4, 0, "", 9600},
    {"IdentifyImager2D4507From9600", Action::Identify, DeviceModel::HRT100CE, 8, 0, "", 9600},
    {"IdentifyLaser1D955From9600", Action::Identify, DeviceModel::HRT100CE, 9, 0, "", 9600},
    {"IdentifyRfidLettersFrom9600", Action::Identify, DeviceModel::Unknown, 0, 5, "", 9600},
    {"LoadAllCcdLaser", Action::LoadAll, DeviceModel::Unknown, 2, 0},
    {"LoadAllImager2D", Action::LoadAll, DeviceModel::Unknown, 3, 0},
    {"LoadAllLongRange1D", Action::LoadAll, DeviceModel::HRT200CE, 4, 0},
    {"LoadAllImager2D4507", Action::LoadAll, DeviceModel::HRT100CE, 8, 0},
    {"LoadAllLaser1D955", Action::LoadAll, DeviceModel::HRT100CE, 9, 0},
    {"LoadAllRfidLetters", Action::LoadAll, DeviceModel::Unknown, 0, 5},
    {"LoadAllRfidHex", Action::LoadAll, DeviceModel::Unknown, 0, 6},
    {"LoadAllRfidBinaryLink", Action::LoadAll, DeviceModel::HRT400CE, 0, 7},
    {"SaveAllCcdLaser", Action::SaveAll, DeviceModel::Unknown, 2, 0},
    {"SaveAllImager2D", Action::SaveAll, DeviceModel::Unknown, 3, 0},
    {"SaveAllLongRange1D", Action::SaveAll, DeviceModel::HRT200CE, 4, 0},
    {"SaveAllImager2D4507", Action::SaveAll, DeviceModel::HRT100CE, 8, 0},
    {"SaveAllLaser1D955", Action::SaveAll, DeviceModel::HRT100CE, 9, 0},
    {"SaveAllRfidLetters", Action::SaveAll, DeviceModel::Unknown, 0, 5},
    {"SaveAllRfidHex", Action::SaveAll, DeviceModel::Unknown, 0, 6},
    {"SaveAllRfidBinaryLink", Action::SaveAll, DeviceModel::HRT400CE, 0, 7},
    {"TagReadRfidLetters", Action::TagRead, DeviceModel::Unknown, 0, 5},
    {"TagReadRfidHex", Action::TagRead, DeviceModel::Unknown, 0, 6},
    {"TagReadRfidBinaryLink", Action::TagRead, DeviceModel::HRT400CE, 0, 7},
    {"TagWriteRfidLetters", Action::TagWrite, DeviceModel::Unknown, 0, 5},
    {"TagWriteRfidHex", Action::TagWrite, DeviceModel::Unknown, 0, 6},
    {"TagWriteRfidBinaryLink", Action::TagWrite, DeviceModel::HRT400CE, 0, 7},
    {"PictureImager2D", Action::Picture, DeviceModel::HRT400CE, 3, 0},
    {"PictureImager2D4507", Action::Picture, DeviceModel::HRT100CE, 8, 0},
    {"FirmwareShxCcdLaser", Action::Firmware, DeviceModel::Unknown, 2, 0},
    {"FirmwareDatImager2D4507", Action::Firmware, DeviceModel::HRT400CE, 8, 0},
    {"ServicePressCcdLaser", Action::Press, DeviceModel::Unknown, 2, 0,
     "[Barcode Reader CCD/Laser]\r\nhasCCD=1\r\nscanMode=6\r\n"},
    {"ServicePressImager2D", Action::Press, DeviceModel::Unknown, 3, 0,
     "[Barcode Reader 2D]\r\nhas2D=1\r\nscanMode=8\r\n"},
    {"ServicePressLongRange1D", Action::Press, DeviceModel::HRT200CE, 4, 0,
     "[Barcode Reader 1D_LR]\r\nhas1DLR=1\r\nscanMode=8\r\n"},
    // The long-range laser aims for half a second before the decode on every other press, the
    // first one included.
    {"ServicePressLongRange1DAiming", Action::Press, DeviceModel::HRT200CE, 4, 0,
     "[Barcode Reader 1D_LR]\r\nhas1DLR=1\r\nscanMode=8\r\naimDurtion=5\r\n"},
    {"ServicePressImager2D4507", Action::Press, DeviceModel::HRT100CE, 8, 0,
     "[Barcode Reader 2D]\r\nhas2D_4507=1\r\nscanMode=8\r\n"},
    {"ServicePressLaser1D955", Action::Press, DeviceModel::HRT100CE, 9, 0,
     "[Barcode Reader 1D_LR]\r\nhas1D_955=1\r\nscanMode=8\r\n"},
    {"ServicePressRfidLetters", Action::Press, DeviceModel::Unknown, 0, 5,
     "[RFID]\r\nhasRfid=5\r\nrfidReadLength=16\r\n"},
    {"ServicePressRfidHex", Action::Press, DeviceModel::Unknown, 0, 6,
     "[RFID]\r\nhasRfid=6\r\nrfidReadLength=16\r\n"},
    {"ServicePressRfidBinaryLink", Action::Press, DeviceModel::HRT400CE, 0, 7,
     "[RFID]\r\nhasRfid=7\r\nrfidReadLength=16\r\n"},
    {"ServiceWriteRfidLetters", Action::PressWrite, DeviceModel::Unknown, 0, 5,
     "[RFID]\r\nhasRfid=5\r\nrfidRW=1\r\nrfidWriteStartByte=20\r\nrfidWriteContent="
     "A1B2C3\r\nisHexContent=1\r\n"},
    {"ServiceWriteRfidHex", Action::PressWrite, DeviceModel::Unknown, 0, 6,
     "[RFID]\r\nhasRfid=6\r\nrfidRW=1\r\nrfidWriteStartByte=20\r\nrfidWriteContent="
     "A1B2C3\r\nisHexContent=1\r\n"},
    {"ServiceWriteRfidBinaryLink", Action::PressWrite, DeviceModel::HRT400CE, 0, 7,
     "[RFID]\r\nhasRfid=7\r\nrfidRW=1\r\nrfidWriteStartByte=20\r\nrfidWriteContent="
     "A1B2C3\r\nisHexContent=1\r\n"},
};

void PrintTo(const Scenario& s, std::ostream* out) {
    *out << s.name;
}

// The terminal of a scenario: its model in a registry file, the engines on their ports, the
// binary link over the same ports, as the program wires them.
struct Terminal {
    Terminal(const Scenario& s, Clock& clock, const fs::path& dir)
        : ports(clock), ready(ports, kBarcodePort), link(ports, clock) {
        platform.clock = &clock;
        platform.ports = &ports;
        platform.readyLine = &ready;
        platform.rfidLink = &link;
        platform.registryPath = (dir / "registry.ini").string();
        for (const sim::ModelEngines& row : sim::kModelEngines) {
            if (row.model == s.model) {
                std::ofstream(platform.registryPath)
                    << "[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=" << row.registryName << "\n";
            }
        }
        if (s.barcode != 0) {
            sim::SimOptions options;
            options.startBaud = s.startBaud;
            std::uint8_t codeType = s.barcode == 2 ? 'A' : 0x1B;
            // A packet engine sends the code in packets of four data bytes, each acknowledged.
            options.decodes = {{codeType,
                                {'W', 'I', 'R', 'E', 'L', 'O', 'G', '1', '2'},
                                sim::DecodeForm::Plain,
                                s.barcode == 2 ? 0u : 4u}};
            barcode = sim::makeEngineModel(s.barcode, options);
            ports.attach(kBarcodePort, barcode);
        }
        if (s.rfid != 0) {
            sim::SimOptions options;
            options.startBaud = s.startBaud;
            rfid = sim::makeEngineModel(s.rfid, options);
            sim::TagField* field = rfid->tagField();
            field->clear();
            field->place(*sim::sampleTag(s.rfid == 6 ? "iso15693" : "mifare"));
            ports.attach(kRfidPort, rfid);
        } else {
            ports.faultsFor(kRfidPort).openError = ENOENT;
        }
        // Simulated ports have no modem lines to wait on.
        ports.faultsFor(kBarcodePort).noModemLines = true;
        ports.faultsFor(kRfidPort).noModemLines = true;
    }

    // Where a step begins in each engine's log.
    void mark(const char* step) { marks.push_back({step, {logSize(barcode), logSize(rfid)}}); }
    static std::size_t logSize(const std::shared_ptr<sim::EngineSim>& engine) {
        return engine ? engine->log.size() : 0;
    }

    // Every engine's log: a header, then each step's frames.
    std::string render() const {
        std::string text;
        const std::shared_ptr<sim::EngineSim> engines[] = {barcode, rfid};
        for (std::size_t e = 0; e < 2; ++e) {
            const sim::EngineSim* engine = engines[e].get();
            if (engine == nullptr) {
                continue;
            }
            text += "engine " + std::to_string(engine->engineType()) + " on port " +
                    std::to_string(e == 0 ? kBarcodePort : kRfidPort) + "\n";
            // The log keeps the most recent frames only: a scenario must fit.
            if (engine->log.firstKept() != 0) {
                text += "(log overflowed: " + std::to_string(engine->log.size()) + " frames)\n";
            }
            for (std::size_t m = 0; m < marks.size(); ++m) {
                std::size_t end = m + 1 < marks.size() ? marks[m + 1].at[e] : engine->log.size();
                text += "-- " + marks[m].step + "\n";
                for (std::size_t i = std::max(marks[m].at[e], engine->log.firstKept()); i < end;
                     ++i) {
                    text += frameLine(engine->log[i]) + "\n";
                }
            }
        }
        return text;
    }

    static std::string frameLine(const sim::ReceivedCommand& command) {
        std::string line = std::to_string(command.baud) + (command.valid ? " ok" : " invalid");
        char two[4];
        for (std::uint8_t b : command.frame) {
            std::snprintf(two, sizeof two, " %02X", b);
            line += two;
        }
        return line;
    }

    sim::SimulatedPortProvider ports;
    sim::SimEngineReadyLine ready;
    RfidLink link;
    ReaderPlatform platform;
    std::shared_ptr<sim::EngineSim> barcode;
    std::shared_ptr<sim::EngineSim> rfid;
    struct Mark {
        std::string step;
        std::size_t at[2];  // barcode engine, RFID module
    };
    std::vector<Mark> marks;
};

EngineType hintFor(std::int32_t type, Action action) {
    if (type == 0) {
        return EngineType::None;
    }
    return action == Action::Identify ? EngineType::Detect : EngineType(type);
}

// The steps of a scenario without the service, on the manager as the service sets it up.
void runDirect(const Scenario& s, Terminal& t) {
    EngineSettings engine;
    ReaderManager manager(t.platform, &engine);
    t.mark("start");
    ASSERT_EQ(manager.startReaders(hintFor(s.barcode, s.action), hintFor(s.rfid, s.action)), 1)
        << manager.statusText.narrow();
    ASSERT_EQ(toNumber(manager.barcodeEngineType()), s.barcode);
    ASSERT_EQ(toNumber(manager.rfidEngineType()), s.rfid);
    AppSettings settings;
    settings.enableBarcode = manager.barcodeReady.load();
    settings.enableRfid = manager.rfidReady.load();
    switch (s.action) {
        case Action::Identify:
        case Action::Press:
        case Action::PressWrite:
            break;
        case Action::LoadAll: {
            t.mark("load-all");
            IniStore store;
            ASSERT_NE(store.load((kWireLogDir / "settings.ini").string()), 0);
            loadAll(manager, engine, store, settings);
            break;
        }
        case Action::SaveAll: {
            t.mark("save-all");
            IniStore store;
            saveAll(manager, engine, store, settings);
            break;
        }
        case Action::TagRead: {
            t.mark("tag read");
            TagRead tag;
            ASSERT_NE(readTag(manager, -1, 16, kTagKey, 0, tag), 0) << manager.rfid.lastError;
            break;
        }
        case Action::TagWrite: {
            t.mark("tag write");
            ByteString data = ByteString::fromBytes("\xA1\xB2\xC3");
            ASSERT_EQ(writeTag(manager, 20, data, kTagKey, 0), 3) << manager.rfid.lastError;
            break;
        }
        case Action::Picture: {
            t.mark("picture");
            std::vector<std::uint8_t> picture;
            ASSERT_EQ(captureImage(manager, picture, 5000, PictureFormat::Jpeg, {}), 1)
                << manager.barcode.lastError;
            break;
        }
        case Action::Firmware: {
            t.mark("firmware upload");
            const char* file = s.barcode == 2 ? "firmware.shx" : "firmware.dat";
            ASSERT_EQ(uploadDecoder(manager, (kWireLogDir / file).string(), {}), 1)
                << manager.barcode.lastError;
            break;
        }
    }
    t.mark("shutdown");
    manager.shutdownReaders();
}

class QuietView final : public MainView {
  public:
    void setStatusText(const ByteString&) override {}
    int messageBox(const std::string&, const std::string&) override { return kOk; }
};

class CountingSink final : public DecodeSink {
  public:
    void deliver(const Delivery&, const AppSettings&) override { ++delivered; }
    int delivered = 0;
};

// Runs the service's loop as the program's outer loop does until cond holds (limit only ends a
// run that would otherwise hang).
template <typename Cond>
bool runUntil(ReaderService& service, Cond cond) {
    EventLoop& loop = service.loop();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::vector<pollfd> fds{{loop.wakeFd(), POLLIN, 0}};
        for (const auto& [fd, events] : loop.watchedFds()) {
            fds.push_back({fd, events, 0});
        }
        int timeoutMs = loop.nextTimeoutMs() >= 0 ? std::min(loop.nextTimeoutMs(), 50) : 50;
        poll(fds.data(), fds.size(), timeoutMs);
        loop.dispatchPending();
    }
    return true;
}

// The service started from the scenario's file: a trigger press, the decode delivered, the
// release, then the service ends (its threads finish their work and the readers close).
void runService(const Scenario& s, Terminal& t, const fs::path& dir) {
    QuietView view;
    CountingSink sink;
    ReaderServiceParts parts;
    parts.platform = t.platform;
    parts.view = &view;
    parts.iniPath = (dir / "VandoraINI.txt").string();
    std::ofstream(parts.iniPath, std::ios::binary) << s.ini;
    {
        ReaderService service(parts);
        service.addSink(sink);
        t.mark("start");
        service.startUp();
        ASSERT_EQ(service.readers().barcodeReady, s.barcode != 0 ? 1 : 0);
        ASSERT_EQ(service.readers().rfidReady, s.rfid != 0 ? 1 : 0);
        t.mark("press and release");
        // A write on the press is done before the press returns; a read delivers its decode.
        service.handle({Msg::User1Down, 0, 0});
        if (s.action == Action::Press) {
            ASSERT_TRUE(runUntil(service, [&] { return sink.delivered == 1; }));
        }
        service.handle({Msg::User1Up, 0, 0});
    }
}

void compareWithGolden(const std::string& name, const std::string& got) {
    fs::path path = kWireLogDir / (name + ".wirelog");
    const char* write = std::getenv("VANDORA_WRITE_WIRELOGS");
    if (write != nullptr && std::string(write) == "1") {
        std::ofstream(path, std::ios::binary) << got;
        return;
    }
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in) << path.string() << " is missing (VANDORA_WRITE_WIRELOGS=1 writes it)";
    std::stringstream want;
    want << in.rdbuf();
    std::istringstream wantLines(want.str());
    std::istringstream gotLines(got);
    std::string w;
    std::string g;
    for (int line = 1;; ++line) {
        bool hasWant = static_cast<bool>(std::getline(wantLines, w));
        bool hasGot = static_cast<bool>(std::getline(gotLines, g));
        if (!hasWant && !hasGot) {
            return;
        }
        if (hasWant != hasGot || w != g) {
            ADD_FAILURE() << path.string() << ":" << line
                          << ": the wire changed\n  recorded: " << (hasWant ? w : "(end of file)")
                          << "\n  now:      " << (hasGot ? g : "(end of log)");
            return;
        }
    }
}

void runScenario(const Scenario& s, Clock& clock) {
    fs::path dir = fs::path(::testing::TempDir()) /
                   ("wirelog-" + std::to_string(getpid()) + "-" + std::string(s.name));
    fs::create_directories(dir);
    // Which press of the long-range laser aims is kept for the whole process: each scenario
    // starts from the first.
    setAimAlternationFlag(1);
    {
        Terminal t(s, clock, dir);
        if (throughService(s.action)) {
            runService(s, t, dir);
        } else {
            runDirect(s, t);
        }
        if (!::testing::Test::HasFatalFailure()) {
            compareWithGolden(s.name, t.render());
        }
    }
    fs::remove_all(dir);
}

std::vector<Scenario> scenarios(bool service) {
    std::vector<Scenario> out;
    for (const Scenario& s : kScenarios) {
        if (throughService(s.action) == service) {
            out.push_back(s);
        }
    }
    return out;
}

std::string nameOf(const ::testing::TestParamInfo<Scenario>& info) {
    return info.param.name;
}

class WireLog : public ::testing::TestWithParam<Scenario> {};

TEST_P(WireLog, EnginesReceiveTheRecordedFrames) {
    testing::OwnerClock clock;
    runScenario(GetParam(), clock);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, WireLog, ::testing::ValuesIn(scenarios(false)), nameOf);

class WireLogThreaded : public ::testing::TestWithParam<Scenario> {};

TEST_P(WireLogThreaded, EnginesReceiveTheRecordedFrames) {
    runScenario(GetParam(), RealClock::instance());
}

INSTANTIATE_TEST_SUITE_P(Service, WireLogThreaded, ::testing::ValuesIn(scenarios(true)), nameOf);

}  // namespace
}  // namespace vandora
