// The serial trace on simulated ports: every direction, rate change and purge as one line, bytes
// read ahead traced once when they come from the device, the header and the file's mode.
#include "platform/SerialTrace.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "PlatformTestUtil.h"
#include "SimulatedPort.h"
#include "platform/Clock.h"
#include "support/FileText.h"

namespace vandora::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

using vandora::testing::fileText;

std::string tracePath(const char* name) {
    return ::testing::TempDir() + "vandora-trace-" + std::to_string(::getpid()) + "-" + name;
}

class TracedPort : public ::testing::Test {
  protected:
    void SetUp() override {
        path = tracePath(::testing::UnitTest::GetInstance()->current_test_info()->name());
        // A file left readable by others must not stay so once it holds a trace.
        std::ofstream(path) << "old";
        ::chmod(path.c_str(), 0644);
        ASSERT_EQ(trace.open(path, "vandora-test", traceTerminalLine(4, 3, 0)), 0);
        provider.attach(1, echo);
        port = tracing.create(1);
        ASSERT_EQ(port->open(), 0);
        PortTimeouts t;
        t.readConstantMs = 100;
        ASSERT_EQ(port->setTimeouts(t), 0);
    }
    void TearDown() override { ::unlink(path.c_str()); }

    void setBaud(std::uint32_t baud) {
        PortSettings s;
        s.baud = baud;
        ASSERT_EQ(port->setSettings(s), 0);
    }
    void hostWrites(const Bytes& bytes) {
        std::size_t written = 0;
        ASSERT_EQ(port->write(bytes.data(), bytes.size(), written), 0);
        ASSERT_EQ(written, bytes.size());
    }
    Bytes readOne() {
        std::uint8_t byte = 0;
        std::size_t got = 0;
        EXPECT_EQ(port->read(&byte, 1, got), 0);
        return got == 0 ? Bytes{} : Bytes{byte};
    }
    // The lines after the header, each without its time; the times are checked for form and
    // order on the way.
    std::vector<std::string> events() {
        trace.close();
        std::istringstream text(fileText(path));
        std::vector<std::string> out;
        std::string line;
        const std::regex timed(R"(^(\d+)\.(\d{6}) (.*)$)");
        double last = 0;
        while (std::getline(text, line)) {
            if (line.rfind("#", 0) == 0) {
                continue;
            }
            std::smatch m;
            EXPECT_TRUE(std::regex_match(line, m, timed)) << line;
            if (!m.empty()) {
                double seconds = std::stod(m[1].str() + "." + m[2].str());
                EXPECT_GE(seconds, last) << line;
                last = seconds;
                out.push_back(m[3]);
            }
        }
        return out;
    }

    std::string path;
    VirtualClock clock{5'000'000};
    SerialTrace trace{clock};
    std::shared_ptr<sim::EchoModel> echo = std::make_shared<sim::EchoModel>();
    sim::SimulatedPortProvider provider{clock};
    TracingPortProvider tracing{provider, trace};
    std::unique_ptr<SerialPort> port;
};

TEST_F(TracedPort, EveryDirectionRateChangeAndPurgeIsOneLineInOrder) {
    setBaud(9600);
    setBaud(9600);  // the rate in force: no line
    setBaud(19200);
    hostWrites({0x02, 0x41, 0x03});
    clock.advanceMs(50);  // the whole echo is in
    // Read byte by byte: the device gave all three in one read, so they are one line.
    EXPECT_EQ(readOne(), Bytes{0x02});
    EXPECT_EQ(readOne(), Bytes{0x41});
    EXPECT_EQ(readOne(), Bytes{0x03});
    EXPECT_EQ(readOne(), Bytes{});  // a time-out moves nothing: no line
    ASSERT_EQ(port->purge(kPurgeAll), 0);
    // Bytes read ahead and then purged never reach the caller, as with the device's buffer.
    hostWrites({0xAA, 0xBB});
    clock.advanceMs(50);
    EXPECT_EQ(readOne(), Bytes{0xAA});
    ASSERT_EQ(port->purge(kPurgeRxClear), 0);
    EXPECT_EQ(readOne(), Bytes{});
    // After a reopen the first rate is traced even when it is the one the port had.
    port->close();
    ASSERT_EQ(port->open(), 0);
    setBaud(19200);

    std::vector<std::string> want = {
        "COM1 = 9600",  "COM1 = 19200", "COM1 > 02 41 03", "COM1 < 02 41 03", "COM1 purge",
        "COM1 > AA BB", "COM1 < AA BB", "COM1 purge",      "COM1 = 19200",
    };
    EXPECT_EQ(events(), want);
}

TEST_F(TracedPort, HeaderNamesProgramVersionAndTerminalAndTheFileIsPrivate) {
    hostWrites({0x10});
    trace.close();
    std::string text = fileText(path);
    EXPECT_EQ(
        text.substr(0, text.find("0.000000")),
        std::string("# vandora-test ") + SerialTrace::version() + "\n# model=4 barcode=3 rfid=0\n");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(TracedPort, PortNumberNamesTheLineAndFailuresPassThroughUntraced) {
    provider.attach(2, echo);
    std::unique_ptr<SerialPort> rfid = tracing.create(2);
    ASSERT_EQ(rfid->open(), 0);
    std::size_t written = 0;
    const std::uint8_t byte = 0x55;
    ASSERT_EQ(rfid->write(&byte, 1, written), 0);
    // A refused rate and a vanished device are the port's own answers, and move no byte.
    provider.lastPort(1)->faults().refusedBauds = {57600};
    PortSettings s;
    s.baud = 57600;
    EXPECT_EQ(port->setSettings(s), EINVAL);
    provider.lastPort(1)->faults().readError = EIO;
    std::uint8_t got[4];
    std::size_t n = 0;
    EXPECT_EQ(port->read(got, sizeof got, n), EIO);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(events(), std::vector<std::string>{"COM2 > 55"});
}

TEST(SerialTraceFlush, LinesReachTheFileWhileTheTraceStaysOpen) {
    std::string path = tracePath("flush");
    SerialTrace trace;
    ASSERT_EQ(trace.open(path, "vandora-test", traceTerminalLine(0, 2, 0)), 0);
    const std::uint8_t bytes[] = {0x1B, 0x5A};
    trace.bytes("COM1", true, bytes, sizeof bytes);
    // The flusher writes within a second; wait for it (not for a time) while the trace is open.
    RealClock& clock = RealClock::instance();
    std::uint64_t giveUp = clock.nowUs() + 30'000'000;
    while (fileText(path).find("COM1 > 1B 5A\n") == std::string::npos && clock.nowUs() < giveUp) {
        std::mutex m;
        std::condition_variable cv;
        std::unique_lock<std::mutex> lock(m);
        (void)clock.waitUntil(lock, cv, clock.nowUs() + 20'000, [] { return false; });
    }
    EXPECT_NE(fileText(path).find("COM1 > 1B 5A\n"), std::string::npos);
    trace.close();
    ::unlink(path.c_str());
}

}  // namespace
}  // namespace vandora::testing
