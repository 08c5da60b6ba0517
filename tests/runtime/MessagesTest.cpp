#include "runtime/Messages.h"

#include <gtest/gtest.h>

#include <string>

namespace vandora {
namespace {

TEST(MessageNames, RegisteredNamesAndTheReinitNumber) {
    EXPECT_EQ(messageByName("WM_USER1DOWN"), Msg::User1Down);
    EXPECT_EQ(messageByName("WM_IMAGECAPTUREOFF"), Msg::ImageCaptureOff);
    EXPECT_EQ(messageByName("0x8205"), Msg::Reinit);
    EXPECT_EQ(messageByName("0X8205"), Msg::Reinit);
    EXPECT_EQ(messageByName("0x08205"), Msg::Reinit);
    EXPECT_EQ(messageByName("WM_DECODE"), std::nullopt);
    EXPECT_EQ(messageByName("wm_user1down"), std::nullopt);
    EXPECT_EQ(messageByName("0x8206"), std::nullopt);
    EXPECT_EQ(messageByName("0x"), std::nullopt);
    EXPECT_EQ(messageByName("0x8205 "), std::nullopt);
}

// Only hexadecimal digits after the prefix: a blank, a sign or a second prefix in front of the
// digits made another text stand for the reinit message (a minus even wrapping a huge number
// round to it).
TEST(MessageNames, NumberIsHexadecimalDigitsOnly) {
    for (const char* name : {"0x\t8205", "0x 8205", "0x+8205", "0x0x8205", "0x0X8205",
                             "0x-ffffffffffff7dfb", "0x-FFFF7DFB"}) {
        EXPECT_EQ(messageByName(name), std::nullopt) << name;
    }
    EXPECT_EQ(messageByName("0x100008205"), std::nullopt);
}

TEST(MessageNames, PostedMessageCarriesTheNumbersAsTheyCame) {
    std::optional<Message> posted = postedMessage("WM_TRIGGERON", 0xFFFFFFFFu, -5);
    ASSERT_TRUE(posted.has_value());
    EXPECT_EQ(posted->id, Msg::TriggerOn);
    EXPECT_EQ(posted->wParam, 0xFFFFFFFFu);
    EXPECT_EQ(posted->lParam, -5);
    EXPECT_FALSE(postedMessage("WM_NOTHING", 1, 2).has_value());
    EXPECT_FALSE(postedMessage(std::string("0x\t8205"), 0, 0).has_value());
    EXPECT_EQ(shownMessage().id, Msg::Show);
}

}  // namespace
}  // namespace vandora
