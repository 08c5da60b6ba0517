#include "reader/Scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "engines/EngineModels.h"
#include "reader/PortOps.h"
#include "rfid/RfidTag.h"
#include "support/SimRig.h"

namespace vandora::testing {
namespace {

using sim::bytesOf;
using sim::withChecksum;
using Bytes = std::vector<std::uint8_t>;

const Bytes kStart = withChecksum({0x04, 0xE4, 0x04, 0x00});
const Bytes kStop = withChecksum({0x04, 0xE5, 0x04, 0x00});
const Bytes kAimOn = withChecksum({0x04, 0xC5, 0x04, 0x00});
const Bytes kAimOff = withChecksum({0x04, 0xC4, 0x04, 0x00});
const Bytes kDecodeAck = withChecksum({0x04, 0xD0, 0x04, 0x00});
const Bytes kOk = withChecksum({0x04, 0xD0, 0x00, 0x00});

Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes decodePacket(std::uint8_t type, const std::string& data) {
    Bytes p = {static_cast<std::uint8_t>(5 + data.size()), 0xF3, 0x00, 0x00, type};
    p.insert(p.end(), data.begin(), data.end());
    return withChecksum(p);
}

// A CCD/Laser block of 30 bytes with a scan mode and the Code 128 / EAN-128 enables.
ByteString ccdBlock(int scanMode, bool code128, bool ean128) {
    ByteString block = ByteString::fromBytes(std::string(30, '\0'));
    block.setAt(20, static_cast<char16_t>(scanMode << 4));
    block.setAt(22, static_cast<char16_t>((code128 ? 0x80 : 0) | (ean128 ? 0x40 : 0)));
    return block;
}

class ScanTest : public ::testing::Test {
  protected:
    ReaderChannel& ready(EngineType type) {
        model_ = rig_.script(1);
        rig_.ports.faultsFor(1).noModemLines = true;
        ReaderChannel& ch = rig_.openChannel(1, type);
        rig_.manager->barcodeReady = 1;
        return ch;
    }
    std::size_t count(const Bytes& frame) const {
        std::size_t n = 0;
        for (const Bytes& f : model_->frames) {
            n += f == frame ? 1 : 0;
        }
        return n;
    }
    std::int32_t scan(std::uint32_t timeoutMs = 3000) {
        Decode decode;
        std::int32_t result = scanBarcode(*rig_.manager, decode, timeoutMs);
        id_ = decode.codeTypeId;
        name_ = decode.codeTypeName;
        data_ = decode.data;
        return result;
    }

    SimRig rig_;
    std::shared_ptr<sim::ScriptedModel> model_;
    std::int32_t id_ = -1;
    ByteString name_;
    ByteString data_;
};

TEST_F(ScanTest, SecondStartSendsNothing) {
    ReaderChannel& ch = ready(EngineType::Imager2D);
    model_->on(kStart, kOk);
    EXPECT_EQ(setTrigger(ch, 1), 1);
    EXPECT_EQ(setTrigger(ch, 1), 1);
    EXPECT_EQ(count(kStart), 1u);
    EXPECT_EQ(ch.triggerOn, 1);
    EXPECT_EQ(ch.channelLock.count(), 1u) << "the lock is given back";
}

TEST_F(ScanTest, FailedStartLeavesTriggerOff) {
    ReaderChannel& ch = ready(EngineType::Imager2D);
    EXPECT_EQ(setTrigger(ch, 1), 0);
    EXPECT_EQ(ch.triggerOn, 0);
    EXPECT_EQ(scan(), 0);
    EXPECT_EQ(count(kStop), 0u) << "a failed start returns before any wait";
}

TEST_F(ScanTest, TriggeredPacketReadStartsDecodesAcknowledgesAndStops) {
    ready(EngineType::Imager2D);
    model_->on(kStart, concat(kOk, decodePacket(0x1B, "hello")));
    model_->on(kStop, kOk);
    ASSERT_EQ(scan(), 1);
    EXPECT_EQ(id_, 27);
    EXPECT_TRUE(name_ == "Data Matrix");
    EXPECT_EQ(data_.narrow(), "hello");
    EXPECT_EQ(model_->frames, (std::vector<Bytes>{kStart, kDecodeAck, kStop}));
}

TEST_F(ScanTest, NoDecodeStillStopsTheEngine) {
    ready(EngineType::Laser1D955);
    model_->on(kStart, kOk);
    model_->on(kStop, kOk);
    std::uint64_t start = rig_.clock.nowMs();
    EXPECT_EQ(scan(500), 0);
    EXPECT_EQ(count(kStop), 1u);
    EXPECT_GE(rig_.elapsedMs(start), 500u);
    EXPECT_LT(rig_.elapsedMs(start), 600u);
}

TEST_F(ScanTest, LargeDecodeArrivesWhole) {
    ReaderChannel& ch = ready(EngineType::Imager2D);
    setBaudRate(ch, 115200);
    // 5,000 bytes: a first packet of 250 and continuation packets, each acknowledged.
    std::string all(5000, 'x');
    for (std::size_t i = 0; i < all.size(); ++i) {
        all[i] = static_cast<char>('a' + i % 26);
    }
    auto piece = [&](std::size_t from, std::size_t n, std::uint8_t status) {
        Bytes p = {static_cast<std::uint8_t>(5 + n), 0xF3, 0x00, status, 0x11};
        p.insert(p.end(), all.begin() + static_cast<long>(from),
                 all.begin() + static_cast<long>(from + n));
        return withChecksum(p);
    };
    model_->on(kStart, concat(kOk, piece(0, 250, 2)));
    for (std::size_t from = 250; from < all.size(); from += 250) {
        model_
            ->on(withChecksum({0x04, 0xD0, 0x04, 0x03}),
                 piece(from, 250, from + 250 < all.size() ? 2 : 0))
            .uses = 1;
    }
    model_->on(kStop, kOk);
    ASSERT_EQ(scan(), 1);
    EXPECT_EQ(id_, 0x11);
    EXPECT_EQ(data_.narrow(), all);
}

TEST_F(ScanTest, Imager4507InScanMode7OnlyWaits) {
    ready(EngineType::Imager2D4507);
    rig_.manager->scanMode = 7;
    model_->onOpenBytes = {};
    model_->on(bytesOf("poke"), decodePacket(0x03, "abc"));
    ReaderChannel& ch = rig_.manager->barcode;
    writeFrame(ch, ByteString("poke"));
    ASSERT_EQ(scan(), 1);
    EXPECT_EQ(count(kStart), 0u);
    EXPECT_EQ(count(kStop), 0u);
    EXPECT_TRUE(name_ == "Code 128");
}

struct CcdCase {
    const char* name;
    int scanMode;
    bool code128;
    bool ean128;
    std::string answer;
    std::int32_t expected;
    std::uint32_t error;
    const char* data;
    bool triggered;
};

class CcdScan : public ScanTest, public ::testing::WithParamInterface<CcdCase> {};

TEST_P(CcdScan, ChoosesTheWayByScanModeAndChecksCode128) {
    const CcdCase& c = GetParam();
    ReaderChannel& ch = ready(EngineType::CcdLaser);
    ch.parameterImage = ccdBlock(c.scanMode, c.code128, c.ean128);
    if (c.triggered) {
        model_->on(ccdFrame("ON"), bytesOf(c.answer));
    } else {
        model_->on(bytesOf("poke"), bytesOf(c.answer));
        writeFrame(ch, ByteString("poke"));
        model_->frames.clear();
    }
    unsigned purgesBefore = rig_.port(1).counters().purges;
    EXPECT_EQ(scan(), c.expected);
    EXPECT_EQ(data_.narrow(), c.data);
    if (c.error != 0) {
        EXPECT_EQ(ch.lastError, c.error);
    }
    EXPECT_EQ(count(ccdFrame("ON")), c.triggered ? 1u : 0u);
    EXPECT_EQ(count(ccdFrame("OFF")), c.triggered ? 1u : 0u);
    if (!c.triggered && c.error == 30001) {
        EXPECT_EQ(rig_.port(1).counters().purges, purgesBefore) << "no purge without a decode";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CcdScan,
    ::testing::Values(
        CcdCase{"TriggeredCode39", 6, false, false, "A123data\r", 1, 0, "data", true},
        CcdCase{"Mode3NoRead", 3, false, false, "*000\r", 0, 30001, "", false},
        CcdCase{"Mode1Waits", 1, false, false, "A123w\r", 1, 0, "w", false},
        CcdCase{"Code128Disabled", 6, false, true, "I123data\r", 0, 0, "", true},
        CcdCase{"Code128Enabled", 6, true, false, "I123data\r", 1, 0, "data", true},
        CcdCase{"Ean128Disabled", 5, true, false, "U123data\r", 0, 0, "", false},
        CcdCase{"Mode7DropsUnknownTypes", 7, false, false, "V123data\r", 0, 0, "", false},
        CcdCase{"Mode7KeepsKnownTypes", 7, false, false, "H123data\r", 1, 0, "data", false}),
    [](const auto& test) { return std::string(test.param.name); });

class LongRangeScan : public ScanTest {
  protected:
    void SetUp() override { setAimAlternationFlag(1); }
    void TearDown() override { setAimAlternationFlag(1); }
};

TEST_F(LongRangeScan, AimTimeAimsFirstThenDecodes) {
    ReaderChannel& ch = ready(EngineType::LongRange1D);
    ch.aimTime = 5;
    for (const Bytes& cmd : {kStart, kStop, kAimOn, kAimOff}) {
        model_->on(cmd, kOk);
    }
    EXPECT_EQ(setTrigger(ch, 1), 1);
    EXPECT_EQ(model_->frames, (std::vector<Bytes>{kAimOn, kAimOff, kStart}));
    EXPECT_GE(model_->frameTimesUs[1] / 1000 - model_->frameTimesUs[0] / 1000, 500u);
    EXPECT_LT(model_->frameTimesUs[1] / 1000 - model_->frameTimesUs[0] / 1000, 520u);
    // Every press aims again.
    model_->frames.clear();
    EXPECT_EQ(setTrigger(ch, 0), 1);
    EXPECT_EQ(setTrigger(ch, 1), 1);
    EXPECT_EQ(model_->frames, (std::vector<Bytes>{kAimOff, kStop, kAimOn, kAimOff, kStart}));
}

TEST_F(LongRangeScan, WithoutAimTimeEveryPressDecodesAtOnce) {
    ReaderChannel& ch = ready(EngineType::LongRange1D);
    for (const Bytes& cmd : {kStart, kStop, kAimOff}) {
        model_->on(cmd, kOk);
    }
    for (int press = 0; press < 3; ++press) {
        model_->frames.clear();
        EXPECT_EQ(setTrigger(ch, 1), 1);
        EXPECT_EQ(model_->frames, std::vector<Bytes>{kStart}) << press;
        EXPECT_EQ(setTrigger(ch, 0), 1);
    }
}

TEST_F(LongRangeScan, CancelledAimMakesTheNextPressDecodeAtOnce) {
    ReaderChannel& ch = ready(EngineType::LongRange1D);
    ch.aimTime = 5;
    for (const Bytes& cmd : {kStart, kStop, kAimOn, kAimOff}) {
        model_->on(cmd, kOk);
    }
    ch.aimCancel.release();  // the cancel arrives during the aiming wait
    EXPECT_EQ(setTrigger(ch, 1), 0);
    EXPECT_EQ(ch.triggerOn, 1) << "the engine keeps aiming";
    EXPECT_EQ(ch.channelLock.count(), 1u);
    ch.triggerOn = 0;
    model_->frames.clear();
    EXPECT_EQ(setTrigger(ch, 1), 1);
    EXPECT_EQ(model_->frames, std::vector<Bytes>{kStart});
}

TEST_F(LongRangeScan, StopTakesBackAnUnusedCancel) {
    ReaderChannel& ch = ready(EngineType::LongRange1D);
    for (const Bytes& cmd : {kStart, kStop, kAimOff}) {
        model_->on(cmd, kOk);
    }
    ASSERT_EQ(setTrigger(ch, 1), 1);
    EXPECT_EQ(setTrigger(ch, 0), 1);
    EXPECT_EQ(ch.aimCancel.count(), 0u);
    EXPECT_EQ(ch.triggerOn, 0);
}

TEST(StopScanning, BusyRfidLockStopsOnlyTheBarcodeEngine) {
    SimRig rig;
    auto barcode = rig.script(1);
    barcode->on(ccdFrame("OFF"), bytesOf("OK\r"));
    ReaderChannel& ch = rig.openChannel(1, EngineType::CcdLaser);
    ch.triggerOn = 1;
    rig.manager->barcodeReady = 1;
    rig.manager->rfidReady = 1;
    rig.manager->rfid.engineType = EngineType::RfidHex;
    rig.manager->rfid.triggerOn = 1;
    ASSERT_TRUE(rig.manager->rfid.channelLock.tryWait());  // an RFID read is running
    EXPECT_EQ(stopScanning(*rig.manager, 1, 1), 1);
    EXPECT_EQ(ch.triggerOn, 0);
    EXPECT_EQ(rig.manager->rfid.triggerOn, 1) << "nothing sent to the busy RFID channel";
    rig.manager->rfid.channelLock.release();
    EXPECT_EQ(stopScanning(*rig.manager, 0, 1), 1);
    EXPECT_EQ(rig.manager->rfid.triggerOn, 0);
}

TEST(RfidAsciiTrigger, OpensTheLinkOnlyWhileScanning) {
    SimRig rig;
    auto model = rig.script(2);
    ReaderChannel& ch = rig.manager->rfid;
    ch.port = 2;
    ch.engineType = EngineType::RfidAscii;
    ch.baudRate = 57600;
    std::uint64_t start = rig.clock.nowMs();
    EXPECT_EQ(setTrigger(ch, 1), 1);
    EXPECT_TRUE(ch.isOpen());
    EXPECT_EQ(rig.port(2).settings().baud, 57600u);
    EXPECT_EQ(model->frames, std::vector<Bytes>{bytesOf("s")});
    EXPECT_EQ(rig.elapsedMs(start), 100u);
    EXPECT_EQ(setTrigger(ch, 0), 1);
    EXPECT_FALSE(ch.isOpen());
}

TEST(RfidAsciiDecode, ErrorLettersBecomeErrorCodes) {
    struct Case {
        const char* answer;
        std::uint32_t error;
    };
    for (const Case& c : {Case{"R\r\n", 30005}, Case{"\r\n", 30002}, Case{"F\r\n", 30003},
                          Case{"N\r\n", 30002}, Case{"O\r\n", 30004}, Case{"X\r\n", 30011}}) {
        SimRig rig;
        auto model = rig.script(2);
        model->on(bytesOf("s"), bytesOf(c.answer));
        ReaderChannel& ch = rig.manager->rfid;
        ch.port = 2;
        ch.engineType = EngineType::RfidAscii;
        ASSERT_EQ(setTrigger(ch, 1), 1);
        EXPECT_EQ(awaitDecode(ch, rig.manager->ccdHostOptions()), 0) << c.answer;
        EXPECT_EQ(ch.lastError, c.error) << c.answer;
    }
}

TEST(RfidHexTrigger, SendsTheDetectionFrameOfTheTagFamily) {
    struct Case {
        std::int32_t tagType;
        const char* frame;
    };
    for (const Case& c : {Case{3, "0109000304A0010000"}, Case{5, "0109000304B0040000"},
                          Case{8, "010B000304340050000000"}, Case{16, "010B000304140401000000"},
                          Case{4, nullptr}}) {
        SimRig rig;
        auto model = rig.script(2);
        ReaderChannel& ch = rig.openChannel(2, EngineType::RfidHex);
        tagState(ch).tagType = c.tagType;
        EXPECT_EQ(setTrigger(ch, 1), c.frame != nullptr ? 1 : 0);
        if (c.frame != nullptr) {
            EXPECT_EQ(model->frames, std::vector<Bytes>{bytesOf(c.frame)});
        } else {
            EXPECT_TRUE(model->frames.empty());
        }
    }
}

TEST(ToggleCcdScan, OffResetsTheLinkAt115200) {
    SimRig rig;
    auto model = rig.script(1);
    ReaderChannel& ch = rig.openChannel(1, EngineType::CcdLaser);
    ch.triggerOn = 1;
    std::uint64_t start = rig.clock.nowMs();
    EXPECT_EQ(toggleCcdScan(*rig.manager, 0), 1);
    EXPECT_EQ(rig.elapsedMs(start), 600u);
    EXPECT_EQ(ch.triggerOn, 0);
    EXPECT_TRUE(ch.isOpen());
    EXPECT_EQ(rig.port(1).settings().baud, 115200u);
    EXPECT_EQ(toggleCcdScan(*rig.manager, 2), 0);
}

// Trigger presses and releases from two threads against one engine: no race, no deadlock.
TEST(ScanThreaded, PressAndReleaseFromTwoThreads) {
    RealTimeSimRig rig;
    auto model = rig.script(1);
    model->on(kStart, kOk);
    model->on(kStop, kOk);
    rig.ports.faultsFor(1).noModemLines = true;
    ReaderManager& manager = *rig.manager;
    ReaderChannel& ch = manager.barcode;
    ch.port = 1;
    ch.engineType = EngineType::Imager2D;
    ASSERT_EQ(openPort(ch), 1);
    setBaudRate(ch, 115200);
    manager.barcodeReady = 1;
    std::thread presser([&] {
        for (int i = 0; i < 20; ++i) {
            setTrigger(ch, 1);
        }
    });
    std::thread releaser([&] {
        for (int i = 0; i < 20; ++i) {
            stopScanning(manager, 1, 0);
        }
    });
    presser.join();
    releaser.join();
    EXPECT_EQ(ch.channelLock.count(), 1u);
    stopScanning(manager, 1, 0);
    EXPECT_EQ(ch.triggerOn, 0);
}

}  // namespace
}  // namespace vandora::testing

namespace vandora::testing {
namespace {

// A release during the long-range laser's aiming wait blocks at most until the aim ends.
TEST(ScanThreaded, LongRangeStopDuringAimingWaitsNoLongerThanTheAim) {
    RealTimeSimRig rig;
    auto model = rig.script(1);
    model->onAny(sim::withChecksum({0x04, 0xD0, 0x00, 0x00}));
    rig.ports.faultsFor(1).noModemLines = true;
    ReaderManager& manager = *rig.manager;
    ReaderChannel& ch = manager.barcode;
    ch.port = 1;
    ch.engineType = EngineType::LongRange1D;
    ch.aimTime = 5;  // 500 ms
    ASSERT_EQ(openPort(ch), 1);
    setBaudRate(ch, 115200);
    manager.barcodeReady = 1;
    setAimAlternationFlag(1);
    std::thread press([&] { setTrigger(ch, 1); });
    // Released once the engine was told to aim: the press is then in its aiming wait, or about to
    // be.
    auto heardAimOn = [&] {
        std::vector<std::uint8_t> heard = rig.port(1).hostBytes();
        return std::search(heard.begin(), heard.end(), kAimOn.begin(), kAimOn.end()) != heard.end();
    };
    for (int i = 0; i < 60000 && !heardAimOn(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(heardAimOn());
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(stopScanning(manager, 1, 0), 1);
    auto waited = std::chrono::steady_clock::now() - start;
    press.join();
    EXPECT_LT(waited, std::chrono::milliseconds(1500));
    EXPECT_EQ(ch.triggerOn, 0);
    setAimAlternationFlag(1);
}

}  // namespace
}  // namespace vandora::testing

namespace vandora::testing {
namespace {

// Trigger releases that come at once after each press, from the window's thread, while the scan
// thread reads: every decode that comes out is one the engine sent, whole, in order, once.
TEST(ScanThreaded, QuickReleasesNeverCorruptOrRepeatADecode) {
    RealTimeSimRig rig;
    sim::SimOptions options;
    options.decodeDelayUs = 3000;
    const int kDecodes = 120;
    std::vector<std::string> sent;
    for (int i = 0; i < kDecodes; ++i) {
        // Code type 0x0B (EAN-13) with digits that make a misread obvious.
        std::string data = "400638133" + std::to_string(1000 + i);
        sent.push_back(data);
        options.decodes.push_back({0x0B, std::vector<std::uint8_t>(data.begin(), data.end())});
    }
    rig.engine(1, toNumber(EngineType::Imager2D), options);
    rig.ports.faultsFor(1).noModemLines = true;
    ReaderManager& manager = *rig.manager;
    ReaderChannel& ch = manager.barcode;
    ch.port = 1;
    ch.engineType = EngineType::Imager2D;
    ASSERT_EQ(openPort(ch), 1);
    setBaudRate(ch, 115200);
    manager.barcodeReady = 1;

    std::atomic<bool> done{false};
    std::atomic<int> presses{0};
    std::vector<std::pair<std::int32_t, std::string>> received;
    std::thread scanner([&] {
        for (int i = 0; i < 200 && !done; ++i) {
            Decode decode;
            presses.fetch_add(1);
            if (scanBarcode(manager, decode, 60) != 0) {
                received.emplace_back(decode.codeTypeId, decode.data.narrow());
            }
        }
        done = true;
    });
    std::thread releaser([&] {
        int seen = 0;
        while (!done) {
            if (presses.load() != seen) {
                seen = presses.load();
                // Released 0 to 3 ms after the press: inside the start, the wait or the decode.
                std::this_thread::sleep_for(std::chrono::microseconds(1000 * (seen % 4)));
                stopScanning(manager, 1, 0);
            } else {
                std::this_thread::yield();
            }
        }
    });
    scanner.join();
    releaser.join();

    ASSERT_FALSE(received.empty());
    std::size_t next = 0;
    for (const auto& [id, data] : received) {
        EXPECT_EQ(id, 0x0B) << data;
        auto at = std::find(sent.begin() + static_cast<std::ptrdiff_t>(next), sent.end(), data);
        ASSERT_NE(at, sent.end()) << "not sent, repeated or out of order: " << data;
        next = static_cast<std::size_t>(at - sent.begin()) + 1;
    }
    EXPECT_EQ(ch.channelLock.count(), 1u);
}

}  // namespace
}  // namespace vandora::testing
