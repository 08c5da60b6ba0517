// The files of packaging/ as systemd and the bus daemon read them. Where a tool is missing the
// test says so and skips.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

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

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

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
        std::string text = readFile(fs::path(VANDORA_SOURCE_DIR) / "packaging" / name);
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
            error = readFile(errors);
            return false;
        }
        return true;
    }

    static std::string policyText() {
        return readFile(fs::path(VANDORA_SOURCE_DIR) / "packaging" / "org.vandora.Reader.conf");
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
