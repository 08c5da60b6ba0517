// Which channels a decode reaches: the queue record first, then the event and the broadcasts as
// the switches say, and nothing announced when the record could not be left in the queue.
#include "runtime/DecodePublish.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vandora {
namespace {

class FakeChannel final : public DecodeChannel {
  public:
    FakeChannel(std::vector<std::string>& calls, bool writeOk) : calls_(calls), writeOk_(writeOk) {}
    void discardUnread() override { calls_.push_back("discard"); }
    bool write(const std::uint8_t*, std::size_t size) override {
        calls_.push_back("write " + std::to_string(size));
        return writeOk_;
    }
    void setEvent() override { calls_.push_back("event"); }

  private:
    std::vector<std::string>& calls_;
    bool writeOk_;
};

class FakeSignals final : public DecodeSignals {
  public:
    explicit FakeSignals(std::vector<std::string>& calls) : calls_(calls) {}
    int emitCopyData(const std::string& name, const std::uint8_t* data, std::size_t size) override {
        calls_.push_back("copy " + name + " " + std::to_string(size));
        copied.assign(data, data + size);
        return 0;
    }
    int emitMessage(const std::string& name, std::uint32_t wParam, std::int64_t lParam) override {
        calls_.push_back("message " + name + " " + std::to_string(wParam) + " " +
                         std::to_string(lParam));
        return 0;
    }
    void flush() override { calls_.push_back("flush"); }
    std::vector<std::uint8_t> copied;

  private:
    std::vector<std::string>& calls_;
};

struct PublishCase {
    const char* name;
    bool rfid;
    bool writeOk;
    bool windowEvent;
    bool windowMessage;
    bool haveBus;
    std::vector<std::string> calls;
    std::int32_t result;
};

class Publish : public ::testing::TestWithParam<PublishCase> {};

TEST_P(Publish, ReachesTheSwitchedChannelsInOrder) {
    const PublishCase& c = GetParam();
    std::vector<std::string> calls;
    FakeChannel channel(calls, c.writeOk);
    FakeSignals signals(calls);
    DecodeQueueRecord record = c.rfid ? rfidRecord(2, ByteString("04A1B2C3"), nullptr)
                                      : barcodeRecord(11, ByteString("4006381333931"));
    PublishTargets targets{&channel, c.haveBus ? &signals : nullptr, c.windowEvent,
                           c.windowMessage};
    EXPECT_EQ(publishDecode(record, targets), c.result);
    EXPECT_EQ(calls, c.calls);
    if (!signals.copied.empty()) {
        EXPECT_TRUE(
            std::equal(record.begin(), record.end(), signals.copied.begin(), signals.copied.end()))
            << "CopyData carries the record itself";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Publish,
    ::testing::Values(PublishCase{"Both",
                                  false,
                                  true,
                                  true,
                                  true,
                                  true,
                                  {"discard", "write 4232", "event", "copy DECODE_MSG 4232",
                                   "message DECODE_MSG 7 0", "flush"},
                                  1},
                      PublishCase{"EventWithoutMessages",
                                  false,
                                  true,
                                  true,
                                  false,
                                  true,
                                  {"discard", "write 4232", "event"},
                                  1},
                      PublishCase{"MessagesWithoutEvent",
                                  true,
                                  true,
                                  false,
                                  true,
                                  true,
                                  {"discard", "write 4232", "copy DECODE_MSG 4232",
                                   "message DECODE_MSG 32 0", "flush"},
                                  1},
                      PublishCase{"FailedWriteAnnouncesNothing",
                                  false,
                                  false,
                                  true,
                                  true,
                                  true,
                                  {"discard", "write 4232"},
                                  0},
                      PublishCase{"NoBusStillSetsTheEvent",
                                  false,
                                  true,
                                  true,
                                  true,
                                  false,
                                  {"discard", "write 4232", "event"},
                                  1}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace vandora
