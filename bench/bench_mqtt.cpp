// What the MQTT bridge adds to the road of a read: the time deliver takes on the loop thread
// (the decode's JSON and one append to the outbox), with the sender thread syncing and
// publishing beside it, against a broker that takes everything at once and against one that is
// away. The other outputs of the same read wait only for this.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "SimulatedMqttClient.h"
#include "runtime/MqttBridge.h"

namespace {

using namespace vandora;

void mqttDeliver(benchmark::State& state) {
    bool reachable = state.range(0) != 0;
    char pattern[] = "/tmp/vandora-bench-mqtt-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        state.SkipWithError("no temporary folder");
        return;
    }
    std::string folder = std::string(pattern) + "/";
    {
        EventLoop loop;
        sim::SimulatedMqttClient client;
        client.setReachable(reachable);
        client.setAcknowledgeAtOnce(true);
        MqttSettings settings;
        settings.enable = true;
        settings.clientId = "bench";
        settings.broker = "mqtt://127.0.0.1:1883";
        settings.host = "127.0.0.1";
        MqttBridge bridge(client, loop, nullptr, settings, folder);
        if (bridge.start({}) == 0) {
            state.SkipWithError(bridge.message().c_str());
            return;
        }
        Decode decode;
        decode.codeTypeId = 4;
        decode.codeTypeName = ByteString("Code 128");
        decode.data = ByteString("SHIP 0042 4006381333931");
        decode.madeMs = 1700000000123;
        Delivery delivery = deliveryOf(decode, false);
        AppSettings app;
        for (auto _ : state) {
            bridge.deliver(delivery, app);
        }
        state.SetItemsProcessed(state.iterations());
    }
    std::filesystem::remove_all(pattern);
}

}  // namespace

BENCHMARK(mqttDeliver)->ArgName("brokerReachable")->Arg(1)->Arg(0)->UseRealTime();

BENCHMARK_MAIN();
