// The output sinks of the service: each passes a decode on only when its own switch is on, and
// all of them show or type the one text converted for the decode.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/DecodeFormat.h"
#include "runtime/DecodeSink.h"
#include "runtime/sinks/PublishSink.h"
#include "runtime/sinks/StatusSink.h"
#include "runtime/sinks/TypingSink.h"

namespace vandora {
namespace {

// Every call of every output end, in order, in one list.
class Ends final : public KeyboardSink,
                   public DecodeChannel,
                   public DecodeSignals,
                   public MainView {
  public:
    void postCharacters(const std::vector<std::uint32_t>& characters) override {
        std::string line = "post";
        for (std::uint32_t c : characters) {
            line += " " + std::to_string(c);
        }
        calls.push_back(line);
    }
    void keyEvent(std::uint32_t vk, std::uint32_t, std::uint32_t flags) override {
        calls.push_back("key " + std::to_string(vk) + " " + std::to_string(flags));
    }
    void discardUnread() override { calls.push_back("discard"); }
    bool write(const std::uint8_t* data, std::size_t size) override {
        record.assign(data, data + size);
        calls.push_back("write");
        return true;
    }
    void setEvent() override { calls.push_back("event"); }
    int emitCopyData(const std::string&, const std::uint8_t*, std::size_t) override {
        calls.push_back("copy");
        return 0;
    }
    int emitMessage(const std::string&, std::uint32_t, std::int64_t) override {
        calls.push_back("message");
        return 0;
    }
    void flush() override { calls.push_back("flush"); }
    void setStatusText(const ByteString& text) override { status.push_back(text); }
    int messageBox(const std::string&, const std::string&) override { return kOk; }

    std::vector<std::string> calls;
    std::vector<std::uint8_t> record;
    std::vector<ByteString> status;
};

Decode barcode(EngineType engine, std::int32_t codeTypeId, const char* name, ByteString data) {
    Decode decode;
    decode.engineType = engine;
    decode.codeTypeId = codeTypeId;
    decode.codeTypeName = ByteString(name);
    decode.data = std::move(data);
    return decode;
}

struct SwitchCase {
    const char* name;
    std::int32_t keyboardEmu;
    std::int32_t windowEvent;
    std::int32_t windowMessage;
    bool windowActive;
    bool haveBus;
    std::vector<std::string> calls;
};

class SinkSwitches : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(SinkSwitches, EachSinkChecksItsOwnSwitch) {
    const SwitchCase& c = GetParam();
    Ends ends;
    VirtualClock clock;
    TypingSink typing(ends, clock);
    PublishSink publish(ends, c.haveBus ? &ends : nullptr);
    AppSettings settings;
    settings.keyboardEmu = c.keyboardEmu;
    settings.windowEvent = c.windowEvent;
    settings.windowMessage = c.windowMessage;
    settings.autoEnter = 0;
    Delivery delivery =
        deliveryOf(barcode(EngineType::CcdLaser, 1, "Code 39", ByteString("AB")), c.windowActive);
    typing.deliver(delivery, settings);
    publish.deliver(delivery, settings);
    EXPECT_EQ(ends.calls, c.calls);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SinkSwitches,
    ::testing::Values(SwitchCase{"AllOff", 0, 0, 0, false, true, {}},
                      SwitchCase{"Typing", 1, 0, 0, false, true, {"post 65 66"}},
                      SwitchCase{"TypingVirtualKeys",
                                 2,
                                 0,
                                 0,
                                 false,
                                 true,
                                 {"key 16 4", "key 65 0", "key 65 2", "key 16 6", "key 16 4",
                                  "key 66 0", "key 66 2", "key 16 6"}},
                      SwitchCase{"NotIntoTheOwnWindow", 1, 0, 0, true, true, {}},
                      SwitchCase{"EventOnly", 0, 1, 0, false, true, {"discard", "write", "event"}},
                      SwitchCase{"BroadcastsOnly",
                                 0,
                                 0,
                                 1,
                                 false,
                                 true,
                                 {"discard", "write", "copy", "message", "flush"}},
                      SwitchCase{
                          "BroadcastsWithoutBus", 0, 0, 1, false, false, {"discard", "write"}},
                      SwitchCase{"EverythingOn",
                                 1,
                                 1,
                                 1,
                                 true,
                                 true,
                                 {"discard", "write", "event", "copy", "message", "flush"}}),
    [](const auto& test) { return std::string(test.param.name); });

// A QR code of a 2D imager in the terminal's code page: the status text and the keystrokes show
// the converted character, the record keeps the engine's byte.
TEST(DecodeSinks, ShowAndTypeTheConvertedTextAndPublishTheEngineBytes) {
    unsetenv("VANDORA_CODEPAGE");
    Ends ends;
    VirtualClock clock;
    StatusSink status(&ends);
    TypingSink typing(ends, clock);
    PublishSink publish(ends, nullptr);
    AppSettings settings;
    settings.keyboardEmu = 1;
    settings.autoEnter = 0;
    settings.windowEvent = 1;
    ByteString euro = ByteString::fromBytes(std::string_view("\x80", 1));
    Delivery delivery = deliveryOf(barcode(EngineType::Imager2D, 28, "QR Code", euro), false);
    EXPECT_EQ(delivery.text.length(), 1u);
    EXPECT_EQ(delivery.text.at(0), u'\u20AC');
    for (DecodeSink* sink : std::vector<DecodeSink*>{&status, &typing, &publish}) {
        sink->deliver(delivery, settings);
    }
    ASSERT_EQ(ends.status.size(), 1u);
    EXPECT_EQ(std::u16string(ends.status[0].view()), u"type : QR Code\r\ncode : \u20AC");
    EXPECT_EQ(ends.calls, (std::vector<std::string>{"post 8364", "discard", "write", "event"}));
    ASSERT_EQ(ends.record.size(), kDecodeRecordSize);
    EXPECT_EQ(ends.record[kRecordDataOffset], 0x80);
}

TEST(DecodeSinks, AnRfidDecodeShowsItsUidUnconverted) {
    Decode tag;
    tag.kind = DecodeKind::Rfid;
    tag.codeTypeId = 2;
    tag.codeTypeName = ByteString("Mifare");
    tag.data = ByteString("04A1");
    tag.userData = ByteString::fromBytes(std::string_view("\x01\xAB", 2));
    Delivery delivery = deliveryOf(tag, false);
    EXPECT_TRUE(delivery.text == tag.data);
    Ends ends;
    StatusSink status(&ends);
    AppSettings settings;
    settings.displayUserDataByHex = 1;
    status.deliver(delivery, settings);
    ASSERT_EQ(ends.status.size(), 1u);
    EXPECT_EQ(ends.status[0].narrow(), "type : Mifare\r\nuid : 04A1\r\nuser data : 01ab");
}

}  // namespace
}  // namespace vandora
