#include "runtime/GoodReadSignals.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "SimulatedPort.h"
#include "runtime/sinks/GoodReadSink.h"
#include "support/Blocked.h"
#include "support/RecordingSignalDevices.h"
#include "support/SimRig.h"
#include "support/Threads.h"

namespace vandora {
namespace {

namespace fs = std::filesystem;

// A system folder holding the recording library under a model's library name.
class SystemFolder {
  public:
    explicit SystemFolder(const char* libraryName) {
        dir_ = fs::temp_directory_path() /
               ("vandora-sys-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
        fs::create_directories(dir_);
        if (libraryName != nullptr) {
            fs::create_symlink(VANDORA_TEST_SYSLIB, dir_ / libraryName);
        }
        log_ = dir_ / "calls.log";
        setenv("VANDORA_SYSTEM_DIR", dir_.c_str(), 1);
        setenv("VANDORA_TEST_SYSLIB_LOG", log_.c_str(), 1);
    }
    ~SystemFolder() {
        unsetenv("VANDORA_SYSTEM_DIR");
        unsetenv("VANDORA_TEST_SYSLIB_LOG");
        fs::remove_all(dir_);
    }
    std::vector<std::string> calls() const {
        std::ifstream in(log_);
        std::vector<std::string> out;
        for (std::string line; std::getline(in, line);) {
            out.push_back(line);
        }
        return out;
    }
    std::string path() const { return dir_.string() + "/"; }

  private:
    static inline int counter_ = 0;
    fs::path dir_;
    fs::path log_;
};

using Rig = testing::SimRig;

class RecordingPlayer final : public SoundPlayer {
  public:
    bool play(const std::string& path) override {
        played.push_back(path);
        return true;
    }
    std::vector<std::string> played;
};

TEST(SysLibrary, LoadedByModelName) {
    struct Case {
        std::int32_t model;
        const char* file;
        std::int32_t loaded;
    };
    for (const Case& c : {Case{1, "HRT200CE_SYS.so", 1}, Case{2, "HRT300CE_SYS.so", 1},
                          Case{4, "HRT400CE_SYS.so", 1}, Case{5, "HRT100CE_SYS.so", 1},
                          Case{3, "HRT200CE_SYS.so", 0}, Case{0, "HRT200CE_SYS.so", 0},
                          Case{4, "HRT200CE_SYS.so", 0}}) {
        SystemFolder folder(c.file);
        Rig rig(c.model);
        EXPECT_EQ(rig.manager->loadSysLibrary(), c.loaded) << c.model << " " << c.file;
        EXPECT_EQ(rig.manager->systemSignals().resolved(), c.loaded == 1);
        rig.manager->shutdownReaders();
        EXPECT_FALSE(rig.manager->systemSignals().resolved());
        EXPECT_FALSE(rig.manager->systemSignals().loaded());
    }
}

TEST(Buzzer, SoundsForItsTimeCappedAt255Units) {
    struct Case {
        std::int32_t duration;
        std::uint64_t expectedMs;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {300, 25500, {"SetBuzzerON 2700 0", "SetBuzzerOFF 0 0"}},
        {5, 500, {"SetBuzzerON 2700 0", "SetBuzzerOFF 0 0"}},
        {0, 0, {}},
    };
    for (const Case& c : cases) {
        SystemFolder folder("HRT400CE_SYS.so");
        Rig rig(4);
        ASSERT_EQ(rig.manager->loadSysLibrary(), 1);
        std::uint64_t start = rig.clock.nowMs();
        soundBuzzer(*rig.manager, c.duration, 2700);
        EXPECT_EQ(rig.clock.nowMs() - start, c.expectedMs);
        EXPECT_EQ(folder.calls(), c.calls);
    }
}

TEST(Led, Model4LightsAtLeast400ms) {
    struct Case {
        std::int32_t model;
        const char* file;
        std::uint32_t ms;
        std::uint64_t expectedMs;
    };
    for (const Case& c : {Case{4, "HRT400CE_SYS.so", 100, 400},
                          Case{1, "HRT200CE_SYS.so", 100, 100}, Case{4, "HRT400CE_SYS.so", 0, 0}}) {
        SystemFolder folder(c.file);
        Rig rig(c.model);
        ASSERT_EQ(rig.manager->loadSysLibrary(), 1);
        std::uint64_t start = rig.clock.nowMs();
        lightLed(*rig.manager, c.ms);
        EXPECT_EQ(rig.clock.nowMs() - start, c.expectedMs);
        if (c.ms != 0) {
            EXPECT_EQ(folder.calls(),
                      (std::vector<std::string>{"SetLEDLight 2 1", "SetLEDLight 2 0"}));
        } else {
            EXPECT_TRUE(folder.calls().empty());
        }
    }
}

TEST(Vibrator, RunsInHalfSeconds) {
    SystemFolder folder("HRT100CE_SYS.so");
    Rig rig(5);
    ASSERT_EQ(rig.manager->loadSysLibrary(), 1);
    std::uint64_t start = rig.clock.nowMs();
    runVibrator(*rig.manager, 3);
    EXPECT_EQ(rig.clock.nowMs() - start, 1500u);
    EXPECT_EQ(folder.calls(),
              (std::vector<std::string>{"SetVibratorPower 1 0", "SetVibratorPower 0 0"}));
}

TEST(Signals, WithoutALibraryTheWaitsStillTakeTheirTime) {
    SystemFolder folder(nullptr);
    Rig rig(3);
    EXPECT_EQ(rig.manager->loadSysLibrary(), 0);
    std::uint64_t start = rig.clock.nowMs();
    soundBuzzer(*rig.manager, 2, 1);
    lightLed(*rig.manager, 300);
    runVibrator(*rig.manager, 1);
    EXPECT_EQ(rig.clock.nowMs() - start, 200u + 300u + 500u);
}

TEST(GoodReadSound, IndexesOneToNinePlayFromTheSystemFolder) {
    SystemFolder folder(nullptr);
    std::ofstream(folder.path() + "Notify.wav") << "x";
    std::ofstream(folder.path() + "Default") << "x";
    RecordingPlayer player;
    EXPECT_TRUE(playGoodReadSound(5, player, folder.path()));
    EXPECT_TRUE(playGoodReadSound(1, player, folder.path()));
    EXPECT_TRUE(playGoodReadSound(9, player, folder.path()));
    EXPECT_FALSE(playGoodReadSound(0, player, folder.path()));
    EXPECT_FALSE(playGoodReadSound(10, player, folder.path()));
    EXPECT_EQ(player.played,
              (std::vector<std::string>{folder.path() + "Notify.wav", folder.path() + "Default",
                                        folder.path() + "LowBatt"}));
}

TEST(GoodReadSound, MissingFileOrNoSoundCardFailsQuietly) {
    AlsaSoundPlayer player;
    EXPECT_FALSE(player.play("/nonexistent/sound.wav"));
}

// The sink wakes its sound thread only for a file that is there; a missing file plays nothing.
TEST(GoodReadSinkThreaded, PlaysTheGoodReadSoundOnlyWhenItsFileExists) {
    class SignallingPlayer final : public SoundPlayer {
      public:
        bool play(const std::string& path) override {
            std::lock_guard<std::mutex> lock(mutex);
            played.push_back(path);
            cv.notify_all();
            return true;
        }
        std::mutex mutex;
        std::condition_variable cv;
        std::vector<std::string> played;
    };
    SystemFolder folder(nullptr);
    std::ofstream(folder.path() + "MenuPop.wav") << "x";
    testing::RealTimeSimRig rig;
    SignallingPlayer player;
    GoodReadSink sink(*rig.manager, &player);
    sink.start();
    auto playedCount = [&](std::size_t count) {
        std::unique_lock<std::mutex> lock(player.mutex);
        player.cv.wait_for(lock, std::chrono::seconds(30),
                           [&] { return player.played.size() >= count; });
    };
    AppSettings settings;
    settings.goodReadBeepFileIdx = 3;  // "MenuPop.wav"
    sink.deliver(Delivery{}, settings);
    playedCount(1);
    settings.goodReadBeepFileIdx = 1;  // "Default": no file
    sink.deliver(Delivery{}, settings);
    settings.goodReadBeepFileIdx = 3;
    sink.deliver(Delivery{}, settings);
    playedCount(2);
    sink.stop();
    EXPECT_EQ(player.played, (std::vector<std::string>{folder.path() + "MenuPop.wav",
                                                       folder.path() + "MenuPop.wav"}));
}

// A signal that is off costs no thread; the first decode that gives it starts its thread, which
// gives it.
TEST(GoodReadSinkThreaded, AQuietSignalStartsNoThread) {
    SystemFolder folder(nullptr);
    testing::RealTimeSimRig rig;
    RecordingPlayer player;
    GoodReadSink sink(*rig.manager, &player);
    using testing::threadCount;
    const std::size_t before = threadCount();
    sink.start();
    AppSettings settings;
    settings.goodReadBeepFileIdx = 0;
    sink.deliver(Delivery{}, settings);
    EXPECT_EQ(threadCount(), before);
    settings.buzzerDuration = 1;
    sink.deliver(Delivery{}, settings);
    EXPECT_EQ(threadCount(), before + 1);
    sink.stop();
    EXPECT_EQ(threadCount(), before);
}

// Shutdown releases the timing semaphores, so a signal in the middle of its wait ends at once.
TEST(SignalsThreaded, ShutdownCutsARunningSignalShort) {
    testing::RealTimeSimRig rig;
    ReaderManager& manager = *rig.manager;
    std::atomic<pid_t> vibratorThread{0};
    std::thread vibrator([&] {
        vibratorThread = testing::threadId();
        runVibrator(manager, 100);  // 50 s
    });
    // Shut down once the signal waits its time.
    while (vibratorThread == 0) {
        std::this_thread::yield();
    }
    EXPECT_TRUE(testing::waitUntilBlockedIn(vibratorThread, SYS_futex));
    auto start = std::chrono::steady_clock::now();
    manager.shutdownReaders();
    vibrator.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

// Each signal switches its device on, waits its time on its own timer, and switches it off.
TEST(SignalDevicesCalls, EachSignalSwitchesItsDeviceAroundItsWait) {
    struct Case {
        const char* name;
        void (*run)(SignalDevices&);
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {"buzzer",
         [](SignalDevices& d) { soundBuzzer(d, 3, 2700); },
         {"0 buzzer on 2700", "300 buzzer off"}},
        {"buzzer capped",
         [](SignalDevices& d) { soundBuzzer(d, 1000, 1); },
         {"0 buzzer on 1", "25500 buzzer off"}},
        {"buzzer silent", [](SignalDevices& d) { soundBuzzer(d, 0, 2700); }, {}},
        {"led model 4",
         [](SignalDevices& d) { lightLed(d, DeviceModel::HRT400CE, 100); },
         {"0 led 2 on", "400 led 2 off"}},
        {"led other model",
         [](SignalDevices& d) { lightLed(d, DeviceModel::HRT100CE, 100); },
         {"0 led 2 on", "100 led 2 off"}},
        {"led dark", [](SignalDevices& d) { lightLed(d, DeviceModel::HRT400CE, 0); }, {}},
        {"vibrator",
         [](SignalDevices& d) { runVibrator(d, 2); },
         {"0 vibrator on", "1000 vibrator off"}},
        {"vibrator still", [](SignalDevices& d) { runVibrator(d, 0); }, {}},
    };
    for (const Case& c : cases) {
        VirtualClock clock;
        testing::RecordingSignalDevices devices(clock);
        c.run(devices);
        EXPECT_EQ(devices.calls, c.calls) << c.name;
    }
}

// The manager's signals go to the platform's signal hardware when it gives one, and shutdown
// cuts the next wait short there.
TEST(SignalDevicesCalls, ManagerUsesThePlatformDevicesAndCancelsTheirWaits) {
    VirtualClock clock;
    testing::RecordingSignalDevices devices(clock);
    ReaderPlatform platform;
    platform.clock = &clock;
    platform.registryPath = "/nonexistent";
    platform.signals = &devices;
    ReaderManager manager(platform);
    manager.setDeviceModel(DeviceModel::HRT400CE);
    lightLed(manager, 100);
    manager.shutdownReaders();
    runVibrator(manager, 4);
    EXPECT_EQ(devices.calls, (std::vector<std::string>{"0 led 2 on", "400 led 2 off",
                                                       "400 vibrator on", "400 vibrator off"}));
}

}  // namespace
}  // namespace vandora
