// MainView: the window side of the service's main window. Without windows a headless view logs.
#pragma once

#include <string>

#include "common/ByteString.h"

namespace vandora {

class MainView {
  public:
    static constexpr int kOk = 1;
    static constexpr int kCancel = 2;

    virtual ~MainView() = default;
    virtual void setStatusText(const ByteString& text) = 0;
    // A message box; returns kOk or kCancel.
    virtual int messageBox(const std::string& text, const std::string& caption) = 0;
    virtual void showMaximized() {}
    // Whether the main window itself is the active window (decodes are then not typed).
    virtual bool isActive() const { return false; }
    // The "Please wait for initializing the 2D reader." box during a re-initialisation.
    virtual void showWaitMessage(bool /*show*/) {}
};

}  // namespace vandora
