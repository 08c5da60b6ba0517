// Management: the service's state and settings for management tools on the bus.
//
// The status properties are taken from the service whenever it says its state changed; the read
// counters go out at most once a second, the rest at once. Settings are read and written one key
// at a time, or as a whole INI text: a value is checked against its limits, sent to the engine
// with the commands load-all uses, and written into the store. An import is checked whole before
// anything is applied, so that a refused import changes nothing. Secret keys (SettingLimits) go
// only to callers who may change settings: others get AccessDenied for one, and an export
// without them; an import that lacks them leaves them as they are.
//
// Threading: the service's loop thread (the bus is served there).
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "platform/BusObject.h"
#include "runtime/ReaderService.h"

namespace vandora {

class Management final : public ManagementHandler {
  public:
    Management(ReaderService& service, ReaderBusObject& bus);
    ~Management() override;
    Management(const Management&) = delete;
    Management& operator=(const Management&) = delete;

    // The state as it is now.
    ReaderStatus status() const;
    // Publishes the state: counters wait until a second has passed since they were last sent.
    void refresh();
    // Also told each state as it goes to the bus (another place the state is published).
    void setStatusFollower(std::function<void(const ReaderStatus&)> follower) {
        follower_ = std::move(follower);
    }

    SettingAnswer getSetting(const std::string& section, const std::string& key,
                             bool mayChange) override;
    SettingAnswer setSetting(const std::string& section, const std::string& key,
                             const std::string& value) override;
    SettingAnswer exportSettings(bool mayChange) override;
    SettingAnswer importSettings(const std::string& ini) override;

  private:
    ReaderService& service_;
    ReaderBusObject& bus_;
    std::chrono::steady_clock::time_point countersSent_{};
    int timer_ = -1;
    std::function<void(const ReaderStatus&)> follower_;
};

}  // namespace vandora
