#include "reader/ReaderManager.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "rfid/RfidTag.h"
#include "support/SimRig.h"
#include "support/SteppedClock.h"

namespace vandora::testing {
namespace {

using sim::bytesOf;
using Bytes = std::vector<std::uint8_t>;

class TempFile {
  public:
    explicit TempFile(const std::string& content) {
        path_ = std::filesystem::temp_directory_path() /
                ("vandora-registry-" + std::to_string(::getpid()) + "-" +
                 std::to_string(counter_++) + ".ini");
        std::ofstream(path_, std::ios::binary) << content;
    }
    ~TempFile() { std::filesystem::remove(path_); }
    std::string path() const { return path_.string(); }

  private:
    static inline int counter_ = 0;
    std::filesystem::path path_;
};

struct ModelCase {
    const char* name;
    const char* file;  // nullptr: no file
    std::int32_t model;
};

class DetectDeviceModel : public ::testing::TestWithParam<ModelCase> {};

TEST_P(DetectDeviceModel, ReadsTheIdentKey) {
    const ModelCase& c = GetParam();
    SimRig rig;
    std::unique_ptr<TempFile> file;
    if (c.file != nullptr) {
        file = std::make_unique<TempFile>(c.file);
        rig.platform.registryPath = file->path();
    }
    ReaderManager manager(rig.platform);
    EXPECT_EQ(manager.detectDeviceModel(), c.model);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DetectDeviceModel,
    ::testing::Values(
        ModelCase{"NoFile", nullptr, 0},
        ModelCase{"NoSection", "[Other]\nDeviceModel=HRT200CE\n", 0},
        ModelCase{"DeviceModel", "[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=HRT300CE\n", 2},
        ModelCase{"EmptyDeviceModelFallsBackToName",
                  "[HKEY_LOCAL_MACHINE\\Ident]\r\nDeviceModel=\r\nName=HRT100CE\r\n", 5},
        ModelCase{"DeviceModelWinsOverName",
                  "[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=HRT400CE\nName=HRT100CE\n", 4},
        ModelCase{"PocketPc", "[HKEY_LOCAL_MACHINE\\Ident]\nName=Pocket_PC\n", 3},
        ModelCase{"CaseSensitive", "[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=hrt200ce\n", 0},
        ModelCase{"NoPrefixMatch", "[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=HRT200CE-X\n", 0}),
    [](const auto& test) { return std::string(test.param.name); });

// Engine setup that records what the manager asked for.
class RecordingSetup final : public EngineSetup {
  public:
    std::int32_t applySettings(ReaderManager& /*manager*/, ReaderChannel& channel) override {
        applied.push_back(channel.port);
        return applyResult;
    }
    std::vector<std::int32_t> applied;
    std::int32_t applyResult = 1;
};

struct StartCase {
    const char* name;
    std::int32_t barcodeHint;
    std::int32_t rfidHint;
    int barcodeOpenError;  // errno, or 0 for a silent line
    int rfidOpenError;
    bool barcodeAnswers;
    bool rfidAnswers;
    const char* status;
    std::int32_t result;
};

class StartReaders : public ::testing::TestWithParam<StartCase> {};

TEST_P(StartReaders, BuildsTheStatusTextOfWhatFailed) {
    const StartCase& c = GetParam();
    SimRig rig(DeviceModel::Unknown);
    RecordingSetup setup;
    ReaderManager manager(rig.platform, &setup);
    rig.ports.faultsFor(1).openError = c.barcodeOpenError;
    rig.ports.faultsFor(2).openError = c.rfidOpenError;
    auto barcode = rig.script(1);
    auto rfid = rig.script(2);
    if (c.barcodeAnswers) {
        barcode->on(ccdFrame("VER"), bytesOf("V1\r"));
    }
    if (c.rfidAnswers) {
        rfid->on(bytesOf("v"), bytesOf("MultiISO 1.0\r\n"));
        rfid->on(bytesOf("wp0C03"), bytesOf("OK\r\n"));
    }
    manager.barcodeReady = 7;  // a skipped channel keeps its flag
    manager.rfidReady = 7;
    EXPECT_EQ(manager.startReaders(EngineType(c.barcodeHint), EngineType(c.rfidHint)), c.result);
    EXPECT_TRUE(manager.statusText == c.status) << c.name;
    if (c.barcodeHint == 0) {
        EXPECT_EQ(manager.barcodeReady, 7);
        EXPECT_TRUE(barcode->frames.empty());
    } else {
        EXPECT_EQ(manager.barcodeReady, c.barcodeAnswers && c.barcodeOpenError == 0 ? 1 : 0);
    }
    if (c.rfidHint == 0) {
        EXPECT_EQ(manager.rfidReady, 7);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StartReaders,
    ::testing::Values(
        StartCase{"BothWork", 2, 5, 0, 0, true, true, "", 1},
        StartCase{"BarcodeSilentRfidPortError", 2, 5, 0, ENOENT, false, true,
                  "No barcode scanner is installed.\r\nThe RFID scanner fails, error code = 2", 0},
        StartCase{"BarcodePortErrorRfidSilent", 2, 5, EACCES, 0, false, false,
                  "The barcode scanner fails, error code = 13\r\nNo RFID scanner is installed.\r\n",
                  0},
        StartCase{"SkippedChannelsSayNothing", 0, 0, 0, 0, false, false, "", 0},
        StartCase{"RfidOnly", 0, 5, 0, 0, false, true, "", 1}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(StartReaders, SecondCallLeavesWorkingChannelsAlone) {
    SimRig rig;
    RecordingSetup setup;
    ReaderManager manager(rig.platform, &setup);
    auto barcode = rig.script(1);
    barcode->on(ccdFrame("VER"), bytesOf("V1\r"));
    ASSERT_EQ(manager.startReaders(EngineType(2), EngineType(0)), 1);
    std::size_t frames = barcode->frames.size();
    manager.startReaders(EngineType(2), EngineType(0));
    EXPECT_EQ(barcode->frames.size(), frames);
    EXPECT_EQ(setup.applied, std::vector<std::int32_t>{1});
}

TEST(OpenReader, BarcodeSettlesHalfASecondBeforeIdentifying) {
    SimRig rig;
    auto barcode = rig.script(1);
    barcode->on(ccdFrame("VER"), bytesOf("V1\r"));
    ASSERT_EQ(rig.manager->openReader(1, EngineType(2)), 1);
    ASSERT_FALSE(barcode->frameTimesUs.empty());
    EXPECT_EQ(barcode->frameTimesUs[0], 500000u);
}

TEST(OpenReader, FailedIdentificationClosesThePort) {
    SimRig rig;
    rig.script(1);
    EXPECT_EQ(rig.manager->openReader(1, EngineType(2)), 0);
    EXPECT_FALSE(rig.manager->barcode.isOpen());
    EXPECT_EQ(toNumber(rig.manager->barcode.engineType), 0);
}

TEST(OpenReader, RfidAsciiIsReadyWithItsPortClosed) {
    SimRig rig(DeviceModel::HRT300CE);
    RecordingSetup setup;
    ReaderManager manager(rig.platform, &setup);
    auto rfid = rig.script(2);
    rfid->on(bytesOf("v"), bytesOf("ISO 0.9v\r\n"));
    rfid->on(bytesOf("wp0C03"), bytesOf("OK\r\n"));
    ASSERT_EQ(manager.startReaders(EngineType(0), EngineType(1)), 1);
    EXPECT_EQ(manager.rfidReady, 1);
    EXPECT_EQ(manager.rfidEngineType(), EngineType::RfidAscii);
    EXPECT_FALSE(manager.rfid.isOpen());
    EXPECT_EQ(setup.applied, std::vector<std::int32_t>{2});
    EXPECT_FALSE(manager.hasRfidListener());
}

TEST(OpenReader, BinaryLinkIsReadyWithoutSettings) {
    SimRig rig;
    RecordingSetup setup;
    TempFile registry("[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=HRT400CE\n");
    rig.platform.registryPath = registry.path();
    ReaderManager manager(rig.platform, &setup);
    rig.link.openResults = {0};
    rig.link.moduleInfoResult = 0;
    ASSERT_EQ(manager.startReaders(EngineType(0), EngineType(1)), 1);
    EXPECT_EQ(manager.rfidEngineType(), EngineType::RfidBinaryLink);
    EXPECT_TRUE(setup.applied.empty());
    manager.closeReader(2);
    EXPECT_EQ(rig.link.calls.back(), "close 2");
    EXPECT_EQ(manager.rfidReady, 0);
    EXPECT_EQ(manager.rfid.engineType, EngineType::RfidBinaryLink) << "not re-initialised";
}

TEST(CloseReader, ResetsTheChannelAndDoesNotWaitWithoutAListener) {
    SimRig rig;
    auto rfid = rig.script(2);
    rfid->on(bytesOf("v"), bytesOf("MultiISO 1.0\r\n"));
    rfid->on(bytesOf("wp0C03"), bytesOf("OK\r\n"));
    ASSERT_EQ(rig.manager->openReader(2, EngineType(5)), 1);
    rig.manager->rfid.lastError = 5;
    std::uint64_t start = rig.clock.nowMs();
    rig.manager->closeReader(2);
    EXPECT_EQ(rig.elapsedMs(start), 0u);
    EXPECT_EQ(toNumber(rig.manager->rfid.engineType), 0);
    EXPECT_EQ(rig.manager->rfid.lastError, 0u);
    EXPECT_EQ(rig.manager->rfid.baudRate, 9600u);
    EXPECT_EQ(rig.manager->rfid.channelLock.count(), 1u);
}

TEST(Shutdown, ReleasesTheSignalTimingSemaphores) {
    SimRig rig;
    rig.manager->shutdownReaders();
    for (SignalTimer t : {SignalTimer::Led, SignalTimer::Buzzer, SignalTimer::Vibrator}) {
        EXPECT_EQ(rig.manager->systemSignals().timer(t).count(), 1u);
    }
}

// The idle listener runs on a thread of its own; it follows the time the test moves, and each
// look at the port comes once the listener has seen that time.
TEST(RfidIdleListenerThreaded, ClosesTheHexModulePortAfterTheIdleTimeUnlessARead) {
    BasicSimRig<SteppedClock> rig;
    SteppedClock& clock = rig.clock;
    auto model = rig.script(2);
    model->on(bytesOf("0108000304FE0000"), bytesOf("00"));
    ReaderManager& manager = *rig.manager;
    manager.rfidIdleSeconds = 2;
    ASSERT_EQ(manager.startReaders(EngineType(0), EngineType(6)), 1);
    EXPECT_TRUE(manager.hasRfidListener());
    std::uint64_t opened = clock.nowMs();
    // The port is looked at under the channel lock, as every user of it must.
    auto portOpen = [&] {
        manager.rfid.channelLock.wait();
        bool open = manager.rfid.isOpen();
        manager.rfid.channelLock.release();
        return open;
    };
    // The idle time runs from the listener's first wait on.
    ASSERT_TRUE(clock.waiterSawNow());
    // A read within the idle time restarts it: taken by the listener, ...
    clock.advanceMs(1000);
    ASSERT_TRUE(clock.waiterSawNow());
    Semaphore& activity = tagState(manager.rfid).activity;
    activity.release();
    for (int i = 0; i < 60000 && activity.count() != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(activity.count(), 0u) << "the listener never took the read's signal";
    // ... the port stays open past the first idle time's end, ...
    clock.advanceMs(1500);
    ASSERT_TRUE(clock.waiterSawNow());
    EXPECT_TRUE(portOpen()) << "closed although a read came " << clock.nowMs() - opened;
    // ... and closes once the idle time has passed since the read.
    clock.advanceMs(1000);
    for (int i = 0; i < 60000 && portOpen(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_FALSE(portOpen());
    manager.shutdownReaders();
    EXPECT_FALSE(manager.hasRfidListener());
}

}  // namespace
}  // namespace vandora::testing
