#include "SimulatedMqttClient.h"

#include <algorithm>
#include <chrono>

namespace vandora::sim {

void SimulatedMqttClient::setHandlers(MqttHandlers handlers) {
    std::lock_guard<std::mutex> lock(mutex_);
    handlers_ = std::move(handlers);
}

int SimulatedMqttClient::start(const MqttConnectOptions& options) {
    bool connect = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        options_ = options;
        started_ = true;
        stopped_ = false;
        connect = reachable_;
    }
    if (connect && handlers_.connection) {
        handlers_.connection(true);
    }
    return 0;
}

int SimulatedMqttClient::publish(const std::string& topic, const std::string& payload, int qos,
                                 bool retain, int& messageId) {
    int id = 0;
    bool atOnce = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!reachable_ || !started_ || stopped_) {
            return -1;
        }
        id = nextId_++;
        published_.push_back({topic, payload, qos, retain, id});
        atOnce = atOnce_;
        if (!atOnce) {
            unacknowledged_.push_back(id);
        }
        changed_.notify_all();
    }
    if (atOnce && handlers_.published) {
        handlers_.published(id);
    }
    messageId = id;
    return 0;
}

void SimulatedMqttClient::setAcknowledgeAtOnce(bool atOnce) {
    std::lock_guard<std::mutex> lock(mutex_);
    atOnce_ = atOnce;
}

int SimulatedMqttClient::subscribe(const std::string& topic, int /*qos*/) {
    std::lock_guard<std::mutex> lock(mutex_);
    subscriptions_.push_back(topic);
    return 0;
}

void SimulatedMqttClient::stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
}

bool SimulatedMqttClient::stopped() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopped_;
}

void SimulatedMqttClient::setReachable(bool reachable) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (reachable_ == reachable) {
            return;
        }
        reachable_ = reachable;
        // What was on its way went with the connection.
        if (!reachable) {
            unacknowledged_.clear();
        }
        if (!started_ || stopped_) {
            return;
        }
    }
    if (handlers_.connection) {
        handlers_.connection(reachable);
    }
}

void SimulatedMqttClient::acknowledge(int messageId) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = std::find(unacknowledged_.begin(), unacknowledged_.end(), messageId);
        if (it == unacknowledged_.end()) {
            return;
        }
        unacknowledged_.erase(it);
    }
    if (handlers_.published) {
        handlers_.published(messageId);
    }
}

std::size_t SimulatedMqttClient::acknowledgeAll() {
    std::vector<int> ids;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ids.swap(unacknowledged_);
    }
    for (int id : ids) {
        if (handlers_.published) {
            handlers_.published(id);
        }
    }
    return ids.size();
}

void SimulatedMqttClient::deliver(const std::string& topic, const std::string& payload) {
    if (handlers_.message) {
        handlers_.message(topic, payload);
    }
}

std::vector<SimulatedMqttClient::Published> SimulatedMqttClient::published() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return published_;
}

std::size_t SimulatedMqttClient::countOn(const std::string& topic) const {
    if (topic.empty()) {
        return published_.size();
    }
    return static_cast<std::size_t>(
        std::count_if(published_.begin(), published_.end(),
                      [&](const Published& p) { return p.topic == topic; }));
}

bool SimulatedMqttClient::waitPublished(std::size_t count, const std::string& topic, int boundMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(boundMs),
                             [&] { return countOn(topic) >= count; });
}

std::vector<std::string> SimulatedMqttClient::subscriptions() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return subscriptions_;
}

}  // namespace vandora::sim
