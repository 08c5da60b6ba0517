// MqttClient: the service's connection to the site's MQTT broker, as the fleet bridge uses it.
//
// A client connects in the background with a will, optionally over TLS and with a user name and
// password, and keeps reconnecting whenever the broker goes away. Publishing returns the
// message id at once; the completion handler is told that id when the message is done: the
// broker's PUBACK at QoS 1, PUBCOMP at QoS 2, or the client having written it at QoS 0. A
// message that never completes (the connection went first) is never reported: the caller sends
// it again after the next connection.
//
// Errors: calls return 0 or a negative number; lastError() says why in words. Nothing throws.
// Threading: publish and subscribe may be called from any thread; the handlers are called from
// the client's own thread, possibly while another thread is inside publish: a completion may
// even arrive before publish has returned its id.
#pragma once

#include <functional>
#include <string>

namespace vandora {

struct MqttConnectOptions {
    std::string host;
    int port = 1883;
    bool tls = false;
    std::string clientId;
    // Empty: no user name (and then no password).
    std::string username;
    std::string password;
    // TLS: the certificate authority file (empty: the system's), and the client's own
    // certificate and key when the broker asks for one.
    std::string caFile;
    std::string certFile;
    std::string keyFile;
    int keepAliveSeconds = 30;
    // The will, published by the broker when the connection ends without a clean disconnect.
    std::string willTopic;
    std::string willPayload;
    int willQos = 1;
    bool willRetain = true;
};

struct MqttHandlers {
    // true once the broker accepted the connection, false when it was lost or refused.
    std::function<void(bool connected)> connection;
    // A published message is done (see above).
    std::function<void(int messageId)> published;
    // A message on a subscribed topic.
    std::function<void(const std::string& topic, const std::string& payload)> message;
};

class MqttClient {
  public:
    virtual ~MqttClient() = default;

    // Before start.
    virtual void setHandlers(MqttHandlers handlers) = 0;
    // Starts connecting (and reconnecting) in the background; 0, or negative when the options
    // cannot be used at all (a TLS file that cannot be read, an unusable client id).
    virtual int start(const MqttConnectOptions& options) = 0;
    // 0 with the message id set, or negative (not connected, or the message was refused).
    virtual int publish(const std::string& topic, const std::string& payload, int qos, bool retain,
                        int& messageId) = 0;
    virtual int subscribe(const std::string& topic, int qos) = 0;
    // Disconnects cleanly (the broker does not publish the will) and stops the background
    // thread. Safe to call twice.
    virtual void stop() = 0;
    virtual std::string lastError() const = 0;
};

}  // namespace vandora
