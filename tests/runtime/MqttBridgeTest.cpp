// The MQTT bridge against a simulated broker: decodes leave in order and only after the outbox
// holds them, wait while the broker is away, come back after a restart (a torn last line
// included), are dropped and counted beyond the limit; the status and will; settings requests
// answered through the management handler. The bridge's sender thread runs: the suite is
// threaded.
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "SimulatedMqttClient.h"
#include "runtime/MqttBridge.h"
#include "support/Programs.h"

namespace vandora {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using vandora::testing::eventually;

// Management as the bus would answer, recording the calls.
class FakeManagement final : public ManagementHandler {
  public:
    struct Call {
        std::string section, key, value, ini;
    };
    std::vector<Call> calls;

    SettingAnswer getSetting(const std::string&, const std::string&, bool) override { return {}; }
    SettingAnswer setSetting(const std::string& section, const std::string& key,
                             const std::string& value) override {
        calls.push_back({section, key, value, {}});
        if (value == "99") {
            return {kInvalidValueError, "[General] keyboardEmu=99: outside 0 to 2", {}};
        }
        return {};
    }
    SettingAnswer exportSettings(bool) override { return {}; }
    SettingAnswer importSettings(const std::string& ini) override {
        calls.push_back({{}, {}, {}, ini});
        return {};
    }
};

class MqttBridgeThreaded : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/vandora-bridge-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root = pattern;
        folder = root.string() + "/state/";
        settings.enable = true;
        settings.broker = "mqtt://broker.invalid:1883";
        settings.host = "broker.invalid";
        settings.clientId = "t1";
    }
    void TearDown() override {
        // The clean stop's offline status completes at once instead of waiting its 2 s.
        client->setAcknowledgeAtOnce(true);
        bridge.reset();
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    void startBridge() {
        bridge = std::make_unique<MqttBridge>(*client, loop, &management, settings, folder);
        ASSERT_EQ(bridge->start("secret"), 1) << bridge->message();
    }
    // A fresh service on the same state folder, as after a restart.
    void restart() {
        client->setAcknowledgeAtOnce(true);
        bridge.reset();
        client = std::make_unique<sim::SimulatedMqttClient>();
        startBridge();
    }
    void decode(const std::string& data, std::int64_t madeMs = 1700000000123) {
        Decode d;
        d.codeTypeId = 4;
        d.codeTypeName = ByteString("Code 128");
        d.data = ByteString(data.c_str());
        d.madeMs = madeMs;
        bridge->deliver(deliveryOf(d, false), AppSettings{});
    }
    std::vector<Json> on(const std::string& leaf) {
        std::vector<Json> out;
        for (const auto& p : client->published()) {
            if (p.topic == "vandora/t1/" + leaf) {
                out.push_back(Json::parse(p.payload));
            }
        }
        return out;
    }
    std::vector<std::uint64_t> decodeSeqs() {
        std::vector<std::uint64_t> seqs;
        for (const Json& j : on("decode")) {
            seqs.push_back(j["seq"].get<std::uint64_t>());
        }
        return seqs;
    }
    bool settled() {
        return eventually([&] { return bridge->waitingDecodes() == 0; }, std::chrono::seconds(10));
    }

    fs::path root;
    std::string folder;
    MqttSettings settings;
    EventLoop loop;
    std::unique_ptr<sim::SimulatedMqttClient> client = std::make_unique<sim::SimulatedMqttClient>();
    FakeManagement management;
    std::unique_ptr<MqttBridge> bridge;
};

TEST_F(MqttBridgeThreaded, DecodesGoOutInOrderAndLeaveTheOutboxWhenAcknowledged) {
    startBridge();
    for (int i = 1; i <= 5; ++i) {
        decode("DATA" + std::to_string(i));
    }
    ASSERT_TRUE(client->waitPublished(5, "vandora/t1/decode"));
    EXPECT_EQ(decodeSeqs(), (std::vector<std::uint64_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(client->published().front().payload,
              R"({"terminal":"t1","seq":1,"time":"2023-11-14T22:13:20.123Z","kind":"barcode",)"
              R"("type":4,"name":"Code 128","text":"DATA1","hex":"4441544131"})");
    for (const auto& p : client->published()) {
        if (p.topic == "vandora/t1/decode") {
            EXPECT_EQ(p.qos, 1);
            EXPECT_FALSE(p.retain);
        }
    }
    // Unacknowledged, they stay; acknowledged, they go and the mark says so.
    EXPECT_EQ(bridge->waitingDecodes(), 5u);
    client->acknowledgeAll();
    ASSERT_TRUE(settled());
    EXPECT_EQ(std::stoull(vandora::testing::fileText(folder + "mqtt-acked")), 5u);
    // The next start carries on the sequence and sends nothing twice.
    restart();
    decode("AFTER");
    ASSERT_TRUE(client->waitPublished(1, "vandora/t1/decode"));
    EXPECT_EQ(decodeSeqs(), (std::vector<std::uint64_t>{6}));
}

TEST_F(MqttBridgeThreaded, DecodesWaitForTheBrokerAndWhatWasOnItsWayIsSentAgainInOrder) {
    client->setReachable(false);
    startBridge();
    for (int i = 1; i <= 3; ++i) {
        decode("D" + std::to_string(i));
    }
    ASSERT_TRUE(
        eventually([&] { return bridge->waitingDecodes() == 3; }, std::chrono::seconds(10)));
    EXPECT_TRUE(client->published().empty());
    client->setReachable(true);
    ASSERT_TRUE(client->waitPublished(3, "vandora/t1/decode"));
    EXPECT_EQ(decodeSeqs(), (std::vector<std::uint64_t>{1, 2, 3}));
    // Published but not acknowledged when the connection goes: sent again after it.
    decode("D4");
    ASSERT_TRUE(client->waitPublished(4, "vandora/t1/decode"));
    client->setReachable(false);
    client->setReachable(true);
    ASSERT_TRUE(client->waitPublished(8, "vandora/t1/decode"));
    EXPECT_EQ(decodeSeqs(), (std::vector<std::uint64_t>{1, 2, 3, 4, 1, 2, 3, 4}));
    client->acknowledgeAll();
    ASSERT_TRUE(settled());
}

TEST_F(MqttBridgeThreaded, BeyondTheLimitTheOldestAreDroppedAndCounted) {
    settings.outboxLimit = 3;
    client->setReachable(false);
    startBridge();
    bridge->setStatus(ReaderStatus{});
    for (int i = 1; i <= 5; ++i) {
        decode("D" + std::to_string(i));
    }
    ASSERT_TRUE(
        eventually([&] { return bridge->droppedDecodes() == 2; }, std::chrono::seconds(10)));
    client->setReachable(true);
    ASSERT_TRUE(client->waitPublished(3, "vandora/t1/decode"));
    EXPECT_EQ(decodeSeqs(), (std::vector<std::uint64_t>{3, 4, 5}));
    ASSERT_TRUE(eventually(
        [&] {
            auto statuses = on("status");
            return !statuses.empty() && statuses.back()["DroppedDecodes"] == 2;
        },
        std::chrono::seconds(10)));
    // Dropped ones stay dropped after a restart.
    restart();
    ASSERT_TRUE(client->waitPublished(3, "vandora/t1/decode"));
    EXPECT_EQ(decodeSeqs(), (std::vector<std::uint64_t>{3, 4, 5}));
}

TEST_F(MqttBridgeThreaded, AfterAKillTheOutboxIsSentFromTheStartAndATornLineIsLeftOut) {
    client->setReachable(false);
    startBridge();
    decode("A", 1000);
    decode("B", 2000);
    ASSERT_TRUE(
        eventually([&] { return bridge->waitingDecodes() == 2; }, std::chrono::seconds(10)));
    // A third line cut short as the process died.
    std::string third = MqttOutbox::line(3, "{\"seq\":3}");
    std::ofstream(folder + "mqtt-outbox", std::ios::binary | std::ios::app)
        << third.substr(0, third.size() - 4);
    restart();
    ASSERT_TRUE(client->waitPublished(2, "vandora/t1/decode"));
    auto sent = on("decode");
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0]["seq"], 1);
    EXPECT_EQ(sent[0]["text"], "A");
    // The time is when the decode was made, not when it was sent.
    EXPECT_EQ(sent[0]["time"], "1970-01-01T00:00:01.000Z");
    EXPECT_EQ(sent[1]["seq"], 2);
    decode("C");
    ASSERT_TRUE(client->waitPublished(3, "vandora/t1/decode"));
    EXPECT_EQ(on("decode").back()["seq"], 3);
}

TEST_F(MqttBridgeThreaded, TheOutboxIsCompactedWhileDecodesGoOnAndKeepsTheSequence) {
    client->setAcknowledgeAtOnce(true);
    startBridge();
    const std::string big(8000, 'x');
    const std::uint64_t count = 150;
    for (std::uint64_t i = 1; i <= count; ++i) {
        decode(big + std::to_string(i));
    }
    ASSERT_TRUE(client->waitPublished(count, "vandora/t1/decode"));
    ASSERT_TRUE(settled());
    // Well past the 1 MiB at which the file is rewritten: now it holds a few decodes at most.
    ASSERT_TRUE(eventually([&] { return fs::file_size(folder + "mqtt-outbox") < 1024 * 1024; },
                           std::chrono::seconds(10)));
    auto seqs = decodeSeqs();
    for (std::uint64_t i = 0; i < count; ++i) {
        ASSERT_EQ(seqs[i], i + 1);
    }
    restart();
    decode("NEXT");
    ASSERT_TRUE(client->waitPublished(1, "vandora/t1/decode"));
    EXPECT_EQ(decodeSeqs(), (std::vector<std::uint64_t>{count + 1}));
}

TEST_F(MqttBridgeThreaded, StatusIsRetainedTheWillAndACleanStopSayOffline) {
    startBridge();
    const auto& options = client->options();
    EXPECT_EQ(options.willTopic, "vandora/t1/status");
    EXPECT_EQ(options.willPayload, R"({"online":false})");
    EXPECT_TRUE(options.willRetain);
    EXPECT_EQ(options.password, "secret");
    ReaderStatus st;
    st.model = 5;
    st.barcodeEngine = 9;
    st.barcodeBaud = 38400;
    st.barcodeReady = true;
    st.status = "ready";
    st.goodReads = 7;
    bridge->setStatus(st);
    ASSERT_TRUE(client->waitPublished(1, "vandora/t1/status"));
    auto published = client->published();
    EXPECT_TRUE(published.back().retain);
    EXPECT_EQ(published.back().payload,
              R"({"Model":5,"BarcodeEngine":9,"BarcodeBaud":38400,"RfidModule":0,"RfidVariant":0,)"
              R"("FirmwareVersion":"","BarcodeReady":true,"RfidReady":false,"Status":"ready",)"
              R"("LastError":0,"GoodReads":7,"FailedReads":0,"DroppedDecodes":0,"online":true})");
    // Each new connection gets it again.
    client->setReachable(false);
    client->setReachable(true);
    ASSERT_TRUE(client->waitPublished(2, "vandora/t1/status"));
    // The clean stop: offline, retained, then the disconnect.
    std::thread acker([&] {
        client->waitPublished(3, "vandora/t1/status");
        client->acknowledgeAll();
    });
    bridge->stop();
    acker.join();
    EXPECT_EQ(client->published().back().payload, R"({"online":false})");
    EXPECT_TRUE(client->published().back().retain);
    EXPECT_TRUE(client->stopped());
}

TEST_F(MqttBridgeThreaded, SettingsRequestsAreAnsweredAsThePinnedResults) {
    startBridge();
    ASSERT_TRUE(
        eventually([&] { return client->subscriptions().size() == 2; }, std::chrono::seconds(10)));
    EXPECT_EQ(client->subscriptions(),
              (std::vector<std::string>{"vandora/t1/config/set", "vandora/all/config/set"}));
    struct Case {
        const char* request;
        const char* result;  // nullptr: no answer
    };
    const Case cases[] = {
        {R"({"id":1,"section":"General","key":"keyboardEmu","value":"2"})",
         R"({"id":1,"ok":true})"},
        {R"({"id":"x","section":"General","key":"delimiter","value":59})",
         R"({"id":"x","ok":true})"},
        {R"({"id":2,"section":"General","key":"keyboardEmu","value":"99"})",
         R"({"id":2,"ok":false,"error":"InvalidValue","message":"[General] keyboardEmu=99: outside 0 to 2"})"},
        {R"({"id":3,"section":"mqtt","key":"broker","value":"mqtt://elsewhere:1883"})",
         R"({"id":3,"ok":false,"error":"AccessDenied","message":"[MQTT] is changed only in the settings file"})"},
        {R"({"id":4,"import":"[General]\nkeyboardEmu=1\n[MQTT]\nenable=0\n"})",
         R"({"id":4,"ok":false,"error":"AccessDenied","message":"[MQTT] is changed only in the settings file"})"},
        {R"({"id":5,"import":"[General]\nkeyboardEmu=1\n"})", R"({"id":5,"ok":true})"},
        {R"({"id":[6],"section":"General"})",
         R"({"id":[6],"ok":false,"error":"BadRequest","message":"not {\"id\", \"section\", \"key\", \"value\"} nor {\"id\", \"import\"}"})"},
        {R"({"section":"General","key":"keyboardEmu","value":"0"})", nullptr},
        {R"(not json)", nullptr},
    };
    std::size_t answered = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        client->deliver("vandora/all/config/set", c.request);
        loop.dispatchPending();
        if (c.result != nullptr) {
            ++answered;
            ASSERT_TRUE(client->waitPublished(answered, "vandora/t1/config/result"));
            auto results = client->published();
            EXPECT_EQ(results.back().topic, "vandora/t1/config/result");
            EXPECT_EQ(results.back().payload, c.result);
        }
    }
    EXPECT_EQ(on("config/result").size(), answered);
    // Only the well-formed, permitted requests reached the handler; the number became its text.
    ASSERT_EQ(management.calls.size(), 4u);
    EXPECT_EQ(management.calls[1].value, "59");
    EXPECT_EQ(management.calls[3].ini, "[General]\nkeyboardEmu=1\n");
}

}  // namespace
}  // namespace vandora
