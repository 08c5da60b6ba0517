// MqttBridge: the service as a client of the site's MQTT broker, one more output of decodes
// beside keystrokes, the queue and the broadcasts.
//
// Every good read gets the terminal's next sequence number and goes into the outbox on disk
// (MqttOutbox) before anything else happens to it; deliver returns once the line is written,
// and never waits for the broker or for the disk. A sender thread of its own then makes the
// lines durable, publishes them in order on <prefix>/<clientId>/decode, and takes each off the
// outbox when the broker has acknowledged it (PUBACK at QoS 1, PUBCOMP at 2, written at 0).
// While the broker cannot be reached the decodes wait, up to outboxLimit; beyond it the oldest
// are dropped, counted and logged. Whatever was on its way when a connection ended is sent
// again, in order, on the next one, so the broker may see a decode twice but never miss one.
//
// The retained <prefix>/<clientId>/status follows the bus status (setStatus) with
// DroppedDecodes and "online": true; the will and a clean stop set {"online": false}.
// Settings requests on <prefix>/<clientId>/config/set and <prefix>/all/config/set go through
// the same handler as the bus's SetSetting and ImportSettings, on the loop thread, and are
// answered on <prefix>/<clientId>/config/result. [MQTT] itself cannot be changed that way.
//
// Threading: construct, start, deliver, setStatus and stop on the loop thread; the sender thread
// and the client's thread meet the loop thread only under one mutex.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "config/MqttSettings.h"
#include "platform/Bus.h"
#include "platform/MqttClient.h"
#include "platform/MqttOutbox.h"
#include "runtime/DecodeSink.h"
#include "runtime/EventLoop.h"

namespace vandora {

class MqttBridge final : public DecodeSink {
  public:
    // management may be null: settings requests are then refused.
    MqttBridge(MqttClient& client, EventLoop& loop, ManagementHandler* management,
               MqttSettings settings, std::string stateFolder);
    ~MqttBridge() override;
    MqttBridge(const MqttBridge&) = delete;
    MqttBridge& operator=(const MqttBridge&) = delete;

    // Opens the outbox (what waits there from before goes first), starts the sender thread and
    // the client. password: read from passwordFile by the caller. 1, or 0 with message().
    std::int32_t start(const std::string& password);
    // Sets the retained status to {"online": false} (waiting up to 2 s for the broker to take
    // it), disconnects and ends the sender thread. Safe to call twice.
    void stop();

    void deliver(const Delivery& delivery, const AppSettings& settings) override;
    // The bus's status as it is published there (counters at most once a second).
    void setStatus(const ReaderStatus& status);

    std::uint64_t droppedDecodes() const;
    // Decodes not yet acknowledged by the broker.
    std::size_t waitingDecodes() const;
    const std::string& message() const { return message_; }
    std::string topic(const std::string& leaf) const;

    // The JSON of one decode, as published.
    static std::string decodeJson(const std::string& terminal, std::uint64_t seq,
                                  const Decode& decode, const ByteString& text);
    // Milliseconds since 1970 as ISO 8601 UTC with milliseconds and "Z".
    static std::string isoTime(std::int64_t unixMs);

  private:
    enum class State : std::uint8_t { Waiting, InFlight, Acked };
    struct Entry {
        std::uint64_t seq = 0;
        std::string payload;
        State state = State::Waiting;
        int messageId = 0;
    };
    struct Incoming {
        std::string topic;
        std::string payload;
    };

    void run();
    void onConnection(bool connected);
    void onPublished(int messageId);
    void onMessage(const std::string& topic, const std::string& payload);
    // Loop thread: the settings requests that came in.
    void takeRequests();
    void answerRequest(const std::string& payload);
    std::string statusJson(bool online) const;
    // Sender thread helpers.
    void sendWaiting();
    void dropOverLimit();
    void retireAcknowledged();
    void compactIfWorth();

    MqttClient& client_;
    EventLoop& loop_;
    ManagementHandler* management_;
    MqttSettings settings_;
    MqttOutbox outbox_;
    std::string message_;
    bool started_ = false;
    // Loop thread only.
    std::uint64_t nextSeq_ = 1;
    bool appendFailed_ = false;
    int wakeFd_ = -1;
    int wakeWatch_ = -1;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    bool connected_ = false;
    bool connectionMade_ = false;
    bool connectionLost_ = false;
    std::vector<MqttOutbox::Entry> appended_;
    std::vector<int> completed_;
    std::vector<Incoming> requests_;
    std::optional<ReaderStatus> status_;
    bool statusPending_ = false;
    std::chrono::steady_clock::time_point statusDue_{};
    std::uint64_t dropped_ = 0;
    std::size_t waitingCount_ = 0;
    std::thread sender_;

    // Sender thread only.
    std::deque<Entry> waiting_;
    std::size_t sendFrom_ = 0;
    std::unordered_map<int, std::uint64_t> inFlight_;
    std::uint64_t waitingBytes_ = 0;
    std::chrono::steady_clock::time_point dropsSent_{};
};

}  // namespace vandora
