// ServiceOutput: the service's link to other programs. It formats and delivers decodes
// (keystrokes, queue record and event, bus broadcasts) and serves the service's bus object
// (posted messages, Show, the single-instance name).
#pragma once

#include <string>

#include "runtime/MainDialog.h"

namespace vandora {

struct ServiceOutputOptions {
    std::string keyboard;  // sink name; empty: the default choice
    bool systemBus = false;
};

class ServiceOutput final : public DecodeOutput {
  public:
    explicit ServiceOutput(ServiceOutputOptions options) : options_(std::move(options)) {}

    // Serves the bus for this main window.
    void attach(MainDialog& dialog) { dialog_ = &dialog; }
    // Takes the service's well-known name; false when another instance holds it (it is then
    // asked to show itself).
    bool claimInstance();

    void showStatus(const DecodeCopy& decode, const AppSettings& settings, MainView& view) override;
    void typeOutput(const DecodeCopy& decode, const AppSettings& settings) override;
    void publish(const DecodeCopy& decode, const AppSettings& settings) override;

  private:
    ServiceOutputOptions options_;
    MainDialog* dialog_ = nullptr;
};

}  // namespace vandora
