// Keystrokes off the user-interface thread: a sink that stops answering holds up neither the
// queue record of the same decode nor later decodes' place in line, and the pace between keys
// is what the settings say.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "platform/DecodeChannel.h"
#include "runtime/DecodeSink.h"
#include "runtime/TypingThread.h"
#include "runtime/sinks/PublishSink.h"
#include "runtime/sinks/TypingSink.h"
#include "support/IpcNames.h"
#include "support/Threads.h"
#include "vandora_client.h"

namespace vandora {
namespace {

// Records each call with the clock's time; blocks in postCharacters while held.
class GatedKeyboard final : public KeyboardSink {
  public:
    explicit GatedKeyboard(Clock& clock) : clock_(clock) {}
    void postCharacters(const std::vector<std::uint32_t>& characters) override {
        std::unique_lock<std::mutex> lock(mutex_);
        entered_ = true;
        changed_.notify_all();
        changed_.wait(lock, [&] { return !held_; });
        std::string line = "post";
        for (std::uint32_t c : characters) {
            line += " " + std::string(1, static_cast<char>(c));
        }
        calls_.push_back(line + " @" + std::to_string(clock_.nowUs() / 1000));
    }
    void keyEvent(std::uint32_t vk, std::uint32_t, std::uint32_t flags) override {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back("key " + std::to_string(vk) + (flags != 0 ? " up" : " down") + " @" +
                         std::to_string(clock_.nowUs() / 1000));
    }
    void hold() {
        std::lock_guard<std::mutex> lock(mutex_);
        held_ = true;
    }
    void letGo() {
        std::lock_guard<std::mutex> lock(mutex_);
        held_ = false;
        changed_.notify_all();
    }
    void waitUntilEntered() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return entered_; });
    }
    std::vector<std::string> calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }

  private:
    Clock& clock_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false;
    bool entered_ = false;
    std::vector<std::string> calls_;
};

// The reports of a typing thread, waited for.
class Reports {
  public:
    TypingThread::Reporter reporter() {
        return [this](const std::string& message) {
            std::lock_guard<std::mutex> lock(mutex_);
            messages_.push_back(message);
            changed_.notify_all();
        };
    }
    std::vector<std::string> waitFor(std::size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return messages_.size() >= count; });
        return messages_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> messages_;
};

Delivery barcodeDelivery(const char* data) {
    Decode decode;
    decode.engineType = EngineType::CcdLaser;
    decode.codeTypeId = 1;
    decode.codeTypeName = ByteString("Code 39");
    decode.data = ByteString(data);
    return deliveryOf(decode, false);
}

TEST(TypingThreaded, AHungSinkDelaysNeitherTheRecordNorTheDecodesBehindIt) {
    IpcNames names;
    DecodeChannelWriter channel;
    ASSERT_TRUE(channel.ready()) << channel.error();
    vandora_client* client = vandora_client_open();
    ASSERT_NE(client, nullptr);

    GatedKeyboard keyboard(RealClock::instance());
    Reports reports;
    constexpr std::uint32_t kTimeoutMs = 50;
    TypingThread thread(keyboard, RealClock::instance(), kTimeoutMs, reports.reporter());
    TypingSink typing(thread);
    PublishSink publish(channel, nullptr);
    AppSettings settings;
    settings.keyboardEmu = 1;
    settings.windowEvent = 1;
    settings.autoEnter = 1;

    keyboard.hold();
    Delivery first = barcodeDelivery("AB");
    typing.deliver(first, settings);
    publish.deliver(first, settings);
    keyboard.waitUntilEntered();
    // The record is there while the sink still blocks in the first decode's keys.
    vandora_decode record;
    ASSERT_EQ(vandora_client_wait(client, 10000, &record), 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(record.data), record.data_length), "AB");

    Delivery second = barcodeDelivery("CD");
    typing.deliver(second, settings);
    std::vector<std::string> said = reports.waitFor(1);
    EXPECT_NE(said[0].find("has not answered"), std::string::npos) << said[0];
    keyboard.letGo();
    said = reports.waitFor(2);
    EXPECT_NE(said[1].find("answers again"), std::string::npos) << said[1];
    EXPECT_TRUE(thread.waitUntilDone());

    std::vector<std::string> calls = keyboard.calls();
    std::vector<std::string> kinds;
    for (const std::string& call : calls) {
        kinds.push_back(call.substr(0, call.find(" @")));
    }
    // The call that hung finishes; the first decode's return is given up; the second is typed.
    EXPECT_EQ(kinds,
              (std::vector<std::string>{"post A B", "post C D", "key 13 down", "key 13 up"}));
    said = reports.waitFor(2);
    EXPECT_EQ(said.size(), 2u) << "once when it hung, once when it answered again";
    vandora_client_close(client);
}

// A service whose decodes are never typed runs no typing threads; the first job starts them, and
// one that never typed ends at once.
TEST(TypingThreaded, StartsItsThreadsWithTheFirstJob) {
    NullKeyboardSink keyboard;
    using testing::threadCount;
    const std::size_t before = threadCount();
    {
        TypingThread idle(keyboard, RealClock::instance(), 2000);
        EXPECT_EQ(threadCount(), before);
        EXPECT_TRUE(idle.waitUntilDone());
    }
    TypingThread thread(keyboard, RealClock::instance(), 2000);
    TypingJob job;
    job.text = "A";
    thread.submit(job);
    EXPECT_TRUE(thread.waitUntilDone());
    EXPECT_EQ(threadCount(), before + 2) << "the typist and its watchdog";
}

struct PaceCase {
    const char* name;
    std::int32_t autoEnter;
    std::int32_t interKeyDelay;
    std::int32_t terminatorDelay;
    std::vector<std::string> calls;  // of the decodes "ab" then "c"
};

class TypingPace : public ::testing::TestWithParam<PaceCase> {};

TEST_P(TypingPace, KeysAreSpacedAndTheTerminatorWaitsAsSet) {
    const PaceCase& c = GetParam();
    VirtualClock clock;
    GatedKeyboard keyboard(clock);
    TypingThread thread(keyboard, clock, 0);
    TypingSink typing(thread);
    AppSettings settings;
    settings.autoEnter = c.autoEnter;
    settings.interKeyDelay = c.interKeyDelay;
    settings.terminatorDelay = c.terminatorDelay;
    typing.deliver(barcodeDelivery("ab"), settings);
    typing.deliver(barcodeDelivery("c"), settings);
    EXPECT_TRUE(thread.waitUntilDone());
    EXPECT_EQ(keyboard.calls(), c.calls);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TypingPace,
    ::testing::Values(PaceCase{"NoPace",
                               1,
                               0,
                               0,
                               {"post a b @0", "key 13 down @0", "key 13 up @0", "post c @0",
                                "key 13 down @0", "key 13 up @0"}},
                      PaceCase{"BetweenKeys",
                               1,
                               5,
                               0,
                               {"post a @0", "post b @5", "key 13 down @10", "key 13 up @15",
                                "post c @20", "key 13 down @25", "key 13 up @30"}},
                      PaceCase{"AfterTheTerminator",
                               1,
                               0,
                               100,
                               {"post a b @0", "key 13 down @0", "key 13 up @0", "post c @100",
                                "key 13 down @100", "key 13 up @100"}},
                      PaceCase{"TerminatorFirst",
                               2,
                               5,
                               100,
                               {"key 13 down @0", "key 13 up @5", "post a @110", "post b @115",
                                "key 13 down @120", "key 13 up @125", "post c @230"}}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace vandora
