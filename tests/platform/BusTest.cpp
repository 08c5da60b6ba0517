// The service's bus object as a caller sees it on a real bus (the tests run inside
// dbus-run-session; without a session bus they say so and skip).
#include <poll.h>
#include <systemd/sd-bus.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/BusConnection.h"
#include "platform/BusObject.h"

namespace vandora {
namespace {

bool haveSessionBus() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    return address != nullptr && *address != '\0';
}

// An unknown name comes back quoted in the error, cut to 64 characters so that a caller cannot
// make the reply as big as the request.
TEST(BusThreaded, UnknownMessageQuotesAtMost64CharactersOfTheName) {
    if (!haveSessionBus()) {
        GTEST_SKIP() << "no session bus: run inside dbus-run-session";
    }
    BusConnection connection;
    ASSERT_EQ(connection.open(false), 0);
    ReaderBusObject service(connection);
    ASSERT_EQ(
        service.serve([](const std::string&, std::uint32_t, std::int64_t) { return false; }, [] {}),
        0);
    // Called by its unique name: the well-known one may belong to another test on this bus.
    std::string unique = connection.uniqueName();
    ASSERT_FALSE(unique.empty());
    std::atomic<bool> stop{false};
    std::thread serving([&] {
        while (!stop) {
            pollfd p{connection.fd(), POLLIN, 0};
            poll(&p, 1, 20);
            connection.process();
        }
    });

    std::string e64;
    std::string e65;
    for (int i = 0; i < 64; ++i) {
        e64 += "\u00E9";  // two bytes each: the cut must not split one
    }
    e65 = e64 + "\u00E9";
    struct Case {
        std::string name;
        std::string message;
    };
    const Case cases[] = {
        {"WM_NOTHING", "unknown message 'WM_NOTHING'"},
        {std::string(64, 'x'), "unknown message '" + std::string(64, 'x') + "'"},
        {std::string(100000, 'x'), "unknown message '" + std::string(64, 'x') + "'..."},
        {e64, "unknown message '" + e64 + "'"},
        {e65 + "tail", "unknown message '" + e64 + "'..."},
    };
    sd_bus* caller = nullptr;
    ASSERT_GE(sd_bus_open_user(&caller), 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.substr(0, 20));
        sd_bus_error error{};
        int r = sd_bus_call_method(caller, unique.c_str(), kBusPath, kBusInterface, "PostMessage",
                                   &error, nullptr, "sux", c.name.c_str(), 0u, std::int64_t{0});
        EXPECT_LT(r, 0);
        EXPECT_STREQ(error.name, kUnknownMessageError);
        EXPECT_EQ(std::string(error.message != nullptr ? error.message : ""), c.message);
        sd_bus_error_free(&error);
    }
    sd_bus_flush_close_unref(caller);
    stop = true;
    serving.join();
}

}  // namespace
}  // namespace vandora
