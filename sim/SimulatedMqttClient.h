// SimulatedMqttClient: an MqttClient with the broker played by the test. The test decides when
// the broker is reachable, sees every message published, and acknowledges them when it likes
// (or lets every QoS 0 message complete as it is written). Handlers run on the thread of the
// test call that caused them.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/MqttClient.h"

namespace vandora::sim {

class SimulatedMqttClient final : public MqttClient {
  public:
    struct Published {
        std::string topic;
        std::string payload;
        int qos = 0;
        bool retain = false;
        int messageId = 0;
    };

    void setHandlers(MqttHandlers handlers) override;
    // Connects at once when the broker is reachable.
    int start(const MqttConnectOptions& options) override;
    int publish(const std::string& topic, const std::string& payload, int qos, bool retain,
                int& messageId) override;
    int subscribe(const std::string& topic, int qos) override;
    void stop() override;
    std::string lastError() const override { return {}; }

    // The broker comes (connection handler told true) or goes (false); publish fails while it
    // is gone.
    void setReachable(bool reachable);
    // From now on every message completes as it is published, before publish returns (as a
    // fast network thread can do it).
    void setAcknowledgeAtOnce(bool atOnce);
    // Completes a message as the broker's acknowledgement does.
    void acknowledge(int messageId);
    // Completes every message published so far and not completed yet; how many.
    std::size_t acknowledgeAll();
    // A message on a subscribed topic, as the broker delivers it.
    void deliver(const std::string& topic, const std::string& payload);

    std::vector<Published> published() const;
    // Waits until at least count messages were published on topic (any topic when empty);
    // false when that did not happen within the bound.
    bool waitPublished(std::size_t count, const std::string& topic = {}, int boundMs = 10000);
    std::vector<std::string> subscriptions() const;
    const MqttConnectOptions& options() const { return options_; }
    bool stopped() const;

  private:
    std::size_t countOn(const std::string& topic) const;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    MqttHandlers handlers_;
    MqttConnectOptions options_;
    bool reachable_ = true;
    bool atOnce_ = false;
    bool started_ = false;
    bool stopped_ = false;
    int nextId_ = 1;
    std::vector<Published> published_;
    std::vector<int> unacknowledged_;
    std::vector<std::string> subscriptions_;
};

}  // namespace vandora::sim
