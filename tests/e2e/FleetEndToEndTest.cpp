// Management of a running service from outside: `vandoractl status` and `vandoractl config`
// against `vandora --simulate` on the test's session bus, and the PropertiesChanged signals a
// management tool follows. Runs inside dbus-run-session; without a session bus it skips.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <mqueue.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/Programs.h"

namespace {

namespace fs = std::filesystem;

using vandora::testing::fileText;
using vandora::testing::programPath;

struct CtlRun {
    int code = -2;
    std::string out;
    std::string err;
};

class Fleet : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        if (bus == nullptr || *bus == '\0') {
            GTEST_SKIP() << "no session bus: run inside dbus-run-session";
        }
        root = fs::temp_directory_path() / ("vandora-fleet-" + std::to_string(getpid()));
        fs::create_directories(root);
        suffix = ".fleet" + std::to_string(getpid());
        setenv("VANDORA_KEYBOARD", "none", 1);
        setenv("VANDORA_IPC_SUFFIX", suffix.c_str(), 1);
        setenv("VANDORA_REGISTRY", "/nonexistent", 1);
        // The log on the service's standard error, where the tests read it.
        setenv("VANDORA_LOG", "stderr", 1);
    }
    void TearDown() override {
        stopService();
        if (root.empty()) {
            return;
        }
        mq_unlink(("/VandoraQueue" + suffix).c_str());
        sem_unlink(("/DecodeEvent" + suffix).c_str());
        unsetenv("VANDORA_HOME");
        unsetenv("VANDORA_KEYBOARD");
        unsetenv("VANDORA_IPC_SUFFIX");
        unsetenv("VANDORA_REGISTRY");
        unsetenv("VANDORA_LOG");
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    // Starts a terminal with its own home and INI file (no file for nullptr); true once it
    // answers on the bus with its barcode engine ready.
    bool startService(const std::string& name, const std::string& spec,
                      const std::optional<std::string>& ini) {
        launchService(name, spec, ini);
        return waitFor([&] { return statusValue("BarcodeReady") == "true"; });
    }
    void launchService(const std::string& name, const std::string& spec,
                       const std::optional<std::string>& ini) {
        home = root / name;
        fs::create_directories(home);
        setenv("VANDORA_HOME", home.c_str(), 1);
        if (ini) {
            std::ofstream(home / "VandoraINI.txt", std::ios::binary) << *ini;
        }
        std::string out = (home / "service.out").string();
        service = vandora::testing::launchProgram(
            {{programPath("vandora"), "--simulate=" + spec, "--headless"}, out, out, {}});
    }
    // Polls until the condition holds; gives up after a minute (a loaded machine is slow, a
    // hung service never gets there).
    template <typename Condition>
    bool waitFor(Condition condition) {
        return vandora::testing::eventually(condition, std::chrono::seconds(60));
    }
    // Sends sig and waits for the service to end; its exit code (-1 when a signal ended it).
    int endService(int sig) {
        kill(service, sig);
        int code = vandora::testing::waitExit(service);
        service = -1;
        return code;
    }
    // Stops the service as the system stops it; its exit code (-2 when it had to be killed).
    int stopService() {
        if (service <= 0) {
            return -1;
        }
        kill(service, SIGTERM);
        int code = vandora::testing::waitExit(service, std::chrono::seconds(30));
        service = -1;
        return code;
    }

    CtlRun ctl(const std::vector<std::string>& args) {
        fs::path out = root / "ctl.out";
        fs::path err = root / "ctl.err";
        std::vector<std::string> all{programPath("vandoractl")};
        all.insert(all.end(), args.begin(), args.end());
        int code = vandora::testing::waitExit(
            vandora::testing::launchProgram({all, out.string(), err.string(), {}}));
        return {code, fileText(out), fileText(err)};
    }

    // The value of one status line, waiting for it to become want (empty: no wait).
    std::string statusValue(const std::string& name, const std::string& want = {}) {
        std::string value;
        waitFor([&] {
            std::istringstream lines(ctl({"status"}).out);
            for (std::string line; std::getline(lines, line);) {
                if (line.rfind(name + "=", 0) == 0) {
                    value = line.substr(name.size() + 1);
                }
            }
            return want.empty() || value == want;
        });
        return value;
    }

    fs::path root;
    fs::path home;
    std::string suffix;
    pid_t service = -1;
};

constexpr const char* kCcdTerminal = "model=1,barcode=2";
constexpr const char* kCcdIni = "[Barcode Reader CCD/Laser]\r\nhasCCD=1\r\n";
constexpr const char* kReader = "Barcode Reader CCD/Laser";

TEST_F(Fleet, StatusNamesTheTerminalAndCountsReads) {
    ASSERT_TRUE(startService("a", kCcdTerminal, kCcdIni)) << fileText(home / "service.out");
    CtlRun status = ctl({"status"});
    ASSERT_EQ(status.code, 0) << status.err;
    // Every property, in the order tools list them.
    std::vector<std::string> names;
    std::istringstream lines(status.out);
    for (std::string line; std::getline(lines, line);) {
        names.push_back(line.substr(0, line.find('=')));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Model", "BarcodeEngine", "BarcodeBaud",
                                               "RfidModule", "RfidVariant", "FirmwareVersion",
                                               "BarcodeReady", "RfidReady", "Status", "LastError",
                                               "GoodReads", "FailedReads"}));
    EXPECT_EQ(statusValue("Model"), "1");
    EXPECT_EQ(statusValue("BarcodeEngine"), "2");
    EXPECT_EQ(statusValue("RfidModule"), "0");
    EXPECT_NE(statusValue("FirmwareVersion"), "");
    EXPECT_EQ(statusValue("GoodReads"), "0");

    ASSERT_EQ(ctl({"post", "WM_USER1DOWN"}).code, 0);
    EXPECT_EQ(statusValue("GoodReads", "1"), "1");
    EXPECT_NE(statusValue("Status").find("Code 39"), std::string::npos);
}

TEST_F(Fleet, SettingsAreCheckedSentToTheEngineAndStored) {
    ASSERT_TRUE(startService("a", kCcdTerminal, kCcdIni)) << fileText(home / "service.out");
    struct Case {
        std::vector<std::string> args;
        int code;
        const char* error;  // the bus error named on standard error; null: none
    };
    const Case cases[] = {
        {{"config", "set", kReader, "redundancy", "2"}, 0, nullptr},
        {{"config", "set", "barcode reader ccd/laser", "REDUNDANCY", "3"}, 0, nullptr},
        {{"config", "set", kReader, "redundancy", "4"}, 1, "Error.InvalidValue"},
        {{"config", "set", kReader, "redundancy", "two"}, 1, "Error.InvalidValue"},
        {{"config", "set", kReader, "noSuchKey", "1"}, 1, "Error.UnknownSetting"},
        {{"config", "set", "Barcode Reader 2D", "laserOnTime", "30"}, 1, "Error.UnknownSetting"},
        {{"config", "set", "General", "keyboardEmu", "2"}, 0, nullptr},
        {{"config", "set", kReader}, 2, nullptr},
    };
    for (const Case& c : cases) {
        CtlRun run = ctl(c.args);
        EXPECT_EQ(run.code, c.code) << c.args[2] << " " << run.err;
        if (c.error != nullptr) {
            EXPECT_NE(run.err.find(c.error), std::string::npos) << run.err;
        }
    }
    // The value comes back from the engine itself.
    CtlRun get = ctl({"config", "get", kReader, "redundancy"});
    EXPECT_EQ(get.code, 0);
    EXPECT_EQ(get.out, "3\n");
    EXPECT_EQ(ctl({"config", "get", "General", "keyboardEmu"}).out, "2\n");
    EXPECT_EQ(stopService(), 0);
    std::string file = fileText(home / "VandoraINI.txt");
    // UTF-16 text; the store keeps keys as it first met them, so compare without case.
    std::string narrow;
    for (std::size_t i = 0; i + 1 < file.size(); i += 2) {
        narrow += static_cast<char>(std::tolower(static_cast<unsigned char>(file[i])));
    }
    EXPECT_NE(narrow.find("redundancy=3"), std::string::npos);
    EXPECT_NE(narrow.find("keyboardemu=2"), std::string::npos);
}

TEST_F(Fleet, AnExportImportedElsewhereConfiguresTheSameAndABadImportChangesNothing) {
    ASSERT_TRUE(startService("a", kCcdTerminal, kCcdIni)) << fileText(home / "service.out");
    ASSERT_EQ(ctl({"config", "set", kReader, "redundancy", "2"}).code, 0);
    ASSERT_EQ(ctl({"config", "set", "Code39 CCD/Laser", "enable", "0"}).code, 0);
    ASSERT_EQ(ctl({"config", "set", "General", "prefixStr", "P-"}).code, 0);
    fs::path exported = root / "profile.ini";
    ASSERT_EQ(ctl({"config", "export", exported.string()}).code, 0);
    EXPECT_EQ(stopService(), 0);

    ASSERT_TRUE(startService("b", kCcdTerminal, kCcdIni)) << fileText(home / "service.out");
    std::string before = ctl({"config", "export"}).out;
    EXPECT_NE(before, fileText(exported));
    // One bad key anywhere refuses the whole file, naming it.
    std::string bad = fileText(exported) + "[General]\nnoSuchKey=1\n";
    std::ofstream(root / "bad.ini") << bad;
    CtlRun refused = ctl({"config", "import", (root / "bad.ini").string()});
    EXPECT_EQ(refused.code, 1);
    EXPECT_NE(refused.err.find("noSuchKey"), std::string::npos) << refused.err;
    EXPECT_EQ(ctl({"config", "export"}).out, before);

    CtlRun imported = ctl({"config", "import", exported.string()});
    EXPECT_EQ(imported.code, 0) << imported.err;
    // The second terminal's engine and settings now give back what the first one exported.
    EXPECT_EQ(ctl({"config", "export"}).out, fileText(exported));
}

// The Mifare login key on a terminal with the binary-link RFID module: the service's own user may
// change settings, so it reads the key back and finds it in an export; a refused key is not
// repeated in the error; an import without the key (a profile exported by a caller that may only
// read, for example) leaves the key in force, and it is what the file keeps at quit.
TEST_F(Fleet, AnImportWithoutTheMifareKeyKeepsItAndARefusedKeyIsNotRepeated) {
    ASSERT_TRUE(startService("a", "model=4,barcode=3,rfid=7",
                             "[Barcode Reader 2D]\r\nhas2D=1\r\n[RFID]\r\nhasRfid=7\r\n"))
        << fileText(home / "service.out");
    ASSERT_EQ(statusValue("RfidReady", "true"), "true");
    ASSERT_EQ(ctl({"config", "set", "RFID", "mifareLoginKeyA", "A1B2C3D4E5F6"}).code, 0);
    CtlRun refused = ctl({"config", "set", "RFID", "mifareLoginKeyA", "A1B2C3D4E5FZ"});
    EXPECT_EQ(refused.code, 1);
    EXPECT_NE(refused.err.find("Error.InvalidValue"), std::string::npos) << refused.err;
    EXPECT_EQ(refused.err.find("A1B2C3D4E5F"), std::string::npos) << refused.err;

    std::ofstream(root / "no-key.ini") << "[RFID]\nrfidReadLength=20\nm_rfidSecurityKeyType=0\n";
    CtlRun imported = ctl({"config", "import", (root / "no-key.ini").string()});
    ASSERT_EQ(imported.code, 0) << imported.err;
    EXPECT_EQ(ctl({"config", "get", "RFID", "rfidReadLength"}).out, "20\n");
    EXPECT_EQ(ctl({"config", "get", "RFID", "mifareLoginKeyA"}).out, "A1B2C3D4E5F6\n");
    EXPECT_NE(ctl({"config", "export"}).out.find("mifareLoginKeyA=A1B2C3D4E5F6\n"),
              std::string::npos);
    EXPECT_EQ(stopService(), 0);
    std::string file = fileText(home / "VandoraINI.txt");
    std::string narrow;
    for (std::size_t i = 0; i + 1 < file.size(); i += 2) {
        narrow += static_cast<char>(std::tolower(static_cast<unsigned char>(file[i])));
    }
    EXPECT_NE(narrow.find("mifareloginkeya=a1b2c3d4e5f6"), std::string::npos) << narrow;
}

// A management tool follows the counters through PropertiesChanged, not by polling.
TEST_F(Fleet, CountersAnnounceTheirChange) {
    ASSERT_TRUE(startService("a", kCcdTerminal, kCcdIni)) << fileText(home / "service.out");
    sd_bus* bus = nullptr;
    ASSERT_GE(sd_bus_open_user(&bus), 0);
    struct Seen {
        bool goodReads = false;
    } seen;
    auto onChanged = [](sd_bus_message* m, void* userdata, sd_bus_error*) -> int {
        const char* interface = nullptr;
        if (sd_bus_message_read(m, "s", &interface) < 0 ||
            sd_bus_message_enter_container(m, 'a', "{sv}") < 0) {
            return 0;
        }
        while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
            const char* name = nullptr;
            sd_bus_message_read(m, "s", &name);
            if (std::string(name) == "GoodReads") {
                static_cast<Seen*>(userdata)->goodReads = true;
            }
            sd_bus_message_skip(m, "v");
            sd_bus_message_exit_container(m);
        }
        return 0;
    };
    ASSERT_GE(sd_bus_match_signal(bus, nullptr, "org.vandora.Reader", "/org/vandora/Reader",
                                  "org.freedesktop.DBus.Properties", "PropertiesChanged", onChanged,
                                  &seen),
              0);
    ASSERT_EQ(ctl({"post", "WM_USER1DOWN"}).code, 0);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!seen.goodReads && std::chrono::steady_clock::now() < deadline) {
        while (sd_bus_process(bus, nullptr) > 0) {
        }
        sd_bus_wait(bus, 100000);
    }
    EXPECT_TRUE(seen.goodReads);
    sd_bus_flush_close_unref(bus);
}

// The settings file as text: UTF-16 little-endian after its FF FE, every unit below 128.
std::string iniText(const fs::path& path) {
    std::string bytes = fileText(path);
    std::string text;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        text.push_back(bytes[i + 1] == 0 ? bytes[i] : '?');
    }
    return text;
}

std::size_t occurrences(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

// A change made over the bus is in the file before the call returns: a hang-up saves it as a
// quit does, and a kill right after the call cannot lose it, also on a first start whose file
// the engines have not filled yet (the next start must still find the engine).
TEST_F(Fleet, ASettingChangedOverTheBusSurvivesHangUpAndKill) {
    struct Case {
        const char* label;
        int signal;
        std::optional<std::string> ini;  // none: a first start
        int exitCode;                    // -1: ended by the signal
    };
    const Case cases[] = {
        {"hang-up", SIGHUP, kCcdIni, 0},
        {"kill", SIGKILL, kCcdIni, -1},
        {"kill on a first start", SIGKILL, std::nullopt, -1},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ASSERT_TRUE(startService("t" + std::to_string(n++), kCcdTerminal, c.ini))
            << fileText(home / "service.out");
        ASSERT_EQ(ctl({"config", "set", "General", "keyboardEmu", "2"}).code, 0);
        EXPECT_EQ(endService(c.signal), c.exitCode) << fileText(home / "service.out");
        std::string saved = iniText(home / "VandoraINI.txt");
        EXPECT_NE(saved.find("keyboardemu=2"), std::string::npos) << saved;
        EXPECT_NE(saved.find("hasccd=1"), std::string::npos) << saved;
    }
}

// A file as editors write it, UTF-16 without a byte-order mark, is read; one that holds none of
// the program's sections is kept beside it and said, and nothing of it comes back.
TEST_F(Fleet, ASettingsFileIsReadAsWrittenOrKeptAsideAndNamed) {
    std::string bomless;
    for (char c : std::string(kCcdIni) + "[General]\r\nkeyboardEmu=2\r\n") {
        bomless.push_back(c);
        bomless.push_back('\0');
    }
    ASSERT_TRUE(startService("utf16", kCcdTerminal, bomless)) << fileText(home / "service.out");
    CtlRun get = ctl({"config", "get", "General", "keyboardEmu"});
    EXPECT_EQ(get.out, "2\n") << get.err;
    EXPECT_EQ(stopService(), 0);

    const std::string garbage("\x01\x02\0\xFE[\x7F\x05\0\0xyz\x10", 14);
    ASSERT_TRUE(startService("garbage", kCcdTerminal, garbage)) << fileText(home / "service.out");
    EXPECT_EQ(stopService(), 0);
    std::string file = (home / "VandoraINI.txt").string();
    std::string said = fileText(home / "service.out");
    EXPECT_NE(said.find("vandora: warning: " + file +
                        " holds none of the program's settings; "
                        "it was kept as " +
                        file + ".bak"),
              std::string::npos)
        << said;
    EXPECT_EQ(fileText(home / "VandoraINI.txt.bak"), garbage);
    std::string saved = iniText(home / "VandoraINI.txt");
    EXPECT_EQ(saved.find('?'), std::string::npos) << saved;
    for (char c : saved) {
        EXPECT_TRUE(c == '\r' || c == '\n' || (c >= 32 && c < 127)) << saved;
    }
    EXPECT_NE(saved.find("[General]"), std::string::npos) << saved;
}

TEST_F(Fleet, ValuesOutsideTheirLimitsAreReportedAtStart) {
    std::string ini = std::string(kCcdIni) +
                      "laserOnTime=abc\r\n[General]\r\nkeyboardEmu=99\r\nwindowEvent=1\r\n";
    ASSERT_TRUE(startService("limits", kCcdTerminal, ini)) << fileText(home / "service.out");
    std::string file = (home / "VandoraINI.txt").string();
    std::string said = fileText(home / "service.out");
    for (const char* problem :
         {"[Barcode Reader CCD/Laser] laserOnTime=abc: not a number (allowed: 1 to 9)",
          "[General] keyboardEmu=99: outside 0 to 2 (allowed: 0 to 2)"}) {
        EXPECT_NE(said.find("vandora: warning: bad value in " + file + ": " + problem),
                  std::string::npos)
            << said;
    }
    EXPECT_EQ(said.find("windowEvent"), std::string::npos) << said;
}

// A terminal without an RFID module is not a failure, and every decode and status line is said
// once: the decode on standard output, nothing of it repeated on standard error.
TEST_F(Fleet, APlainSimulatedStartSaysNoErrorAndEachReadOnce) {
    for (const char* spec : {"", "model=0"}) {
        SCOPED_TRACE(spec);
        ASSERT_TRUE(startService(std::string("plain") + spec, spec, std::nullopt))
            << fileText(home / "service.out");
        ASSERT_EQ(ctl({"post", "WM_USER1DOWN"}).code, 0);
        ASSERT_TRUE(waitFor([&] { return statusValue("GoodReads") == "1"; }));
        // The status line ends with the data: "type : Code 39  code : VANDORA-39".
        std::string status = statusValue("Status");
        std::string decode = status.substr(status.rfind(": ") + 2);
        EXPECT_EQ(stopService(), 0);
        std::string said = fileText(home / "service.out");
        EXPECT_EQ(said.find("error"), std::string::npos) << said;
        EXPECT_EQ(said.find("RFID scanner"), std::string::npos) << said;
        EXPECT_NE(said.find("no RFID module found"), std::string::npos) << said;
        ASSERT_FALSE(decode.empty()) << status;
        EXPECT_EQ(occurrences(said, decode), 1u) << said;
    }
}

// A status text with line breaks (two readers failing at start) stays one Name=value line.
TEST_F(Fleet, StatusKeepsOneLinePerProperty) {
    // The file names a 2D imager and a letter-command RFID module; neither answers.
    launchService("broken", kCcdTerminal,
                  "[Barcode Reader 2D]\r\nhas2D=1\r\n[RFID]\r\nhasRfid=5\r\n");
    ASSERT_TRUE(waitFor([&] { return statusValue("Status").find("RFID") != std::string::npos; }))
        << fileText(home / "service.out");
    CtlRun status = ctl({"status"});
    std::istringstream lines(status.out);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        EXPECT_NE(line.find('='), std::string::npos) << line;
        EXPECT_EQ(line.find('\r'), std::string::npos) << line;
    }
    EXPECT_EQ(count, 12) << status.out;
    std::string text = statusValue("Status");
    EXPECT_NE(text.find("\\n"), std::string::npos) << text;
    EXPECT_NE(text.find("RFID"), std::string::npos) << text;
}

}  // namespace
