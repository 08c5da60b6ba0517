// The service's bus object on a real dbus-daemon: methods, the single-instance name and the
// signals as another connection sees them.
#include <gtest/gtest.h>
#include <poll.h>
#include <systemd/sd-bus.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/BusClient.h"
#include "platform/BusConnection.h"
#include "platform/BusObject.h"
#include "support/IpcNames.h"

namespace vandora {
namespace {

// The service's object on a real bus, served from its own thread; a second connection calls it
// and receives its signals.
TEST(BusThreaded, MethodsAndSignalsOnARealBus) {
    if (!haveSessionBus()) {
        GTEST_SKIP() << "no session bus: run inside dbus-run-session";
    }
    BusConnection connection;
    ASSERT_EQ(connection.open(false), 0);
    ReaderBusObject service(connection);
    std::atomic<int> posted{0};
    std::atomic<int> shown{0};
    ASSERT_EQ(service.serve(
                  [&](const std::string& name, std::uint32_t wParam, std::int64_t lParam) {
                      if (name != "WM_USER1DOWN") {
                          return false;
                      }
                      posted = static_cast<int>(wParam + lParam);
                      return true;
                  },
                  [&] { ++shown; }),
              0);
    ASSERT_EQ(service.requestName(), 1);
    std::atomic<bool> stop{false};
    std::thread serving([&] {
        while (!stop) {
            pollfd p{connection.fd(), POLLIN, 0};
            poll(&p, 1, 20);
            connection.process();
        }
    });

    ReaderBusClient client;
    ASSERT_EQ(client.open(false), 0);
    std::string error;
    EXPECT_EQ(client.callPostMessage("WM_USER1DOWN", 3, 4, error), 0) << error;
    EXPECT_EQ(posted.load(), 7);
    EXPECT_LT(client.callPostMessage("WM_NOTHING", 0, 0, error), 0);
    EXPECT_EQ(error, kUnknownMessageError);
    EXPECT_EQ(client.callShow(error), 0);
    EXPECT_EQ(shown.load(), 1);

    // A second owner of the name is refused.
    BusConnection secondConnection;
    ASSERT_EQ(secondConnection.open(false), 0);
    ReaderBusObject second(secondConnection);
    EXPECT_EQ(second.requestName(), -EEXIST);

    // Signals, received by a plain connection with a match.
    sd_bus* listener = nullptr;
    ASSERT_GE(sd_bus_open_user(&listener), 0);
    std::vector<std::string> received;
    auto onSignal = [](sd_bus_message* m, void* user, sd_bus_error*) -> int {
        auto* list = static_cast<std::vector<std::string>*>(user);
        const char* name = nullptr;
        sd_bus_message_read(m, "s", &name);
        list->push_back(std::string(sd_bus_message_get_member(m)) + ":" + (name ? name : ""));
        return 0;
    };
    ASSERT_GE(sd_bus_add_match(listener, nullptr, "type='signal',interface='org.vandora.Reader1'",
                               onSignal, &received),
              0);
    // A record's worth of bytes: what the signals carry is the bus object's business, not the
    // record's format.
    const std::vector<std::uint8_t> record(kDecodeRecordSize, 'x');
    stop = true;
    serving.join();
    EXPECT_EQ(service.emitCopyData("DECODE_MSG", record.data(), record.size()), 0);
    EXPECT_EQ(service.emitMessage("DECODE_MSG", 7, 0), 0);
    service.flush();
    // A bound for signals that never come only; they arrive in milliseconds.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (received.size() < 2 && std::chrono::steady_clock::now() < deadline) {
        while (sd_bus_process(listener, nullptr) > 0) {
        }
        sd_bus_wait(listener, 20000);
    }
    EXPECT_EQ(received, (std::vector<std::string>{"CopyData:DECODE_MSG", "Message:DECODE_MSG"}));
    sd_bus_flush_close_unref(listener);
}

}  // namespace
}  // namespace vandora
