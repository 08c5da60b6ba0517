// The [MQTT] section as the service reads it: defaults, every key, and the bad values reported
// in the words the other bad values of the file get, with the client kept off when it cannot
// work.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/MqttSettings.h"

namespace vandora {
namespace {

IniStore storeOf(const std::string& text) {
    IniStore store;
    store.loadBytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    return store;
}

TEST(MqttSettings, AFileWithoutTheSectionKeepsTheClientOffWithTheDefaults) {
    MqttSettings s;
    EXPECT_TRUE(readMqttSettings(storeOf("[General]\r\nkeyboardEmu=1\r\n"), "term7", s).empty());
    EXPECT_FALSE(s.enable);
    EXPECT_EQ(s.clientId, "term7");
    EXPECT_EQ(s.topicPrefix, "vandora");
    EXPECT_EQ(s.qos, 1);
    EXPECT_EQ(s.keepAlive, 30);
    EXPECT_EQ(s.outboxLimit, 100000u);
}

TEST(MqttSettings, EveryKeyIsRead) {
    MqttSettings s;
    auto problems = readMqttSettings(
        storeOf("[mqtt]\r\nenable=1\r\nbroker=mqtts://[::1]:8884\r\nclientId=dock-3\r\n"
                "topicPrefix=site/a\r\nqos=2\r\nkeepAlive=60\r\nusername=reader\r\n"
                "passwordFile=/etc/vandora/mqtt.pw\r\ncaFile=/ca.pem\r\ncertFile=/c.pem\r\n"
                "keyFile=/k.pem\r\noutboxLimit=500\r\n"),
        "host", s);
    EXPECT_TRUE(problems.empty());
    EXPECT_TRUE(s.enable);
    EXPECT_EQ(s.host, "::1");
    EXPECT_EQ(s.port, 8884);
    EXPECT_TRUE(s.tls);
    EXPECT_EQ(s.clientId, "dock-3");
    EXPECT_EQ(s.topicPrefix, "site/a");
    EXPECT_EQ(s.qos, 2);
    EXPECT_EQ(s.keepAlive, 60);
    EXPECT_EQ(s.username, "reader");
    EXPECT_EQ(s.passwordFile, "/etc/vandora/mqtt.pw");
    EXPECT_EQ(s.caFile, "/ca.pem");
    EXPECT_EQ(s.certFile, "/c.pem");
    EXPECT_EQ(s.keyFile, "/k.pem");
    EXPECT_EQ(s.outboxLimit, 500u);
}

TEST(MqttSettings, BrokerAddresses) {
    struct Case {
        const char* url;
        bool ok;
        const char* host;
        int port;
        bool tls;
    };
    const Case cases[] = {
        {"mqtt://10.1.2.3:1884", true, "10.1.2.3", 1884, false},
        {"mqtt://broker.site", true, "broker.site", 1883, false},
        {"mqtts://broker.site", true, "broker.site", 8883, true},
        {"mqtts://broker.site:9999/", true, "broker.site", 9999, true},
        {"mqtt://[fe80::1]:1883", true, "fe80::1", 1883, false},
        {"tcp://broker:1883", false, "", 0, false},
        {"mqtt://broker:", false, "", 0, false},
        {"mqtt://broker:70000", false, "", 0, false},
        {"mqtt://:1883", false, "", 0, false},
        {"mqtt://user@broker:1883", false, "", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        std::string host;
        int port = 0;
        bool tls = false;
        ASSERT_EQ(parseBrokerUrl(c.url, host, port, tls), c.ok);
        if (c.ok) {
            EXPECT_EQ(host, c.host);
            EXPECT_EQ(port, c.port);
            EXPECT_EQ(tls, c.tls);
        }
    }
}

TEST(MqttSettings, BadValuesAreReportedAndKeepTheirDefaults) {
    struct Case {
        const char* line;
        const char* problem;
        bool staysOn;
    };
    const Case cases[] = {
        {"qos=3", "[MQTT] qos=3: outside 0 to 2 (allowed: 0 to 2)", true},
        {"keepAlive=x", "[MQTT] keepAlive=x: not a number (allowed: 5 to 65535)", true},
        {"outboxLimit=0", "[MQTT] outboxLimit=0: outside 1 to 100000000 (allowed: 1 to 100000000)",
         true},
        {"clientId=a/b",
         "[MQTT] clientId=a/b: holds a character topics reserve (allowed: text without '/', '+' "
         "and '#')",
         true},
        {"topicPrefix=site/#",
         "[MQTT] topicPrefix=site/#: holds a character topics reserve (allowed: text without '+' "
         "and '#')",
         true},
        {"broker=http://b:1",
         "[MQTT] broker=http://b:1: not a broker address (allowed: mqtt://host:port or "
         "mqtts://host:port)",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        std::string text = "[MQTT]\r\nenable=1\r\n";
        if (std::string(c.line).rfind("broker=", 0) != 0) {
            text += "broker=mqtt://b:1883\r\n";
        }
        text += std::string(c.line) + "\r\n";
        MqttSettings s;
        auto problems = readMqttSettings(storeOf(text), "host", s);
        ASSERT_EQ(problems, std::vector<std::string>{c.problem});
        EXPECT_EQ(s.enable, c.staysOn);
        EXPECT_EQ(s.qos, 1);
        EXPECT_EQ(s.keepAlive, 30);
        EXPECT_EQ(s.outboxLimit, 100000u);
        EXPECT_EQ(s.clientId, "host");
        EXPECT_EQ(s.topicPrefix, "vandora");
    }
    MqttSettings s;
    EXPECT_EQ(
        readMqttSettings(storeOf("[MQTT]\r\nenable=1\r\n"), "host", s),
        std::vector<std::string>{"[MQTT] enable=1 without a broker (allowed: mqtt://host:port or "
                                 "mqtts://host:port)"});
    EXPECT_FALSE(s.enable);
    EXPECT_EQ(readMqttSettings(storeOf("[MQTT]\r\nenable=2\r\nbroker=mqtt://b\r\n"), "host", s),
              std::vector<std::string>{"[MQTT] enable=2: outside 0 to 1 (allowed: 0 to 1)"});
    EXPECT_FALSE(s.enable);
}

}  // namespace
}  // namespace vandora
