#include "platform/MosquittoClient.h"

#include <mosquitto.h>

#include <mutex>

namespace vandora {

namespace {

constexpr unsigned kReconnectFirstSeconds = 1;
constexpr unsigned kReconnectMaxSeconds = 30;
// Without a CA file the broker's certificate is checked against the system's authorities.
constexpr const char* kSystemCaFolder = "/etc/ssl/certs";

void initialiseLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

MosquittoClient* self(void* userdata) {
    return static_cast<MosquittoClient*>(userdata);
}

const char* orNull(const std::string& text) {
    return text.empty() ? nullptr : text.c_str();
}

}  // namespace

MosquittoClient::MosquittoClient() {
    initialiseLibrary();
}

MosquittoClient::~MosquittoClient() {
    stop();
}

void MosquittoClient::fail(const std::string& what, int rc) {
    std::lock_guard<std::mutex> lock(errorMutex_);
    lastError_ = what + ": " + mosquitto_strerror(rc);
}

std::string MosquittoClient::lastError() const {
    std::lock_guard<std::mutex> lock(errorMutex_);
    return lastError_;
}

int MosquittoClient::start(const MqttConnectOptions& options) {
    stop();
    mosq_ = mosquitto_new(options.clientId.c_str(), true, this);
    if (mosq_ == nullptr) {
        fail("cannot make an MQTT client with id '" + options.clientId + "'", MOSQ_ERR_INVAL);
        return -1;
    }
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    int rc = MOSQ_ERR_SUCCESS;
    if (!options.username.empty()) {
        rc = mosquitto_username_pw_set(mosq_, options.username.c_str(), orNull(options.password));
        if (rc != MOSQ_ERR_SUCCESS) {
            fail("the MQTT user name cannot be used", rc);
            return -1;
        }
    }
    if (!options.willTopic.empty()) {
        rc = mosquitto_will_set(mosq_, options.willTopic.c_str(),
                                static_cast<int>(options.willPayload.size()),
                                options.willPayload.data(), options.willQos, options.willRetain);
        if (rc != MOSQ_ERR_SUCCESS) {
            fail("the MQTT will cannot be set on " + options.willTopic, rc);
            return -1;
        }
    }
    if (options.tls) {
        rc = mosquitto_tls_set(mosq_, orNull(options.caFile),
                               options.caFile.empty() ? kSystemCaFolder : nullptr,
                               orNull(options.certFile), orNull(options.keyFile), nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            fail("the TLS files cannot be used (caFile, certFile, keyFile)", rc);
            return -1;
        }
    }
    mosquitto_connect_callback_set(
        mosq_, [](mosquitto*, void* obj, int code) { self(obj)->onConnect(code); });
    mosquitto_disconnect_callback_set(
        mosq_, [](mosquitto*, void* obj, int code) { self(obj)->onDisconnect(code); });
    mosquitto_publish_callback_set(
        mosq_, [](mosquitto*, void* obj, int mid) { self(obj)->onPublish(mid); });
    mosquitto_message_callback_set(
        mosq_, [](mosquitto*, void* obj, const mosquitto_message* message) {
            std::string payload(static_cast<const char*>(message->payload),
                                static_cast<std::size_t>(message->payloadlen));
            self(obj)->onMessage(message->topic != nullptr ? message->topic : "", payload);
        });
    mosquitto_reconnect_delay_set(mosq_, kReconnectFirstSeconds, kReconnectMaxSeconds, true);
    // A broker that cannot be reached yet is no failure: the network thread keeps trying.
    rc = mosquitto_connect_async(mosq_, options.host.c_str(), options.port,
                                 options.keepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
        fail("cannot reach the MQTT broker " + options.host + ":" + std::to_string(options.port),
             rc);
    }
    rc = mosquitto_loop_start(mosq_);
    if (rc != MOSQ_ERR_SUCCESS) {
        fail("cannot start the MQTT network thread", rc);
        mosquitto_destroy(mosq_);
        mosq_ = nullptr;
        return -1;
    }
    running_ = true;
    return 0;
}

int MosquittoClient::publish(const std::string& topic, const std::string& payload, int qos,
                             bool retain, int& messageId) {
    if (mosq_ == nullptr) {
        return -1;
    }
    int mid = 0;
    int rc = mosquitto_publish(mosq_, &mid, topic.c_str(), static_cast<int>(payload.size()),
                               payload.data(), qos, retain);
    if (rc != MOSQ_ERR_SUCCESS) {
        fail("cannot publish on " + topic, rc);
        return -1;
    }
    messageId = mid;
    return 0;
}

int MosquittoClient::subscribe(const std::string& topic, int qos) {
    if (mosq_ == nullptr) {
        return -1;
    }
    int rc = mosquitto_subscribe(mosq_, nullptr, topic.c_str(), qos);
    if (rc != MOSQ_ERR_SUCCESS) {
        fail("cannot subscribe to " + topic, rc);
        return -1;
    }
    return 0;
}

void MosquittoClient::stop() {
    if (mosq_ == nullptr) {
        return;
    }
    if (running_) {
        mosquitto_disconnect(mosq_);
        mosquitto_loop_stop(mosq_, false);
        running_ = false;
    }
    mosquitto_destroy(mosq_);
    mosq_ = nullptr;
}

void MosquittoClient::onConnect(int rc) {
    if (rc != 0) {
        std::lock_guard<std::mutex> lock(errorMutex_);
        lastError_ =
            std::string("the MQTT broker refused the connection: ") + mosquitto_connack_string(rc);
    }
    if (handlers_.connection) {
        handlers_.connection(rc == 0);
    }
}

void MosquittoClient::onDisconnect(int rc) {
    if (rc != 0) {
        fail("the connection to the MQTT broker was lost", rc);
    }
    if (handlers_.connection) {
        handlers_.connection(false);
    }
}

void MosquittoClient::onPublish(int mid) {
    if (handlers_.published) {
        handlers_.published(mid);
    }
}

void MosquittoClient::onMessage(const std::string& topic, const std::string& payload) {
    if (handlers_.message) {
        handlers_.message(topic, payload);
    }
}

}  // namespace vandora
