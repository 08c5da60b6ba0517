// The whole road of a barcode read through the real programs: `vandora --simulate` on the test's
// session bus, a trigger posted with `vandoractl post`, the decode taken by `vandoractl listen`
// and typed into the keyboard log. Runs inside dbus-run-session; without a session bus it skips.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <mqueue.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engines/SimPicture.h"
#include "platform/ImageCodec.h"
#include "support/Blocked.h"
#include "support/Programs.h"

namespace {

namespace fs = std::filesystem;

// How long a program may take before it counts as hung: a bound only, never a wait (a loaded
// machine is slow, and a working program ends long before).
constexpr int kHangSeconds = 120;

// Polls until cond holds; false only when it never did within kHangSeconds.
template <typename Cond>
bool eventually(Cond cond) {
    return vandora::testing::eventually(cond, std::chrono::seconds(kHangSeconds));
}

using vandora::testing::Children;
using vandora::testing::fileText;
using vandora::testing::programPath;

// A home folder with the service's INI file, the keyboard log and private IPC names; the
// programs started are stopped and everything removed however the test ends.
class ServiceEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        if (bus == nullptr || *bus == '\0') {
            GTEST_SKIP() << "no session bus: run inside dbus-run-session";
        }
        home = fs::temp_directory_path() / ("vandora-e2e-home-" + std::to_string(getpid()));
        fs::create_directories(home);
        keys = home / "keys.log";
        suffix = ".e2e" + std::to_string(getpid());
        setenv("VANDORA_HOME", home.c_str(), 1);
        setenv("VANDORA_KEYBOARD", ("log:" + keys.string()).c_str(), 1);
        setenv("VANDORA_IPC_SUFFIX", suffix.c_str(), 1);
    }
    void TearDown() override {
        children.reset();
        if (home.empty()) {
            return;
        }
        mq_unlink(("/VandoraQueue" + suffix).c_str());
        sem_unlink(("/DecodeEvent" + suffix).c_str());
        unsetenv("VANDORA_HOME");
        unsetenv("VANDORA_KEYBOARD");
        unsetenv("VANDORA_IPC_SUFFIX");
        std::error_code ec;
        fs::remove_all(home, ec);
    }
    pid_t spawn(const std::vector<std::string>& args, const char* outName) {
        return children->spawn(args, (home / outName).string());
    }
    int waitExit(pid_t pid, int seconds) { return children->waitExit(pid, seconds); }
    // The service is up once its bus name answers.
    bool serviceAnswers() {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kHangSeconds);
        while (std::chrono::steady_clock::now() < deadline) {
            if (waitExit(spawn({programPath("vandoractl"), "show"}, "show.out"), kHangSeconds) ==
                0) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    // Starts vandoractl listen and returns once it waits on the decode event: by then it has
    // opened the queue and the event, found nothing waiting and asked the service, so a record
    // published from here on is a new read to it.
    pid_t startListening(const std::vector<std::string>& args, const char* outName) {
        pid_t pid = spawn(args, outName);
        const std::string event = "/sem.DecodeEvent" + suffix + "\n";
        EXPECT_TRUE(eventually([&] {
            return vandora::testing::blockedSyscall(pid) == SYS_futex &&
                   fileText("/proc/" + std::to_string(pid) + "/maps").find(event) !=
                       std::string::npos;
        })) << fileText(home / outName);
        return pid;
    }

    fs::path home;
    fs::path keys;
    std::string suffix;
    std::optional<Children> children{std::in_place};
};

TEST_F(ServiceEndToEnd, TriggerFromVandoractlReachesListenAndTheKeyboardLog) {
    std::ofstream(home / "VandoraINI.txt", std::ios::binary)
        << "[Barcode Reader 2D]\r\nhas2D=1\r\n[General]\r\nwindowEvent=1\r\nwindowMessage=1\r\n";

    pid_t service = spawn({programPath("vandora"), "--simulate=model=0,barcode=3", "--headless"},
                          "service.out");
    ASSERT_TRUE(serviceAnswers()) << fileText(home / "service.out");

    pid_t listen = startListening({programPath("vandoractl"), "listen", "--raw", "--count", "1"},
                                  "listen.out");
    pid_t post = spawn({programPath("vandoractl"), "post", "WM_USER1DOWN"}, "post.out");
    EXPECT_EQ(waitExit(post, kHangSeconds), 0) << fileText(home / "post.out");
    EXPECT_EQ(waitExit(listen, kHangSeconds), 0);
    EXPECT_EQ(fileText(home / "listen.out"), "kind=7 type=1 length=10 data=56414E444F52412D3339\n");

    pid_t unknown = spawn({programPath("vandoractl"), "post", "WM_NOTHING"}, "bad.out");
    EXPECT_EQ(waitExit(unknown, kHangSeconds), 1);
    // Said in words, with the names the service knows and the bus error's name after them.
    std::string bad = fileText(home / "bad.out");
    EXPECT_NE(bad.find("does not know the message 'WM_NOTHING'"), std::string::npos) << bad;
    EXPECT_NE(bad.find("WM_USER1DOWN, WM_USER1UP"), std::string::npos) << bad;
    EXPECT_NE(bad.find("(org.vandora.Reader1.Error.UnknownMessage)"), std::string::npos) << bad;

    // A second instance hands over to the first and ends.
    pid_t second = spawn({programPath("vandora"), "--simulate", "--headless"}, "second.out");
    EXPECT_EQ(waitExit(second, kHangSeconds), 0);

    kill(service, SIGTERM);
    EXPECT_EQ(waitExit(service, kHangSeconds), 0);
    EXPECT_EQ(fileText(keys), "post 10 56 41 4E 44 4F 52 41 2D 33 39\nkey 13 0 0\nkey 13 0 2\n");
    // A normal stop writes the settings back.
    EXPECT_NE(fileText(home / "VandoraINI.txt").size(), 0u);
}

// Another program asks for a picture (a trigger press, which takes a picture in image mode): the
// simulated terminal's imager takes one and the service stores it upright in the images folder
// of its home.
TEST_F(ServiceEndToEnd, ReadImageFromVandoractlStoresAnUprightPicture) {
    std::ofstream(home / "VandoraINI.txt", std::ios::binary)
        << "[Barcode Reader 2D]\r\nhas2D=1\r\n[Image 2D]\r\nenable=1\r\n";
    pid_t service = spawn({programPath("vandora"), "--simulate=model=2,barcode=3", "--headless"},
                          "service.out");
    ASSERT_TRUE(serviceAnswers()) << fileText(home / "service.out");
    pid_t post = spawn({programPath("vandoractl"), "post", "WM_READIMAGE"}, "post.out");
    EXPECT_EQ(waitExit(post, kHangSeconds), 0) << fileText(home / "post.out");
    fs::path images = home / "images";
    std::vector<fs::path> pictures;
    eventually([&] {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(images, ec)) {
            if (entry.path().extension() == ".jpg") {
                pictures.push_back(entry.path());
            }
        }
        return !pictures.empty();
    });
    ASSERT_EQ(pictures.size(), 1u) << fileText(home / "service.out");
    std::string name = pictures[0].filename().string();
    EXPECT_EQ(name.size(), std::string("yyMMddhhmmss.jpg").size()) << name;
    std::string bytesIn = fileText(pictures[0]);
    vandora::Pixels pixels;
    ASSERT_TRUE(vandora::decodePicture(reinterpret_cast<const std::uint8_t*>(bytesIn.data()),
                                       bytesIn.size(), pixels));
    std::uint8_t want[3];
    vandora::sim::simSceneColour(pixels.width / 4, 3 * pixels.height / 8, pixels.width,
                                 pixels.height, want);
    const std::uint8_t* got = pixels.at(pixels.width / 4, 3 * pixels.height / 8);
    for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(got[k], want[k], 40);
    }
    kill(service, SIGTERM);
    EXPECT_EQ(waitExit(service, kHangSeconds), 0);
}

// A simulated terminal its model cannot be is refused before anything starts, with the reason in
// one line and where to look, and --help says what each model carries. No bus is needed for that.
TEST(ServiceArguments, ATerminalItsModelCannotBeIsRefusedWithTheReason) {
    struct Case {
        const char* spec;
        const char* reason;
    };
    const Case cases[] = {
        {"--simulate=model=5,barcode=3", "vandora: --simulate: model=5 has no barcode engine 3"},
        {"--simulate=model=4,rfid=5", "vandora: --simulate: model=4 has no RFID module 5"},
    };
    fs::path out = fs::temp_directory_path() / ("vandora-e2e-args-" + std::to_string(getpid()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.spec);
        Children children;
        pid_t pid = children.spawn({programPath("vandora"), c.spec, "--headless"}, out.string());
        EXPECT_EQ(children.waitExit(pid, kHangSeconds), 2);
        std::string text = fileText(out);
        EXPECT_NE(text.find(c.reason), std::string::npos) << text;
        EXPECT_NE(text.find("Try 'vandora --help'."), std::string::npos) << text;
    }
    Children children;
    pid_t help = children.spawn({programPath("vandora"), "--help"}, out.string());
    EXPECT_EQ(children.waitExit(help, kHangSeconds), 0);
    std::string text = fileText(out);
    EXPECT_NE(text.find("What each terminal model carries"), std::string::npos) << text;
    fs::remove(out);
}

// An RFID tag read on a trigger reaches the queue reader with its UID, beside the barcode read
// of the same press; the binary link of the terminal model that has one carries it.
TEST_F(ServiceEndToEnd, RfidTagReadOnATriggerReachesListenWithItsUid) {
    std::ofstream(home / "VandoraINI.txt", std::ios::binary)
        << "[Barcode Reader 2D]\r\nhas2D=1\r\n[RFID]\r\nhasRfid=7\r\n"
           "[General]\r\nwindowEvent=1\r\n";
    pid_t service =
        spawn({programPath("vandora"), "--simulate=model=4,barcode=3,rfid=7", "--headless"},
              "service.out");
    ASSERT_TRUE(serviceAnswers()) << fileText(home / "service.out");

    pid_t listen = startListening({programPath("vandoractl"), "listen", "--raw", "--count", "2"},
                                  "listen.out");
    pid_t post = spawn({programPath("vandoractl"), "post", "WM_USER1DOWN"}, "post.out");
    EXPECT_EQ(waitExit(post, kHangSeconds), 0) << fileText(home / "post.out");
    EXPECT_EQ(waitExit(listen, kHangSeconds), 0) << fileText(home / "service.out");
    std::string lines = fileText(home / "listen.out");
    // The first family looked for is ISO 15693: the sample tag of that family is read.
    EXPECT_NE(lines.find("kind=32 "), std::string::npos) << lines;
    EXPECT_NE(lines.find(" uid=E004015012345678\n"), std::string::npos) << lines;
    EXPECT_NE(lines.find("kind=7 type=1 length=10 data=56414E444F52412D3339\n"), std::string::npos)
        << lines;
    kill(service, SIGTERM);
    EXPECT_EQ(waitExit(service, kHangSeconds), 0);
}

// An engine on a pseudo-terminal that goes away and comes back at the same path: the service
// says it lost the engine, reopens it when the path is back, reads from it again, and stops
// promptly once it is gone for good.
TEST_F(ServiceEndToEnd, AnUnpluggedEngineIsReopenedWhenItComesBack) {
    const fs::path link = home / "ttyENGINE";
    std::ofstream(home / "VandoraINI.txt", std::ios::binary)
        << "[Barcode Reader 2D]\r\nhas2D=1\r\n[General]\r\nwindowEvent=1\r\n";
    setenv("VANDORA_COM1", link.c_str(), 1);
    setenv("VANDORA_COM2", (home / "no-rfid").c_str(), 1);
    setenv("VANDORA_REGISTRY", (home / "no-registry.ini").c_str(), 1);
    auto engine = [&](const char* out) {
        pid_t pid = spawn({programPath("vandora-sim"), "--engine", "3", "--link", link.string(),
                           "--decode", "1B:48656C6C6F"},
                          out);
        eventually([&] { return fs::exists(link); });
        return pid;
    };
    auto serviceSaid = [&](const std::string& text) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kHangSeconds);
        while (std::chrono::steady_clock::now() < deadline) {
            if (fileText(home / "service.out").find(text) != std::string::npos) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    };
    auto readOnce = [&](const char* name) {
        pid_t listen =
            startListening({programPath("vandoractl"), "listen", "--raw", "--count", "1"}, name);
        pid_t post = spawn({programPath("vandoractl"), "post", "WM_USER1DOWN"}, "post.out");
        EXPECT_EQ(waitExit(post, kHangSeconds), 0) << fileText(home / "post.out");
        EXPECT_EQ(waitExit(listen, kHangSeconds), 0) << fileText(home / "service.out");
        return fileText(home / name);
    };

    pid_t first = engine("engine1.out");
    ASSERT_TRUE(fs::exists(link)) << fileText(home / "engine1.out");
    pid_t service = spawn({programPath("vandora"), "--headless"}, "service.out");
    ASSERT_TRUE(serviceAnswers()) << fileText(home / "service.out");
    const std::string decode = "kind=7 type=27 length=5 data=48656C6C6F\n";
    EXPECT_EQ(readOnce("listen1.out"), decode);

    kill(first, SIGTERM);
    EXPECT_EQ(waitExit(first, kHangSeconds), 0);
    ASSERT_TRUE(serviceSaid("barcode engine disconnected")) << fileText(home / "service.out");

    pid_t second = engine("engine2.out");
    ASSERT_TRUE(serviceSaid("barcode engine reconnected")) << fileText(home / "service.out");
    EXPECT_EQ(readOnce("listen2.out"), decode);

    kill(second, SIGTERM);
    EXPECT_EQ(waitExit(second, kHangSeconds), 0);
    ASSERT_TRUE(serviceSaid("barcode engine disconnected"));
    auto start = std::chrono::steady_clock::now();
    kill(service, SIGTERM);
    EXPECT_EQ(waitExit(service, kHangSeconds), 0) << fileText(home / "service.out");
    std::printf("quit with the engine gone: %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - start)
                                           .count()));
    unsetenv("VANDORA_COM1");
    unsetenv("VANDORA_COM2");
    unsetenv("VANDORA_REGISTRY");
}

}  // namespace

// The windowed service on the session's X server: hidden behind its tray icon as its settings
// ask, shown by `vandoractl show`, and a trigger's decode on its status line.
TEST_F(ServiceEndToEnd, WindowedServiceShowsOnRequestAndShowsTheDecode) {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        GTEST_SKIP() << "no X display: run inside xvfb-run";
    }
    std::ofstream(home / "VandoraINI.txt", std::ios::binary)
        << "[Barcode Reader 2D]\r\nhas2D=1\r\n[General]\r\nwantMaxWindow=0\r\n";
    pid_t service = spawn({programPath("vandora"), "--simulate=model=0,barcode=3"}, "service.out");
    auto status = [&] {
        pid_t asked = spawn({programPath("vandoractl"), "status"}, "status.out");
        return waitExit(asked, kHangSeconds) == 0 ? fileText(home / "status.out") : std::string();
    };
    // "IsViewable", "IsUnMapped", or empty while the window has never been shown.
    auto mapState = [&] {
        pid_t info = spawn({"/usr/bin/xwininfo", "-name", "Vandora"}, "xwininfo.out");
        if (waitExit(info, kHangSeconds) != 0) {
            return std::string();
        }
        std::string out = fileText(home / "xwininfo.out");
        std::size_t at = out.find("Map State: ");
        return at == std::string::npos ? std::string()
                                       : out.substr(at + 11, out.find('\n', at) - at - 11);
    };
    // Without a tray (as here) the window is put away minimised, so that it can be found again:
    // its window-manager state says hidden while it is.
    auto minimised = [&] {
        pid_t props = spawn({"/usr/bin/xprop", "-name", "Vandora", "_NET_WM_STATE"}, "xprop.out");
        return waitExit(props, kHangSeconds) == 0 &&
               fileText(home / "xprop.out").find("_NET_WM_STATE_HIDDEN") != std::string::npos;
    };
    ASSERT_TRUE(eventually([&] { return status().find("BarcodeReady=true") != std::string::npos; }))
        << fileText(home / "service.out");
    EXPECT_TRUE(mapState() != "IsViewable" || minimised()) << "wantMaxWindow=0 starts put away";

    EXPECT_EQ(waitExit(spawn({programPath("vandoractl"), "show"}, "show.out"), kHangSeconds), 0);
    std::string state;
    // Mapped and viewable; without a window manager nobody rewrites its state property.
    eventually([&] { return (state = mapState()) == "IsViewable"; });
    EXPECT_EQ(state, "IsViewable");

    EXPECT_EQ(waitExit(spawn({programPath("vandoractl"), "post", "WM_USER1DOWN"}, "post.out"),
                       kHangSeconds),
              0);
    EXPECT_EQ(waitExit(spawn({programPath("vandoractl"), "post", "WM_USER1UP"}, "post.out"),
                       kHangSeconds),
              0);
    std::string said;
    eventually([&] { return (said = status()).find("VANDORA-39") != std::string::npos; });
    EXPECT_NE(said.find("VANDORA-39"), std::string::npos) << said;

    kill(service, SIGTERM);
    EXPECT_EQ(waitExit(service, kHangSeconds), 0) << fileText(home / "service.out");
}

// listen in its three forms. A decode nobody waited for stays in the queue: listen takes it at
// once and marks it as left from before it started, and the decodes after it are not marked.
TEST_F(ServiceEndToEnd, ListenPrintsDecodesForPeopleRawOrJsonAndMarksOneLeftWaiting) {
    std::ofstream(home / "VandoraINI.txt", std::ios::binary)
        << "[Barcode Reader 2D]\r\nhas2D=1\r\n[General]\r\nwindowEvent=1\r\n";
    pid_t service = spawn({programPath("vandora"), "--simulate=model=0,barcode=3", "--headless"},
                          "service.out");
    ASSERT_TRUE(serviceAnswers()) << fileText(home / "service.out");
    auto waitFor = [&](const fs::path& file, const std::string& text, std::size_t times = 1) {
        return eventually([&] {
            std::string now = fileText(file);
            std::size_t found = 0;
            for (std::size_t at = now.find(text); at != std::string::npos;
                 at = now.find(text, at + 1)) {
                ++found;
            }
            return found >= times;
        });
    };
    // One trigger press; its record is in the queue once its keystrokes were typed.
    int reads = 0;
    auto read = [&] {
        ++reads;
        EXPECT_EQ(waitExit(spawn({programPath("vandoractl"), "post", "WM_USER1DOWN"}, "post.out"),
                           kHangSeconds),
                  0);
        EXPECT_TRUE(waitFor(keys, "post ", static_cast<std::size_t>(reads)))
            << fileText(home / "service.out");
        EXPECT_EQ(waitExit(spawn({programPath("vandoractl"), "post", "WM_USER1UP"}, "post.out"),
                           kHangSeconds),
                  0);
    };
    const std::string earlier =
        "vandoractl: listen: this record was waiting from before listen started\n";

    read();
    pid_t text = spawn({programPath("vandoractl"), "listen", "--count", "2"}, "text.out");
    ASSERT_TRUE(waitFor(home / "text.out", "VANDORA-39\n")) << fileText(home / "text.out");
    read();
    EXPECT_EQ(waitExit(text, kHangSeconds), 0);
    EXPECT_EQ(fileText(home / "text.out"), earlier + "Code 39: VANDORA-39\nEAN13: 4006381333931\n");

    read();
    pid_t raw = spawn({programPath("vandoractl"), "listen", "--raw", "--count", "1"}, "raw.out");
    EXPECT_EQ(waitExit(raw, kHangSeconds), 0);
    EXPECT_EQ(fileText(home / "raw.out"),
              earlier + "kind=7 type=3 length=9 data=534849502030303432\n");

    read();
    pid_t json = spawn({programPath("vandoractl"), "listen", "--json", "--count", "1"}, "json.out");
    EXPECT_EQ(waitExit(json, kHangSeconds), 0);
    std::string line = fileText(home / "json.out");
    ASSERT_EQ(line.rfind(earlier, 0), 0u) << line;
    line = line.substr(earlier.size());
    EXPECT_EQ(line.rfind("{\"kind\":7,\"type\":28,\"name\":\"QR Code\","
                         "\"text\":\"https://example.invalid/parcel/7731\",\"hex\":\"68747470",
                         0),
              0u)
        << line;
    EXPECT_TRUE(std::regex_search(
        line, std::regex(R"("time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z","earlier":true\}\n$)")))
        << line;

    kill(service, SIGTERM);
    EXPECT_EQ(waitExit(service, kHangSeconds), 0);
}

// With the event switched off no record would ever come: listen says so at once, and how to
// switch it on, instead of waiting silently.
TEST_F(ServiceEndToEnd, ListenSaysAtOnceThatTheEventIsOff) {
    std::ofstream(home / "VandoraINI.txt", std::ios::binary)
        << "[Barcode Reader 2D]\r\nhas2D=1\r\n[General]\r\nwindowEvent=0\r\n";
    pid_t service = spawn({programPath("vandora"), "--simulate=model=0,barcode=3", "--headless"},
                          "service.out");
    ASSERT_TRUE(serviceAnswers()) << fileText(home / "service.out");
    spawn({programPath("vandoractl"), "listen"}, "listen.out");
    std::string said;
    eventually(
        [&] { return (said = fileText(home / "listen.out")).find('\n') != std::string::npos; });
    EXPECT_NE(said.find("windowEvent setting is off"), std::string::npos) << said;
    EXPECT_NE(said.find("vandoractl config set General windowEvent 1"), std::string::npos) << said;
    kill(service, SIGTERM);
    EXPECT_EQ(waitExit(service, kHangSeconds), 0);
}

// A first start looks for the engine the slow way: it says so at once, and the status no longer
// says it once the engine is found.
TEST_F(ServiceEndToEnd, AFirstStartSaysItLooksForTheEngine) {
    pid_t service = spawn({programPath("vandora"), "--simulate=model=0,barcode=3", "--headless"},
                          "service.out");
    std::string said;
    eventually(
        [&] { return (said = fileText(home / "service.out")).find('\n') != std::string::npos; });
    EXPECT_NE(said.find("looking for the barcode engine"), std::string::npos) << said;
    std::string status;
    eventually([&] {
        pid_t asked = spawn({programPath("vandoractl"), "status"}, "status.out");
        status = waitExit(asked, kHangSeconds) == 0 ? fileText(home / "status.out") : std::string();
        return status.find("BarcodeReady=true") != std::string::npos;
    });
    ASSERT_NE(status.find("BarcodeReady=true"), std::string::npos)
        << fileText(home / "service.out");
    EXPECT_EQ(status.find("looking for"), std::string::npos) << status;
    kill(service, SIGTERM);
    EXPECT_EQ(waitExit(service, kHangSeconds), 0);
}
