// Decoder firmware: the version texts, the S-record and .dat parsers, and uploads into the
// simulated engines, whose memory must end up equal to the file.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <string>

#include "engines/CcdLaserModel.h"
#include "engines/PacketEngineModel.h"
#include "reader/Firmware.h"
#include "reader/PortOps.h"
#include "support/ReadyEngine.h"

namespace vandora::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Memory = std::map<std::uint32_t, std::uint8_t>;

std::string hex(const Bytes& bytes) {
    std::string out;
    char two[3];
    for (std::uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02X", b);
        out += two;
    }
    return out;
}

Bytes be32(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}

// One S3 record as its text line, with its own count and checksum.
std::string s3(std::uint32_t address, const Bytes& data) {
    Bytes body = {static_cast<std::uint8_t>(4 + data.size() + 1)};
    Bytes a = be32(address);
    body.insert(body.end(), a.begin(), a.end());
    body.insert(body.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (std::uint8_t b : body) {
        sum += b;
    }
    body.push_back(static_cast<std::uint8_t>(0xFF - (sum & 0xFF)));
    return "S3" + hex(body) + "\r\n";
}

Bytes pattern(std::size_t n, std::uint8_t seed) {
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = static_cast<std::uint8_t>(seed + i * 13);
    }
    return out;
}

// A file of S3 records; `memory` receives what it loads.
struct ShxFile {
    std::string text = "S00F000068656C6C6F2033372053330D\r\n";  // a header holding "3", "7"
    Memory memory;
    void add(std::uint32_t address, const Bytes& data) {
        text += s3(address, data);
        for (std::size_t i = 0; i < data.size(); ++i) {
            memory[address + static_cast<std::uint32_t>(i)] = data[i];
        }
    }
    void end() { text += "S5030003F9\r\nS70500000000FA\r\n"; }
};

std::string writeTemp(const std::string& name, const std::string& contents) {
    std::string path = ::testing::TempDir() + name;
    std::ofstream(path, std::ios::binary) << contents;
    return path;
}

// The CCD/Laser engine as the start leaves it: identified at its working rate.
struct CcdEngine {
    ReadyEngine ready{2};
    BasicSimRig<OwnerClock>& rig = ready.rig;
    std::shared_ptr<sim::CcdLaserModel> model =
        std::dynamic_pointer_cast<sim::CcdLaserModel>(ready.model);
    // The raw download lines the engine heard, in order.
    std::vector<Bytes> lines() const {
        std::vector<Bytes> out;
        for (const auto& c : model->log) {
            if (!c.frame.empty() && (c.frame[0] == 'S' || c.frame[0] == ':')) {
                out.push_back(c.frame);
            }
        }
        return out;
    }
};

TEST(ShxUpload, TwelveContiguousRecordsGoAsThreeLinesAndTheEndRecord) {
    ShxFile file;
    for (std::uint32_t i = 0; i < 12; ++i) {
        file.add(0x1000 + i * 16, pattern(16, static_cast<std::uint8_t>(i)));
    }
    file.end();
    CcdEngine engine;
    std::string path = writeTemp("twelve.shx", file.text);
    std::vector<int> progress;
    ASSERT_EQ(uploadShxDecoder(*engine.rig.manager, path, [&](int p) { progress.push_back(p); }),
              1);

    auto line = [&](std::uint32_t first, std::uint32_t records) {
        Bytes data;
        for (std::uint32_t i = first; i < first + records; ++i) {
            Bytes d = pattern(16, static_cast<std::uint8_t>(i));
            data.insert(data.end(), d.begin(), d.end());
        }
        Bytes out = {'S', '3', static_cast<std::uint8_t>(4 + data.size() + 1)};
        Bytes a = be32(0x1000 + first * 16);
        out.insert(out.end(), a.begin(), a.end());
        out.insert(out.end(), data.begin(), data.end());
        unsigned sum = 0;
        for (std::size_t i = 2; i < out.size(); ++i) {
            sum += out[i];
        }
        out.push_back(static_cast<std::uint8_t>(0xFF - (sum & 0xFF)));
        return out;
    };
    std::vector<Bytes> expected = {Bytes{':', 'E', 'R', 'A', 'S', 'E'}, line(0, 5), line(5, 5),
                                   line(10, 2), Bytes{'S', '7', 5, 0, 0, 0, 0, 0xFA}};
    EXPECT_EQ(engine.lines(), expected);
    EXPECT_EQ(engine.model->log[engine.ready.readyFrames].text(), "DOWNLOAD")
        << "the first command after the start";
    EXPECT_EQ(engine.model->firmware, file.memory);
    EXPECT_EQ(engine.model->firmwareLoads, 1u);
    EXPECT_EQ(progress.front(), 5);
    EXPECT_EQ(progress.back(), 100);
}

TEST(ShxUpload, EngineMemoryEqualsTheFileWhateverItsLayout) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::uint32_t, std::size_t>> records;  // address, data bytes
    };
    const Case cases[] = {
        {"Gaps", {{0x100, 16}, {0x110, 16}, {0x200, 16}, {0x210, 8}, {0x80, 16}, {0x90, 4}}},
        {"Overlapping", {{0x100, 32}, {0x110, 32}, {0x130, 16}}},
        // Five records of 100 bytes would need a count of 505: lines are cut before 255.
        {"LongRecords", {{0x0, 100}, {0x64, 100}, {0xC8, 100}, {0x12C, 100}, {0x190, 100}}},
        {"Backwards", {{0x300, 16}, {0x2F0, 16}, {0x2E0, 16}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ShxFile file;
        std::uint8_t seed = 1;
        for (const auto& [address, size] : c.records) {
            file.add(address, pattern(size, seed++));
        }
        file.end();
        CcdEngine engine;
        ASSERT_EQ(uploadShxDecoder(*engine.rig.manager, writeTemp("layout.shx", file.text), {}), 1);
        EXPECT_EQ(engine.model->firmware, file.memory);
        for (const Bytes& line : engine.lines()) {
            EXPECT_LE(line.size(), 2u + 1u + 255u);
        }
    }
}

TEST(ShxUpload, FailuresStopWhereTheFileOrTheEngineFails) {
    struct Case {
        const char* name;
        std::string text;
        bool refuseData;
        std::size_t dataLinesSent;
    };
    ShxFile twelve;
    for (std::uint32_t i = 0; i < 12; ++i) {
        twelve.add(0x1000 + i * 8, pattern(8, 0));
    }
    const Case cases[] = {
        // Without S7 every complete group still goes, then the upload fails.
        {"NoEndRecord", twelve.text, false, 3},
        // The five records before the broken one went as one line.
        {"BadRecord", twelve.text.substr(0, 200) + "S3ZZ\r\nS70500000000FA\r\n", false, 1},
        {"Empty", "", false, 0},
        // Every data line refused: the first one is tried three times, then the upload fails.
        {"RefusedLine", twelve.text + "S70500000000FA\r\n", true, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CcdEngine engine;
        if (c.refuseData) {
            engine.model->forcedAnswers.push_back({{'S', '3'}, {'N', 'G', 0x0D}, -1});
        }
        EXPECT_EQ(uploadShxDecoder(*engine.rig.manager, writeTemp("bad.shx", c.text), {}), 0);
        std::size_t data = 0;
        for (const Bytes& line : engine.lines()) {
            EXPECT_NE(line[1], '7') << "no end record after a failure";
            data += line[0] == 'S' ? 1 : 0;
        }
        EXPECT_EQ(data, c.dataLinesSent);
    }
}

TEST(ShxPlan, OtherRecordTypesNeitherStartNorEndData) {
    // An S0 header and an S5 count holding the characters 3 and 7, records split by LF alone.
    std::string text =
        "S0030037C5\nS1130000AABB3\nS5033733\n" + s3(0x10, {1, 2, 3}) + "S9030000FC\n";
    auto bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    ShxPlan plan = planShx(bytes, text.size());
    EXPECT_FALSE(plan.ended);
    ASSERT_EQ(plan.lines.size(), 1u);
    EXPECT_EQ(plan.lines[0].bytes.bytes(), (Bytes{'S', '3', 8, 0, 0, 0, 0x10, 1, 2, 3}));
}

// A .dat file: eight header bytes, then records (length, three more bytes, the record), the
// closing record at address FFFFFFFF, then a zero length.
struct DatFile {
    Bytes bytes = {'V', 'D', 'A', 'T', 0, 1, 0, 0};
    Memory memory;
    void add(std::uint32_t address, const Bytes& data) {
        Bytes record = be32(address);
        record.insert(record.end(), data.begin(), data.end());
        bytes.push_back(static_cast<std::uint8_t>(record.size()));
        bytes.insert(bytes.end(), {0xA0, 0xA1, 0xA2});
        bytes.insert(bytes.end(), record.begin(), record.end());
        for (std::size_t i = 0; i < data.size(); ++i) {
            memory[address + static_cast<std::uint32_t>(i)] = data[i];
        }
    }
    void end() {
        Bytes closing = be32(0xFFFFFFFF);
        closing.push_back(0x5A);
        bytes.push_back(static_cast<std::uint8_t>(closing.size()));
        bytes.insert(bytes.end(), {0, 0, 0});
        bytes.insert(bytes.end(), closing.begin(), closing.end());
        bytes.push_back(0);
    }
    std::string text() const { return {bytes.begin(), bytes.end()}; }
};

// The newer 2D imager as the start leaves it on a terminal model: identified at its working rate.
struct NewImager {
    ReadyEngine ready;
    BasicSimRig<OwnerClock>& rig = ready.rig;
    std::shared_ptr<sim::PacketEngineModel> model =
        std::dynamic_pointer_cast<sim::PacketEngineModel>(ready.model);
    explicit NewImager(std::int32_t terminal) : ready(8, terminal) {}
};

TEST(DatUpload, EngineMemoryEqualsTheFileAndTheLinkComesBack) {
    for (std::int32_t terminal : {DeviceModel::HRT400CE, DeviceModel::HRT100CE}) {
        SCOPED_TRACE(terminal);
        DatFile file;
        for (std::uint32_t i = 0; i < 20; ++i) {
            file.add(0x8000 + i * 200, pattern(200, static_cast<std::uint8_t>(i)));
        }
        file.add(0x100, pattern(250, 7));  // the longest record: L = 254
        file.end();
        NewImager imager(terminal);
        std::vector<int> progress;
        ASSERT_EQ(uploadDatDecoder(*imager.rig.manager, writeTemp("fw.dat", file.text()),
                                   [&](int p) { progress.push_back(p); }),
                  1);
        EXPECT_EQ(imager.model->firmware, file.memory);
        EXPECT_EQ(imager.model->firmwareLoads, 1u);
        EXPECT_EQ(progress.back(), 1000);
        if (terminal == DeviceModel::HRT400CE) {
            // Moved back to its working rate: it answers there again.
            ByteString version;
            EXPECT_EQ(queryFirmwareVersion(*imager.rig.manager, EngineType::Imager2D4507, version),
                      1);
            EXPECT_EQ(imager.rig.manager->barcode.baudRate, 115200u);
        }
    }
}

TEST(DatUpload, BadFileFailsBeforeAnythingIsSent) {
    DatFile good;
    good.add(0x10, pattern(40, 1));
    good.end();
    Bytes longRecord = good.bytes;
    longRecord[8] = 255;  // L + 1 would wrap to 0
    Bytes pastEnd = good.bytes;
    pastEnd[8] = 200;
    Bytes noEnd = good.bytes;
    noEnd.pop_back();
    Bytes cutLead = Bytes(good.bytes.begin(), good.bytes.begin() + 10);
    for (const Bytes& bytes : {longRecord, pastEnd, noEnd, cutLead}) {
        NewImager imager(DeviceModel::HRT100CE);
        EXPECT_EQ(
            uploadDatDecoder(*imager.rig.manager,
                             writeTemp("bad.dat", std::string(bytes.begin(), bytes.end())), {}),
            0);
        EXPECT_EQ(imager.model->log.size(), imager.ready.readyFrames) << "commands sent";
    }
}

TEST(DatUpload, OnlyOnTheTerminalsThatLoadIt) {
    DatFile file;
    file.add(0x10, pattern(4, 1));
    file.end();
    NewImager imager(DeviceModel::HRT200CE);
    EXPECT_EQ(uploadDatDecoder(*imager.rig.manager, writeTemp("m.dat", file.text()), {}), 0);
    EXPECT_EQ(imager.model->log.size(), imager.ready.readyFrames) << "commands sent";
}

TEST(FirmwareVersion, EachEngineGivesItsVersionText) {
    struct Case {
        std::int32_t type;
        const char* version;
    };
    const Case cases[] = {
        {2, "CL 2.10"}, {3, "IMG"}, {4, "LRL"}, {8, "PAAAAS00-B1 R07"}, {9, "LS9-R1.0"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        SimRig rig;
        sim::SimOptions options;
        options.startBaud = 9600;
        rig.engine(1, c.type, options);
        rig.ports.faultsFor(1).noModemLines = true;
        rig.openChannel(1, c.type);
        ByteString version = "stale";
        ASSERT_EQ(queryFirmwareVersion(*rig.manager, EngineType(c.type), version), 1);
        EXPECT_EQ(version.narrow(), c.version);
    }
    SimRig rig;
    ByteString version = "stale";
    EXPECT_EQ(queryFirmwareVersion(*rig.manager, EngineType::None, version), 0);
    EXPECT_TRUE(version.empty());
}

}  // namespace
}  // namespace vandora::testing
