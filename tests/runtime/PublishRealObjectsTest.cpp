// One decode published on the real queue, event and bus: what a waiting client and a second bus
// connection receive.
#include <gtest/gtest.h>

#include <systemd/sd-bus.h>
#include <chrono>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/BusConnection.h"
#include "platform/BusObject.h"
#include "platform/DecodeChannel.h"
#include "runtime/DecodeFormat.h"
#include "runtime/DecodePublish.h"
#include "support/IpcNames.h"
#include "vandora_client.h"

namespace vandora {
namespace {

// What a program on the bus sees of one signal of the service's object.
struct SeenSignal {
    std::string member;
    std::string path;
    std::string name;
    std::vector<std::uint8_t> data;  // CopyData
    std::uint32_t wParam = 0;        // Message
    std::int64_t lParam = -1;        // Message
};

int onServiceSignal(sd_bus_message* m, void* user, sd_bus_error*) {
    SeenSignal seen;
    seen.member = sd_bus_message_get_member(m);
    seen.path = sd_bus_message_get_path(m);
    const char* name = nullptr;
    sd_bus_message_read(m, "s", &name);
    seen.name = name != nullptr ? name : "";
    if (seen.member == "CopyData") {
        const void* bytes = nullptr;
        std::size_t size = 0;
        sd_bus_message_read_array(m, 'y', &bytes, &size);
        const auto* first = static_cast<const std::uint8_t*>(bytes);
        seen.data.assign(first, first + size);
    } else {
        sd_bus_message_read(m, "ux", &seen.wParam, &seen.lParam);
    }
    static_cast<std::vector<SeenSignal>*>(user)->push_back(seen);
    return 0;
}

// One RFID decode published on the real queue, event and bus: a client waiting on the event
// and a second bus connection both get the record itself.
TEST(PublishOnRealObjects, QueueEventAndBothSignalsCarryTheRecord) {
    if (!haveSessionBus()) {
        GTEST_SKIP() << "no session bus: run inside dbus-run-session";
    }
    IpcNames names;
    DecodeChannelWriter channel;
    ASSERT_TRUE(channel.ready());
    BusConnection connection;
    ASSERT_EQ(connection.open(false), 0);
    ReaderBusObject service(connection);
    sd_bus* listener = nullptr;
    ASSERT_GE(sd_bus_open_user(&listener), 0);
    std::vector<SeenSignal> seen;
    ASSERT_GE(sd_bus_add_match(listener, nullptr,
                               "type='signal',interface='org.vandora.Reader1',path='/org/vandora/"
                               "Reader'",
                               onServiceSignal, &seen),
              0);
    // The match is in place once the bus has answered a call made after it.
    ASSERT_GE(sd_bus_call_method(listener, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                 "org.freedesktop.DBus.Peer", "Ping", nullptr, nullptr, ""),
              0);

    ByteString user = ByteString::fromBytes(std::string_view("\x10\x20\x30", 3));
    DecodeQueueRecord record = rfidRecord(9, ByteString("E00401001234567A"), &user);
    ASSERT_EQ(publishDecode(record, {&channel, &service, true, true}), 1);

    vandora_client* client = vandora_client_open();
    ASSERT_NE(client, nullptr);
    vandora_decode decode;
    ASSERT_EQ(vandora_client_wait(client, 1000, &decode), 1);
    EXPECT_EQ(decode.code_type, 'V');
    EXPECT_STREQ(decode.uid, "E00401001234567A");
    EXPECT_EQ(decode.data_length, 3u);
    vandora_client_close(client);

    // A bound for signals that never come only; they arrive in milliseconds.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (seen.size() < 2 && std::chrono::steady_clock::now() < deadline) {
        while (sd_bus_process(listener, nullptr) > 0) {
        }
        sd_bus_wait(listener, 20000);
    }
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].member, "CopyData");
    EXPECT_EQ(seen[0].path, "/org/vandora/Reader");
    EXPECT_EQ(seen[0].name, "DECODE_MSG");
    EXPECT_TRUE(std::equal(record.begin(), record.end(), seen[0].data.begin(), seen[0].data.end()));
    EXPECT_EQ(seen[1].member, "Message");
    EXPECT_EQ(seen[1].name, "DECODE_MSG");
    EXPECT_EQ(seen[1].wParam, 0x20u);
    EXPECT_EQ(seen[1].lParam, 0);
    sd_bus_flush_close_unref(listener);
}

}  // namespace
}  // namespace vandora
