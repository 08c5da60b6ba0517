// ServiceOutput: the service's link to other programs. It formats and delivers decodes
// (keystrokes, the queue record and event, the bus broadcasts) and serves the service's bus
// object (posted messages, Show, the single-instance name).
#pragma once

#include <memory>
#include <string>

#include "platform/Bus.h"
#include "platform/DecodeChannel.h"
#include "platform/KeyboardSink.h"
#include "runtime/DecodeFormat.h"
#include "runtime/ReaderService.h"

namespace vandora {

// The output settings of a decode, copied from the settings record.
OutputOptions outputOptionsOf(const AppSettings& settings);

struct ServiceOutputOptions {
    std::string keyboard;  // sink name; empty: $VANDORA_KEYBOARD or the default choice
    bool systemBus = false;
};

class ServiceOutput final : public DecodeOutput {
  public:
    explicit ServiceOutput(ServiceOutputOptions options);

    // Connects to the bus and creates the queue and event for this main window. Without a bus
    // the service still runs; posted messages and broadcasts are then not available.
    void attach(ReaderService& service);
    // Takes the service's well-known name; false when another instance holds it, which is then
    // asked to show itself.
    bool claimInstance();
    bool hasBus() const { return bus_.isOpen(); }

    void showStatus(const DecodeCopy& decode, const AppSettings& settings, MainView& view) override;
    void typeOutput(const DecodeCopy& decode, const AppSettings& settings) override;
    void publish(const DecodeCopy& decode, const AppSettings& settings) override;

  private:
    ServiceOutputOptions options_;
    ReaderService* service_ = nullptr;
    Bus bus_;
    std::unique_ptr<KeyboardSink> keyboard_;
    std::unique_ptr<DecodeChannelWriter> channel_;
};

}  // namespace vandora
