// The simulated binary-link module: on raw frames (what it refuses, when it falls out of step and
// comes back), and every command in round trips with the real RfidLink in each link mode.
#include "engines/RfidLinkModel.h"

#include <gtest/gtest.h>

#include <array>

#include "LinkRig.h"
#include "engines/EngineModels.h"
#include "rfid/link/LinkFrame.h"

namespace vandora::testing {
namespace {

using link::FrameCode;

// The module on a port of its own, spoken to with frames the test builds.
struct RawWire {
    explicit RawWire(int linkMode = 1) : model(std::make_shared<sim::RfidLinkModel>()) {
        model->setLinkMode(linkMode);
        ports.attach(kLinkPort, model);
        handle = ports.create(kLinkPort);
        port = ports.lastPort(kLinkPort);
        EXPECT_EQ(port->open(), 0);
        setBaud(19200);
        mode = linkMode;
    }

    void setBaud(std::uint32_t baud) {
        PortSettings settings;
        settings.baud = baud;
        EXPECT_EQ(port->setSettings(settings), 0);
        PortTimeouts timeouts;
        timeouts.readConstantMs = 60;
        EXPECT_EQ(port->setTimeouts(timeouts), 0);
    }

    Bytes ask(const Bytes& wire) {
        std::size_t written = 0;
        EXPECT_EQ(port->write(wire.data(), wire.size(), written), 0);
        Bytes out;
        for (;;) {
            std::uint8_t buffer[256];
            std::size_t got = 0;
            EXPECT_EQ(port->read(buffer, sizeof buffer, got), 0);
            if (got == 0) {
                return out;
            }
            out.insert(out.end(), buffer, buffer + got);
        }
    }

    Bytes frame(const Bytes& request, FrameCode code = {}) {
        Bytes out(link::kLinkBufferBytes);
        out.resize(link::buildRequest(mode, 1, code, request, out));
        return out;
    }

    // The handshake; sets the code state from the seeds.
    void handshake() {
        Bytes request{0x17};
        if (link::isLongFraming(mode)) {
            request.push_back(static_cast<std::uint8_t>(mode - 2));
        }
        Bytes answer = ask(frame(request));
        Bytes work(link::kLinkBufferBytes);
        link::LinkAnswer parsed;
        ASSERT_EQ(link::parseAnswer(answer, mode, 1, 0x17, {}, work, parsed),
                  link::AnswerError::None);
        ASSERT_EQ(parsed.echo, 0x17);
        ASSERT_EQ(parsed.data.size(), 8u);
        std::array<std::uint8_t, 8> seed{};
        std::copy(parsed.data.begin(), parsed.data.end(), seed.begin());
        seeds.push_back(seed);
        state = link::codeStateFromSeed(seed, RfidLink::defaultPassword());
    }

    // A coded request with the next code; the answer taken apart (echo 0 when none came).
    std::uint8_t coded(const Bytes& request, FrameCode* used = nullptr) {
        FrameCode code = link::advanceFrameCode(state);
        if (used != nullptr) {
            *used = code;
        }
        Bytes answer = ask(frame(request, code));
        Bytes work(link::kLinkBufferBytes);
        link::LinkAnswer parsed;
        if (link::parseAnswer(answer, mode, 1, request[0], code, work, parsed) !=
            link::AnswerError::None) {
            return 0;
        }
        return parsed.echo;
    }

    VirtualClock clock;
    sim::SimulatedPortProvider ports{clock};
    std::shared_ptr<sim::RfidLinkModel> model;
    std::unique_ptr<SerialPort> handle;
    sim::SimulatedPort* port = nullptr;
    int mode = 1;
    link::CodeState state{};
    std::vector<std::array<std::uint8_t, 8>> seeds;
};

TEST(RfidLinkModel, IsTheModelOfEngineType7) {
    auto model = sim::makeEngineModel(7);
    ASSERT_NE(model, nullptr);
    EXPECT_NE(dynamic_cast<sim::RfidLinkModel*>(model.get()), nullptr);
    EXPECT_EQ(model->currentBaud(), 19200u);
    sim::SimOptions options;
    options.startBaud = 9600;
    EXPECT_EQ(sim::makeEngineModel(7, options)->currentBaud(), 9600u);
}

TEST(RfidLinkModel, OutOfStepItRefusesUntilTheNextHandshake) {
    for (int mode : {1, 3, 4}) {
        SCOPED_TRACE(mode);
        RawWire wire(mode);
        // Before any handshake a coded frame is refused.
        EXPECT_EQ(wire.coded({0x11, 1}), 0);
        EXPECT_EQ(wire.model->linkCounters.refusedOutOfStep, 1u);

        ASSERT_NO_FATAL_FAILURE(wire.handshake());
        EXPECT_EQ(wire.coded({0x11, 1}), 0x11);
        EXPECT_EQ(wire.coded({0x11, 2}), 0x11);
        EXPECT_EQ(wire.model->stateValue, 2);

        // A frame with a code from further on: refused, and the module is out of step.
        link::advanceFrameCode(wire.state);
        EXPECT_EQ(wire.coded({0x11, 3}), 0);
        EXPECT_EQ(wire.model->linkCounters.codeMismatches, 1u);
        EXPECT_FALSE(wire.model->inStep());
        // Even the codes that follow are refused now.
        EXPECT_EQ(wire.coded({0x11, 4}), 0);
        EXPECT_EQ(wire.coded({0x11, 5}), 0);
        EXPECT_EQ(wire.model->linkCounters.refusedOutOfStep, 3u);
        EXPECT_EQ(wire.model->stateValue, 2);

        // The handshake puts both ends in step again.
        ASSERT_NO_FATAL_FAILURE(wire.handshake());
        EXPECT_TRUE(wire.model->inStep());
        EXPECT_EQ(wire.coded({0x11, 6}), 0x11);
        EXPECT_EQ(wire.model->stateValue, 6);
        // The seeds differ from one handshake to the next.
        EXPECT_NE(wire.seeds[0], wire.seeds[1]);
    }
}

TEST(RfidLinkModel, RefusesFramesThatFailItsChecks) {
    RawWire wire(1);
    ASSERT_NO_FATAL_FAILURE(wire.handshake());
    // Bad checksum (the code is used up on the module's side only when it checks it).
    FrameCode code = link::advanceFrameCode(wire.state);
    Bytes bad = wire.frame({0x11, 7}, code);
    bad[bad.size() - 2] ^= 0x40;
    EXPECT_TRUE(wire.ask(bad).empty());
    EXPECT_EQ(wire.model->linkCounters.badFrames, 1u);
    // The payload not rotated by C1 mod L (L = 3), with the code the module expects.
    if (code.c1 % 3 != 0) {
        Bytes body{0x03, 0x11, 0x07, code.c1, code.c0};
        std::uint8_t sum = 0;
        for (std::uint8_t b : body) {
            sum = static_cast<std::uint8_t>(sum + b);
        }
        body.push_back(sum);
        Bytes unrotated{0x02};
        for (std::uint8_t b : body) {
            if (b == 0x02 || b == 0x03 || b == 0x10) {
                unrotated.push_back(0x10);
            }
            unrotated.push_back(b);
        }
        unrotated.push_back(0x03);
        EXPECT_TRUE(wire.ask(unrotated).empty());
        EXPECT_EQ(wire.model->linkCounters.badFrames, 2u);
    }
    // Neither used up the code: the proper frame with it is answered.
    EXPECT_FALSE(wire.ask(wire.frame({0x11, 7}, code)).empty());
    EXPECT_EQ(wire.model->stateValue, 7);
    // A foreign rate: not heard at all.
    wire.setBaud(9600);
    EXPECT_TRUE(wire.ask(wire.frame({0x17})).empty());
    EXPECT_EQ(wire.model->counters.wrongRateWrites, 1u);
}

TEST(RfidLinkModel, LongFramingChecksAddressModeByteAndStuffing) {
    RawWire wire(3);
    ASSERT_NO_FATAL_FAILURE(wire.handshake());
    link::CodeState saved = wire.state;
    // Another device's address.
    FrameCode code = link::advanceFrameCode(wire.state);
    Bytes other(64);
    other.resize(link::buildRequest(3, 2, code, Bytes{0x11, 1}, other));
    EXPECT_TRUE(wire.ask(other).empty());
    // The mode byte of another mode.
    Bytes mode4(64);
    mode4.resize(link::buildRequest(4, 1, code, Bytes{0x11, 1}, mode4));
    EXPECT_TRUE(wire.ask(mode4).empty());
    // 0x01 not escaped.
    Bytes plain = wire.frame({0x11, 1}, code);
    Bytes unescaped;
    for (std::size_t i = 0; i < plain.size(); ++i) {
        if (plain[i] == 0x10 && i + 1 < plain.size() && plain[i + 1] == 0x01) {
            continue;
        }
        unescaped.push_back(plain[i]);
    }
    ASSERT_LT(unescaped.size(), plain.size());
    EXPECT_TRUE(wire.ask(unescaped).empty());
    EXPECT_EQ(wire.model->linkCounters.badFrames, 3u);
    // None of them used up a code: the proper frame is still in step.
    wire.state = saved;
    EXPECT_EQ(wire.coded({0x11, 1}), 0x11);
}

TEST(RfidLinkModel, AnswersInItsFraming) {
    struct Case {
        int mode;
        std::uint8_t start;
    };
    for (const Case& c : {Case{0, 0x02}, Case{1, 0x02}, Case{2, 0x01}, Case{3, 0x01}}) {
        SCOPED_TRACE(c.mode);
        RawWire wire(c.mode);
        Bytes request{0x17};
        if (c.mode >= 2) {
            request.push_back(static_cast<std::uint8_t>(c.mode - 2));
        }
        Bytes answer = wire.ask(wire.frame(request));
        ASSERT_FALSE(answer.empty());
        EXPECT_EQ(answer.front(), c.start);
        EXPECT_EQ(answer.back(), 0x03);
    }
}

// --- round trips ------------------------------------------------------------------------------

Bytes joined(const std::vector<Bytes>& parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

class RfidLinkRoundTrip : public ::testing::TestWithParam<int> {};

TEST_P(RfidLinkRoundTrip, EveryCommandAgainstTheTagsOfTheField) {
    const int mode = GetParam();
    LinkRig rig(mode);
    for (const sim::SimTag& tag : sim::sampleTags()) {
        rig.model->field.place(tag);
    }
    ASSERT_EQ(rig.open(mode), 0);
    RfidLink& l = rig.link;
    sim::TagField& field = rig.model->field;
    const int P = kLinkPort;

    // Module.
    std::array<std::uint8_t, 8> info{};
    std::array<std::uint8_t, 4> serial{};
    EXPECT_EQ(l.linkModuleInfo(P, info.data(), serial.data()), 0);
    EXPECT_EQ(info, rig.model->moduleInfo);
    EXPECT_EQ(serial, rig.model->serialNumber);
    EXPECT_EQ(l.linkSetState(P, 8), 0);
    EXPECT_EQ(rig.model->stateValue, 8);

    // ISO 14443 A: request, Mifare with keys.
    EXPECT_EQ(l.linkSelectProtocol(P, 0x41), 0);
    EXPECT_EQ(rig.model->protocol, 0x41);
    Bytes uid(30, 0);
    std::uint16_t atqa = 0;
    std::uint8_t sak = 0xFF;
    EXPECT_EQ(l.linkRequestA(P, 1, uid, atqa, sak), 0);
    EXPECT_EQ(Bytes(uid.begin(), uid.begin() + 6), (Bytes{0x5A, 0x31, 0xC2, 0x07, 0x4D, 0x00}));
    EXPECT_EQ(atqa, 0x0004);
    EXPECT_EQ(sak, 0x08);

    sim::SimTag& mifare = *field.findKind(sim::TagKind::Mifare1K);
    const sim::MifareKey key = sim::defaultSampleKey();
    const sim::MifareKey wrong{1, 2, 3, 4, 5, 6};
    std::array<std::uint8_t, 16> block{};
    EXPECT_EQ(l.linkMifareRead(P, 0, 0, 0, 1, key, block), 0);
    EXPECT_EQ(Bytes(block.begin(), block.end()), mifare.blocks[1]);
    EXPECT_EQ(l.linkMifareRead(P, 1, 0, 0, 2, key, block), 0);
    EXPECT_EQ(Bytes(block.begin(), block.end()), mifare.blocks[2]);
    EXPECT_EQ(l.linkMifareRead(P, 0, 0, 0, 1, wrong, block), 239);
    EXPECT_EQ(l.linkMifareRead(P, 0, 1, 0, 1, key, block), 239);  // zero key
    EXPECT_EQ(l.linkMifareRead(P, 0, 0, 0, 64, key, block), 239);
    EXPECT_EQ(l.linkMifareRead(P, 0, 0, 0, 7, key, block), 0);  // a trailer: key A reads as 0
    EXPECT_EQ(Bytes(block.begin(), block.begin() + 6), Bytes(6, 0));

    std::array<std::uint8_t, 16> written{};
    for (std::size_t i = 0; i < written.size(); ++i) {
        written[i] = static_cast<std::uint8_t>(0xF0 - i);
    }
    EXPECT_EQ(l.linkMifareWrite(P, 1, 0, 0, 5, key, written), 0);
    EXPECT_EQ(mifare.blocks[5], Bytes(written.begin(), written.end()));
    EXPECT_EQ(l.linkMifareWrite(P, 0, 0, 0, 5, wrong, written), 239);

    const sim::MifareKey newA{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5};
    const sim::MifareKey newB{0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5};
    std::array<std::uint8_t, 16> trailer{};
    std::copy(newA.begin(), newA.end(), trailer.begin());
    trailer[6] = 0xFF;
    trailer[7] = 0x07;
    trailer[8] = 0x80;
    trailer[9] = 0x69;
    std::copy(newB.begin(), newB.end(), trailer.begin() + 10);
    EXPECT_EQ(l.linkMifareWriteKeys(P, 0, 0, 0, 2, wrong, trailer), 239);
    EXPECT_EQ(l.linkMifareWriteKeys(P, 0, 0, 0, 2, key, trailer), 0);
    EXPECT_EQ(mifare.blocks[11], Bytes(trailer.begin(), trailer.end()));
    EXPECT_EQ(l.linkMifareRead(P, 0, 0, 0, 8, key, block), 239);
    EXPECT_EQ(l.linkMifareRead(P, 0, 0, 0, 8, newA, block), 0);
    EXPECT_EQ(l.linkMifareRead(P, 1, 0, 0, 9, newB, block), 0);
    EXPECT_EQ(Bytes(block.begin(), block.end()), mifare.blocks[9]);

    // Ultralight: four pages from the one asked, wrapping; one page written.
    sim::SimTag& ul = *field.findKind(sim::TagKind::Ultralight);
    EXPECT_EQ(l.linkUltralightRead(P, 4, block), 0);
    EXPECT_EQ(Bytes(block.begin(), block.end()),
              joined({ul.blocks[4], ul.blocks[5], ul.blocks[6], ul.blocks[7]}));
    EXPECT_EQ(l.linkUltralightRead(P, 14, block), 0);
    EXPECT_EQ(Bytes(block.begin(), block.end()),
              joined({ul.blocks[14], ul.blocks[15], ul.blocks[0], ul.blocks[1]}));
    EXPECT_EQ(l.linkUltralightRead(P, 16, block), 239);
    const std::array<std::uint8_t, 4> page{0x10, 0x01, 0x02, 0x03};
    EXPECT_EQ(l.linkUltralightWrite(P, 6, page), 0);
    EXPECT_EQ(ul.blocks[6], Bytes(page.begin(), page.end()));

    // ISO 14443 B needs its protocol.
    std::array<std::uint8_t, 8> uid8{};
    EXPECT_EQ(l.linkSrix4kUid(P, uid8), 239);
    EXPECT_EQ(l.linkSelectProtocol(P, 0x73), 0);
    std::uint8_t chip = 0;
    EXPECT_EQ(l.linkSr176Select(P, chip), 0);
    EXPECT_EQ(chip, 0x88);
    Bytes srUid;
    for (std::uint8_t b : {3, 2, 1, 0}) {
        std::array<std::uint8_t, 2> two{};
        EXPECT_EQ(l.linkSr176Read(P, b, two), 0);
        srUid.insert(srUid.end(), two.begin(), two.end());
    }
    EXPECT_EQ(srUid, (Bytes{0xD0, 0x02, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}));
    sim::SimTag& sr = *field.findKind(sim::TagKind::Sr176);
    std::array<std::uint8_t, 2> two{};
    EXPECT_EQ(l.linkSr176Read(P, 5, two), 0);
    EXPECT_EQ(Bytes(two.begin(), two.end()), sr.blocks[5]);
    const std::array<std::uint8_t, 2> twoNew{0x10, 0x03};
    EXPECT_EQ(l.linkSr176Write(P, 5, twoNew), 0);
    EXPECT_EQ(sr.blocks[5], Bytes(twoNew.begin(), twoNew.end()));
    EXPECT_EQ(l.linkSr176Write(P, 1, twoNew), 239);  // a UID block
    EXPECT_EQ(l.linkSr176Read(P, 16, two), 239);

    sim::SimTag& srix = *field.findKind(sim::TagKind::Srix4k);
    std::array<std::uint8_t, 4> four{};
    EXPECT_EQ(l.linkSrix4kRead(P, 7, four), 0);
    EXPECT_EQ(Bytes(four.begin(), four.end()), srix.blocks[7]);
    const std::array<std::uint8_t, 4> fourNew{0x02, 0x10, 0xFE, 0x01};
    EXPECT_EQ(l.linkSrix4kWrite(P, 100, fourNew), 0);
    EXPECT_EQ(srix.blocks[100], Bytes(fourNew.begin(), fourNew.end()));
    EXPECT_EQ(l.linkSrix4kRead(P, 128, four), 239);
    EXPECT_EQ(l.linkSrix4kUid(P, uid8), 0);
    EXPECT_EQ(Bytes(uid8.begin(), uid8.end()), srix.uid);

    // ISO 15693: inventory (the UID least significant byte first), blocks, the option flag.
    std::uint8_t dsfid = 0xFF;
    EXPECT_EQ(l.linkIso15693Inventory(P, 0x26, 0, 0, {}, dsfid, uid8), 239);  // protocol B
    EXPECT_EQ(l.linkSelectProtocol(P, 0x31), 0);
    EXPECT_EQ(l.linkIso15693Inventory(P, 0x26, 0, 0, {}, dsfid, uid8), 0);
    EXPECT_EQ(dsfid, 0x00);
    EXPECT_EQ(Bytes(uid8.begin(), uid8.end()),
              (Bytes{0x78, 0x56, 0x34, 0x12, 0x50, 0x01, 0x04, 0xE0}));
    sim::SimTag* vicinity = nullptr;
    sim::SimTag* optionTag = nullptr;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field.at(i).kind == sim::TagKind::Iso15693) {
            (field.at(i).needsOptionFlag ? optionTag : vicinity) = &field.at(i);
        }
    }
    ASSERT_NE(vicinity, nullptr);
    ASSERT_NE(optionTag, nullptr);
    std::array<std::uint8_t, 12> blocks{};
    EXPECT_EQ(l.linkIso15693Read(P, 0x22, uid8, 0, 3, blocks), 0);
    EXPECT_EQ(Bytes(blocks.begin(), blocks.end()),
              joined({vicinity->blocks[0], vicinity->blocks[1], vicinity->blocks[2]}));
    EXPECT_EQ(l.linkIso15693Write(P, 0x22, uid8, 2, fourNew), 0);
    EXPECT_EQ(vicinity->blocks[2], Bytes(fourNew.begin(), fourNew.end()));

    // The other tag, picked by the mask; its maker needs the option flag to write.
    std::array<std::uint8_t, 8> other{};
    const std::array<std::uint8_t, 1> mask{0x0D};
    EXPECT_EQ(l.linkIso15693Inventory(P, 0x26, 0, 1, mask, dsfid, other), 0);
    EXPECT_EQ(Bytes(other.begin(), other.end()),
              (Bytes{0x0D, 0x0C, 0x0B, 0x0A, 0x00, 0x00, 0x07, 0xE0}));
    EXPECT_EQ(l.linkIso15693Write(P, 0x22, other, 3, fourNew), 239);
    EXPECT_EQ(l.linkIso15693Write(P, 0x62, other, 3, fourNew), 0);
    EXPECT_EQ(optionTag->blocks[3], Bytes(fourNew.begin(), fourNew.end()));
    std::array<std::uint8_t, 4> back{};
    EXPECT_EQ(l.linkIso15693Read(P, 0x22, other, 3, 1, back), 0);
    EXPECT_EQ(back, fourNew);
    const std::array<std::uint8_t, 1> noMask{0x99};
    EXPECT_EQ(l.linkIso15693Inventory(P, 0x26, 0, 1, noMask, dsfid, other), 239);
    const std::array<std::uint8_t, 8> absent{1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(l.linkIso15693Read(P, 0x22, absent, 0, 1, back), 239);

    // An empty field: every tag command fails.
    field.clear();
    EXPECT_EQ(l.linkIso15693Inventory(P, 0x26, 0, 0, {}, dsfid, uid8), 239);
    EXPECT_EQ(l.linkSelectProtocol(P, 0x41), 0);
    EXPECT_EQ(l.linkRequestA(P, 1, uid, atqa, sak), 239);
    EXPECT_EQ(l.linkMifareRead(P, 0, 0, 0, 1, key, block), 239);
    EXPECT_EQ(l.linkUltralightRead(P, 4, block), 239);
    EXPECT_EQ(l.linkSelectProtocol(P, 0x73), 0);
    EXPECT_EQ(l.linkSr176Select(P, chip), 239);
    EXPECT_EQ(l.linkSrix4kUid(P, uid8), 239);
    EXPECT_EQ(l.linkSelectProtocol(P, 0x42), 239);

    // Not one frame the module could not take, not one code out of step.
    EXPECT_EQ(rig.model->linkCounters.badFrames, 0u);
    EXPECT_EQ(rig.model->linkCounters.codeMismatches, 0u);
    EXPECT_EQ(rig.model->linkCounters.refusedOutOfStep, 0u);
    EXPECT_EQ(rig.model->linkCounters.handshakes, link::hasCodeState(mode) ? 1u : 0u);

    EXPECT_EQ(l.linkClose(P), 0);
    EXPECT_EQ(rig.model->controlValue, 17);
}

INSTANTIATE_TEST_SUITE_P(AllModes, RfidLinkRoundTrip, ::testing::Values(0, 1, 2, 3, 4),
                         [](const ::testing::TestParamInfo<int>& param) {
                             return "Mode" + std::to_string(param.param);
                         });

}  // namespace
}  // namespace vandora::testing
