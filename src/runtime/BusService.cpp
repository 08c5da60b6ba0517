#include "runtime/BusService.h"

#include <poll.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>

#include "runtime/Messages.h"

#include "platform/BusClient.h"
#include "platform/Log.h"

namespace vandora {

void BusService::attach(EventLoop& loop) {
    if (connection_.open(systemBus_) < 0) {
        logMessage(LogLevel::Warning, std::string("no ") + (systemBus_ ? "system" : "session") +
                                          " bus: posted messages and broadcasts are off");
        return;
    }
    object_.serve(
        [&loop](const std::string& name, std::uint32_t wParam, std::int64_t lParam) {
            std::optional<Message> message = postedMessage(name, wParam, lParam);
            if (message) {
                loop.post(*message);
            }
            return message.has_value();
        },
        [&loop] { loop.post(shownMessage()); });
    loop.watchFd(connection_.fd(), POLLIN, [this](short) { connection_.process(); });
}

bool BusService::claimInstance() {
    if (!connection_.isOpen()) {
        return true;
    }
    int r = object_.requestName();
    if (r == -EEXIST || r == -EALREADY) {
        std::string error;
        ReaderBusClient(connection_).callShow(error);
        return false;
    }
    connection_.process();
    return true;
}

}  // namespace vandora
