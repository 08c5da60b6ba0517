// Replaying a recorded session against a host on a real pseudo-terminal: a faithful host
// passes, an edited byte or rate stops the replay at the right line with both values, and host
// bytes a purge may have dropped are passed over.
#include "SessionReplay.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/TermiosSerialPort.h"

namespace vandora::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Lines 1 and 2 are the header; COM2's line belongs to another port and is not played.
const std::string kRecording =
    "# vandora-diag 0.1\n"
    "# model=0 barcode=3 rfid=0\n"
    "0.000000 COM1 = 9600\n"
    "0.000100 COM1 purge\n"
    "0.001000 COM1 > 01 02 03\n"
    "0.002000 COM1 < 0A 0B\n"
    "0.003000 COM2 > FF\n"
    "0.004000 COM1 purge\n"
    "0.005000 COM1 > 04 05\n"
    "0.006000 COM1 < 0C\n";

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    text.replace(text.find(from), from.size(), to);
    return text;
}

// What the host of kRecording does; it reads only the answers the replay is to give before it
// gives up on the host.
void runHost(const std::string& path, int answers) {
    TermiosSerialPort port(path);
    ASSERT_EQ(port.open(), 0);
    PortSettings s;
    s.baud = 9600;
    ASSERT_EQ(port.setSettings(s), 0);
    PortTimeouts t;
    t.readConstantMs = 5000;
    ASSERT_EQ(port.setTimeouts(t), 0);
    auto exchange = [&](const Bytes& out, std::size_t answer) {
        ASSERT_EQ(port.purge(kPurgeAll), 0);
        std::size_t written = 0;
        ASSERT_EQ(port.write(out.data(), out.size(), written), 0);
        Bytes in(answer);
        for (std::size_t at = 0; at < answer;) {
            std::size_t got = 0;
            ASSERT_EQ(port.read(in.data() + at, answer - at, got), 0);
            ASSERT_GT(got, 0u) << "no answer";
            at += got;
        }
    };
    exchange({0x01, 0x02, 0x03}, answers >= 1 ? 2 : 0);
    exchange({0x04, 0x05}, answers >= 2 ? 1 : 0);
    port.close();
}

TEST(SessionReplay, PlaysTheRecordingOrStopsAtTheFirstLineThatDiffers) {
    struct Case {
        const char* name;
        std::string recording;
        int answers;
        const char* message;
    };
    const Case cases[] = {
        {"faithful host", kRecording, 2, "replayed 2 exchanges"},
        {"edited byte", replaced(kRecording, "> 04 05", "> 04 06"), 1,
         "diverged at line 9: want 04 06 got 04 05"},
        {"edited rate", replaced(kRecording, "= 9600", "= 19200"), 0,
         "diverged at line 3: want = 19200 got = 9600"},
        // Bytes the purge after them may have dropped: the host here never sent them.
        {"purged host bytes",
         replaced(kRecording, "0.004000 COM1 purge", "0.003500 COM1 > 09 09\n0.004000 COM1 purge"),
         2, "replayed 3 exchanges"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::SessionReplay replay;
        std::string error;
        ASSERT_TRUE(replay.parse(c.recording, "COM1", error)) << error;
        ASSERT_EQ(replay.start(), 0);
        sim::ReplayResult result;
        std::thread engine([&] { result = replay.run(); });
        runHost(replay.slavePath(), c.answers);
        engine.join();
        EXPECT_EQ(result.message, c.message);
        EXPECT_EQ(result.diverged, std::string(c.message).rfind("diverged", 0) == 0);
    }
}

TEST(SessionReplay, ParseNamesTheFirstLineThatIsNotOfTheFormat) {
    sim::SessionReplay replay;
    std::string error;
    EXPECT_FALSE(replay.parse(kRecording + "0.007000 COM1 > 0G\n", "COM1", error));
    EXPECT_EQ(error, "line 11 is not a trace line");
    EXPECT_FALSE(replay.parse("# x\n1.5 COM1 sideways\n", "COM1", error));
    EXPECT_EQ(error, "line 2 is not a trace line");
    ASSERT_TRUE(replay.parse(kRecording, "COM2", error));
    ASSERT_EQ(replay.steps().size(), 1u);
    EXPECT_EQ(replay.steps()[0].line, 7);
    EXPECT_EQ(replay.steps()[0].bytes, Bytes{0xFF});
}

}  // namespace
}  // namespace vandora::testing
