#include "config/engines/CcdCommands.h"

#include <gtest/gtest.h>

#include "support/SimRig.h"

namespace vandora::testing {
namespace {

using sim::bytesOf;
using Bytes = std::vector<std::uint8_t>;

class CcdCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        model_ = rig_.script(1);
        ch_ = &rig_.openChannel(1, EngineType::CcdLaser);
        ch_->parameterImage = ByteString::fromBytes(std::string(30, '\0'));
    }
    void answer(const char* text) { model_->onAny(bytesOf(text)); }
    std::vector<std::string> saves() const {
        std::vector<std::string> out;
        for (const Bytes& f : model_->frames) {
            // 30 x FF, ESC, text, CR
            std::string text(f.begin() + 31, f.end() - 1);
            if (text.rfind("SAVE", 0) == 0) {
                out.push_back(text);
            }
        }
        return out;
    }
    std::uint8_t byte(int i) const {
        return ch_->parameterImage.byteAt(static_cast<std::size_t>(i));
    }
    void setByte(int i, std::uint8_t v) {
        ch_->parameterImage.setAt(static_cast<std::size_t>(i), v);
    }

    SimRig rig_;
    std::shared_ptr<sim::ScriptedModel> model_;
    ReaderChannel* ch_ = nullptr;
};

TEST_F(CcdCommandTest, UnchangedBlockSendsNothing) {
    answer("OK\r");
    setByte(0, 0x01);
    std::int32_t enable = 1;
    std::int32_t* args[] = {&enable};
    EXPECT_EQ(ccdCommand(*rig_.manager, *ch_, CcdCommand::Code93, 'w', args), 1);
    EXPECT_TRUE(model_->frames.empty());
}

TEST_F(CcdCommandTest, ChangedBlockIsSentWholeAsHex) {
    answer("OK\r");
    std::int32_t enable = 1;
    std::int32_t* args[] = {&enable};
    EXPECT_EQ(ccdCommand(*rig_.manager, *ch_, CcdCommand::Code39, 'w', args), 1);
    ASSERT_EQ(saves().size(), 1u);
    std::string expected = "SAVE80" + std::string(58, '0');
    EXPECT_EQ(saves()[0], expected);
    EXPECT_EQ(saves()[0].size(), 64u);
    EXPECT_EQ(byte(0), 0x80);
}

TEST_F(CcdCommandTest, LengthsAreClampedAndWrittenBack) {
    answer("OK\r");
    setByte(14, 0x80);
    std::int32_t length1 = 200;
    std::int32_t length2 = 300;
    std::int32_t* args[] = {nullptr, nullptr, nullptr, nullptr, nullptr, &length1, &length2};
    EXPECT_EQ(ccdCommand(*rig_.manager, *ch_, CcdCommand::Interleaved25, 'w', args), 1);
    EXPECT_EQ(length1, 127);
    EXPECT_EQ(length2, 255);
    EXPECT_EQ(byte(14), 0xFF) << "bit 7 (max/min format) left alone";
    EXPECT_EQ(byte(15), 0xFF);
}

TEST_F(CcdCommandTest, RefusedSaveRestoresTheBlock) {
    answer("NG\r");
    std::int32_t enable = 1;
    std::int32_t* args[] = {&enable};
    EXPECT_EQ(ccdCommand(*rig_.manager, *ch_, CcdCommand::Code39, 'w', args), 0);
    EXPECT_EQ(byte(0), 0x00);
    EXPECT_EQ(ch_->channelLock.count(), 1u);
}

TEST_F(CcdCommandTest, Code128FamilyKeepsTheSharedBitWhileEitherIsOn) {
    answer("OK\r");
    std::int32_t on = 1;
    std::int32_t off = 0;
    std::int32_t* onArgs[] = {&on};
    std::int32_t* offArgs[] = {&off};
    ASSERT_EQ(ccdCommand(*rig_.manager, *ch_, CcdCommand::Code128, 'w', onArgs), 1);
    ASSERT_EQ(ccdCommand(*rig_.manager, *ch_, CcdCommand::Ean128, 'w', onArgs), 1);
    EXPECT_EQ(byte(22) & 0xC0, 0xC0);
    EXPECT_EQ(byte(1) & 0x80, 0x80);
    ASSERT_EQ(ccdCommand(*rig_.manager, *ch_, CcdCommand::Ean128, 'w', offArgs), 1);
    EXPECT_EQ(byte(1) & 0x80, 0x80) << "Code 128 is still on";
    ASSERT_EQ(ccdCommand(*rig_.manager, *ch_, CcdCommand::Code128, 'w', offArgs), 1);
    EXPECT_EQ(byte(1) & 0x80, 0x00);
    // The family always sends, even without a change.
    std::size_t before = saves().size();
    ASSERT_EQ(ccdCommand(*rig_.manager, *ch_, CcdCommand::Code128, 'w', offArgs), 1);
    EXPECT_EQ(saves().size(), before + 1);
}

TEST_F(CcdCommandTest, RefusedFamilyWritesCode128RestoresEan128Keeps) {
    answer("NG\r");
    std::int32_t on = 1;
    std::int32_t* args[] = {&on};
    EXPECT_EQ(ccdCommand(*rig_.manager, *ch_, CcdCommand::Code128, 'w', args), 0);
    EXPECT_EQ(byte(22), 0x00);
    EXPECT_EQ(byte(1), 0x00);
    EXPECT_EQ(ccdCommand(*rig_.manager, *ch_, CcdCommand::Ean128, 'w', args), 0);
    EXPECT_EQ(byte(22), 0x40);
    EXPECT_EQ(byte(1), 0x80);
}

TEST_F(CcdCommandTest, HostCheckDigitFlags) {
    answer("OK\r");
    std::int32_t zero = 0;
    std::int32_t one = 1;
    std::int32_t* clearArgs[] = {nullptr, nullptr, nullptr, nullptr, nullptr, &zero, &zero, &zero};
    setByte(10, 0x14);
    setByte(9, 0x01);
    rig_.manager->ccdHostOptions().transmitEan13CheckDigit = 1;
    rig_.manager->ccdHostOptions().convertToEAN13 = 1;
    rig_.manager->ccdHostOptions().transmitUpcACheckDigit = 1;
    EXPECT_EQ(ccdCommand(*rig_.manager, *ch_, CcdCommand::Ean13UpcA, 'w', clearArgs), 1);
    EXPECT_EQ(rig_.manager->ccdHostOptions().transmitEan13CheckDigit, 0);
    EXPECT_EQ(rig_.manager->ccdHostOptions().convertToEAN13, 0);
    EXPECT_EQ(rig_.manager->ccdHostOptions().transmitUpcACheckDigit, 0);
    EXPECT_EQ(byte(10), 0x14) << "the engine keeps sending the check digits";
    EXPECT_TRUE(saves().empty());
    setByte(10, 0x00);
    std::int32_t* setArgs[] = {nullptr, nullptr, nullptr, nullptr, nullptr, &one};
    EXPECT_EQ(ccdCommand(*rig_.manager, *ch_, CcdCommand::Ean13UpcA, 'w', setArgs), 1);
    EXPECT_EQ(byte(10), 0x04);
    EXPECT_EQ(rig_.manager->ccdHostOptions().transmitEan13CheckDigit, 1);
    // Reading gives the host flags, not the bits.
    std::int32_t readEan = -1;
    std::int32_t readUpc = -1;
    std::int32_t* readArgs[] = {nullptr, nullptr,  nullptr, nullptr,
                                nullptr, &readEan, nullptr, &readUpc};
    EXPECT_EQ(ccdCommand(*rig_.manager, *ch_, CcdCommand::Ean13UpcA, 'r', readArgs), 1);
    EXPECT_EQ(readEan, 1);
    EXPECT_EQ(readUpc, 0);
}

TEST_F(CcdCommandTest, ReadFillsPresentArgumentsOnly) {
    setByte(22, 0x60);  // EAN-128 on, code identifiers not wanted
    rig_.manager->ccdHostOptions().ean128FieldSeparator = 35;
    std::int32_t enable = -1;
    std::int32_t wantCodeId = -1;
    std::int32_t separator = -1;
    std::int32_t* args[] = {&enable, &wantCodeId, &separator};
    EXPECT_EQ(ccdCommand(*rig_.manager, *ch_, CcdCommand::Ean128, 'r', args), 1);
    EXPECT_EQ(enable, 1);
    EXPECT_EQ(wantCodeId, 0);
    EXPECT_EQ(separator, 35);
    EXPECT_TRUE(model_->frames.empty());
}

TEST_F(CcdCommandTest, ScanModeThreeRelinksBeforeSending) {
    answer("OK\r");
    rig_.manager->scanMode = 3;
    std::int32_t mode = 6;
    std::int32_t* args[] = {&mode};
    std::uint64_t start = rig_.clock.nowMs();
    EXPECT_EQ(ccdCommand(*rig_.manager, *ch_, CcdCommand::Reader, 'w', args), 1);
    EXPECT_GE(rig_.elapsedMs(start), 200u);
    EXPECT_EQ(rig_.port(1).settings().baud, 115200u);
    EXPECT_EQ(rig_.manager->scanMode, 6);
    EXPECT_EQ(byte(20), 0x60);
}

TEST_F(CcdCommandTest, RefusesWrongEngineShortBlockAndOtherDirections) {
    std::int32_t v = 1;
    std::int32_t* args[] = {&v};
    EXPECT_EQ(ccdCommand(*rig_.manager, *ch_, CcdCommand::Code93, 'x', args), 0);
    ch_->parameterImage = ByteString::fromBytes(std::string(29, '\0'));
    EXPECT_EQ(ccdCommand(*rig_.manager, *ch_, CcdCommand::Code93, 'r', args), 0);
    ch_->parameterImage = ByteString::fromBytes(std::string(30, '\0'));
    ch_->engineType = EngineType::Imager2D;
    EXPECT_EQ(ccdCommand(*rig_.manager, *ch_, CcdCommand::Code93, 'r', args), 0);
}

TEST(CcdArgumentNames, FollowTheSectionKeys) {
    auto names = ccdArgumentNames(CcdCommand::UpcE);
    ASSERT_EQ(names.size(), 8u);
    EXPECT_EQ(names[7], "upcE1TripleCheck");
    EXPECT_EQ(ccdArgumentIndex(CcdCommand::Ean128, "ean128FieldSeparator"), 2);
    EXPECT_EQ(ccdArgumentIndex(CcdCommand::Ean128, "nope"), -1);
}

TEST(CcdQuery, FillsTheBlockFromHexText) {
    SimRig rig;
    auto model = rig.script(1);
    Bytes frame(30, 0xFF);
    frame.push_back(0x1B);
    for (char c : std::string("SET")) {
        frame.push_back(static_cast<std::uint8_t>(c));
    }
    frame.push_back(0x0D);
    model->on(frame, bytesOf(std::string(58, '0') + "A5\r"));
    ReaderChannel& ch = rig.openChannel(1, EngineType::CcdLaser);
    ASSERT_EQ(ccdQueryBlock(ch), 1);
    ASSERT_EQ(ch.parameterImage.length(), 30u);
    EXPECT_EQ(ch.parameterImage.byteAt(29), 0xA5);
}

}  // namespace
}  // namespace vandora::testing
