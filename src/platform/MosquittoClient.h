// MosquittoClient: MqttClient over libmosquitto, with the library's own network thread
// (MQTT 3.1.1, clean session; reconnects after 1 s, doubling up to 30 s).
#pragma once

#include <mutex>
#include <string>

#include "platform/MqttClient.h"

struct mosquitto;

namespace vandora {

class MosquittoClient final : public MqttClient {
  public:
    MosquittoClient();
    ~MosquittoClient() override;
    MosquittoClient(const MosquittoClient&) = delete;
    MosquittoClient& operator=(const MosquittoClient&) = delete;

    void setHandlers(MqttHandlers handlers) override { handlers_ = std::move(handlers); }
    int start(const MqttConnectOptions& options) override;
    int publish(const std::string& topic, const std::string& payload, int qos, bool retain,
                int& messageId) override;
    int subscribe(const std::string& topic, int qos) override;
    void stop() override;
    std::string lastError() const override;

    // Called by the library's callbacks.
    void onConnect(int rc);
    void onDisconnect(int rc);
    void onPublish(int mid);
    void onMessage(const std::string& topic, const std::string& payload);

  private:
    void fail(const std::string& what, int rc);

    mosquitto* mosq_ = nullptr;
    bool running_ = false;
    MqttHandlers handlers_;
    mutable std::mutex errorMutex_;
    std::string lastError_;
};

}  // namespace vandora
