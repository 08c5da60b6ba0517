#include "config/engines/PacketCommands.h"

#include <gtest/gtest.h>

#include "config/EngineSettings.h"
#include "engines/EngineModels.h"
#include "support/SimRig.h"

namespace vandora::testing {
namespace {

using sim::withChecksum;
using Bytes = std::vector<std::uint8_t>;

const Bytes kOk = withChecksum({0x04, 0xD0, 0x00, 0x00});

// A parameter send as the engine receives it.
Bytes paramSend(const Bytes& pairs) {
    Bytes p = {static_cast<std::uint8_t>(5 + pairs.size()), 0xC6, 0x04, 0x08, 0xFF};
    p.insert(p.end(), pairs.begin(), pairs.end());
    return withChecksum(p);
}

class PacketCommandTest : public ::testing::Test {
  protected:
    ReaderChannel& engine(EngineType type) {
        model_ = rig_.script(1);
        rig_.ports.faultsFor(1).noModemLines = true;
        model_->onAny(kOk);
        return rig_.openChannel(1, type);
    }
    // Pairs of every send so far; empty string for each command that sent nothing.
    std::vector<Bytes> sends() const { return model_->frames; }

    SimRig rig_;
    ParamCache cache_;
    std::shared_ptr<sim::ScriptedModel> model_;
};

TEST_F(PacketCommandTest, CacheDecidesWhatIsSentAndFlagsGoOutAsOne) {
    ReaderChannel& ch = engine(EngineType::Imager2D);
    cache_.slot(PacketCommand::Code93, 0) = 1;
    std::int32_t enable = 5;
    std::int32_t* args[] = {&enable};
    EXPECT_EQ(packetCommand(*rig_.manager, ch, cache_, PacketCommand::Code93, 'w', args), 1);
    enable = 1;
    EXPECT_EQ(packetCommand(*rig_.manager, ch, cache_, PacketCommand::Code93, 'w', args), 1);
    enable = 1;
    EXPECT_EQ(packetCommand(*rig_.manager, ch, cache_, PacketCommand::Code93, 'w', args), 1);
    EXPECT_EQ(sends(), (std::vector<Bytes>{paramSend({0x09, 0x01}), paramSend({0x09, 0x01})}));
}

TEST_F(PacketCommandTest, FirstWriteSendsEveryPresentArgument) {
    ReaderChannel& ch = engine(EngineType::Imager2D4507);
    std::int32_t enable = 1, l1 = 4, l2 = 55;
    std::int32_t* args[] = {&enable, &l1, &l2};
    EXPECT_EQ(packetCommand(*rig_.manager, ch, cache_, PacketCommand::Discrete25, 'w', args), 1);
    EXPECT_EQ(sends(), std::vector<Bytes>{paramSend({0x05, 1, 0x14, 4, 0x15, 55})});
}

TEST_F(PacketCommandTest, ArgumentsOfOtherEngineKindsAreLeftOut) {
    ReaderChannel& ch = engine(EngineType::LongRange1D);
    std::vector<std::int32_t> values(16, 0);
    std::vector<std::int32_t*> args(16, nullptr);
    values[14] = 1;  // linearDecode: imagers only
    values[15] = 3;  // upcEanSecurityLevel: lasers only
    args[14] = &values[14];
    args[15] = &values[15];
    EXPECT_EQ(packetCommand(*rig_.manager, ch, cache_, PacketCommand::Upc, 'w', args), 1);
    EXPECT_EQ(sends(), std::vector<Bytes>{paramSend({0x4D, 3})});
}

TEST_F(PacketCommandTest, GapSizeAndExposureForms) {
    struct Case {
        std::int32_t type;
        PacketCommand command;
        int arg;
        std::int32_t value;
        Bytes pairs;
        std::int32_t writtenBack;
    };
    const Case cases[] = {
        {3, PacketCommand::SecurityLevel, 2, 8, {0xF0, 0x7D, 6}, 8},
        {3, PacketCommand::SecurityLevel, 2, 10, {0xF0, 0x7D, 10}, 10},
        {3, PacketCommand::ImagerOptions, 8, 12, {0xF4, 0xF0, 0x38, 0x00, 0x9D}, 10},
        {3, PacketCommand::ImagerOptions, 8, 0, {0xF4, 0xF0, 0x38, 0x00, 0x9D}, 10},
        {3, PacketCommand::ImagerOptions, 8, 47, {0xF4, 0xF0, 0x38, 0x01, 0xD8}, 30},
        {3, PacketCommand::ImagerOptions, 8, 5, {0xF4, 0xF0, 0x38, 0x00, 0x4F}, 5},
        {8, PacketCommand::ImagerOptions, 8, 0x0123, {0xF4, 0xF1, 0x37, 0x01, 0x23}, 0x0123},
        {3, PacketCommand::ImagerOptions, 7, 100, {0xF4, 0xF1, 0x37, 0x00, 100}, 100},
        {8, PacketCommand::ImagerOptions, 14, 40, {0xF1, 0x31, 40}, 40},
        {3, PacketCommand::ImagerOptions, 14, 40, {0xF0, 0x33, 40}, 40},
    };
    for (const Case& c : cases) {
        SimRig rig;
        auto model = rig.script(1);
        model->onAny(kOk);
        ReaderChannel& ch = rig.openChannel(1, EngineType(c.type));
        ParamCache cache;
        std::vector<std::int32_t*> args(kPacketMaxArgs, nullptr);
        std::int32_t value = c.value;
        args[static_cast<std::size_t>(c.arg)] = &value;
        EXPECT_EQ(packetCommand(*rig.manager, ch, cache, c.command, 'w', args), 1);
        EXPECT_EQ(model->frames, std::vector<Bytes>{paramSend(c.pairs)}) << c.value;
        EXPECT_EQ(value, c.writtenBack);
    }
}

TEST_F(PacketCommandTest, ExposureIsSentEvenWhenUnchanged) {
    ReaderChannel& ch = engine(EngineType::Imager2D);
    std::vector<std::int32_t*> args(kPacketMaxArgs, nullptr);
    std::int32_t exposure = 10;
    args[8] = &exposure;
    packetCommand(*rig_.manager, ch, cache_, PacketCommand::ImagerOptions, 'w', args);
    packetCommand(*rig_.manager, ch, cache_, PacketCommand::ImagerOptions, 'w', args);
    EXPECT_EQ(sends().size(), 2u);
}

TEST_F(PacketCommandTest, PostalPairsGoInTheEnginesOrder) {
    ReaderChannel& ch = engine(EngineType::Imager2D);
    std::vector<std::int32_t> values(8, 1);
    std::vector<std::int32_t*> args;
    for (auto& v : values) {
        args.push_back(&v);
    }
    EXPECT_EQ(packetCommand(*rig_.manager, ch, cache_, PacketCommand::Postal, 'w', args), 1);
    EXPECT_EQ(sends(),
              std::vector<Bytes>{paramSend({0x59, 1, 0x5A, 1, 0x5B, 1, 0x60, 1, 0x5F, 1, 0xF0, 0x22,
                                            1, 0xF0, 0x23, 1, 0xF0, 0x46, 1})});
}

TEST_F(PacketCommandTest, AcceptedScanModeAndAimTimeStayInTheSystem) {
    ReaderChannel& ch = engine(EngineType::Laser1D955);
    std::vector<std::int32_t*> args(7, nullptr);
    std::int32_t aim = 7, mode = 4;
    args[5] = &aim;
    args[6] = &mode;
    EXPECT_EQ(packetCommand(*rig_.manager, ch, cache_, PacketCommand::Reader1D, 'w', args), 1);
    EXPECT_EQ(ch.aimTime, 7u);
    EXPECT_EQ(rig_.manager->scanMode, 4);
    EXPECT_EQ(sends(), std::vector<Bytes>{paramSend({0x8A, 4})});
}

TEST_F(PacketCommandTest, RefusedWriteLeavesTheCacheSoTheNextWriteResends) {
    model_ = rig_.script(1);
    rig_.ports.faultsFor(1).noModemLines = true;
    model_->onAny(withChecksum({0x05, 0xD1, 0x00, 0x00, 0x01}));
    ReaderChannel& ch = rig_.openChannel(1, EngineType::Imager2D);
    std::int32_t enable = 1;
    std::int32_t* args[] = {&enable};
    EXPECT_EQ(packetCommand(*rig_.manager, ch, cache_, PacketCommand::Code93, 'w', args), 0);
    EXPECT_EQ(cache_.slot(PacketCommand::Code93, 0), -1);
    EXPECT_EQ(sends().size(), 5u) << "five attempts";
}

TEST_F(PacketCommandTest, ReadWalksThePairsOfTheReply) {
    model_ = rig_.script(1);
    rig_.ports.faultsFor(1).noModemLines = true;
    // Request for Code 93: parameters 09 1A 1B.
    model_->on(withChecksum({0x07, 0xC7, 0x04, 0x00, 0x09, 0x1A, 0x1B}),
               withChecksum({0x0B, 0xC6, 0x00, 0x00, 0xFF, 0x09, 0x01, 0xF0, 0x1B, 0x30, 0x77}));
    ReaderChannel& ch = rig_.openChannel(1, EngineType::Imager2D);
    std::int32_t enable = -5, l1 = -5, l2 = -5;
    std::int32_t* args[] = {&enable, &l1, &l2};
    EXPECT_EQ(packetCommand(*rig_.manager, ch, cache_, PacketCommand::Code93, 'r', args), 1);
    EXPECT_EQ(enable, 1);
    EXPECT_EQ(l1, -5) << "not in the reply: left as it was";
    EXPECT_EQ(l2, 0x30) << "a prefix byte is passed alone";
    EXPECT_EQ(cache_.slot(PacketCommand::Code93, 2), 0x30);
}

// On type 8 two parameters of the imager options end in the same byte: JPEG quality F0 31 and
// JPEG size F1 31. Each must read its own value back from the engine.
TEST(PacketCommandRead, ParametersEndingInTheSameByteKeepTheirOwnValues) {
    SimRig rig;
    rig.ports.faultsFor(1).noModemLines = true;
    auto model = sim::makeEngineModel(toNumber(EngineType::Imager2D4507));
    rig.ports.attach(1, model);
    EngineSettings engine;
    ReaderManager manager(rig.platform, &engine);
    ASSERT_EQ(manager.openReader(1, EngineType::Imager2D4507), 1);
    auto& packet = static_cast<sim::PacketEngineModel&>(*model);
    packet.params[0xF031] = 65;
    packet.params[0xF131] = 40;

    std::vector<std::int32_t> values(packetArguments(PacketCommand::ImagerOptions).size(), -1);
    std::vector<std::int32_t*> args;
    for (std::int32_t& value : values) {
        args.push_back(&value);
    }
    ParamCache cache;
    ASSERT_EQ(packetCommand(manager, manager.barcode, cache, PacketCommand::ImagerOptions, 'r',
                            std::span<std::int32_t* const>(args)),
              1);
    auto value = [&](const char* name) {
        return values[packetArgumentIndex(PacketCommand::ImagerOptions, name)];
    };
    EXPECT_EQ(value("qualityValue"), 65);
    EXPECT_EQ(value("jpgSizeValue"), 40);
}

TEST_F(PacketCommandTest, ReadOfTheWrongShapeFailsAndTouchesNothing) {
    model_ = rig_.script(1);
    rig_.ports.faultsFor(1).noModemLines = true;
    model_->onAny(withChecksum({0x07, 0xC6, 0x04, 0x00, 0xFF, 0x09, 0x01}));
    ReaderChannel& ch = rig_.openChannel(1, EngineType::Imager2D);
    std::int32_t enable = -5;
    std::int32_t* args[] = {&enable};
    EXPECT_EQ(packetCommand(*rig_.manager, ch, cache_, PacketCommand::Code93, 'r', args), 0);
    EXPECT_EQ(enable, -5);
    EXPECT_EQ(cache_.slot(PacketCommand::Code93, 0), -1);
}

TEST_F(PacketCommandTest, CommandsForOtherEnginesFail) {
    ReaderChannel& ch = engine(EngineType::LongRange1D);
    std::int32_t v = 1;
    std::int32_t* args[] = {&v};
    EXPECT_EQ(packetCommand(*rig_.manager, ch, cache_, PacketCommand::Composite, 'w', args), 0);
    EXPECT_EQ(packetCommand(*rig_.manager, ch, cache_, PacketCommand::Code93, 'q', args), 0);
    EXPECT_TRUE(sends().empty());
}

TEST(ParamCache, StartsAtMinusOne) {
    ParamCache cache;
    EXPECT_EQ(cache.slot(PacketCommand::ImagerOptions, kPacketMaxArgs - 1), -1);
    EXPECT_EQ(cache.slot(PacketCommand::Code39, 0), -1);
}

}  // namespace
}  // namespace vandora::testing
