// MainView: the window side of the service's main window. Without windows a headless view logs.
#pragma once

#include <string>

#include "common/ByteString.h"

namespace vandora {

// Where a status text comes from, for a view that says some of them in other ways already.
enum class StatusOrigin {
    Plain,
    Logged,  // the service logged the same (a failure, an engine lost or back)
    Decode,  // a read's text
};

class MainView {
  public:
    static constexpr int kOk = 1;
    static constexpr int kCancel = 2;

    virtual ~MainView() = default;
    virtual void setStatusText(const ByteString& text) = 0;
    // The status text with its origin; a window shows every one alike.
    virtual void showStatus(const ByteString& text, StatusOrigin /*origin*/) {
        setStatusText(text);
    }
    // A message box; returns kOk or kCancel.
    virtual int messageBox(const std::string& text, const std::string& caption) = 0;
    virtual void showMaximized() {}
    // Whether the main window itself is the active window (decodes are then not typed).
    virtual bool isActive() const { return false; }
    // The "Please wait for initializing the 2D reader." box during a re-initialisation.
    virtual void showWaitMessage(bool /*show*/) {}

    // The calls below come from the picture and upload threads: a windowed view hands them to
    // its own thread.
    // The "Processing..." box with its progress bar, shown while a picture is taken or firmware
    // is loaded; the position runs from 0 to range.
    virtual void showProgress(bool /*show*/) {}
    virtual void setProgress(int /*position*/, int /*range*/) {}
    // The main window takes no input while firmware is loaded.
    virtual void setEnabled(bool /*enabled*/) {}
    // A file to open, chosen with the dialog's filter ("SHX Files (*.SHX)||"); empty when the
    // user cancels. Without windows nobody can choose: cancelled.
    virtual std::string chooseFile(const std::string& /*filter*/) { return {}; }
    // The picture just saved, shown on the "General" page.
    virtual void showPicture(const std::string& /*path*/) {}
};

}  // namespace vandora
