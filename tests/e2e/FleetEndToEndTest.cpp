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
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string bin(const char* name) {
    return std::string(VANDORA_BIN_DIR) + "/" + name;
}

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

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
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    // Starts a terminal with its own home and INI file; true once it answers on the bus.
    bool startService(const std::string& name, const std::string& spec, const std::string& ini) {
        home = root / name;
        fs::create_directories(home);
        setenv("VANDORA_HOME", home.c_str(), 1);
        std::ofstream(home / "VandoraINI.txt", std::ios::binary) << ini;
        service = fork();
        if (service == 0) {
            int out = ::open((home / "service.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
            std::string program = bin("vandora");
            std::string simulate = "--simulate=" + spec;
            execl(program.c_str(), program.c_str(), simulate.c_str(), "--headless", nullptr);
            _exit(127);
        }
        for (int i = 0; i < 200; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (ctl({"status"}).code == 0 &&
                ctl({"status"}).out.find("BarcodeReady=true") != std::string::npos) {
                return true;
            }
        }
        return false;
    }
    // Stops the service as the system stops it; its exit code.
    int stopService() {
        if (service <= 0) {
            return -1;
        }
        kill(service, SIGTERM);
        int status = 0;
        for (int i = 0; i < 600 && waitpid(service, &status, WNOHANG) != service; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (i == 599) {
                kill(service, SIGKILL);
                waitpid(service, &status, 0);
            }
        }
        service = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    CtlRun ctl(const std::vector<std::string>& args) {
        fs::path out = root / "ctl.out";
        fs::path err = root / "ctl.err";
        pid_t pid = fork();
        if (pid == 0) {
            int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(o, STDOUT_FILENO);
            dup2(e, STDERR_FILENO);
            std::vector<std::string> all{bin("vandoractl")};
            all.insert(all.end(), args.begin(), args.end());
            std::vector<char*> argv;
            for (std::string& a : all) {
                argv.push_back(a.data());
            }
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(out), slurp(err)};
    }

    // The value of one status line, waiting up to 5 s for it to become want (empty: no wait).
    std::string statusValue(const std::string& name, const std::string& want = {}) {
        std::string value;
        for (int i = 0; i < 100; ++i) {
            std::istringstream lines(ctl({"status"}).out);
            for (std::string line; std::getline(lines, line);) {
                if (line.rfind(name + "=", 0) == 0) {
                    value = line.substr(name.size() + 1);
                }
            }
            if (want.empty() || value == want) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
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
    ASSERT_TRUE(startService("a", kCcdTerminal, kCcdIni)) << slurp(home / "service.out");
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
    ASSERT_TRUE(startService("a", kCcdTerminal, kCcdIni)) << slurp(home / "service.out");
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
    std::string file = slurp(home / "VandoraINI.txt");
    // UTF-16 text; the store keeps keys as it first met them, so compare without case.
    std::string narrow;
    for (std::size_t i = 0; i + 1 < file.size(); i += 2) {
        narrow += static_cast<char>(std::tolower(static_cast<unsigned char>(file[i])));
    }
    EXPECT_NE(narrow.find("redundancy=3"), std::string::npos);
    EXPECT_NE(narrow.find("keyboardemu=2"), std::string::npos);
}

TEST_F(Fleet, AnExportImportedElsewhereConfiguresTheSameAndABadImportChangesNothing) {
    ASSERT_TRUE(startService("a", kCcdTerminal, kCcdIni)) << slurp(home / "service.out");
    ASSERT_EQ(ctl({"config", "set", kReader, "redundancy", "2"}).code, 0);
    ASSERT_EQ(ctl({"config", "set", "Code39 CCD/Laser", "enable", "0"}).code, 0);
    ASSERT_EQ(ctl({"config", "set", "General", "prefixStr", "P-"}).code, 0);
    fs::path exported = root / "profile.ini";
    ASSERT_EQ(ctl({"config", "export", exported.string()}).code, 0);
    EXPECT_EQ(stopService(), 0);

    ASSERT_TRUE(startService("b", kCcdTerminal, kCcdIni)) << slurp(home / "service.out");
    std::string before = ctl({"config", "export"}).out;
    EXPECT_NE(before, slurp(exported));
    // One bad key anywhere refuses the whole file, naming it.
    std::string bad = slurp(exported) + "[General]\nnoSuchKey=1\n";
    std::ofstream(root / "bad.ini") << bad;
    CtlRun refused = ctl({"config", "import", (root / "bad.ini").string()});
    EXPECT_EQ(refused.code, 1);
    EXPECT_NE(refused.err.find("noSuchKey"), std::string::npos) << refused.err;
    EXPECT_EQ(ctl({"config", "export"}).out, before);

    CtlRun imported = ctl({"config", "import", exported.string()});
    EXPECT_EQ(imported.code, 0) << imported.err;
    // The second terminal's engine and settings now give back what the first one exported.
    EXPECT_EQ(ctl({"config", "export"}).out, slurp(exported));
}

// The Mifare login key on a terminal with the binary-link RFID module: the service's own user may
// change settings, so it reads the key back and finds it in an export; a refused key is not
// repeated in the error; an import without the key (a profile exported by a caller that may only
// read, for example) leaves the key in force, and it is what the file keeps at quit.
TEST_F(Fleet, AnImportWithoutTheMifareKeyKeepsItAndARefusedKeyIsNotRepeated) {
    ASSERT_TRUE(startService("a", "model=4,barcode=3,rfid=7",
                             "[Barcode Reader 2D]\r\nhas2D=1\r\n[RFID]\r\nhasRfid=7\r\n"))
        << slurp(home / "service.out");
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
    std::string file = slurp(home / "VandoraINI.txt");
    std::string narrow;
    for (std::size_t i = 0; i + 1 < file.size(); i += 2) {
        narrow += static_cast<char>(std::tolower(static_cast<unsigned char>(file[i])));
    }
    EXPECT_NE(narrow.find("mifareloginkeya=a1b2c3d4e5f6"), std::string::npos) << narrow;
}

// A management tool follows the counters through PropertiesChanged, not by polling.
TEST_F(Fleet, CountersAnnounceTheirChange) {
    ASSERT_TRUE(startService("a", kCcdTerminal, kCcdIni)) << slurp(home / "service.out");
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
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!seen.goodReads && std::chrono::steady_clock::now() < deadline) {
        while (sd_bus_process(bus, nullptr) > 0) {
        }
        sd_bus_wait(bus, 100000);
    }
    EXPECT_TRUE(seen.goodReads);
    sd_bus_flush_close_unref(bus);
}

}  // namespace
