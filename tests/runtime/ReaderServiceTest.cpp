#include "runtime/ReaderService.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "engines/CcdLaserModel.h"
#include "engines/EngineModels.h"
#include "engines/SimPicture.h"
#include "platform/ImageCodec.h"
#include "platform/Log.h"
#include "reader/Firmware.h"
#include "reader/engines/PacketProtocol.h"
#include "runtime/DecodeFormat.h"
#include "runtime/Management.h"
#include "runtime/sinks/PublishSink.h"
#include "runtime/sinks/TypingSink.h"

namespace vandora {
namespace {

namespace fs = std::filesystem;

class RecordingView final : public MainView {
  public:
    void setStatusText(const ByteString& text) override {
        std::lock_guard<std::mutex> lock(mutex);
        statusTexts.push_back(text.narrow());
    }
    int messageBox(const std::string& text, const std::string&) override {
        std::lock_guard<std::mutex> lock(mutex);
        asked.push_back(text);
        return answer;
    }
    void showPicture(const std::string& path) override {
        std::lock_guard<std::mutex> lock(mutex);
        pictures.push_back(path);
    }
    void setProgress(int position, int range) override {
        std::lock_guard<std::mutex> lock(mutex);
        progress.emplace_back(position, range);
    }
    std::string chooseFile(const std::string& filter) override {
        std::lock_guard<std::mutex> lock(mutex);
        filters.push_back(filter);
        return chosenFile;
    }
    std::vector<std::string> askedNow() {
        std::lock_guard<std::mutex> lock(mutex);
        return asked;
    }
    std::vector<std::string> pictures;
    std::vector<std::pair<int, int>> progress;
    std::vector<std::string> filters;
    std::string chosenFile;
    bool isActive() const override { return active; }
    void showMaximized() override { ++shows; }
    bool saw(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex);
        return std::find(statusTexts.begin(), statusTexts.end(), text) != statusTexts.end();
    }
    int shows = 0;
    std::mutex mutex;
    std::vector<std::string> statusTexts;
    std::vector<std::string> asked;
    int answer = kOk;
    bool active = false;
};

// Every decode the service delivers, whatever the switches say.
class RecordingSink final : public DecodeSink {
  public:
    void deliver(const Delivery& delivery, const AppSettings&) override {
        shown.push_back(delivery.decode.data.narrow());
    }
    std::vector<std::string> shown;
};

// The characters the typing sink posts, one text per call.
class RecordingKeyboard final : public KeyboardSink {
  public:
    void postCharacters(const std::vector<std::uint32_t>& characters) override {
        typed.emplace_back(characters.begin(), characters.end());
    }
    void keyEvent(std::uint32_t, std::uint32_t, std::uint32_t) override {}
    std::vector<std::string> typed;
};

// The data of each record the publish sink leaves in the queue.
class RecordingChannel final : public DecodeChannel {
  public:
    void discardUnread() override {}
    bool write(const std::uint8_t* record, std::size_t size) override {
        if (size != kDecodeRecordSize) {
            return false;
        }
        std::size_t length = record[8] | (record[9] << 8);
        const std::uint8_t* data = record + kRecordDataOffset;
        published.emplace_back(data, data + std::min(length, kRecordDataMax));
        return true;
    }
    void setEvent() override {}
    std::vector<std::string> published;
};

// The outputs of the service: the real typing and publish sinks on recording ends.
struct Outputs {
    RecordingSink recorded;
    RecordingKeyboard keyboard;
    VirtualClock clock;
    TypingSink typing{keyboard, clock};
    RecordingChannel channel;
    PublishSink publish{channel, nullptr};
    std::vector<std::string>& shown = recorded.shown;
    std::vector<std::string>& typed = keyboard.typed;
    std::vector<std::string>& published = channel.published;
};

std::vector<std::uint8_t> bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

// The simulated ports behind a device path of their own, and a gate that can hold the opening of
// a port: a start that waits there is a slow detection, for as long as the test wants.
class GatedPorts final : public SerialPortProvider {
  public:
    explicit GatedPorts(SerialPortProvider& inner) : inner_(inner) {}
    std::unique_ptr<SerialPort> create(int portNumber) override {
        std::unique_lock<std::mutex> lock(mutex_);
        opened_.wait(lock, [&] { return open_; });
        return inner_.create(portNumber);
    }
    std::string devicePath(int portNumber) const override {
        return portNumber == 1 ? path : std::string();
    }
    void hold() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = false;
    }
    void letGo() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            open_ = true;
        }
        opened_.notify_all();
    }
    std::string path;

  private:
    SerialPortProvider& inner_;
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = true;
};

// A code type the engine names: Code 39 on the CCD/Laser, a packet engine's 0x1B otherwise.
std::uint8_t knownCodeType(EngineType engineType) {
    return engineType == EngineType::CcdLaser ? std::uint8_t{'A'} : std::uint8_t{0x1B};
}

// A terminal with one simulated barcode engine and an INI file naming it.
class ServiceRig {
  public:
    // decodes: what the engine reads, in order; empty: "FIRST" and "SECOND". decodeDelayUs: from
    // the start (or the previous decode of an engine reading by itself) to a decode.
    ServiceRig(EngineType engineType, const std::string& ini,
               std::vector<sim::SimDecode> decodes = {}, std::uint64_t decodeDelayUs = 5000) {
        dir_ = fs::temp_directory_path() /
               ("vandora-service-" + std::to_string(getpid()) + "-" + std::to_string(counter_++));
        fs::create_directories(dir_);
        iniPath_ = (dir_ / "VandoraINI.txt").string();
        if (!ini.empty()) {
            std::ofstream(iniPath_, std::ios::binary) << ini;
        }
        sim::SimOptions options;
        options.decodes = std::move(decodes);
        if (options.decodes.empty()) {
            options.decodes = {{knownCodeType(engineType), bytes("FIRST")},
                               {knownCodeType(engineType), bytes("SECOND")}};
        }
        options.decodeDelayUs = decodeDelayUs;
        model = sim::makeEngineModel(toNumber(engineType), options);
        ports_.attach(1, model);
        ports_.faultsFor(1).noModemLines = true;
        // No RFID module: its port does not open, so detection there ends at once.
        ports_.faultsFor(2).openError = ENOENT;
        gated.path = (dir_ / "ttyENGINE").string();
        parts.platform.clock = &RealClock::instance();
        parts.platform.ports = &gated;
        parts.platform.registryPath = (dir_ / "no-registry.ini").string();
        parts.view = &view;
        parts.iniPath = iniPath_;
    }
    ~ServiceRig() { fs::remove_all(dir_); }

    void addOutputs(ReaderService& service) {
        service.addSink(output.recorded);
        service.addSink(output.typing);
        service.addSink(output.publish);
    }

    // Runs the service's loop as an outer event loop would until cond holds: it sleeps on the
    // loop's wake fd and watched fds, so it wakes when a worker thread hands a decode over. limit
    // only ends a run that would otherwise hang.
    template <typename Cond>
    bool runUntil(ReaderService& service, Cond cond,
                  std::chrono::milliseconds limit = std::chrono::seconds(60)) {
        EventLoop& loop = service.loop();
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (!cond()) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                return false;
            }
            // Worker threads that only tell the view do not wake the loop: look again soon.
            int timeoutMs = std::min(static_cast<int>(left.count()), 50);
            if (loop.nextTimeoutMs() >= 0) {
                timeoutMs = std::min(timeoutMs, loop.nextTimeoutMs());
            }
            std::vector<pollfd> fds{{loop.wakeFd(), POLLIN, 0}};
            for (const auto& [fd, events] : loop.watchedFds()) {
                fds.push_back({fd, events, 0});
            }
            poll(fds.data(), fds.size(), timeoutMs);
            loop.dispatchPending();
        }
        return true;
    }
    std::string savedIni() const {
        IniStore store;
        store.load(iniPath_);
        auto bytesOut = store.fileBytes();
        std::string text;
        for (std::size_t i = 2; i + 1 < bytesOut.size(); i += 2) {
            text.push_back(static_cast<char>(bytesOut[i]));
        }
        return text;
    }

    // A registry naming a terminal model whose detection order has no pauses.
    void registryModel(const char* name) {
        std::ofstream(parts.platform.registryPath)
            << "[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=" << name << "\n";
    }
    sim::SimulatedPortProvider& ports() { return ports_; }
    const fs::path& dir() const { return dir_; }

    // An RFID module of the type's number behind port 2, with the sample tags named in its field.
    std::shared_ptr<sim::EngineSim> rfidModule(EngineType type, std::vector<std::string> tags) {
        auto module = sim::makeEngineModel(toNumber(type), {});
        sim::TagField* field = module->tagField();
        field->clear();
        for (const std::string& name : tags) {
            field->place(*sim::sampleTag(name));
        }
        ports_.faultsFor(2).openError = 0;
        ports_.faultsFor(2).noModemLines = true;
        ports_.attach(2, module);
        return module;
    }

    RecordingView view;
    Outputs output;
    ReaderServiceParts parts;
    std::shared_ptr<sim::EngineSim> model;

  private:
    static inline int counter_ = 0;
    sim::SimulatedPortProvider ports_{RealClock::instance()};

  public:
    GatedPorts gated{ports_};

  private:
    fs::path dir_;
    std::string iniPath_;
};

TEST(ReaderServiceThreaded, TriggerPressReadsShowsTypesAndQuitSaves) {
    ServiceRig rig(EngineType::Imager2D, "[Barcode Reader 2D]\r\nhas2D=1\r\n");
    ReaderService service(rig.parts);
    rig.addOutputs(service);
    service.startUp();
    ASSERT_EQ(service.readers().barcodeReady, 1);
    EXPECT_EQ(service.settings().enableBarcode, 1);
    service.handle({Msg::User1Down, 0, 0});
    ASSERT_TRUE(rig.runUntil(service, [&] { return !rig.output.shown.empty(); }));
    service.handle({Msg::User1Up, 0, 0});
    EXPECT_EQ(rig.output.shown, std::vector<std::string>{"FIRST"});
    EXPECT_EQ(rig.output.typed, std::vector<std::string>{"FIRST"});
    EXPECT_TRUE(rig.output.published.empty()) << "windowMessage and windowEvent are off";
    // The main window active: shown, not typed.
    rig.view.active = true;
    service.handle({Msg::User2Down, 0, 0});
    ASSERT_TRUE(rig.runUntil(service, [&] { return rig.output.shown.size() == 2; }));
    EXPECT_EQ(rig.output.typed.size(), 1u);
    EXPECT_TRUE(service.confirmQuit());
    EXPECT_EQ(rig.view.asked, std::vector<std::string>{"Do you want to quit?"});
    std::string ini = rig.savedIni();
    EXPECT_NE(ini.find("has2d=1"), std::string::npos) << ini;
    EXPECT_NE(ini.find("[general]"), std::string::npos);
}

TEST(ReaderServiceThreaded, CancelledQuitKeepsRunning) {
    ServiceRig rig(EngineType::Imager2D, "[Barcode Reader 2D]\r\nhas2D=1\r\n");
    rig.view.answer = MainView::kCancel;
    ReaderService service(rig.parts);
    rig.addOutputs(service);
    service.startUp();
    EXPECT_FALSE(service.confirmQuit());
    EXPECT_FALSE(service.loop().quitting());
}

TEST(ReaderServiceThreaded, WindowEventPublishesTheDecode) {
    ServiceRig rig(
        EngineType::Imager2D,
        "[Barcode Reader 2D]\r\nhas2D=1\r\n[General]\r\nwindowEvent=1\r\nkeyboardEmu=0\r\n");
    ReaderService service(rig.parts);
    rig.addOutputs(service);
    service.startUp();
    service.handle({Msg::User1Down, 0, 0});
    ASSERT_TRUE(rig.runUntil(service, [&] { return !rig.output.published.empty(); }));
    EXPECT_EQ(rig.output.published, std::vector<std::string>{"FIRST"});
    EXPECT_TRUE(rig.output.typed.empty()) << "keyboardEmu 0";
}

TEST(ReaderServiceThreaded, FileWithoutHasFlagsOpensNoReaderAndStartsNoThread) {
    ServiceRig rig(EngineType::Imager2D, "[General]\r\nkeyboardEmu=1\r\n");
    ReaderService service(rig.parts);
    rig.addOutputs(service);
    service.startUp();
    EXPECT_EQ(service.readers().barcodeReady, 0);
    EXPECT_TRUE(rig.view.saw("no barcode engine configured")) << "not silently";
    EXPECT_FALSE(service.scanThreadRunning()) << "with no scan thread no decode can come";
    service.handle({Msg::User1Down, 0, 0});
    service.loop().dispatchPending();
    EXPECT_TRUE(rig.output.shown.empty());
    EXPECT_TRUE(rig.model->log.empty()) << "the engine was never opened";
}

TEST(ReaderServiceThreaded, CcdAlternateModeTogglesContinuousScanning) {
    ServiceRig rig(EngineType::CcdLaser,
                   "[Barcode Reader CCD/Laser]\r\nhasCCD=1\r\nscanMode=3\r\n");
    ReaderService service(rig.parts);
    rig.addOutputs(service);
    service.startUp();
    ASSERT_EQ(service.readers().scanMode, 3);
    auto ons = [&] {
        std::size_t n = 0;
        for (const std::string& t : rig.model->commandTexts()) {
            n += t == "ON" ? 1 : 0;
        }
        return n;
    };
    service.handle({Msg::User1Down, 0, 0});
    service.handle({Msg::User1Up, 0, 0});  // releasing does nothing in this mode
    EXPECT_EQ(ons(), 1u);
    service.handle({Msg::User1Down, 0, 0});
    EXPECT_EQ(service.readers().barcode.triggerOn, 0) << "the second press resets the link";
    service.handle({Msg::ReadImage, 0, 0});  // ignored without a 2D imager
    EXPECT_EQ(ons(), 1u);
    service.quitNow();
}

// A settings file with a scan mode in which the engine reads by itself: from start-up on every
// decode is read, acknowledged and delivered, in order and once, without any press.
// How often an engine reading by itself decodes the code in front of it.
constexpr std::uint64_t kSelfScanIntervalUs = 400000;

struct SelfScanCase {
    const char* name;
    EngineType type;
    const char* ini;
};

class ContinuousScanFromStartUp : public ::testing::TestWithParam<SelfScanCase> {};

TEST_P(ContinuousScanFromStartUp, DeliversEveryDecodeOnceWithoutAPress) {
    const SelfScanCase& c = GetParam();
    // The decodes as far apart as a real engine reads them: the host purges the CCD/Laser port
    // after each decode, and one that came a few milliseconds after the last (the rig's default)
    // was lost whenever a loaded machine held the reading thread that long.
    std::uint8_t type = knownCodeType(c.type);
    ServiceRig rig(c.type, c.ini,
                   {{type, bytes("FIRST")}, {type, bytes("SECOND")}, {type, bytes("LAST")}},
                   kSelfScanIntervalUs);
    ReaderService service(rig.parts);
    rig.addOutputs(service);
    service.startUp();
    const std::vector<std::string> all{"FIRST", "SECOND", "LAST"};
    // The engine's last decode closes the run: the reads are handed over in order, so anything
    // read twice before it has been delivered by then.
    EXPECT_TRUE(rig.runUntil(
        service, [&] { return !rig.output.shown.empty() && rig.output.shown.back() == "LAST"; }));
    service.quitNow();
    EXPECT_EQ(rig.output.shown, all);
    EXPECT_EQ(rig.output.typed, all);
    EXPECT_EQ(rig.output.published, all);
    bool packetEngine = c.type != EngineType::CcdLaser;
    for (const sim::ReceivedCommand& command : rig.model->log) {
        const std::vector<std::uint8_t>& f = command.frame;
        if (packetEngine) {
            EXPECT_FALSE(f.size() > 1 && f[1] == packet::kStartDecode) << "no start was sent";
        } else {
            EXPECT_NE(command.text(), "ON") << "no start was sent";
        }
    }
    if (packetEngine) {
        EXPECT_EQ(rig.model->counters.decodes, 3u);
        EXPECT_GE(rig.model->counters.acks, 3u) << "each decode is acknowledged";
    }
}

INSTANTIATE_TEST_SUITE_P(
    SelfScanningModes, ContinuousScanFromStartUp,
    ::testing::Values(SelfScanCase{"CcdMode1", EngineType::CcdLaser,
                                   "[Barcode Reader CCD/Laser]\r\nhasCCD=1\r\nscanMode=1\r\n"
                                   "[General]\r\nwindowEvent=1\r\n"},
                      SelfScanCase{"CcdMode7", EngineType::CcdLaser,
                                   "[Barcode Reader CCD/Laser]\r\nhasCCD=1\r\nscanMode=7\r\n"
                                   "[General]\r\nwindowEvent=1\r\n"},
                      // Modes the engine reads by itself in though the page offers none of them
                      // (a file or a management tool may set them): the decodes are collected
                      // all the same.
                      SelfScanCase{"CcdMode5", EngineType::CcdLaser,
                                   "[Barcode Reader CCD/Laser]\r\nhasCCD=1\r\nscanMode=5\r\n"
                                   "[General]\r\nwindowEvent=1\r\n"},
                      SelfScanCase{"Laser955Mode7", EngineType::Laser1D955,
                                   "[Barcode Reader 1D_LR]\r\nhas1D_955=1\r\nscanMode=7\r\n"
                                   "[General]\r\nwindowEvent=1\r\n"},
                      SelfScanCase{"Imager4507Mode7", EngineType::Imager2D4507,
                                   "[Barcode Reader 2D]\r\nhas2D_4507=1\r\nscanMode=7\r\n"
                                   "[General]\r\nwindowEvent=1\r\n"},
                      SelfScanCase{"Laser955Mode4", EngineType::Laser1D955,
                                   "[Barcode Reader 1D_LR]\r\nhas1D_955=1\r\nscanMode=4\r\n"
                                   "[General]\r\nwindowEvent=1\r\n"}),
    [](const auto& test) { return std::string(test.param.name); });

// In mode 7 the CCD/Laser's decodes of a code type it cannot name are dropped; in mode 1 they
// count.
TEST(ReaderServiceThreaded, CcdMode7DropsDecodesOfUnknownCodeType) {
    for (int mode : {7, 1}) {
        SCOPED_TRACE(mode);
        ServiceRig rig(
            EngineType::CcdLaser,
            "[Barcode Reader CCD/Laser]\r\nhasCCD=1\r\nscanMode=" + std::to_string(mode) + "\r\n",
            {{'A', bytes("FIRST")}, {'!', bytes("NOTYPE")}, {'A', bytes("LAST")}},
            kSelfScanIntervalUs);
        ReaderService service(rig.parts);
        rig.addOutputs(service);
        service.startUp();
        // The engine's last decode closes the run: a decode dropped is never delivered later.
        EXPECT_TRUE(rig.runUntil(service, [&] {
            return !rig.output.shown.empty() && rig.output.shown.back() == "LAST";
        }));
        service.quitNow();
        std::vector<std::string> want{"FIRST", "LAST"};
        if (mode == 1) {
            want.insert(want.begin() + 1, "NOTYPE");
        }
        EXPECT_EQ(rig.output.shown, want);
    }
}

// A scan mode changed by a management tool decides continuous scanning as at start-up, by the
// mode the engine took: in one the engine reads by itself, every decode comes without a press.
TEST(ReaderServiceThreaded, ScanModeSetOverTheBusStartsContinuousScanning) {
    ServiceRig rig(EngineType::Laser1D955,
                   "[Barcode Reader 1D_LR]\r\nhas1D_955=1\r\nscanMode=8\r\n", {},
                   kSelfScanIntervalUs);
    ReaderService service(rig.parts);
    rig.addOutputs(service);
    service.startUp();
    BusConnection connection;  // not opened: the settings calls need none
    ReaderBusObject bus(connection);
    Management management(service, bus);
    ASSERT_EQ(management.setSetting("Barcode Reader 1D_LR", "scanMode", "7").error, "");
    EXPECT_EQ(service.readers().scanMode, 7);
    EXPECT_TRUE(rig.runUntil(service, [&] { return rig.output.shown.size() >= 2; }));
    service.quitNow();
    EXPECT_EQ(rig.output.shown, (std::vector<std::string>{"FIRST", "SECOND"}));
}

// A scan mode in which the engine waits for the trigger keeps the continuous thread shut:
// nothing is read before a press. Looked at once two presses' reads are in: each press got the
// engine's next decode, and the engine was told to start decoding once per press and never else.
TEST(ReaderServiceThreaded, TriggeredModeReadsNothingBeforeAPress) {
    ServiceRig rig(EngineType::Imager2D4507,
                   "[Barcode Reader 2D]\r\nhas2D_4507=1\r\nscanMode=8\r\n");
    ReaderService service(rig.parts);
    rig.addOutputs(service);
    service.startUp();
    for (std::size_t press = 1; press <= 2; ++press) {
        service.handle({Msg::User1Down, 0, 0});
        EXPECT_TRUE(rig.runUntil(service, [&] { return rig.output.shown.size() >= press; }));
        service.handle({Msg::User1Up, 0, 0});
    }
    service.quitNow();
    EXPECT_EQ(rig.output.shown, (std::vector<std::string>{"FIRST", "SECOND"}));
    std::size_t starts = 0;
    for (const sim::ReceivedCommand& command : rig.model->log) {
        const std::vector<std::uint8_t>& f = command.frame;
        starts += f.size() > 1 && f[1] == packet::kStartDecode ? 1 : 0;
    }
    EXPECT_EQ(starts, 2u) << "a start for each press, none before the first";
}

// A tag read on a trigger goes the barcode's road: status line, keystrokes (the UID) and the
// queue record (its user data), once.
TEST(ReaderServiceThreaded, RfidTagReadOnATriggerIsDeliveredLikeADecode) {
    ServiceRig rig(EngineType::Imager2D,
                   "[Barcode Reader 2D]\r\nhas2D=1\r\n[RFID]\r\nhasRfid=5\r\n"
                   "rfidReadLength=4\r\n[General]\r\nwindowEvent=1\r\n");
    std::shared_ptr<sim::EngineSim> module = rig.rfidModule(EngineType::RfidAscii, {"mifare"});
    ReaderService service(rig.parts);
    rig.addOutputs(service);
    service.startUp();
    ASSERT_EQ(service.readers().rfidReady, 1) << service.readers().statusText.narrow();
    service.handle({Msg::User1Down, 0, 0});
    // The barcode read and the tag read of the same press, in whichever order they finish.
    EXPECT_TRUE(rig.runUntil(service, [&] { return rig.output.shown.size() >= 2; }));
    service.handle({Msg::User1Up, 0, 0});
    // A second press with another tag in the field: each thread hands its reads over in order,
    // so once both reads of this press are in, a read of the first delivered twice would be too.
    auto change = [&](sim::SimPortFaults&) {
        sim::MifareKey key = sim::defaultSampleKey();
        module->tagField()->clear();
        module->tagField()->place(sim::mifare1k({0x11, 0x22, 0x33, 0x44}, key, key));
    };
    // The module's port is open only while the module is used.
    if (sim::SimulatedPort* port = rig.ports().lastPort(2)) {
        port->withLock(change);
    } else {
        sim::SimPortFaults unused;
        change(unused);
    }
    auto count = [&](const std::string& data) {
        return std::count(rig.output.shown.begin(), rig.output.shown.end(), data);
    };
    service.handle({Msg::User1Down, 0, 0});
    EXPECT_TRUE(
        rig.runUntil(service, [&] { return count("SECOND") == 1 && count("11223344") == 1; }));
    service.handle({Msg::User1Up, 0, 0});
    service.quitNow();
    EXPECT_EQ(count("FIRST"), 1);
    EXPECT_EQ(count("5A31C207"), 1);
    ASSERT_GE(rig.output.shown.size(), 2u);
    std::vector<std::string> shown(rig.output.shown.begin(), rig.output.shown.begin() + 2);
    std::sort(shown.begin(), shown.end());
    EXPECT_EQ(shown, (std::vector<std::string>{"5A31C207", "FIRST"}));
    // The RFID record: the user data read (its field is as long as the UID's).
    ASSERT_EQ(rig.output.published.size(), 4u);
    std::vector<std::string> published(rig.output.published.begin(),
                                       rig.output.published.begin() + 2);
    std::sort(published.begin(), published.end());
    EXPECT_EQ(published[0].substr(0, 4), std::string("\x04\x41\x42\x43"));
    EXPECT_EQ(published[1], "FIRST");
    EXPECT_NE(std::find(rig.output.typed.begin(), rig.output.typed.end(), "5A31C207"),
              rig.output.typed.end());
}

// With rfidRW 1 a press writes the content and shows the tag read back (in the content's form);
// without a tag it says so. Nothing goes to the outputs either way.
TEST(ReaderServiceThreaded, RfidWriteOnATriggerShowsTheTagReadBackOrTheFailure) {
    struct Case {
        std::vector<std::string> tags;
        const char* status;
    };
    const Case cases[] = {
        {{"mifare"},
         "type : ISO14443 Type A, Mifare family\r\nuid : 5A31C207\r\nuser data : "
         "a1b2c31718191a1b1c1d1e1f02"},
        {{}, "Cannot write data to tag."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        ServiceRig rig(EngineType::Imager2D,
                       "[RFID]\r\nhasRfid=5\r\nrfidRW=1\r\nrfidWriteStartByte=20\r\n"
                       "rfidWriteContent=A1B2C3\r\nisHexContent=1\r\n");
        rig.rfidModule(EngineType::RfidAscii, c.tags);
        ReaderService service(rig.parts);
        rig.addOutputs(service);
        service.startUp();
        ASSERT_EQ(service.readers().rfidReady, 1);
        // The write and the read back run on the loop thread, within the press.
        service.handle({Msg::User1Down, 0, 0});
        service.handle({Msg::User1Up, 0, 0});
        service.quitNow();
        EXPECT_TRUE(rig.view.saw(c.status))
            << (rig.view.statusTexts.empty() ? std::string("no status")
                                             : rig.view.statusTexts.back());
        EXPECT_TRUE(rig.output.shown.empty());
        EXPECT_TRUE(rig.output.published.empty());
    }
}

// Two decodes that finish before the window handles the first are both delivered, in order,
// once each.
TEST(ReaderServiceThreaded, DecodesFinishedBeforeTheWindowTurnsAreEachDeliveredOnce) {
    ServiceRig rig(EngineType::Imager2D, "[Barcode Reader 2D]\r\nhas2D=1\r\n");
    ReaderService service(rig.parts);
    rig.addOutputs(service);
    service.startUp();
    int wake = service.loop().wakeFd();
    auto handedOver = [&] {
        // The scan thread's hand-over wakes the loop; the wake is taken here without handling
        // the message, so that the next hand-over can be seen too.
        pollfd fd{wake, POLLIN, 0};
        if (poll(&fd, 1, 10000) != 1) {
            return false;
        }
        std::uint64_t count = 0;
        return read(wake, &count, sizeof count) == sizeof count;
    };
    service.handle({Msg::User1Down, 0, 0});
    ASSERT_TRUE(handedOver());
    service.handle({Msg::User1Up, 0, 0});
    service.handle({Msg::User1Down, 0, 0});
    ASSERT_TRUE(handedOver());
    service.handle({Msg::User1Up, 0, 0});
    service.loop().dispatchPending();
    EXPECT_EQ(rig.output.shown, (std::vector<std::string>{"FIRST", "SECOND"}));
    service.quitNow();
}

// With --detect the file's missing has-flags do not matter: both engines are looked for, and
// what was found is in the file at once, before any quit.
TEST(ReaderServiceThreaded, DetectFindsTheEngineAndStoresItAtOnce) {
    ServiceRig rig(EngineType::Imager2D, "[General]\r\nkeyboardEmu=1\r\n");
    rig.registryModel("HRT200CE");
    rig.parts.detect = true;
    ReaderService service(rig.parts);
    rig.addOutputs(service);
    service.startUp();
    EXPECT_EQ(service.readers().barcodeReady, 1);
    EXPECT_EQ(service.readers().barcodeEngineType(), EngineType::Imager2D);
    EXPECT_FALSE(rig.view.saw("no barcode engine configured"));
    std::string ini = rig.savedIni();
    EXPECT_NE(ini.find("has2d=1"), std::string::npos) << ini;
    service.quitNow();
}

// While the readers are being started the loop answers: Show at once, and a trigger press is kept
// and handled once the readers are up.
TEST(ReaderServiceThreaded, StartInTheBackgroundAnswersShowAndKeepsAPressForLater) {
    ServiceRig rig(EngineType::Imager2D, "[Barcode Reader 2D]\r\nhas2D=1\r\n");
    rig.gated.hold();  // the engine's port does not open yet: a slow start
    ReaderService service(rig.parts);
    rig.addOutputs(service);
    service.startUpInBackground();
    service.loop().post({Msg::User1Down, 0, 0});
    service.loop().post({Msg::Show, 0, 0});
    ASSERT_TRUE(rig.runUntil(service, [&] { return rig.view.shows == 1; }));
    EXPECT_TRUE(service.busy()) << "answered while the start still waits";
    EXPECT_TRUE(rig.output.shown.empty());
    rig.gated.letGo();
    ASSERT_TRUE(rig.runUntil(service, [&] { return !rig.output.shown.empty(); }));
    EXPECT_EQ(rig.output.shown, std::vector<std::string>{"FIRST"});
    service.handle({Msg::User1Up, 0, 0});
    service.quitNow();
}

// While a slow start still waits for the engine, the program's own settings are already the
// file's (a tool asking for windowEvent meanwhile must not be told the default), and a start
// that has to look for the engine says so until it is found.
TEST(ReaderServiceThreaded, StartInTheBackgroundKnowsTheFilesGeneralSettingsAtOnce) {
    ServiceRig rig(EngineType::Imager2D,
                   "[Barcode Reader 2D]\r\nhas2D=1\r\n[General]\r\n"
                   "windowEvent=1\r\nkeyboardEmu=2\r\n");
    rig.gated.hold();
    ReaderService service(rig.parts);
    rig.addOutputs(service);
    service.startUpInBackground();
    EXPECT_TRUE(service.busy());
    EXPECT_EQ(service.settings().windowEvent, 1);
    EXPECT_EQ(service.settings().keyboardEmu, 2);
    EXPECT_FALSE(service.lookingForEngines()) << "the file names the engine";
    EXPECT_FALSE(rig.view.saw("looking for the barcode engine"));
    rig.gated.letGo();
    ASSERT_TRUE(rig.runUntil(service, [&] { return !service.busy(); }));
    service.quitNow();
}

// The engine's device goes away: the port is closed and it is said; nothing waits on the dead
// device any more (the quit's read-back sends nothing). When the device is back, the engine is
// identified again, sent its settings and reads.
TEST(ReaderServiceThreaded, ALostEngineIsClosedAndReopenedWhenItsDeviceComesBack) {
    ServiceRig rig(EngineType::Imager2D, "[Barcode Reader 2D]\r\nhas2D=1\r\n");
    ReaderService service(rig.parts);
    rig.addOutputs(service);
    service.startUp();
    ASSERT_EQ(service.readers().barcodeReady, 1);
    rig.ports().lastPort(1)->withLock([](sim::SimPortFaults& faults) { faults.readError = EIO; });
    service.handle({Msg::User1Down, 0, 0});
    ASSERT_TRUE(rig.runUntil(service, [&] { return rig.view.saw("barcode engine disconnected"); }));
    service.handle({Msg::User1Up, 0, 0});
    EXPECT_EQ(service.readers().barcodeReady, 0);
    EXPECT_FALSE(service.readers().barcode.isOpen());
    EXPECT_TRUE(rig.output.shown.empty());

    // Back at its path (a new port object, without the fault).
    std::size_t heard = rig.model->log.size();
    std::ofstream(rig.gated.path).put('x');
    ASSERT_TRUE(rig.runUntil(service, [&] { return rig.view.saw("barcode engine reconnected"); }));
    EXPECT_EQ(service.readers().barcodeReady, 1);
    EXPECT_GT(rig.model->log.size(), heard) << "identified and sent its settings again";
    service.handle({Msg::User1Down, 0, 0});
    ASSERT_TRUE(rig.runUntil(service, [&] { return !rig.output.shown.empty(); }));
    service.handle({Msg::User1Up, 0, 0});
    service.quitNow();
}

TEST(ReaderServiceThreaded, QuittingWithADeadEngineWaitsOnNothing) {
    ServiceRig rig(EngineType::Imager2D, "[Barcode Reader 2D]\r\nhas2D=1\r\n");
    ReaderService service(rig.parts);
    rig.addOutputs(service);
    service.startUp();
    rig.ports().lastPort(1)->withLock([](sim::SimPortFaults& faults) { faults.readError = EIO; });
    service.handle({Msg::User1Down, 0, 0});
    ASSERT_TRUE(rig.runUntil(service, [&] { return rig.view.saw("barcode engine disconnected"); }));
    std::size_t heard = rig.model->log.size();
    service.quitNow();
    EXPECT_EQ(rig.model->log.size(), heard) << "the read-back at quit never reaches the port";
}

// Broadcasts of the service, as the bus would send them.
class RecordingSignals final : public DecodeSignals {
  public:
    int emitCopyData(const std::string&, const std::uint8_t*, std::size_t) override { return 0; }
    int emitMessage(const std::string& name, std::uint32_t wParam, std::int64_t lParam) override {
        messages.push_back(name + " " + std::to_string(wParam) + " " + std::to_string(lParam));
        return 0;
    }
    void flush() override {}
    std::vector<std::string> messages;
};

class FullDisk final : public PictureFiles {
  public:
    bool hasDiskSpace(const std::string&, std::uint64_t) override { return false; }
};

std::vector<fs::path> filesIn(const fs::path& folder) {
    std::vector<fs::path> out;
    if (fs::exists(folder)) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            out.push_back(entry.path());
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

TEST(ReaderServiceThreaded, PicturesOnTriggerAndRequestAreSavedUprightAndAnnounced) {
    ServiceRig rig(EngineType::Imager2D, "[Barcode Reader 2D]\r\nhas2D=1\r\n");
    // A terminal that turns its pictures and wakes the engine without the kernel's line.
    rig.registryModel("HRT100CE");
    ReaderService service(rig.parts);
    RecordingSignals signals;
    service.setBroadcasts(&signals);
    service.startUp();
    ASSERT_EQ(service.readers().barcodeReady, 1);
    // Missing parents are made before the space check.
    fs::path folder = rig.dir() / "pictures" / "today";
    service.settings().imagePath = ByteString((folder.string() + "/").c_str());
    service.handle({Msg::ImageCaptureOn, 0, 0});
    service.handle({Msg::User1Down, 0, 0});
    ASSERT_TRUE(rig.runUntil(service, [&] { return rig.view.pictures.size() == 1; }));
    service.handle({Msg::User1Up, 0, 0});
    // Another program asks (a press, in image mode): the second picture, most often within the
    // same second.
    service.handle({Msg::ReadImage, 0, 0});
    ASSERT_TRUE(rig.runUntil(service, [&] { return rig.view.pictures.size() == 2; }));
    std::vector<fs::path> files = filesIn(folder);
    ASSERT_EQ(files.size(), 2u) << "the second picture keeps the first";
    for (const fs::path& file : files) {
        EXPECT_EQ(file.extension(), ".jpg");
        std::ifstream in(file, std::ios::binary);
        std::vector<std::uint8_t> bytesIn((std::istreambuf_iterator<char>(in)), {});
        Pixels pixels;
        ASSERT_TRUE(decodePicture(bytesIn.data(), bytesIn.size(), pixels));
        std::uint8_t want[3];
        sim::simSceneColour(pixels.width / 4, pixels.height / 4, pixels.width, pixels.height, want);
        EXPECT_NEAR(pixels.at(pixels.width / 4, pixels.height / 4)[0], want[0], 40);
        EXPECT_NEAR(pixels.at(pixels.width / 4, pixels.height / 4)[1], want[1], 40);
    }
    EXPECT_EQ(signals.messages, (std::vector<std::string>{"WM_IMAGE 0 0", "WM_IMAGE 0 0"}));
    EXPECT_TRUE(rig.output.shown.empty()) << "pictures are not decodes";
    EXPECT_EQ(rig.view.progress.back(), std::make_pair(100, 100));
}

// A terminal model with no rule for the imager's pictures cannot keep one: a press in image mode
// and another program's request say so on the status line and in the log, and the imager is
// left alone.
TEST(ReaderServiceThreaded, PictureOnAModelWithoutPictureHandlingIsRefusedAndSaid) {
    struct Case {
        const char* registryName;  // null: no registry, the unknown model
        const char* status;
    };
    const Case cases[] = {
        {nullptr, "no picture taken: terminal model 0 has no picture handling"},
        {"Pocket_PC", "no picture taken: terminal model 3 has no picture handling"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        CaptureLogSink capture;
        ScopedLogSink logTo(capture);
        ServiceRig rig(EngineType::Imager2D, "[Barcode Reader 2D]\r\nhas2D=1\r\n");
        if (c.registryName != nullptr) {
            rig.registryModel(c.registryName);
        }
        ReaderService service(rig.parts);
        service.startUp();
        ASSERT_EQ(service.readers().barcodeReady, 1);
        service.handle({Msg::ImageCaptureOn, 0, 0});
        const unsigned heard = rig.model->counters.commands;
        service.handle({Msg::User1Down, 0, 0});
        EXPECT_TRUE(rig.view.saw(c.status));
        auto said = [&] {
            std::lock_guard<std::mutex> lock(rig.view.mutex);
            return std::count(rig.view.statusTexts.begin(), rig.view.statusTexts.end(),
                              std::string(c.status));
        };
        service.handle({Msg::User1Up, 0, 0});
        service.handle({Msg::ReadImage, 0, 0});
        ASSERT_TRUE(rig.runUntil(service, [&] { return said() == 2; }));
        std::vector<CaptureLogSink::Entry> entries = capture.entries();
        EXPECT_EQ(std::count_if(entries.begin(), entries.end(),
                                [&](const CaptureLogSink::Entry& e) {
                                    return e.level == LogLevel::Warning && e.text == c.status;
                                }),
                  2);
        EXPECT_EQ(rig.model->counters.commands, heard) << "no snapshot, no trigger";
        EXPECT_TRUE(rig.view.pictures.empty());
    }
}

// The log says at start which engine was found at which rate on which port, and every start-up
// failure with the error number of the reader that failed, at a priority that matches.
TEST(ReaderServiceThreaded, StartUpLogsTheEnginesFoundAndTheFailures) {
    struct Case {
        const char* ini;
        bool rfidModule;  // an RFID module answers behind port 2
        LogLevel level;
        const char* textStart;
        // Fields the entry must have; a null value: any value.
        std::vector<std::pair<const char*, const char*>> fields;
    };
    const Case cases[] = {
        {"[Barcode Reader 2D]\r\nhas2D=1\r\n",
         false,
         LogLevel::Info,
         "barcode engine 3 at ",
         {{"ENGINE_TYPE", "3"}, {"BAUD", nullptr}, {"PORT", nullptr}}},
        {"[Barcode Reader 2D]\r\nhas2D=1\r\n[RFID]\r\nhasRfid=5\r\n",
         true,
         LogLevel::Info,
         "RFID module 5 variant ",
         {{"ENGINE_TYPE", "5"}, {"RFID_VARIANT", nullptr}, {"PORT", nullptr}}},
        // The file names the CCD/Laser engine; the 2D imager behind the port does not answer it.
        {"[Barcode Reader CCD/Laser]\r\nhasCCD=1\r\n",
         false,
         LogLevel::Error,
         "No barcode scanner is installed.",
         {{"ERROR_CODE", nullptr}}},
        // The barcode engine answers, the RFID port does not open: the RFID module's error.
        {"[Barcode Reader 2D]\r\nhas2D=1\r\n[RFID]\r\nhasRfid=5\r\n",
         false,
         LogLevel::Error,
         "The RFID scanner fails, error code = ",
         {{"ERROR_CODE", "rfid"}}},
        {"[General]\r\nkeyboardEmu=1\r\n",
         false,
         LogLevel::Warning,
         "no barcode engine configured",
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.textStart);
        CaptureLogSink capture;
        std::string rfidError;
        {
            ScopedLogSink logTo(capture);
            ServiceRig rig(EngineType::Imager2D, c.ini);
            if (c.rfidModule) {
                rig.rfidModule(EngineType::RfidAscii, {});
            }
            ReaderService service(rig.parts);
            service.startUp();
            rfidError = std::to_string(service.readers().rfid.lastError);
        }
        std::vector<CaptureLogSink::Entry> entries = capture.entries();
        std::string seen;
        for (const CaptureLogSink::Entry& e : entries) {
            seen += e.text + "\n";
        }
        auto it = std::find_if(entries.begin(), entries.end(),
                               [&](const auto& e) { return e.text.rfind(c.textStart, 0) == 0; });
        ASSERT_NE(it, entries.end()) << "among:\n" << seen;
        EXPECT_EQ(it->level, c.level) << it->text;
        for (const auto& [name, want] : c.fields) {
            const std::string* value = it->field(name);
            ASSERT_NE(value, nullptr) << name;
            EXPECT_FALSE(value->empty()) << name;
            if (want != nullptr) {
                EXPECT_EQ(*value, std::string(want) == "rfid" ? rfidError : want) << name;
            }
        }
    }
}

// A read is not logged: the log stays as start-up left it however many reads follow.
TEST(ReaderServiceThreaded, ReadsLogNothing) {
    CaptureLogSink capture;
    ScopedLogSink logTo(capture);
    ServiceRig rig(EngineType::Imager2D, "[Barcode Reader 2D]\r\nhas2D=1\r\n");
    ReaderService service(rig.parts);
    rig.addOutputs(service);
    service.startUp();
    ASSERT_EQ(service.readers().barcodeReady, 1);
    std::size_t afterStart = capture.entries().size();
    for (std::size_t reads = 1; reads <= 2; ++reads) {
        service.handle({Msg::User1Down, 0, 0});
        ASSERT_TRUE(rig.runUntil(service, [&] { return rig.output.shown.size() == reads; }));
        service.handle({Msg::User1Up, 0, 0});
    }
    EXPECT_EQ(capture.entries().size(), afterStart);
}

TEST(ReaderServiceThreaded, FullDiskSavesNothingAndSaysSo) {
    ServiceRig rig(EngineType::Imager2D, "[Barcode Reader 2D]\r\nhas2D=1\r\n");
    rig.registryModel("HRT100CE");
    FullDisk full;
    rig.parts.pictures = &full;
    ReaderService service(rig.parts);
    RecordingSignals signals;
    service.setBroadcasts(&signals);
    service.startUp();
    fs::path folder = rig.dir() / "full";
    service.settings().imagePath = ByteString((folder.string() + "/").c_str());
    service.handle({Msg::ImageCaptureOn, 0, 0});
    service.handle({Msg::User1Down, 0, 0});
    ASSERT_TRUE(rig.runUntil(
        service, [&] { return !rig.view.askedNow().empty(); }, std::chrono::seconds(60)));
    EXPECT_EQ(rig.view.askedNow(), std::vector<std::string>{"Not enough disk space"});
    EXPECT_TRUE(filesIn(folder).empty());
    EXPECT_TRUE(signals.messages.empty());
    EXPECT_TRUE(rig.view.pictures.empty());
}

TEST(ReaderServiceThreaded, FirmwareWarningThenUploadOrCancelForGood) {
    ServiceRig rig(EngineType::CcdLaser, "[Barcode Reader CCD/Laser]\r\nhasCCD=1\r\n");
    std::string path = (rig.dir() / "decoder.SHX").string();
    std::ofstream(path, std::ios::binary)
        << "S3150000100000112233445566778899AABBCCDDEEFF75\r\nS70500000000FA\r\n";
    rig.view.chosenFile = path;
    ReaderService service(rig.parts);
    service.startUp();
    ASSERT_EQ(service.readers().barcodeReady, 1);
    service.firmwareWarning();
    ASSERT_TRUE(rig.runUntil(service, [&] { return rig.view.askedNow().size() == 2; }));
    std::vector<std::string> asked = rig.view.askedNow();
    EXPECT_NE(asked[0].find("click [ok].\r\n\r\n\r\nCurrent firmware version : CL 2.10"),
              std::string::npos)
        << asked[0];
    EXPECT_EQ(asked[1], "Uploading decoder succeeds.");
    auto* engine = dynamic_cast<sim::CcdLaserModel*>(rig.model.get());
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(engine->firmwareLoads, 1u);
    EXPECT_EQ(rig.view.filters, std::vector<std::string>{"SHX Files (*.SHX)||"});
    // Cancelling the file choice ends uploads until the next start.
    rig.view.chosenFile.clear();
    service.firmwareWarning();
    ASSERT_TRUE(rig.runUntil(service, [&] { return !service.uploadThreadRunning(); }));
    rig.view.chosenFile = path;
    service.firmwareWarning();
    EXPECT_EQ(rig.view.askedNow().size(), 4u) << "the warning is still shown";
    // The quit waits for the upload thread to finish what it took: after it, no file was asked
    // for and nothing was sent.
    service.quitNow();
    EXPECT_EQ(rig.view.askedNow().size(), 4u);
    EXPECT_EQ(rig.view.filters.size(), 2u);
    EXPECT_EQ(engine->firmwareLoads, 1u);
}

}  // namespace
}  // namespace vandora
