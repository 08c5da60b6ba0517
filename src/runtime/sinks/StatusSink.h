// The status text of each decode in the main window's status box.
#pragma once

#include "runtime/DecodeSink.h"
#include "runtime/MainView.h"

namespace vandora {

class StatusSink final : public DecodeSink {
  public:
    // view may be null: nothing is shown.
    explicit StatusSink(MainView* view) : view_(view) {}
    void deliver(const Delivery& delivery, const AppSettings& settings) override;

  private:
    MainView* view_;
};

}  // namespace vandora
