// The service as a client of a real broker: Debian's mosquitto, started by each test on a free
// loopback port with a configuration the test writes, and `vandora --simulate` whose engine
// scans by itself (a 1D laser in scan mode 7), so decodes come quickly. The test's own
// subscriber (libmosquitto) checks what arrives. Without the mosquitto program the tests skip.
#include <arpa/inet.h>
#include <mosquitto.h>
#include <mqueue.h>
#include <netinet/in.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/DecodeChannel.h"
#include "support/Programs.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using vandora::testing::Children;
using vandora::testing::eventually;
using vandora::testing::fileText;
using vandora::testing::programPath;

constexpr const char* kBroker = "/usr/sbin/mosquitto";

int freePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t size = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size);
    ::close(fd);
    return ntohs(addr.sin_port);
}

bool accepts(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

// The INI file's text whatever its encoding, in lower case: the service writes UTF-16 (whose
// zero bytes go here) with its keys in lower case.
std::string iniText(const fs::path& path) {
    std::string text = fileText(path);
    text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
    std::transform(text.begin(), text.end(), text.begin(), [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    });
    return text;
}

// A client of the test's broker that keeps every message it gets.
class Subscriber {
  public:
    struct Received {
        std::string topic;
        std::string payload;
        bool retained;
    };

    // cleanSession false: the broker keeps what comes for it while it is away (a broker
    // restart included, with persistence on).
    Subscriber(const std::string& id, bool cleanSession = true) {
        mosquitto_lib_init();
        mosq_ = mosquitto_new(id.c_str(), cleanSession, this);
        mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
        mosquitto_reconnect_delay_set(mosq_, 1, 1, false);
        mosquitto_connect_callback_set(mosq_, [](mosquitto*, void* self, int rc) {
            auto* me = static_cast<Subscriber*>(self);
            std::lock_guard<std::mutex> lock(me->mutex_);
            me->connected_ = rc == 0;
            for (const auto& [topic, qos] : me->topics_) {
                mosquitto_subscribe(me->mosq_, nullptr, topic.c_str(), qos);
            }
            me->changed_.notify_all();
        });
        mosquitto_publish_callback_set(mosq_, [](mosquitto*, void* self, int mid) {
            auto* me = static_cast<Subscriber*>(self);
            std::lock_guard<std::mutex> lock(me->mutex_);
            me->completed_.push_back(mid);
            me->changed_.notify_all();
        });
        mosquitto_message_callback_set(
            mosq_, [](mosquitto*, void* self, const mosquitto_message* m) {
                auto* me = static_cast<Subscriber*>(self);
                std::lock_guard<std::mutex> lock(me->mutex_);
                me->received_.push_back({m->topic,
                                         std::string(static_cast<const char*>(m->payload),
                                                     static_cast<std::size_t>(m->payloadlen)),
                                         m->retain});
                me->changed_.notify_all();
            });
    }
    ~Subscriber() {
        mosquitto_disconnect(mosq_);
        mosquitto_loop_stop(mosq_, false);
        mosquitto_destroy(mosq_);
    }
    void credentials(const std::string& user, const std::string& password) {
        mosquitto_username_pw_set(mosq_, user.c_str(), password.c_str());
    }
    void tls(const std::string& caFile) {
        mosquitto_tls_set(mosq_, caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
    }
    // Connects and subscribes; true once the broker took the connection.
    bool connect(int port, std::map<std::string, int> topics) {
        topics_ = std::move(topics);
        mosquitto_connect_async(mosq_, "127.0.0.1", port, 30);
        mosquitto_loop_start(mosq_);
        return waitFor([&] { return connected_; });
    }
    // Publishes and waits for the broker to take it (at QoS 1: its PUBACK).
    bool publish(const std::string& topic, const std::string& payload) {
        int mid = 0;
        if (mosquitto_publish(mosq_, &mid, topic.c_str(), static_cast<int>(payload.size()),
                              payload.data(), 1, false) != MOSQ_ERR_SUCCESS) {
            return false;
        }
        return waitFor([&] {
            return std::find(completed_.begin(), completed_.end(), mid) != completed_.end();
        });
    }
    bool waitFor(const std::function<bool()>& condition, int seconds = 60) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(seconds), condition);
    }
    // Waits until a message on topic satisfies the condition; its JSON.
    std::optional<Json> waitMessage(const std::string& topic,
                                    const std::function<bool(const Json&)>& condition,
                                    int seconds = 60) {
        std::optional<Json> found;
        waitFor(
            [&] {
                for (const Received& r : received_) {
                    if (r.topic != topic) {
                        continue;
                    }
                    Json json = Json::parse(r.payload, nullptr, false);
                    if (condition(json)) {
                        found = json;
                        return true;
                    }
                }
                return false;
            },
            seconds);
        return found;
    }
    std::vector<Received> received() {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_;
    }
    // The sequence numbers of the decodes on topic, in arrival order.
    std::vector<std::uint64_t> seqs(const std::string& topic) {
        std::vector<std::uint64_t> out;
        for (const Received& r : received()) {
            if (r.topic == topic) {
                out.push_back(Json::parse(r.payload)["seq"].get<std::uint64_t>());
            }
        }
        return out;
    }
    std::uint64_t highestSeq(const std::string& topic) {
        auto all = seqs(topic);
        return all.empty() ? 0 : *std::max_element(all.begin(), all.end());
    }

  private:
    mosquitto* mosq_ = nullptr;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool connected_ = false;
    std::map<std::string, int> topics_;
    std::vector<int> completed_;
    std::vector<Received> received_;
};

class MqttFleet : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::access(kBroker, X_OK) != 0) {
            GTEST_SKIP() << "no " << kBroker
                         << ": install Debian's mosquitto (scripts/install-deps)";
        }
        root = fs::temp_directory_path() / ("vandora-mqtt-" + std::to_string(::getpid()));
        fs::remove_all(root);
        fs::create_directories(root / "home");
        port = freePort();
        suffix = ".mqtt" + std::to_string(::getpid());
        setenv("VANDORA_KEYBOARD", "none", 1);
        setenv("VANDORA_IPC_SUFFIX", suffix.c_str(), 1);
        setenv("VANDORA_REGISTRY", "/nonexistent", 1);
        setenv("VANDORA_LOG", "stderr", 1);
        setenv("VANDORA_HOME", (root / "home").c_str(), 1);
        setenv("XDG_STATE_HOME", (root / "state").c_str(), 1);
        unsetenv("STATE_DIRECTORY");
    }
    void TearDown() override {
        children.reset();
        // The service's queue and event outlive it, as they do for any reader.
        if (!suffix.empty()) {
            mq_unlink(vandora::decodeQueueName().c_str());
            sem_unlink(vandora::decodeEventName().c_str());
        }
        for (const char* name : {"VANDORA_KEYBOARD", "VANDORA_IPC_SUFFIX", "VANDORA_REGISTRY",
                                 "VANDORA_LOG", "VANDORA_HOME", "XDG_STATE_HOME"}) {
            unsetenv(name);
        }
        if (!root.empty() && !HasFailure()) {
            std::error_code ec;
            fs::remove_all(root, ec);
        }
    }

    // Starts the broker with the listener lines given and waits until it accepts connections.
    void startBroker(const std::string& listeners) {
        // Started as root the broker would become the user mosquitto, which may neither read
        // the test's keys nor write its sessions into the test's folder.
        std::ofstream(root / "broker.conf") << listeners << (::geteuid() == 0 ? "user root\n" : "")
                                            << "persistence true\npersistence_location "
                                            << root.string() << "/\nautosave_interval 0\n";
        broker = children->spawn({kBroker, "-c", (root / "broker.conf").string()},
                                 (root / "broker.log").string());
        ASSERT_TRUE(eventually([&] { return accepts(port); }, std::chrono::seconds(30)))
            << fileText(root / "broker.log");
    }
    // Stops it as the system would; it keeps its sessions on disk.
    void stopBroker() {
        ::kill(broker, SIGTERM);
        ASSERT_EQ(children->waitExit(broker, 30), 0);
    }
    std::string plainListener() const {
        return "listener " + std::to_string(port) + " 127.0.0.1\nallow_anonymous true\n";
    }

    // The settings file: the laser scanning by itself, then the [MQTT] lines.
    void writeIni(const std::string& mqtt) {
        std::ofstream(root / "home" / "VandoraINI.txt", std::ios::binary)
            << "[General]\r\nkeyboardEmu=1\r\n[Barcode Reader 1D_LR]\r\nhas1D_955=1\r\n"
               "scanMode=7\r\n[MQTT]\r\nenable=1\r\nclientId=t1\r\n"
            << mqtt;
    }
    pid_t startService(int decodeMs) {
        std::string out = (root / ("service" + std::to_string(++starts) + ".out")).string();
        pid_t pid =
            children->spawn({programPath("vandora"), "--headless",
                             "--simulate=model=5,barcode=9,decodeMs=" + std::to_string(decodeMs)},
                            out);
        return pid;
    }
    // The outbox's acknowledged-up-to mark (0 before the first).
    std::uint64_t acknowledgedMark() const {
        std::string text = fileText(root / "state" / "vandora" / "mqtt-acked");
        return text.empty() ? 0 : std::stoull(text);
    }
    std::string serviceLog() const {
        std::string all;
        for (int i = 1; i <= starts; ++i) {
            all += fileText(root / ("service" + std::to_string(i) + ".out"));
        }
        return all;
    }

    fs::path root;
    int port = 0;
    std::string suffix;
    int starts = 0;
    pid_t broker = -1;
    std::unique_ptr<Children> children = std::make_unique<Children>();
};

TEST_F(MqttFleet, EveryDecodeArrivesInOrderThroughABrokerOutageAndAKill) {
    constexpr std::uint64_t kDecodes = 1000;
    startBroker(plainListener());
    writeIni("broker=mqtt://127.0.0.1:" + std::to_string(port) + "\r\n");
    Subscriber sub("checker", false);
    ASSERT_TRUE(sub.connect(port, {{"vandora/t1/decode", 1}, {"vandora/t1/status", 1}}));
    pid_t service = startService(2);
    ASSERT_TRUE(eventually([&] { return sub.highestSeq("vandora/t1/decode") >= 150; },
                           std::chrono::seconds(60)))
        << serviceLog();

    // The broker goes away; decodes go on into the outbox.
    stopBroker();
    fs::path outbox = root / "state" / "vandora" / "mqtt-outbox";
    auto lines = [&] {
        std::string text = fileText(outbox);
        return std::count(text.begin(), text.end(), '\n');
    };
    long before = lines();
    ASSERT_TRUE(eventually([&] { return lines() >= before + 100; }, std::chrono::seconds(60)));
    startBroker(plainListener());
    std::uint64_t reached = sub.highestSeq("vandora/t1/decode");
    ASSERT_TRUE(eventually([&] { return sub.highestSeq("vandora/t1/decode") >= reached + 200; },
                           std::chrono::seconds(60)))
        << serviceLog();

    // Killed: the will says offline at once; the restarted service carries on.
    ::kill(service, SIGKILL);
    ASSERT_EQ(children->waitExit(service, 30), -1);
    ASSERT_TRUE(sub.waitMessage("vandora/t1/status", [](const Json& j) {
        return j == Json{{"online", false}};
    }));
    service = startService(2);
    ASSERT_TRUE(eventually([&] { return sub.highestSeq("vandora/t1/decode") >= kDecodes; },
                           std::chrono::seconds(60)))
        << serviceLog();

    // While it runs the retained status is the bus's, online; a newcomer gets it at once.
    {
        Subscriber late("late");
        ASSERT_TRUE(late.connect(port, {{"vandora/t1/status", 1}}));
        auto status = late.waitMessage("vandora/t1/status", [](const Json& j) {
            return j.value("online", false) && j.value("BarcodeReady", false);
        });
        ASSERT_TRUE(status.has_value());
        EXPECT_EQ((*status)["BarcodeEngine"], 9);
        EXPECT_EQ((*status)["Model"], 5);
        EXPECT_EQ((*status)["DroppedDecodes"], 0);
        EXPECT_TRUE(late.received().front().retained);
    }
    ::kill(service, SIGTERM);
    ASSERT_EQ(children->waitExit(service, 30), 0) << serviceLog();

    // Every number from 1 on, each first seen after the one before it.
    std::vector<std::uint64_t> seqs = sub.seqs("vandora/t1/decode");
    std::uint64_t next = 1;
    std::size_t duplicates = 0;
    for (std::uint64_t seq : seqs) {
        if (seq == next) {
            ++next;
        } else if (seq < next) {
            ++duplicates;
        } else {
            ADD_FAILURE() << "decode " << seq << " arrived before " << next;
            break;
        }
    }
    EXPECT_GT(next, kDecodes);
    std::printf("decodes seen: %zu, numbers 1 to %llu, duplicates: %zu\n", seqs.size(),
                static_cast<unsigned long long>(next - 1), duplicates);
    // Each decode as pinned.
    Json first = Json::parse(sub.received().front().payload, nullptr, false);
    for (const auto& r : sub.received()) {
        if (r.topic == "vandora/t1/decode") {
            first = Json::parse(r.payload);
            break;
        }
    }
    EXPECT_EQ(first["terminal"], "t1");
    EXPECT_EQ(first["kind"], "barcode");
    EXPECT_TRUE(first["time"].get<std::string>().ends_with("Z"));
    EXPECT_EQ(first["time"].get<std::string>().size(),
              std::string("2026-01-01T00:00:00.000Z").size());
    EXPECT_TRUE(first["type"].is_number());
    EXPECT_FALSE(first["hex"].get<std::string>().empty());
    // The clean stop left the retained status offline, and [MQTT] in the file as it was.
    Subscriber after("after");
    ASSERT_TRUE(after.connect(port, {{"vandora/t1/status", 1}}));
    ASSERT_TRUE(after.waitMessage("vandora/t1/status", [](const Json& j) {
        return j == Json{{"online", false}};
    }));
    EXPECT_NE(iniText(root / "home" / "VandoraINI.txt").find("clientid=t1"), std::string::npos);
}

TEST_F(MqttFleet, SettingsFromTheBrokerAndItsAccessControl) {
    // Three users: the terminal, an administrator, and one who may only read.
    fs::path passwords = root / "passwords";
    std::ofstream(passwords) << "";
    for (const char* user : {"terminal", "admin", "intruder"}) {
        auto run =
            vandora::testing::runProgram({{"/usr/bin/mosquitto_passwd", "-b", passwords.string(),
                                           user, std::string(user) + "-pw"},
                                          "",
                                          "",
                                          {}},
                                         true);
        ASSERT_EQ(run.exitCode, 0) << run.out;
    }
    std::ofstream(root / "acl") << "user terminal\ntopic readwrite vandora/#\n"
                                   "user admin\ntopic readwrite vandora/#\n"
                                   "user intruder\ntopic read vandora/#\n";
    startBroker("listener " + std::to_string(port) + " 127.0.0.1\nallow_anonymous false\n" +
                "password_file " + passwords.string() + "\nacl_file " + (root / "acl").string() +
                "\n");
    std::ofstream(root / "terminal.pw") << "terminal-pw\n";
    // At QoS 0 a decode leaves the outbox once written.
    writeIni("broker=mqtt://127.0.0.1:" + std::to_string(port) +
             "\r\nusername=terminal\r\npasswordFile=" + (root / "terminal.pw").string() +
             "\r\nqos=0\r\n");
    Subscriber admin("admin");
    admin.credentials("admin", "admin-pw");
    ASSERT_TRUE(admin.connect(
        port,
        {{"vandora/t1/config/result", 1}, {"vandora/t1/status", 1}, {"vandora/t1/decode", 1}}));
    pid_t service = startService(300);
    ASSERT_TRUE(admin.waitMessage("vandora/t1/status", [](const Json& j) {
        return j.value("BarcodeReady", false);
    })) << serviceLog();

    auto result = [&](const Json& id) {
        return admin.waitMessage("vandora/t1/config/result",
                                 [&](const Json& j) { return j.contains("id") && j["id"] == id; });
    };
    ASSERT_TRUE(admin.publish("vandora/t1/config/set",
                              R"({"id":1,"section":"General","key":"keyboardEmu","value":"2"})"));
    auto ok = result(1);
    ASSERT_TRUE(ok.has_value()) << serviceLog();
    EXPECT_EQ(*ok, Json::parse(R"({"id":1,"ok":true})"));
    // Saved at once, as a bus call is.
    EXPECT_NE(iniText(root / "home" / "VandoraINI.txt").find("keyboardemu=2"), std::string::npos);

    ASSERT_TRUE(admin.publish("vandora/all/config/set",
                              R"({"id":"b","section":"General","key":"keyboardEmu","value":9})"));
    auto refused = result("b");
    ASSERT_TRUE(refused.has_value());
    EXPECT_EQ((*refused)["ok"], false);
    EXPECT_EQ((*refused)["error"], "InvalidValue");
    EXPECT_FALSE((*refused)["message"].get<std::string>().empty());

    // The reader-only user is dropped by the broker: once its message was taken, a later
    // request of the administrator is answered and the intruder's never is.
    Subscriber intruder("intruder");
    intruder.credentials("intruder", "intruder-pw");
    ASSERT_TRUE(intruder.connect(port, {}));
    ASSERT_TRUE(
        intruder.publish("vandora/t1/config/set",
                         R"({"id":3,"section":"General","key":"keyboardEmu","value":"0"})"));
    ASSERT_TRUE(admin.publish("vandora/t1/config/set",
                              R"({"id":4,"section":"General","key":"keyboardEmu","value":"2"})"));
    ASSERT_TRUE(result(4).has_value());
    for (const auto& r : admin.received()) {
        if (r.topic == "vandora/t1/config/result") {
            EXPECT_NE(Json::parse(r.payload)["id"], 3) << r.payload;
        }
    }
    EXPECT_NE(iniText(root / "home" / "VandoraINI.txt").find("keyboardemu=2"), std::string::npos);
    // The password never reaches the file or the log.
    EXPECT_EQ(iniText(root / "home" / "VandoraINI.txt").find("terminal-pw"), std::string::npos);
    EXPECT_EQ(serviceLog().find("terminal-pw"), std::string::npos);
    // Written is done at QoS 0, where no acknowledgement comes: decodes leave the outbox.
    ASSERT_TRUE(
        admin.waitMessage("vandora/t1/decode", [](const Json& j) { return j["seq"] == 2; }));
    EXPECT_TRUE(eventually([&] { return acknowledgedMark() >= 2; }, std::chrono::seconds(30)));
    ::kill(service, SIGTERM);
    EXPECT_EQ(children->waitExit(service, 30), 0);
}

TEST_F(MqttFleet, OverTlsWithTheSitesOwnAuthority) {
    // A certificate authority of the test's own and the broker's certificate from it.
    auto openssl = [&](std::vector<std::string> args) {
        args.insert(args.begin(), "/usr/bin/openssl");
        auto run = vandora::testing::runProgram({args, "", "", {}}, true);
        EXPECT_EQ(run.exitCode, 0) << run.out;
    };
    std::string dir = root.string() + "/";
    std::ofstream(root / "san.cnf") << "subjectAltName=IP:127.0.0.1,DNS:localhost\n";
    openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
             "-keyout", dir + "ca.key", "-out", dir + "ca.pem", "-days", "2", "-subj",
             "/CN=Vandora test authority"});
    openssl({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
             "-keyout", dir + "broker.key", "-out", dir + "broker.csr", "-subj", "/CN=localhost"});
    openssl({"x509", "-req", "-in", dir + "broker.csr", "-CA", dir + "ca.pem", "-CAkey",
             dir + "ca.key", "-CAcreateserial", "-out", dir + "broker.pem", "-days", "2",
             "-extfile", dir + "san.cnf"});
    ASSERT_FALSE(HasFailure());
    // TLS on the test's port; the subscriber checks through the same listener.
    startBroker("listener " + std::to_string(port) + " 127.0.0.1\nallow_anonymous true\n" +
                "cafile " + dir + "ca.pem\ncertfile " + dir + "broker.pem\nkeyfile " + dir +
                "broker.key\n");
    // At QoS 2 a decode leaves the outbox on the broker's PUBCOMP.
    writeIni("broker=mqtts://127.0.0.1:" + std::to_string(port) + "\r\ncaFile=" + dir +
             "ca.pem\r\nqos=2\r\n");
    Subscriber sub("tls-checker");
    sub.tls(dir + "ca.pem");
    ASSERT_TRUE(sub.connect(port, {{"vandora/t1/decode", 1}}));
    pid_t service = startService(50);
    auto decode = sub.waitMessage("vandora/t1/decode", [](const Json& j) { return j["seq"] == 3; });
    ASSERT_TRUE(decode.has_value()) << serviceLog();
    EXPECT_EQ((*decode)["terminal"], "t1");
    // Completed by the broker's PUBCOMP, decodes leave the outbox.
    EXPECT_TRUE(eventually([&] { return acknowledgedMark() >= 3; }, std::chrono::seconds(30)));
    ::kill(service, SIGTERM);
    EXPECT_EQ(children->waitExit(service, 30), 0);
}

}  // namespace
