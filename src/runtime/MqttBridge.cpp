#include "runtime/MqttBridge.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <ctime>
#include <nlohmann/json.hpp>
#include <sstream>
#include <tuple>
#include <utility>

#include "common/Hex.h"
#include "common/Utf.h"
#include "platform/Log.h"

namespace vandora {

namespace {

using Json = nlohmann::ordered_json;

// Messages handed to the client and not yet completed, at most.
constexpr std::size_t kWindow = 100;
constexpr auto kCounterInterval = std::chrono::seconds(1);
constexpr auto kOfflineWait = std::chrono::seconds(2);
constexpr int kStatusQos = 1;

std::string dump(const Json& json) {
    // Text that is not UTF-8 must not end the service: it is replaced, never thrown over.
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::vector<std::uint8_t> bytesOf(const ByteString& text) {
    std::vector<std::uint8_t> bytes(text.length());
    for (std::size_t i = 0; i < text.length(); ++i) {
        bytes[i] = text.byteAt(i);
    }
    return bytes;
}

// "org.vandora.Reader1.Error.InvalidValue" -> "InvalidValue".
std::string shortError(const std::string& name) {
    std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(dot + 1);
}

std::string trimmed(const std::string& text) {
    std::size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos) {
        return {};
    }
    return text.substr(begin, text.find_last_not_of(" \t\r") - begin + 1);
}

// Whether INI text has a section [MQTT].
bool namesMqttSection(const std::string& ini) {
    std::istringstream lines(ini);
    std::string line;
    while (std::getline(lines, line)) {
        std::string text = trimmed(line);
        if (text.size() >= 2 && text.front() == '[' && text.back() == ']' &&
            isMqttSection(trimmed(text.substr(1, text.size() - 2)))) {
            return true;
        }
    }
    return false;
}

template <typename Tuple, std::size_t... I>
void putStatus(Json& json, const Tuple& values, std::index_sequence<I...>) {
    ((json[kStatusProperties[I].name] = std::get<I>(values)), ...);
}

}  // namespace

MqttBridge::MqttBridge(MqttClient& client, EventLoop& loop, ManagementHandler* management,
                       MqttSettings settings, std::string stateFolder)
    : client_(client),
      loop_(loop),
      management_(management),
      settings_(std::move(settings)),
      outbox_(std::move(stateFolder)) {}

MqttBridge::~MqttBridge() {
    stop();
    if (wakeWatch_ >= 0) {
        loop_.unwatchFd(wakeWatch_);
    }
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
    }
}

std::string MqttBridge::topic(const std::string& leaf) const {
    return settings_.topicPrefix + "/" + settings_.clientId + "/" + leaf;
}

std::string MqttBridge::isoTime(std::int64_t unixMs) {
    std::time_t seconds = static_cast<std::time_t>(unixMs / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    char out[48];
    std::snprintf(out, sizeof out, "%s.%03dZ", text, static_cast<int>(unixMs % 1000));
    return out;
}

std::string MqttBridge::decodeJson(const std::string& terminal, std::uint64_t seq,
                                   const Decode& decode, const ByteString& text) {
    bool rfid = decode.kind == DecodeKind::Rfid;
    Json json;
    json["terminal"] = terminal;
    json["seq"] = seq;
    json["time"] = isoTime(decode.madeMs);
    json["kind"] = rfid ? "rfid" : "barcode";
    json["type"] = decode.codeTypeId;
    json["name"] = utf8Of(decode.codeTypeName);
    // A tag's data is its user data; its UID has a key of its own.
    json["text"] = utf8Of(rfid ? decode.userData : text);
    json["hex"] = hexText(bytesOf(rfid ? decode.userData : decode.data));
    if (rfid) {
        json["uid"] = utf8Of(decode.data);
    }
    return dump(json);
}

std::string MqttBridge::statusJson(bool online) const {
    Json json;
    if (online && status_) {
        putStatus(json, status_->values(),
                  std::make_index_sequence<std::size(kStatusProperties)>{});
        json["DroppedDecodes"] = dropped_;
    }
    json["online"] = online;
    return dump(json);
}

std::int32_t MqttBridge::start(const std::string& password) {
    std::vector<MqttOutbox::Entry> waiting;
    std::size_t torn = 0;
    if (outbox_.open(waiting, torn) == 0) {
        message_ = outbox_.message();
        return 0;
    }
    if (torn > 0) {
        logMessage(LogLevel::Warning, "MQTT outbox " + outbox_.outboxPath() + ": cut " +
                                          std::to_string(torn) +
                                          " bytes of a decode whose writing was cut short");
    }
    nextSeq_ = outbox_.lastSeq() + 1;
    for (MqttOutbox::Entry& entry : waiting) {
        waitingBytes_ += entry.payload.size();
        waiting_.push_back({entry.seq, std::move(entry.payload), State::Waiting, 0});
    }
    waitingCount_ = waiting_.size();
    if (!waiting_.empty()) {
        logMessage(LogLevel::Info, std::to_string(waiting_.size()) +
                                       " decodes wait in the MQTT outbox from before");
    }

    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0) {
        message_ = "cannot make an eventfd for the MQTT requests";
        return 0;
    }
    wakeWatch_ = loop_.watchFd(wakeFd_, POLLIN, [this](short) { takeRequests(); });

    client_.setHandlers({[this](bool up) { onConnection(up); }, [this](int id) { onPublished(id); },
                         [this](const std::string& t, const std::string& p) { onMessage(t, p); }});
    MqttConnectOptions options;
    options.host = settings_.host;
    options.port = settings_.port;
    options.tls = settings_.tls;
    options.clientId = settings_.clientId;
    options.username = settings_.username;
    options.password = password;
    options.caFile = settings_.caFile;
    options.certFile = settings_.certFile;
    options.keyFile = settings_.keyFile;
    options.keepAliveSeconds = settings_.keepAlive;
    options.willTopic = topic("status");
    options.willPayload = statusJson(false);
    options.willQos = kStatusQos;
    options.willRetain = true;
    sender_ = std::thread([this] { run(); });
    started_ = true;
    if (client_.start(options) != 0) {
        message_ = client_.lastError();
        stop();
        return 0;
    }
    return 1;
}

void MqttBridge::stop() {
    if (!started_) {
        return;
    }
    started_ = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        completed_.clear();
    }
    wake_.notify_all();
    if (sender_.joinable()) {
        sender_.join();
    }
    int id = 0;
    bool connected = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        connected = connected_;
    }
    if (connected &&
        client_.publish(topic("status"), statusJson(false), kStatusQos, true, id) == 0) {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait_for(lock, kOfflineWait, [&] {
            return !connected_ ||
                   std::find(completed_.begin(), completed_.end(), id) != completed_.end();
        });
    }
    client_.stop();
}

void MqttBridge::deliver(const Delivery& delivery, const AppSettings& /*settings*/) {
    if (!started_) {
        return;
    }
    std::uint64_t seq = nextSeq_++;
    std::string payload = decodeJson(settings_.clientId, seq, delivery.decode, delivery.text);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (outbox_.append(seq, payload) == 0 && !appendFailed_) {
            // Said once: the decodes still go out while the broker is there.
            appendFailed_ = true;
            logMessage(LogLevel::Error, "MQTT outbox: " + outbox_.message());
        }
        appended_.push_back({seq, std::move(payload)});
    }
    wake_.notify_one();
}

void MqttBridge::setStatus(const ReaderStatus& status) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (status_ && status_->values() == status.values()) {
            return;
        }
        status_ = status;
        statusPending_ = true;
        statusDue_ = std::chrono::steady_clock::now();
    }
    wake_.notify_one();
}

std::uint64_t MqttBridge::droppedDecodes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dropped_;
}

std::size_t MqttBridge::waitingDecodes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return waitingCount_ + appended_.size();
}

void MqttBridge::onConnection(bool connected) {
    bool stopping = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (connected_ == connected) {
            return;
        }
        connected_ = connected;
        // Both kept apart: a connection lost and made again before the sender looks still
        // has to send again what was on its way.
        (connected ? connectionMade_ : connectionLost_) = true;
        stopping = stopping_;
    }
    if (connected) {
        logMessage(LogLevel::Notice,
                   "MQTT: connected to " + settings_.broker + " as " + settings_.clientId);
    } else if (!stopping) {
        std::string why = client_.lastError();
        logMessage(LogLevel::Warning, "MQTT: no connection to " + settings_.broker +
                                          (why.empty() ? std::string() : " (" + why + ")") +
                                          "; decodes wait in the outbox");
    }
    wake_.notify_one();
}

void MqttBridge::onPublished(int messageId) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        completed_.push_back(messageId);
    }
    wake_.notify_all();
}

void MqttBridge::onMessage(const std::string& topicName, const std::string& payload) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back({topicName, payload});
    }
    std::uint64_t one = 1;
    (void)::write(wakeFd_, &one, sizeof one);
}

void MqttBridge::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
        auto ready = [&] {
            return stopping_ || !appended_.empty() || !completed_.empty() || connectionMade_ ||
                   connectionLost_ ||
                   (statusPending_ && connected_ && std::chrono::steady_clock::now() >= statusDue_);
        };
        if (statusPending_ && connected_) {
            wake_.wait_until(lock, statusDue_, ready);
        } else {
            wake_.wait(lock, ready);
        }
        if (stopping_) {
            return;
        }
        std::vector<MqttOutbox::Entry> appended;
        appended.swap(appended_);
        std::vector<int> completed;
        completed.swap(completed_);
        waitingCount_ += appended.size();
        bool made = connectionMade_;
        bool lost = connectionLost_;
        connectionMade_ = false;
        connectionLost_ = false;
        bool connected = connected_;
        // A new connection always gets the status; otherwise a change goes once it is due.
        bool sendStatus = connected && status_.has_value() &&
                          ((made && connected) ||
                           (statusPending_ && std::chrono::steady_clock::now() >= statusDue_));
        std::string status = sendStatus ? statusJson(true) : std::string();
        if (sendStatus) {
            statusPending_ = false;
        }
        lock.unlock();

        if (!appended.empty()) {
            // Nothing leaves before it is on the disk: from here on a power cut keeps it.
            if (outbox_.sync() == 0) {
                logMessage(LogLevel::Error, "MQTT outbox: " + outbox_.message());
            }
            for (MqttOutbox::Entry& entry : appended) {
                waitingBytes_ += entry.payload.size();
                waiting_.push_back({entry.seq, std::move(entry.payload), State::Waiting, 0});
            }
        }
        if (lost) {
            // Whatever was on its way went with the connection: sent again, in order.
            for (Entry& entry : waiting_) {
                if (entry.state == State::InFlight) {
                    entry.state = State::Waiting;
                }
            }
            inFlight_.clear();
            sendFrom_ = 0;
        }
        if (made && connected) {
            client_.subscribe(topic("config/set"), settings_.qos);
            client_.subscribe(settings_.topicPrefix + "/all/config/set", settings_.qos);
        }
        for (int id : completed) {
            auto found = inFlight_.find(id);
            if (found == inFlight_.end() || waiting_.empty()) {
                continue;
            }
            std::uint64_t index = found->second - waiting_.front().seq;
            if (found->second >= waiting_.front().seq && index < waiting_.size()) {
                waiting_[index].state = State::Acked;
            }
            inFlight_.erase(found);
        }
        dropOverLimit();
        retireAcknowledged();
        if (connected) {
            sendWaiting();
        }
        int id = 0;
        if (sendStatus && client_.publish(topic("status"), status, kStatusQos, true, id) != 0) {
            // Tried again in a second (or on the next connection), not in a busy loop.
            lock.lock();
            statusPending_ = true;
            statusDue_ = std::chrono::steady_clock::now() + kCounterInterval;
            lock.unlock();
        }
        compactIfWorth();
        lock.lock();
        waitingCount_ = waiting_.size();
    }
}

void MqttBridge::dropOverLimit() {
    if (waiting_.size() <= settings_.outboxLimit) {
        return;
    }
    std::size_t count = waiting_.size() - settings_.outboxLimit;
    std::uint64_t first = waiting_.front().seq;
    std::uint64_t last = first;
    for (std::size_t i = 0; i < count; ++i) {
        Entry& entry = waiting_.front();
        if (entry.state == State::InFlight) {
            inFlight_.erase(entry.messageId);
        }
        last = entry.seq;
        waitingBytes_ -= entry.payload.size();
        waiting_.pop_front();
        sendFrom_ = sendFrom_ > 0 ? sendFrom_ - 1 : 0;
    }
    outbox_.acknowledge(last);
    logMessage(LogLevel::Warning,
               "MQTT outbox full (" + std::to_string(settings_.outboxLimit) +
                   " decodes): dropped " +
                   (count == 1 ? "decode " + std::to_string(first)
                               : std::to_string(count) + " decodes, " + std::to_string(first) +
                                     " to " + std::to_string(last)));
    std::lock_guard<std::mutex> lock(mutex_);
    dropped_ += count;
    // DroppedDecodes is a counter: it goes out at most once a second.
    statusPending_ = status_.has_value();
    auto now = std::chrono::steady_clock::now();
    statusDue_ = dropsSent_ + kCounterInterval > now ? dropsSent_ + kCounterInterval : now;
    dropsSent_ = statusDue_;
}

void MqttBridge::retireAcknowledged() {
    std::uint64_t mark = 0;
    while (!waiting_.empty() && waiting_.front().state == State::Acked) {
        mark = waiting_.front().seq;
        waitingBytes_ -= waiting_.front().payload.size();
        waiting_.pop_front();
        sendFrom_ = sendFrom_ > 0 ? sendFrom_ - 1 : 0;
    }
    if (mark != 0 && outbox_.acknowledge(mark) == 0) {
        logMessage(LogLevel::Error, "MQTT outbox: " + outbox_.message());
    }
}

void MqttBridge::sendWaiting() {
    while (inFlight_.size() < kWindow && sendFrom_ < waiting_.size()) {
        Entry& entry = waiting_[sendFrom_];
        if (entry.state == State::Waiting) {
            int id = 0;
            if (client_.publish(topic("decode"), entry.payload, settings_.qos, false, id) != 0) {
                // The connection is going; its end starts the next round.
                return;
            }
            entry.state = State::InFlight;
            entry.messageId = id;
            inFlight_[id] = entry.seq;
        }
        ++sendFrom_;
    }
}

void MqttBridge::compactIfWorth() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!outbox_.worthCompacting(waitingBytes_)) {
            return;
        }
    }
    std::vector<MqttOutbox::Entry> keep;
    keep.reserve(waiting_.size());
    for (const Entry& entry : waiting_) {
        keep.push_back({entry.seq, entry.payload});
    }
    // The long part (writing and syncing the new file) runs while decodes go on being appended
    // to the old one; those are copied over under the lock.
    if (outbox_.beginCompaction(keep) == 0) {
        logMessage(LogLevel::Error, "MQTT outbox: " + outbox_.message());
        return;
    }
    std::int32_t done = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        done = outbox_.finishCompaction(appended_);
    }
    if (done == 0 || outbox_.settleCompaction() == 0) {
        logMessage(LogLevel::Error, "MQTT outbox: " + outbox_.message());
    }
}

void MqttBridge::takeRequests() {
    std::uint64_t count = 0;
    (void)::read(wakeFd_, &count, sizeof count);
    std::vector<Incoming> requests;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests.swap(requests_);
    }
    for (const Incoming& request : requests) {
        answerRequest(request.payload);
    }
}

void MqttBridge::answerRequest(const std::string& payload) {
    Json request = Json::parse(payload, nullptr, false);
    bool hasId = request.is_object() && request.contains("id");
    Json answer;
    if (hasId) {
        answer["id"] = request["id"];
    }
    auto refuse = [&](const std::string& error, const std::string& text) {
        if (!hasId) {
            logMessage(LogLevel::Warning, "MQTT config/set without an id, not answered: " + text);
            return;
        }
        answer["ok"] = false;
        answer["error"] = error;
        answer["message"] = text;
    };
    SettingAnswer result;
    bool applied = false;
    if (!hasId) {
        refuse("BadRequest", request.is_object() ? "no id" : "not a JSON object");
        return;
    }
    if (request.contains("import")) {
        if (!request["import"].is_string()) {
            refuse("BadRequest", "import is not a string");
        } else if (namesMqttSection(request["import"].get<std::string>())) {
            refuse("AccessDenied", "[MQTT] is changed only in the settings file");
        } else if (management_ == nullptr) {
            refuse("EngineRefused", "the settings cannot be changed now");
        } else {
            result = management_->importSettings(request["import"].get<std::string>());
            applied = true;
        }
    } else {
        const Json& section = request.contains("section") ? request["section"] : Json();
        const Json& key = request.contains("key") ? request["key"] : Json();
        const Json& value = request.contains("value") ? request["value"] : Json();
        std::string text;
        if (value.is_string()) {
            text = value.get<std::string>();
        } else if (value.is_number()) {
            text = dump(value);
        }
        if (!section.is_string() || !key.is_string() || !(value.is_string() || value.is_number())) {
            refuse("BadRequest",
                   "not {\"id\", \"section\", \"key\", \"value\"} nor {\"id\", \"import\"}");
        } else if (isMqttSection(section.get<std::string>())) {
            refuse("AccessDenied", "[MQTT] is changed only in the settings file");
        } else if (management_ == nullptr) {
            refuse("EngineRefused", "the settings cannot be changed now");
        } else {
            result =
                management_->setSetting(section.get<std::string>(), key.get<std::string>(), text);
            applied = true;
        }
    }
    if (applied) {
        answer["ok"] = result.error.empty();
        if (!result.error.empty()) {
            answer["error"] = shortError(result.error);
            answer["message"] = result.message;
        }
    }
    int id = 0;
    client_.publish(topic("config/result"), dump(answer), settings_.qos, false, id);
}

}  // namespace vandora
