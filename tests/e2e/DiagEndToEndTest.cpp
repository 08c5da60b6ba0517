// vandora-diag against simulated engines behind real pseudo-terminals (vandora-sim), as an
// integrator would run it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "common/Hex.h"
#include "engines/SimPicture.h"
#include "platform/ImageCodec.h"
#include "support/Programs.h"

namespace {

namespace fs = std::filesystem;

using Result = vandora::testing::ProgramRun;

// Runs a program to its end (killed after 60 s) and returns its exit code and standard output.
Result runProgram(const std::vector<std::string>& args) {
    return vandora::testing::runProgram({args, {}, {}, {}}, false);
}

// A vandora-sim process serving one engine on a pseudo-terminal reached through a link.
class SimProcess {
  public:
    explicit SimProcess(std::vector<std::string> args) {
        link_ = fs::temp_directory_path() /
                ("vandora-e2e-" + std::to_string(getpid()) + "-" + std::to_string(counter_++));
        args.insert(args.begin(), vandora::testing::programPath("vandora-sim"));
        args.push_back("--link");
        args.push_back(link_.string());
        pid_ = vandora::testing::launchProgram({std::move(args), "/dev/null", {}, {}});
        // The link appears once the simulator runs; a bound only for one that never starts.
        vandora::testing::eventually([&] { return fs::exists(link_); }, std::chrono::seconds(60));
    }
    ~SimProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        std::error_code ec;
        fs::remove(link_, ec);
    }
    std::string port() const { return link_.string(); }
    bool ready() const { return fs::exists(link_); }

  private:
    static inline int counter_ = 0;
    fs::path link_;
    pid_t pid_ = -1;
};

std::string diag() {
    return vandora::testing::programPath("vandora-diag");
}

struct IdentifyCase {
    const char* name;
    int engine;
    const char* startBaud;  // nullptr: the working rate
    bool rfid;
    int hint;
    const char* expected;
};

class DiagIdentify : public ::testing::TestWithParam<IdentifyCase> {};

TEST_P(DiagIdentify, PrintsTheEngineAndItsRate) {
    const IdentifyCase& c = GetParam();
    std::vector<std::string> simArgs = {"--engine", std::to_string(c.engine)};
    if (c.startBaud != nullptr) {
        simArgs.push_back("--baud");
        simArgs.push_back(c.startBaud);
    }
    SimProcess sim(simArgs);
    ASSERT_TRUE(sim.ready());
    std::vector<std::string> args = {diag(),    "identify", "--port", sim.port(),
                                     "--model", "0",        "--hint", std::to_string(c.hint)};
    if (c.rfid) {
        args.push_back("--rfid");
    }
    Result r = runProgram(args);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(r.out, std::string(c.expected) + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Engines, DiagIdentify,
    ::testing::Values(
        IdentifyCase{"CcdLaser", 2, nullptr, false, 2, "engine=2 baud=115200 variant=0"},
        IdentifyCase{"Imager2D", 3, nullptr, false, 3, "engine=3 baud=115200 variant=0"},
        IdentifyCase{"Imager2DAt9600", 3, "9600", false, 3, "engine=3 baud=115200 variant=0"},
        IdentifyCase{"LongRange1D", 4, nullptr, false, 4, "engine=4 baud=38400 variant=0"},
        IdentifyCase{"Imager2D4507", 8, nullptr, false, 8, "engine=8 baud=115200 variant=0"},
        IdentifyCase{"Laser1D955", 9, nullptr, false, 9, "engine=9 baud=38400 variant=0"},
        IdentifyCase{"RfidAscii", 5, nullptr, true, 5, "engine=5 baud=57600 variant=1"},
        IdentifyCase{"RfidHex", 6, nullptr, true, 6, "engine=6 baud=115200 variant=2"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(DiagIdentifyFailure, SilentEngineAndBadArguments) {
    SimProcess sim({"--engine", "3", "--silent"});
    ASSERT_TRUE(sim.ready());
    Result r =
        runProgram({diag(), "identify", "--port", sim.port(), "--model", "0", "--hint", "3"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "engine=0 error=0\n");
    EXPECT_EQ(runProgram({diag(), "identify"}).exitCode, 2);
    EXPECT_EQ(runProgram({diag(), "identify", "--port", "/x", "--model", "7"}).exitCode, 2);
    EXPECT_EQ(runProgram({diag(), "frobnicate"}).exitCode, 2);
    Result missing = runProgram({diag(), "identify", "--port", "/nonexistent/tty", "--model", "0"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.out, "engine=0 error=2\n");
}

struct ScanCase {
    const char* name;
    int engine;
    const char* decode;
    const char* expected;
};

class DiagScan : public ::testing::TestWithParam<ScanCase> {};

TEST_P(DiagScan, ReadsOneDecode) {
    const ScanCase& c = GetParam();
    SimProcess sim({"--engine", std::to_string(c.engine), "--decode", c.decode});
    ASSERT_TRUE(sim.ready());
    Result r = runProgram(
        {diag(), "scan", "--port", sim.port(), "--model", "0", "--hint", std::to_string(c.engine)});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(r.out, std::string(c.expected) + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Engines, DiagScan,
    ::testing::Values(
        ScanCase{"CcdLaser", 2, "41:3132333435", "type=65 name=Code 39 data=3132333435"},
        ScanCase{"Imager2D", 3, "1B:48656C6C6F", "type=27 name=Data Matrix data=48656C6C6F"},
        ScanCase{"Imager2DContinued", 3, "1C:000102030405060708090A0B:split=4",
                 "type=28 name=QR Code data=000102030405060708090A0B"},
        ScanCase{"LongRange1D", 4, "03:414243", "type=3 name=Code 128 data=414243"},
        ScanCase{"Imager2D4507", 8, "11:5044463431", "type=17 name=PDF417 data=5044463431"},
        ScanCase{"Laser1D955", 9, "01:3339", "type=1 name=Code 39 data=3339"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(DiagScanFailure, NoReadReportsTheError) {
    SimProcess sim({"--engine", "3", "--decode", "noread"});
    ASSERT_TRUE(sim.ready());
    Result r = runProgram(
        {diag(), "scan", "--port", sim.port(), "--model", "0", "--hint", "3", "--timeout", "500"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out.rfind("noread error=", 0), 0u) << r.out;
}

TEST(DiagSettings, SaveFromOneEngineAndLoadIntoAnother) {
    fs::path ini = fs::temp_directory_path() / ("vandora-e2e-" + std::to_string(getpid()) + ".ini");
    fs::remove(ini);
    {
        SimProcess sim({"--engine", "8"});
        ASSERT_TRUE(sim.ready());
        Result r = runProgram({diag(), "settings", "--port", sim.port(), "--model", "0", "--hint",
                               "8", "--ini", ini.string(), "save"});
        EXPECT_EQ(r.exitCode, 0) << r.out;
        EXPECT_NE(r.out.find("written Barcode Reader 2D\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("written Matrix25 2D\n"), std::string::npos) << r.out;
        EXPECT_TRUE(fs::exists(ini));
    }
    {
        SimProcess sim({"--engine", "8"});
        ASSERT_TRUE(sim.ready());
        Result r = runProgram({diag(), "settings", "--port", sim.port(), "--model", "0", "--hint",
                               "8", "--ini", ini.string(), "load"});
        EXPECT_EQ(r.exitCode, 0) << r.out;
        EXPECT_NE(r.out.find("sent Code39 2D/1D_LR\n"), std::string::npos) << r.out;
    }
    fs::remove(ini);
}

// One RFID module of each kind behind a pseudo-terminal with one tag in its field: a tag read,
// a write read back, and (where the module can) a Mifare key change after which only the new key
// opens the sector.
struct RfidCase {
    const char* name;
    int engine;
    const char* model;
    const char* tag;
    const char* readLine;  // the default read of 16 bytes
    const char* uid;
    bool changesKeys;
};

class DiagRfid : public ::testing::TestWithParam<RfidCase> {};

TEST_P(DiagRfid, ReadsWritesAndChangesKeys) {
    const RfidCase& c = GetParam();
    SimProcess sim({"--engine", std::to_string(c.engine), "--tag", c.tag});
    ASSERT_TRUE(sim.ready());
    auto rfid = [&](std::vector<std::string> args) {
        std::vector<std::string> all = {diag(),    "rfid",  "--port", sim.port(),
                                        "--model", c.model, "--hint", std::to_string(c.engine)};
        all.insert(all.end(), args.begin(), args.end());
        return runProgram(all);
    };
    Result read = rfid({"read"});
    EXPECT_EQ(read.exitCode, 0) << read.out;
    EXPECT_EQ(read.out, std::string(c.readLine) + "\n");

    Result write = rfid({"write", "--start", "20", "--data", "A1B2C3"});
    EXPECT_EQ(write.exitCode, 0) << write.out;
    EXPECT_EQ(write.out, "written uid=" + std::string(c.uid) + "\n");
    Result back = rfid({"read", "--start", "20", "--length", "3"});
    EXPECT_EQ(back.exitCode, 0) << back.out;
    EXPECT_NE(back.out.find(" data=A1B2C3\n"), std::string::npos) << back.out;

    Result keys =
        rfid({"keys", "--sector", "2", "--new-a", "112233445566", "--new-b", "778899AABBCC"});
    if (!c.changesKeys) {
        EXPECT_EQ(keys.exitCode, 1) << keys.out;
        EXPECT_EQ(keys.out.rfind("error=", 0), 0u) << keys.out;
        return;
    }
    EXPECT_EQ(keys.exitCode, 0) << keys.out;
    EXPECT_EQ(keys.out, "keys uid=" + std::string(c.uid) + "\n");
    // Sector 2 starts at byte 128: its first block holds 08 81 82 83 ...
    Result fresh = rfid({"read", "--start", "128", "--length", "4", "--key", "112233445566"});
    EXPECT_NE(fresh.out.find(" data=08818283\n"), std::string::npos) << fresh.out;
    Result old = rfid({"read", "--start", "128", "--length", "4"});
    EXPECT_EQ(old.exitCode, 0) << "the UID is still read";
    EXPECT_NE(old.out.find(" data=\n"), std::string::npos)
        << "the old key opens nothing: " << old.out;
}

INSTANTIATE_TEST_SUITE_P(
    Modules, DiagRfid,
    ::testing::Values(
        RfidCase{"LetterCommands", 5, "0", "mifare",
                 "type=3 name=ISO14443 Type A, Mifare family uid=5A31C207 "
                 "data=044142434445464748494A4B4C4D4E4F",
                 "5A31C207", true},
        RfidCase{"HexFrames", 6, "0", "iso15693",
                 "type=16 name=ISO15693 uid=E004015012345678 data=000102030105060702090A0B030D0E0F",
                 "E004015012345678", false},
        RfidCase{"BinaryLink", 7, "4", "mifare",
                 "type=3 name=ISO14443 Type A, Mifare S50 uid=5A31C207 "
                 "data=044142434445464748494A4B4C4D4E4F",
                 "5A31C207", true}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(DiagRfidArguments, AreCheckedBeforeAnythingIsOpened) {
    const std::vector<std::vector<std::string>> bad = {
        {"rfid", "--port", "/x"},
        {"rfid", "--port", "/x", "write", "--data", "0102"},
        {"rfid", "--port", "/x", "write", "--start", "0", "--data", "0G"},
        {"rfid", "--port", "/x", "read", "--key", "12345"},
        {"rfid", "--port", "/x", "keys", "--sector", "64", "--new-a", "112233445566", "--new-b",
         "112233445566"},
        {"rfid", "--port", "/x", "keys", "--sector", "1", "--new-a", "1122"},
    };
    for (const auto& args : bad) {
        std::vector<std::string> all = {diag()};
        all.insert(all.end(), args.begin(), args.end());
        EXPECT_EQ(runProgram(all).exitCode, 2) << args.back();
    }
}

struct CaptureCase {
    const char* name;
    int engine;
};

class DiagCapture : public ::testing::TestWithParam<CaptureCase> {};

// A terminal that turns its imager's pictures: the file holds the scene upright.
TEST_P(DiagCapture, SavesAnUprightPicture) {
    const CaptureCase& c = GetParam();
    SimProcess sim({"--engine", std::to_string(c.engine)});
    ASSERT_TRUE(sim.ready());
    fs::path out = fs::temp_directory_path() /
                   ("vandora-e2e-picture-" + std::to_string(getpid()) + "-" + c.name + ".jpg");
    Result r = runProgram({diag(), "capture", "--port", sim.port(), "--model", "5", "--hint",
                           std::to_string(c.engine), "--out", out.string()});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    std::ifstream in(out, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(r.out, "picture=" + out.string() + " bytes=" + std::to_string(bytes.size()) + "\n");
    vandora::Pixels pixels;
    ASSERT_TRUE(vandora::decodePicture(bytes.data(), bytes.size(), pixels));
    const int w = pixels.width;
    const int h = pixels.height;
    for (const auto& p : {std::pair{w / 4, h / 16}, std::pair{w / 4, 3 * h / 8},
                          std::pair{3 * w / 4, h / 4}, std::pair{w / 4, 3 * h / 4}}) {
        std::uint8_t want[3];
        vandora::sim::simSceneColour(p.first, p.second, w, h, want);
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(pixels.at(p.first, p.second)[k], want[k], 40) << p.first << "," << p.second;
        }
    }
    fs::remove(out);
}

INSTANTIATE_TEST_SUITE_P(Imagers, DiagCapture,
                         ::testing::Values(CaptureCase{"Imager2D", 3},
                                           CaptureCase{"Imager2D4507", 8}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(DiagCaptureFailure, AnEngineWithoutPicturesGivesNone) {
    SimProcess sim({"--engine", "4"});
    ASSERT_TRUE(sim.ready());
    Result r = runProgram({diag(), "capture", "--port", sim.port(), "--model", "5", "--hint", "4",
                           "--timeout", "500", "--out", "/tmp/never-written.jpg"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out.rfind("nopicture error=", 0), 0u) << r.out;
    EXPECT_FALSE(fs::exists("/tmp/never-written.jpg"));
    EXPECT_EQ(runProgram({diag(), "capture", "--port", sim.port()}).exitCode, 2);
}

struct FirmwareCase {
    const char* name;
    int engine;
    const char* model;
    std::string file;  // contents
    const char* extension;
    const char* expected;
};

std::string shxFile() {
    std::string text = "S00600004844521B\r\n";
    // 24 records of 16 bytes from 0x2000, each with its count and checksum.
    for (int r = 0; r < 24; ++r) {
        std::vector<std::uint8_t> body = {21, 0, 0, static_cast<std::uint8_t>(0x20 + r / 16),
                                          static_cast<std::uint8_t>((r % 16) * 16)};
        for (int i = 0; i < 16; ++i) {
            body.push_back(static_cast<std::uint8_t>(r * 7 + i));
        }
        unsigned sum = 0;
        for (std::uint8_t b : body) {
            sum += b;
        }
        body.push_back(static_cast<std::uint8_t>(0xFF - (sum & 0xFF)));
        text += "S3" + vandora::hexText(body) + "\r\n";
    }
    return text + "S70500000000FA\r\n";
}

std::string datFile() {
    std::string bytes("VDAT\x00\x01\x00\x00", 8);
    auto record = [&](std::uint32_t address, std::size_t n) {
        bytes.push_back(static_cast<char>(4 + n));
        bytes.append("\x01\x02\x03", 3);
        for (int shift : {24, 16, 8, 0}) {
            bytes.push_back(static_cast<char>((address >> shift) & 0xFF));
        }
        for (std::size_t i = 0; i < n; ++i) {
            bytes.push_back(static_cast<char>(i * 3));
        }
    };
    for (std::uint32_t i = 0; i < 10; ++i) {
        record(0x4000 + i * 100, 100);
    }
    record(0xFFFFFFFF, 1);
    bytes.push_back('\0');
    return bytes;
}

class DiagFirmware : public ::testing::TestWithParam<FirmwareCase> {};

TEST_P(DiagFirmware, UploadsAndSaysSo) {
    const FirmwareCase& c = GetParam();
    SimProcess sim({"--engine", std::to_string(c.engine)});
    ASSERT_TRUE(sim.ready());
    fs::path file =
        fs::temp_directory_path() / ("vandora-e2e-fw-" + std::to_string(getpid()) + c.extension);
    std::ofstream(file, std::ios::binary) << c.file;
    Result r = runProgram({diag(), "firmware", "--port", sim.port(), "--model", c.model, "--hint",
                           std::to_string(c.engine), file.string()});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(r.out, c.expected);
    fs::remove(file);
}

INSTANTIATE_TEST_SUITE_P(
    Engines, DiagFirmware,
    ::testing::Values(FirmwareCase{"CcdLaser", 2, "0", shxFile(), ".SHX",
                                   "version=CL 2.10\nUploading decoder succeeds.\n"},
                      FirmwareCase{"Imager2D4507", 8, "5", datFile(), ".dat",
                                   "version=PAAAAS00-B1 R07\nUploading decoder succeeds. Please "
                                   "close and open this program again.\n"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(DiagFirmwareFailure, ABadFileOrAnEngineWithoutFirmwareFails) {
    SimProcess sim({"--engine", "8"});
    ASSERT_TRUE(sim.ready());
    fs::path file =
        fs::temp_directory_path() / ("vandora-e2e-bad-" + std::to_string(getpid()) + ".dat");
    std::string cut = datFile();
    cut.pop_back();  // no end marker
    std::ofstream(file, std::ios::binary) << cut;
    Result r = runProgram(
        {diag(), "firmware", "--port", sim.port(), "--model", "5", "--hint", "8", file.string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "version=PAAAAS00-B1 R07\nUploading decoder fails.\n");
    SimProcess laser({"--engine", "9"});
    ASSERT_TRUE(laser.ready());
    r = runProgram(
        {diag(), "firmware", "--port", laser.port(), "--model", "5", "--hint", "9", file.string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "version=LS9-R1.0\nUploading decoder fails.\n");
    fs::remove(file);
}

}  // namespace
