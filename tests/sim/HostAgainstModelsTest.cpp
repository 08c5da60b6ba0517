// The host's identification, scanning and image reception against the engine models: what the
// models say must be what the host's rules accept, and their faults must make it fail cleanly.
#include <gtest/gtest.h>

#include "SimWire.h"
#include "platform/RfidLinkApi.h"
#include "reader/Exchange.h"
#include "reader/Identify.h"
#include "reader/PortOps.h"
#include "reader/ReaderManager.h"
#include "reader/Scan.h"
#include "support/SimRig.h"

namespace vandora::sim::testing {
namespace {

RfidLinkApi* unavailableLink() {
    static UnavailableRfidLink link;
    return &link;
}

// The shared rig with one engine model on its port, opened, and no binary link.
struct Host : vandora::testing::SimRig {
    Host(int engineType, std::int32_t deviceModel, SimOptions options = {})
        : vandora::testing::SimRig(deviceModel, unavailableLink()) {
        port = engineType == 5 || engineType == 6 ? kRfidPort : kBarcodePort;
        model = engine(port, engineType, std::move(options));
        channel().port = port;
        EXPECT_EQ(openPort(channel()), 1);
    }

    ReaderChannel& channel() { return manager->channel(port); }
    std::int32_t identify(std::int32_t hint) { return identifyEngine(channel(), EngineType(hint)); }

    std::shared_ptr<EngineSim> model;
    int port = kBarcodePort;
};

TEST(HostAgainstModels, IdentifiesEveryEngineAndMovesItToItsWorkingRate) {
    struct Case {
        const char* name;
        int type;
        std::int32_t deviceModel;
        std::int32_t hint;
        std::uint32_t startBaud;
        int variant;
        std::int32_t expectedType;
        std::uint32_t expectedBaud;
        std::int32_t expectedVariant;
    };
    const Case cases[] = {
        {"CCD/Laser detected", 2, 0, 1, 0, 1, 2, 115200, 0},
        {"2D imager", 3, 0, 3, 0, 1, 3, 115200, 0},
        {"2D imager at 9600", 3, 0, 3, 9600, 1, 3, 115200, 0},
        {"2D imager detected after the CCD/Laser", 3, 1, 1, 0, 1, 3, 115200, 0},
        {"long-range laser at 9600", 4, 0, 4, 9600, 1, 4, 38400, 0},
        // Found by the imager's probe at 9600, so moved to the imager's rate.
        {"long-range laser at 9600 behind an imager hint", 4, 0, 3, 9600, 1, 4, 115200, 0},
        {"newer imager detected", 8, 0, 1, 0, 1, 8, 115200, 0},
        {"newer imager at 9600", 8, 0, 8, 9600, 1, 8, 115200, 0},
        {"1D laser detected on its terminal", 9, 5, 1, 0, 1, 9, 38400, 0},
        {"1D laser at 9600", 9, 0, 9, 9600, 1, 9, 38400, 0},
        {"RFID letter module at 9600", 5, 2, 1, 9600, 1, 5, 57600, 1},
        {"RFID letter module, older line", 5, 0, 5, 0, 0, 5, 57600, 0},
        {"RFID hexadecimal module", 6, 1, 1, 0, 1, 6, 115200, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimOptions options;
        options.startBaud = c.startBaud;
        options.variant = c.variant;
        Host host(c.type, c.deviceModel, options);
        ASSERT_EQ(host.identify(c.hint), 1);
        EXPECT_EQ(toNumber(host.channel().engineType), c.expectedType);
        EXPECT_EQ(host.channel().baudRate, c.expectedBaud);
        EXPECT_EQ(host.model->currentBaud(), c.expectedBaud);
        if (c.type == 5 || c.type == 6) {
            EXPECT_EQ(host.channel().rfidVariant, c.expectedVariant);
        }
        for (const ReceivedCommand& command : host.model->log) {
            EXPECT_TRUE(command.valid) << "the host sent a malformed frame";
        }
    }
}

TEST(HostAgainstModels, MisbehavingEnginesAreNotIdentified) {
    struct Fault {
        const char* name;
        void (*set)(SimFaults&);
    };
    const Fault faults[] = {
        {"silent", [](SimFaults& f) { f.silent = true; }},
        {"refusing", [](SimFaults& f) { f.refuseAll = true; }},
        {"garbage", [](SimFaults& f) { f.garbage = true; }},
        {"cut short", [](SimFaults& f) { f.cutAfter = 3; }},
        // Longer than the host's wait for a byte inside a reply.
        {"stalling",
         [](SimFaults& f) {
             f.stallAfter = 3;
             f.stallUs = 60000;
         }},
    };
    for (int type : {2, 3, 4, 5, 8, 9}) {
        for (const Fault& fault : faults) {
            SCOPED_TRACE(std::to_string(type) + " " + fault.name);
            Host host(type, 0);
            fault.set(host.model->faults);
            EXPECT_EQ(host.identify(type), 0);
            EXPECT_EQ(toNumber(host.channel().engineType), 0);
            EXPECT_FALSE(host.model->log.empty());
        }
    }
    // A short stall inside the reply is within the host's patience.
    Host patient(3, 0);
    patient.model->faults.stallAfter = 3;
    patient.model->faults.stallUs = 10000;
    EXPECT_EQ(patient.identify(3), 1);
}

TEST(HostAgainstModels, RefusedRfidRateChangeLeavesTheModuleAt9600) {
    SimOptions options;
    options.startBaud = 9600;
    Host host(5, 2, options);
    host.model->forcedAnswers.push_back({text("wp0C03"), text("R\r\n"), -1});
    ASSERT_EQ(host.identify(1), 1);
    EXPECT_EQ(host.channel().lastError, 30005u);
    EXPECT_EQ(host.channel().baudRate, 9600u);
    EXPECT_EQ(host.model->currentBaud(), 9600u);
    EXPECT_EQ(host.model->commandTexts().back(), "wp0C03");
}

Bytes letters(std::size_t n) {
    Bytes data(n);
    for (std::size_t i = 0; i < n; ++i) {
        data[i] = static_cast<std::uint8_t>('A' + i % 26);
    }
    return data;
}

TEST(HostAgainstModels, ReadsEveryDecodeForm) {
    struct Case {
        const char* name;
        int type;
        SimDecode decode;
        std::int32_t expectedId;
        Bytes expectedData;
        unsigned continueAcks;  // 04 D0 04 03 the engine must have heard
    };
    const Bytes gs1 = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J'};
    const Case cases[] = {
        {"CCD/Laser Code 39", 2, {'A', text("12345"), DecodeForm::Plain, 0}, 65, text("12345"), 0},
        {"imager single packet",
         3,
         {0x1B, text("Hello"), DecodeForm::Plain, 0},
         27,
         text("Hello"),
         0},
        {"imager in three packets",
         3,
         {0x1B, letters(25), DecodeForm::Plain, 10},
         27,
         letters(25),
         3},
        {"imager, long decode", 8, {0x11, letters(600), DecodeForm::Plain, 0}, 17, letters(600), 3},
        {"imager wrapped in two packets",
         3,
         {0x1C, letters(300), DecodeForm::Wrapped, 0},
         28,
         letters(300),
         1},
        {"laser wrapped with segment marks", 4, {0x03, gs1, DecodeForm::Wrapped, 4}, 3, gs1, 0},
        {"1D laser in two packets",
         9,
         {0x01, letters(12), DecodeForm::Plain, 8},
         1,
         letters(12),
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimOptions options;
        options.decodes.push_back(c.decode);
        Host host(c.type, 0, options);
        ASSERT_EQ(host.identify(c.type), 1);
        host.manager->barcodeReady = 1;
        Decode decode;
        ASSERT_EQ(scanBarcode(*host.manager, decode, 3000), 1);
        EXPECT_EQ(decode.codeTypeId, c.expectedId);
        EXPECT_EQ(decode.data.bytes(), c.expectedData);
        unsigned continueAcks = 0;
        for (const ReceivedCommand& command : host.model->log) {
            EXPECT_TRUE(command.valid);
            if (command.frame == Bytes{0x04, 0xD0, 0x04, 0x03}) {
                ++continueAcks;
            }
        }
        EXPECT_EQ(continueAcks, c.continueAcks);
    }
}

TEST(HostAgainstModels, NoReadIsReportedAsSuch) {
    Host ccd(2, 0);
    ASSERT_EQ(ccd.identify(2), 1);
    ccd.manager->barcodeReady = 1;
    Decode decode;
    EXPECT_EQ(scanBarcode(*ccd.manager, decode, 3000), 0);
    EXPECT_EQ(ccd.channel().lastError, 30001u);

    // A packet engine without its no-read message leaves the host waiting out its time-out.
    Host imager(3, 0);
    ASSERT_EQ(imager.identify(3), 1);
    imager.manager->barcodeReady = 1;
    std::uint64_t startMs = imager.clock.nowMs();
    EXPECT_EQ(scanBarcode(*imager.manager, decode, 2000), 0);
    EXPECT_GE(imager.clock.nowMs() - startMs, 2000u);
    EXPECT_EQ(imager.model->log.back().frame, (Bytes{0x04, 0xE5, 0x04, 0x00}))
        << "the engine was stopped after the wait";
}

// Puts the engine in a scan mode the way the host's setting commands do: the CCD/Laser engine by
// sending its block back with the mode in byte 20, a packet engine by sending parameter 0x8A.
void putInScanMode(Host& host, std::uint8_t mode) {
    ReaderChannel& channel = host.channel();
    if (host.model->engineType() == 2) {
        Bytes block = CcdLaserModel::factoryBlock();
        block[20] = static_cast<std::uint8_t>(mode << 4);
        std::string command = "SAVE" + hexText(block);
        ByteString reply;
        ASSERT_EQ(exchange(channel, ByteString(command.c_str()), 1000, &reply, 1), 1);
        channel.parameterImage = ByteString::fromBytes(block.data(), block.size());
        return;
    }
    const std::uint8_t command[] = {0x07, 0xC6, 0x04, 0x08, 0xFF, 0x8A, mode};
    ByteString reply;
    ASSERT_EQ(exchange(channel, ByteString::fromBytes(command, sizeof command), 1000, &reply, 5),
              1);
    host.manager->scanMode = mode;
}

// Something the host says that is not about scanning: the identification query.
void sayAnythingTo(Host& host) {
    ByteString reply;
    if (host.model->engineType() == 2) {
        ASSERT_EQ(exchange(host.channel(), ByteString("VER"), 1000, &reply, 1), 1);
    } else {
        const std::uint8_t query[] = {0x04, 0xA3, 0x04, 0x00};
        ASSERT_EQ(
            exchange(host.channel(), ByteString::fromBytes(query, sizeof query), 1000, &reply, 1),
            1);
    }
}

bool heardATrigger(const EngineSim& model) {
    for (const ReceivedCommand& command : model.log) {
        if (command.text() == "ON" || (command.frame.size() > 1 && command.frame[1] == 0xE4)) {
            return true;
        }
    }
    return false;
}

TEST(HostAgainstModels, WaitingReadsTakeTheDecodesOfASelfScanningEngine) {
    struct Case {
        const char* name;
        int type;
        std::uint8_t mode;
        std::vector<SimDecode> decodes;
        bool startedByHost;  // CCD/Laser mode 3: the host's "ON" starts the engine
    };
    const Bytes gs1 = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J'};
    // Continuation packets come with their own acknowledgements; the next decode must wait for
    // the acknowledgement of the whole one, or it runs into the tail of this one.
    const Case cases[] = {
        {"newer imager, mode 7",
         8,
         7,
         {{0x1B, text("first"), DecodeForm::Plain, 0},
          {0x11, letters(25), DecodeForm::Plain, 10},
          {0x1C, letters(300), DecodeForm::Wrapped, 0},
          {0x1B, text("last"), DecodeForm::Plain, 0}},
         false},
        {"1D laser, mode 4",
         9,
         4,
         {{0x01, text("first"), DecodeForm::Plain, 0},
          {0x01, letters(12), DecodeForm::Plain, 8},
          {0x03, gs1, DecodeForm::Wrapped, 4},
          {0x01, text("last"), DecodeForm::Plain, 0}},
         false},
        {"long-range laser, mode 7",
         4,
         7,
         {{0x01, text("first"), DecodeForm::Plain, 0}, {0x01, letters(12), DecodeForm::Plain, 8}},
         false},
        {"CCD/Laser, mode 1",
         2,
         1,
         {{'A', text("12345"), DecodeForm::Plain, 0}, {'A', text("67890"), DecodeForm::Plain, 0}},
         false},
        {"CCD/Laser, mode 5", 2, 5, {{'A', text("5"), DecodeForm::Plain, 0}}, false},
        {"CCD/Laser, mode 7",
         2,
         7,
         {{'A', text("777"), DecodeForm::Plain, 0}, {'A', text("778"), DecodeForm::Plain, 0}},
         false},
        {"CCD/Laser, mode 3 after ON",
         2,
         3,
         {{'A', text("333"), DecodeForm::Plain, 0}, {'A', text("334"), DecodeForm::Plain, 0}},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimOptions options;
        options.decodes = c.decodes;
        // Shorter than the host's wait for a further continuation packet.
        options.decodeDelayUs = 5000;
        Host host(c.type, 0, options);
        ASSERT_EQ(host.identify(c.type), 1);
        host.manager->barcodeReady = 1;
        putInScanMode(host, c.mode);
        if (c.startedByHost) {
            ASSERT_EQ(toggleCcdScan(*host.manager, 1), 1);
        }
        for (const SimDecode& expected : c.decodes) {
            Decode decode;
            ASSERT_EQ(scanBarcode(*host.manager, decode, 3000), 1);
            EXPECT_EQ(decode.data.bytes(), expected.data);
        }
        EXPECT_EQ(heardATrigger(*host.model), c.startedByHost);
        for (const ReceivedCommand& command : host.model->log) {
            EXPECT_TRUE(command.valid);
        }
    }
}

TEST(HostAgainstModels, SelfScanningEngineWithNothingToReadLeavesTheWaitToRunOut) {
    struct Case {
        const char* name;
        int type;
        std::uint8_t mode;
        std::vector<SimDecode> decodes;
    };
    const SimDecode noRead{0, {}, DecodeForm::NoRead, 0};
    const Case cases[] = {
        {"newer imager, empty queue", 8, 7, {}},  {"newer imager, a no-read", 8, 7, {noRead}},
        {"1D laser, empty queue", 9, 4, {}},      {"CCD/Laser, empty queue", 2, 1, {}},
        {"CCD/Laser, a no-read", 2, 1, {noRead}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimOptions options;
        options.decodes = c.decodes;
        Host host(c.type, 0, options);
        ASSERT_EQ(host.identify(c.type), 1);
        host.manager->barcodeReady = 1;
        if (auto* packet = dynamic_cast<PacketEngineModel*>(host.model.get())) {
            // Even when told to report no-reads, an engine reading by itself keeps them quiet.
            packet->params[0x5E] = 1;
        }
        putInScanMode(host, c.mode);
        Decode decode;
        host.channel().lastError = 0;
        std::uint64_t startMs = host.clock.nowMs();
        EXPECT_EQ(scanBarcode(*host.manager, decode, 2000), 0);
        EXPECT_GE(host.clock.nowMs() - startMs, 2000u);
        EXPECT_EQ(host.channel().lastError, 0u);
        EXPECT_FALSE(heardATrigger(*host.model));

        // The engine looks again when the host next says something, and the read after that
        // gets what it sees.
        host.model->queueDecode({c.type == 2 ? std::uint8_t{'A'} : std::uint8_t{0x1B},
                                 text("later"), DecodeForm::Plain, 0});
        sayAnythingTo(host);
        ASSERT_EQ(scanBarcode(*host.manager, decode, 2000), 1);
        EXPECT_EQ(decode.data.bytes(), text("later"));
    }
}

TEST(HostAgainstModels, ReceivesAPictureWithTheAcknowledgementFlow) {
    SimOptions options;
    options.image = letters(700);
    Host host(3, 0, options);
    ASSERT_EQ(host.identify(3), 1);
    ByteString reply;
    ASSERT_EQ(
        exchange(host.channel(), ByteString::fromBytes(std::string_view("\x05\xF7\x00\x00\x01", 5)),
                 1000, &reply, 5),
        1);
    ASSERT_EQ(setTrigger(host.channel(), 1), 1);
    host.channel().scanTimeout = 3000;
    std::vector<int> progress;
    const unsigned acksBefore = host.model->counters.acks;
    ASSERT_EQ(receiveImage(host.channel(), [&](int p) { progress.push_back(p); }), 1);
    EXPECT_EQ(host.channel().decodeData.bytes(), options.image);
    EXPECT_FALSE(progress.empty());
    // The picture ends when the announced size is in: nothing is asked for again.
    EXPECT_EQ(host.model->counters.resends, 0u);
    EXPECT_EQ(host.model->counters.packets, 3u);
    EXPECT_EQ(host.model->counters.acks - acksBefore, 3u) << "the last packet is acknowledged too";
    ASSERT_EQ(setTrigger(host.channel(), 0), 1);
    EXPECT_EQ(host.model->counters.pictureInterruptions, 0u);
}

}  // namespace
}  // namespace vandora::sim::testing
