// The files of packaging/ as systemd and the bus daemon read them. Where a tool is missing the
// test says so and skips.
#include <fcntl.h>
#include <grp.h>
#include <mqueue.h>
#include <poll.h>
#include <pwd.h>
#include <sched.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/FileText.h"

namespace {

namespace fs = std::filesystem;

const char* const kSystemdAnalyze = "/usr/bin/systemd-analyze";

struct Result {
    int status = -1;
    std::string output;  // standard output and standard error
};

// Runs a shell command; its standard error joins the output unless the command sends it
// elsewhere itself.
Result run(const std::string& command, bool withErrors = true) {
    Result result;
    FILE* pipe = ::popen((command + (withErrors ? " 2>&1" : "")).c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) {
        result.output.append(buffer, n);
    }
    int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

using vandora::testing::fileText;

class Packaging : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/vandora-packaging-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        scratch_ = pattern;
    }
    void TearDown() override { fs::remove_all(scratch_); }

    // The unit as installed, but starting the program as built: verify checks that the program
    // exists.
    fs::path unitUnderTest(const std::string& name) const {
        std::string text = fileText(fs::path(VANDORA_SOURCE_DIR) / "packaging" / name);
        const std::string installed = "/usr/bin/vandora";
        const std::string built = std::string(VANDORA_BIN_DIR) + "/vandora";
        for (std::size_t at = text.find(installed); at != std::string::npos;
             at = text.find(installed, at + built.size())) {
            text.replace(at, installed.size(), built);
        }
        fs::path path = scratch_ / name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    fs::path scratch_;
};

// Every key known and every value valid (verify only warns about those, so its output must be
// empty), and the sandboxing in effect: systemd's own exposure rating, 0 to 100, stays under the
// threshold.
TEST_F(Packaging, UnitsVerifyCleanlyAndAreSandboxed) {
    if (::access(kSystemdAnalyze, X_OK) != 0) {
        GTEST_SKIP() << kSystemdAnalyze << " is not installed: the units were not checked";
    }
    struct Case {
        const char* name;
        bool user;
        int exposureAtMost;
    };
    const Case cases[] = {
        {"vandora.service", true, 60},
        {"vandora-system.service", false, 20},
    };
    // A user manager of its own for the user unit.
    fs::path runtime = scratch_ / "runtime";
    fs::create_directory(runtime);
    fs::permissions(runtime, fs::perms::owner_all);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::path unit = unitUnderTest(c.name);
        std::string tool = std::string("XDG_RUNTIME_DIR=") + runtime.string() + " " +
                           kSystemdAnalyze + (c.user ? " --user" : "");
        Result verify = run(tool + " verify --man=no " + unit.string());
        EXPECT_EQ(verify.status, 0) << verify.output;
        EXPECT_EQ(verify.output, "");
        Result security =
            run(tool + " security --offline=true --threshold=" + std::to_string(c.exposureAtMost) +
                " " + unit.string());
        EXPECT_EQ(security.status, 0) << security.output;
    }
}

// A bus daemon of the test's own with the bus policy included after the base rules of a system
// bus (nothing may be owned or called unless a policy allows it).
class BusPolicy : public Packaging {
  protected:
    void TearDown() override {
        if (daemon_ > 0) {
            ::kill(daemon_, SIGTERM);
            ::waitpid(daemon_, nullptr, 0);
        }
        Packaging::TearDown();
    }

    // Starts the daemon with `policy`; false, with the reason in error, when it does not start.
    bool startDaemon(const std::string& policy, std::string& error) {
        fs::path policyFile = scratch_ / "policy.conf";
        std::ofstream(policyFile) << policy;
        fs::path config = scratch_ / "bus.conf";
        std::ofstream(config)
            << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
               "1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig>\n"
               "  <type>system</type>\n"
               "  <listen>unix:path="
            << (scratch_ / "socket").string()
            << "</listen>\n"
               "  <auth>EXTERNAL</auth>\n"
               "  <policy context=\"default\">\n"
               "    <allow user=\"*\"/>\n"
               "    <deny own=\"*\"/>\n"
               "    <deny send_type=\"method_call\"/>\n"
               "    <allow send_type=\"signal\"/>\n"
               "    <allow send_requested_reply=\"true\" send_type=\"method_return\"/>\n"
               "    <allow send_requested_reply=\"true\" send_type=\"error\"/>\n"
               "    <allow receive_type=\"method_call\"/>\n"
               "    <allow receive_type=\"method_return\"/>\n"
               "    <allow receive_type=\"error\"/>\n"
               "    <allow receive_type=\"signal\"/>\n"
               "    <allow send_destination=\"org.freedesktop.DBus\"\n"
               "           send_interface=\"org.freedesktop.DBus\"/>\n"
               "  </policy>\n"
               "  <include>"
            << policyFile.string()
            << "</include>\n"
               "</busconfig>\n";
        // It writes its address into the pipe once it runs; a daemon that refuses the
        // configuration ends, and the pipe with it.
        int pipeFds[2];
        if (::pipe(pipeFds) != 0) {
            error = "no pipe";
            return false;
        }
        std::string errors = (scratch_ / "daemon.err").string();
        std::string printAddress = "--print-address=" + std::to_string(pipeFds[1]);
        daemon_ = ::fork();
        if (daemon_ == 0) {
            ::close(pipeFds[0]);
            std::freopen(errors.c_str(), "w", stderr);
            ::execlp("dbus-daemon", "dbus-daemon", ("--config-file=" + config.string()).c_str(),
                     "--nofork", printAddress.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(pipeFds[1]);
        char c = 0;
        while (::read(pipeFds[0], &c, 1) == 1 && c != '\n') {
            address_.push_back(c);
        }
        ::close(pipeFds[0]);
        if (address_.empty()) {
            error = fileText(errors);
            return false;
        }
        return true;
    }

    static std::string policyText() {
        return fileText(fs::path(VANDORA_SOURCE_DIR) / "packaging" / "org.vandora.Reader.conf");
    }

    std::string address_;
    pid_t daemon_ = -1;
};

TEST_F(BusPolicy, LoadsIntoABusDaemon) {
    if (run("command -v dbus-daemon").status != 0) {
        GTEST_SKIP() << "dbus-daemon is not installed: the bus policy was not checked";
    }
    std::string policy = policyText();
    ASSERT_NE(policy, "");
    std::string error;
    EXPECT_TRUE(startDaemon(policy, error)) << error;
}

// Who may do what: the service's user owns the name, a member of the service's group calls the
// service, anyone else is refused both. The callers run as another user, so this needs root;
// the test's own user (root) stands for the user vandora and the group nogroup for the group.
TEST_F(BusPolicy, OnlyTheGroupCallsAndOnlyTheServiceUserOwns) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "not root: callers of other users cannot be run, the policy's rules "
                        "were not tried";
    }
    if (run("command -v dbus-daemon && command -v busctl && command -v setpriv").status != 0) {
        GTEST_SKIP() << "dbus-daemon, busctl or setpriv missing: the policy's rules were not tried";
    }
    std::string policy = policyText();
    for (const auto& [from, to] :
         {std::pair<std::string, std::string>{"user=\"vandora\"", "user=\"root\""},
          {"group=\"vandora\"", "group=\"nogroup\""},
          {"group=\"vandora-admin\"", "group=\"users\""}}) {
        for (std::size_t at = policy.find(from); at != std::string::npos;
             at = policy.find(from, at + to.size())) {
            policy.replace(at, from.size(), to);
        }
    }
    // The callers must reach the socket.
    fs::permissions(scratch_,
                    fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    std::string error;
    ASSERT_TRUE(startDaemon(policy, error)) << error;

    sd_bus* owner = nullptr;
    ASSERT_GE(sd_bus_new(&owner), 0);
    ASSERT_GE(sd_bus_set_address(owner, address_.c_str()), 0);
    ASSERT_GE(sd_bus_set_bus_client(owner, 1), 0);
    ASSERT_GE(sd_bus_start(owner), 0);
    EXPECT_GE(sd_bus_request_name(owner, "org.vandora.Reader", 0), 0);
    // The owner answers every call (with "unknown object": it serves nothing here).
    std::atomic<bool> stop{false};
    std::thread serving([&] {
        while (!stop) {
            while (sd_bus_process(owner, nullptr) > 0) {
            }
            sd_bus_wait(owner, 20000);
        }
    });

    auto as = [&](int group, const std::string& call) {
        return run("setpriv --reuid=65534 --regid=" + std::to_string(group) +
                   " --clear-groups busctl --timeout=10 --address=" + address_ + " call " + call);
    };
    const std::string post =
        "org.vandora.Reader /org/vandora/Reader org.vandora.Reader1 PostMessage sux WM_USER1DOWN 0 "
        "0";
    const std::string own =
        "org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus RequestName su "
        "org.vandora.Reader 0";
    const int member = 65534;  // nogroup
    const int outsider = 1;    // daemon
    Result fromMember = as(member, post);
    EXPECT_EQ(fromMember.output.find("Access denied"), std::string::npos) << fromMember.output;
    EXPECT_NE(fromMember.output.find("Unknown object"), std::string::npos)
        << "the call reached the owner: " << fromMember.output;
    Result fromOutsider = as(outsider, post);
    EXPECT_NE(fromOutsider.output.find("Access denied"), std::string::npos) << fromOutsider.output;
    Result owning = as(member, own);
    EXPECT_NE(owning.output.find("Access denied"), std::string::npos) << owning.output;
    // Settings are changed only by the administrators' group (users stands for it here); the
    // service's group may still read them.
    const std::string set =
        "org.vandora.Reader /org/vandora/Reader org.vandora.Reader1 SetSetting sss General "
        "keyboardEmu 0";
    const std::string get =
        "org.vandora.Reader /org/vandora/Reader org.vandora.Reader1 GetSetting ss General "
        "keyboardEmu";
    const int admin = 100;  // users
    Result setByMember = as(member, set);
    EXPECT_NE(setByMember.output.find("Access denied"), std::string::npos) << setByMember.output;
    Result getByMember = as(member, get);
    EXPECT_EQ(getByMember.output.find("Access denied"), std::string::npos) << getByMember.output;
    Result setByAdmin = as(admin, set);
    EXPECT_NE(setByAdmin.output.find("Unknown object"), std::string::npos) << setByAdmin.output;

    stop = true;
    sd_bus_close(owner);
    serving.join();
    sd_bus_flush_close_unref(owner);
}

// The service itself, as built, on a bus daemon with the packaged policy as it is, with the users
// and groups it names made up: the test runs in a mount namespace of its own where /etc/passwd
// and /etc/group are copies with the user vandora and the groups vandora and vandora-admin added.
// A member of the group vandora reads decodes and ordinary settings, but the Mifare login key is
// refused to it and left out of its export; a member of vandora-admin gets both.
class ServiceOnPolicyBus : public BusPolicy {
  protected:
    void TearDown() override {
        if (service_ > 0) {
            ::kill(service_, SIGTERM);
            ::waitpid(service_, nullptr, 0);
            ::mq_unlink(("/VandoraQueue" + suffix_).c_str());
            ::sem_unlink(("/DecodeEvent" + suffix_).c_str());
        }
        for (const char* file : {"/etc/group", "/etc/passwd"}) {
            if (mounted_) {
                ::umount2(file, MNT_DETACH);
            }
        }
        BusPolicy::TearDown();
    }

    // A user id and two group ids that nobody has.
    static void freeIds(uid_t& user, gid_t& group, gid_t& admins) {
        std::vector<unsigned> free;
        for (unsigned id = 64000; free.size() < 3; ++id) {
            if (::getpwuid(id) == nullptr && ::getgrgid(id) == nullptr) {
                free.push_back(id);
            }
        }
        user = free[0];
        group = free[1];
        admins = free[2];
    }

    // The made-up users and groups, seen by this process and everything it starts.
    bool makeUsers(std::string& error) {
        freeIds(user_, group_, admins_);
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            error = std::string("no mount namespace: ") + std::strerror(errno);
            return false;
        }
        fs::path passwd = scratch_ / "passwd";
        fs::path group = scratch_ / "group";
        std::ofstream(passwd) << fileText("/etc/passwd") << "vandora:x:" << user_ << ":" << group_
                              << "::/nonexistent:/usr/sbin/nologin\n";
        std::ofstream(group) << fileText("/etc/group") << "vandora:x:" << group_
                             << ":\nvandora-admin:x:" << admins_ << ":\n";
        fs::permissions(passwd, fs::perms::owner_read | fs::perms::owner_write |
                                    fs::perms::group_read | fs::perms::others_read);
        fs::permissions(group, fs::perms::owner_read | fs::perms::owner_write |
                                   fs::perms::group_read | fs::perms::others_read);
        mounted_ = ::mount(passwd.c_str(), "/etc/passwd", nullptr, MS_BIND, nullptr) == 0 &&
                   ::mount(group.c_str(), "/etc/group", nullptr, MS_BIND, nullptr) == 0;
        if (!mounted_ || ::getgrnam("vandora-admin") == nullptr) {
            error = "the made-up users and groups are not seen";
            return false;
        }
        return true;
    }

    // Starts `vandora --simulate=SPEC --headless --system-bus` as the user vandora, with a
    // settings file of its own.
    void startService(const std::string& spec, const std::string& ini) {
        home_ = scratch_ / "home";
        fs::create_directory(home_);
        std::ofstream(home_ / "VandoraINI.txt", std::ios::binary) << ini;
        for (const fs::path& path : {home_, home_ / "VandoraINI.txt"}) {
            ASSERT_EQ(::chown(path.c_str(), user_, group_), 0);
        }
        suffix_ = ".secrets" + std::to_string(::getpid());
        service_ = ::fork();
        if (service_ == 0) {
            int out =
                ::open((scratch_ / "service.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(out, STDERR_FILENO);
            ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);
            ::setenv("VANDORA_HOME", home_.c_str(), 1);
            ::setenv("XDG_STATE_HOME", (home_ / "state").c_str(), 1);
            ::setenv("HOME", home_.c_str(), 1);
            ::setenv("VANDORA_KEYBOARD", "none", 1);
            ::setenv("VANDORA_REGISTRY", "/nonexistent", 1);
            ::setenv("VANDORA_IPC_SUFFIX", suffix_.c_str(), 1);
            if (::setgroups(0, nullptr) != 0 || ::setresgid(group_, group_, group_) != 0 ||
                ::setresuid(user_, user_, user_) != 0) {
                ::_exit(126);
            }
            std::string program = std::string(VANDORA_BIN_DIR) + "/vandora";
            std::string simulate = "--simulate=" + spec;
            ::execl(program.c_str(), program.c_str(), simulate.c_str(), "--headless",
                    "--system-bus", static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }

    sd_bus* connect() const {
        sd_bus* bus = nullptr;
        if (sd_bus_new(&bus) < 0 || sd_bus_set_address(bus, address_.c_str()) < 0 ||
            sd_bus_set_bus_client(bus, 1) < 0 || sd_bus_start(bus) < 0) {
            sd_bus_unref(bus);
            return nullptr;
        }
        return bus;
    }

    // Waits until the service has both readers up (it answers root, who may call it).
    bool serviceReady() const {
        sd_bus* bus = connect();
        bool ready = false;
        for (int i = 0; bus != nullptr && !ready && i < 400; ++i) {
            int barcode = 0;
            int rfid = 0;
            ready = sd_bus_get_property_trivial(bus, "org.vandora.Reader", "/org/vandora/Reader",
                                                "org.vandora.Reader1", "BarcodeReady", nullptr, 'b',
                                                &barcode) >= 0 &&
                    sd_bus_get_property_trivial(bus, "org.vandora.Reader", "/org/vandora/Reader",
                                                "org.vandora.Reader1", "RfidReady", nullptr, 'b',
                                                &rfid) >= 0 &&
                    barcode != 0 && rfid != 0;
            if (!ready) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        }
        sd_bus_flush_close_unref(bus);
        return ready;
    }

    // Runs body as another user (nobody) in the one group given, on a connection of its own;
    // what body returns, or why it could not run.
    std::string asCaller(gid_t group, const std::function<std::string(sd_bus*)>& body) const {
        int pipeFds[2];
        if (::pipe(pipeFds) != 0) {
            return "no pipe";
        }
        pid_t caller = ::fork();
        if (caller == 0) {
            ::close(pipeFds[0]);
            std::string answer;
            const uid_t nobody = 65534;
            if (::setgroups(1, &group) != 0 || ::setresgid(group, group, group) != 0 ||
                ::setresuid(nobody, nobody, nobody) != 0) {
                answer = "cannot become the caller";
            } else if (sd_bus* bus = connect()) {
                answer = body(bus);
                sd_bus_flush_close_unref(bus);
            } else {
                answer = "cannot connect";
            }
            (void)::write(pipeFds[1], answer.data(), answer.size());
            ::_exit(0);
        }
        ::close(pipeFds[1]);
        std::string answer;
        char buffer[4096];
        for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
            answer.append(buffer, static_cast<std::size_t>(n));
        }
        ::close(pipeFds[0]);
        ::waitpid(caller, nullptr, 0);
        return answer;
    }

    // A settings call's answer: "value:" and the text, or "error:" and the error's name.
    static std::string answerOf(int r, sd_bus_message* reply, const sd_bus_error& error) {
        if (r < 0) {
            return std::string("error:") + (error.name != nullptr ? error.name : "?");
        }
        const char* text = nullptr;
        return sd_bus_message_read(reply, "s", &text) >= 0 ? std::string("value:") + text
                                                           : "unreadable";
    }
    static std::string getSetting(sd_bus* bus, const char* section, const char* key) {
        sd_bus_error error{};
        sd_bus_message* reply = nullptr;
        int r = sd_bus_call_method(bus, "org.vandora.Reader", "/org/vandora/Reader",
                                   "org.vandora.Reader1", "GetSetting", &error, &reply, "ss",
                                   section, key);
        std::string answer = answerOf(r, reply, error);
        sd_bus_error_free(&error);
        sd_bus_message_unref(reply);
        return answer;
    }
    static std::string exportSettings(sd_bus* bus) {
        sd_bus_error error{};
        sd_bus_message* reply = nullptr;
        int r = sd_bus_call_method(bus, "org.vandora.Reader", "/org/vandora/Reader",
                                   "org.vandora.Reader1", "ExportSettings", &error, &reply, "");
        std::string answer = answerOf(r, reply, error);
        sd_bus_error_free(&error);
        sd_bus_message_unref(reply);
        return answer;
    }
    // Pulls the trigger and waits for the decode's CopyData broadcast: "decode" once it came.
    static std::string readDecode(sd_bus* bus) {
        bool got = false;
        auto onCopyData = [](sd_bus_message* /*m*/, void* seen, sd_bus_error* /*error*/) -> int {
            *static_cast<bool*>(seen) = true;
            return 0;
        };
        if (sd_bus_match_signal(bus, nullptr, "org.vandora.Reader", "/org/vandora/Reader",
                                "org.vandora.Reader1", "CopyData", onCopyData, &got) < 0) {
            return "no match";
        }
        sd_bus_error error{};
        int r = sd_bus_call_method(bus, "org.vandora.Reader", "/org/vandora/Reader",
                                   "org.vandora.Reader1", "PostMessage", &error, nullptr, "sux",
                                   "WM_USER1DOWN", 0u, static_cast<std::int64_t>(0));
        std::string failed = r < 0 && error.name != nullptr ? error.name : "";
        sd_bus_error_free(&error);
        if (r < 0) {
            return "trigger refused: " + failed;
        }
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!got && std::chrono::steady_clock::now() < deadline) {
            while (!got && sd_bus_process(bus, nullptr) > 0) {
            }
            if (!got) {
                sd_bus_wait(bus, 100000);
            }
        }
        return got ? "decode" : "no decode";
    }

    uid_t user_ = 0;
    gid_t group_ = 0;
    gid_t admins_ = 0;
    bool mounted_ = false;
    fs::path home_;
    std::string suffix_;
    pid_t service_ = -1;
};

TEST_F(ServiceOnPolicyBus, TheMifareKeyGoesOnlyToThoseWhoMayChangeSettings) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "not root: users and groups cannot be made up, the service's answers "
                        "to them were not tried";
    }
    if (run("command -v dbus-daemon").status != 0) {
        GTEST_SKIP() << "dbus-daemon is not installed: the service's answers were not tried";
    }
    std::string error;
    if (!makeUsers(error)) {
        GTEST_SKIP() << error << ": the service's answers were not tried";
    }
    // The callers and the service must reach the socket.
    fs::permissions(scratch_,
                    fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    ASSERT_TRUE(startDaemon(policyText(), error)) << error;
    const std::string key = "A1B2C3D4E5F6";
    startService("model=4,barcode=3,rfid=7",
                 "[General]\r\nwindowMessage=1\r\n[Barcode Reader 2D]\r\nhas2D=1\r\n"
                 "[RFID]\r\nhasRfid=7\r\nmifareLoginKeyA=" +
                     key + "\r\n");
    ASSERT_TRUE(serviceReady()) << fileText(scratch_ / "service.out");

    // A reader: decodes and ordinary settings, but not the key, in any spelling.
    EXPECT_EQ(asCaller(group_, readDecode), "decode");
    EXPECT_EQ(
        asCaller(group_, [](sd_bus* bus) { return getSetting(bus, "General", "windowMessage"); }),
        "value:1");
    for (const char* spelling : {"mifareLoginKeyA", "MIFARELOGINKEYA"}) {
        EXPECT_EQ(
            asCaller(group_, [spelling](sd_bus* bus) { return getSetting(bus, "rfid", spelling); }),
            "error:org.vandora.Reader1.Error.AccessDenied")
            << spelling;
    }
    std::string readerExport = asCaller(group_, exportSettings);
    EXPECT_EQ(readerExport.rfind("value:", 0), 0u) << readerExport;
    EXPECT_NE(readerExport.find("rfidReadLength="), std::string::npos) << readerExport;
    EXPECT_EQ(readerExport.find("mifareLoginKeyA"), std::string::npos) << readerExport;
    EXPECT_EQ(readerExport.find(key), std::string::npos) << readerExport;

    // An administrator: the key and an export with it.
    EXPECT_EQ(
        asCaller(admins_, [](sd_bus* bus) { return getSetting(bus, "RFID", "mifareLoginKeyA"); }),
        "value:" + key);
    std::string adminExport = asCaller(admins_, exportSettings);
    EXPECT_NE(adminExport.find("mifareLoginKeyA=" + key + "\n"), std::string::npos) << adminExport;
    // Apart from the key, both see the same.
    std::string withoutKey = adminExport;
    withoutKey.erase(withoutKey.find("mifareLoginKeyA="),
                     std::string("mifareLoginKeyA=\n").size() + key.size());
    EXPECT_EQ(withoutKey, readerExport);
}

// The manual pages and completions as cmake --install puts them (its "doc" part), into a scratch
// prefix of their own.
class InstalledDocs : public Packaging {
  protected:
    void SetUp() override {
        Packaging::SetUp();
        std::string build = fs::path(VANDORA_BIN_DIR).parent_path().string();
        Result install =
            run("cmake --install " + build + " --component doc --prefix " + scratch_.string());
        ASSERT_EQ(install.status, 0) << install.output;
    }
};

// Each page renders without a warning from man and has the sections a reader looks for.
TEST_F(InstalledDocs, ManualPagesRenderWithTheirSections) {
    if (::access("/usr/bin/man", X_OK) != 0) {
        GTEST_SKIP() << "man is not installed (scripts/install-deps brings man-db)";
    }
    for (const char* page : {"vandora", "vandoractl", "vandora-diag", "vandora-sim"}) {
        SCOPED_TRACE(page);
        fs::path file = scratch_ / "share/man/man1" / (std::string(page) + ".1");
        ASSERT_TRUE(fs::exists(file));
        Result warnings = run(
            "man --warnings -E UTF-8 -l -Tutf8 -Z " + file.string() + " 2>&1 >/dev/null", false);
        EXPECT_EQ(warnings.output, "");
        // man takes the formatting off when its output is not a terminal.
        Result shown = run("MANWIDTH=80 man -l " + file.string(), false);
        ASSERT_EQ(shown.status, 0);
        EXPECT_NE(shown.output.find(page), std::string::npos);
        for (const char* section : {"NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "FILES",
                                    "ENVIRONMENT", "EXIT STATUS", "EXAMPLES"}) {
            EXPECT_NE(shown.output.find(std::string("\n") + section + "\n"), std::string::npos)
                << section << " in:\n"
                << shown.output;
        }
    }
}

// The completion script loaded into bash and asked as a person's Tab asks it. Without a service
// the sections and keys are the program's own.
TEST_F(InstalledDocs, CompletionOffersCommandsMessagesSectionsAndKeys) {
    fs::path script = scratch_ / "share/bash-completion/completions/vandoractl";
    ASSERT_TRUE(fs::exists(script));
    struct Case {
        const char* line;  // the words before the cursor, the last one being completed
        std::vector<std::string> offered;
    };
    const Case cases[] = {
        {"vandoractl ''", {"post", "listen", "config", "status"}},
        {"vandoractl post WM_U", {"WM_USER1DOWN", "WM_USER2UP"}},
        {"vandoractl config set ''", {"General", "Barcode\\ Reader\\ 2D"}},
        {"vandoractl config set General window", {"windowEvent", "windowMessage"}},
        {"vandoractl listen --", {"--raw", "--json", "--count"}},
    };
    // Loads the script and completes the words given as arguments, the last one at the cursor.
    fs::path driver = scratch_ / "complete.sh";
    std::ofstream(driver) << ". \"$1\"; shift; COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); "
                             "_vandoractl; printf '%s\\n' \"${COMPREPLY[@]}\"\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        // No bus: the export the script tries first fails at once.
        std::string quoted =
            "env -u DBUS_SESSION_BUS_ADDRESS PATH=" + std::string(VANDORA_BIN_DIR) +
            ":/usr/bin:/bin bash " + driver.string() + " " + script.string() + " " + c.line;
        Result offered = run(quoted);
        EXPECT_EQ(offered.status, 0) << offered.output;
        for (const std::string& word : c.offered) {
            EXPECT_NE(offered.output.find(word + "\n"), std::string::npos) << word << " in:\n"
                                                                           << offered.output;
        }
    }
}

}  // namespace
