// The files of packaging/ as systemd and the bus daemon read them. Where a tool is missing the
// test says so and skips.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

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

// The bus policy is a configuration the bus daemon accepts: a daemon with it included starts.
TEST_F(Packaging, BusPolicyLoadsIntoABusDaemon) {
    Result which = run("command -v dbus-daemon");
    if (which.status != 0) {
        GTEST_SKIP() << "dbus-daemon is not installed: the bus policy was not checked";
    }
    fs::path policy = fs::path(VANDORA_SOURCE_DIR) / "packaging" / "org.vandora.Reader.conf";
    ASSERT_TRUE(fs::exists(policy));
    fs::path config = scratch_ / "bus.conf";
    std::ofstream(config) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus "
                             "Configuration 1.0//EN\"\n"
                             " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                             "<busconfig>\n"
                             "  <type>system</type>\n"
                             "  <listen>unix:path="
                          << (scratch_ / "socket").string()
                          << "</listen>\n"
                             "  <auth>EXTERNAL</auth>\n"
                             "  <include>"
                          << policy.string()
                          << "</include>\n"
                             "</busconfig>\n";
    // Started in the background, it prints its process id once it runs.
    Result daemon = run("dbus-daemon --config-file=" + config.string() + " --fork --print-pid 2>" +
                            (scratch_ / "daemon.err").string(),
                        false);
    ASSERT_EQ(daemon.status, 0) << readFile(scratch_ / "daemon.err");
    pid_t pid = static_cast<pid_t>(std::atol(daemon.output.c_str()));
    ASSERT_GT(pid, 0) << daemon.output;
    ::kill(pid, SIGTERM);
}

}  // namespace
