// Helpers of the tests that use the real queue, event and bus: private IPC names, and whether
// there is a session bus.
#pragma once

#include <mqueue.h>
#include <semaphore.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/DecodeChannel.h"

namespace vandora {

// A private suffix for the IPC names of one test, removed afterwards.
class IpcNames {
  public:
    IpcNames() {
        static int counter = 0;
        suffix_ = ".t" + std::to_string(getpid()) + "-" + std::to_string(counter++);
        setenv("VANDORA_IPC_SUFFIX", suffix_.c_str(), 1);
    }
    ~IpcNames() {
        mq_unlink(decodeQueueName().c_str());
        sem_unlink(decodeEventName().c_str());
        unsetenv("VANDORA_IPC_SUFFIX");
    }
    IpcNames(const IpcNames&) = delete;
    IpcNames& operator=(const IpcNames&) = delete;

  private:
    std::string suffix_;
};

// The tests run inside dbus-run-session; without a session bus the bus tests say so and skip.
inline bool haveSessionBus() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    return address != nullptr && *address != '\0';
}

}  // namespace vandora
