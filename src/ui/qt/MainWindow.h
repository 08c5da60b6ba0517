// MainWindow: the windowed view of the service. The three tabs ("General", "Symbologies",
// "About") in the 320 x 300 layout or, on a 480-pixel wide screen, twice as large (640 x 600, the
// same layout at a device pixel ratio of 2); the tray icon with its reader switches; hiding on
// Enter (minimising where there is no tray) and showing on "Maximize" or the bus's Show; the
// hidden F4/F7 key sequence; the message, please-wait and progress boxes; the picture of the last
// capture on the General page.
//
// The service's event loop runs inside Qt's, on the one user-interface thread: its wake-up
// descriptor and watched descriptors become socket notifiers, its next timer a single-shot timer.
// Calls from the service's worker threads are carried over to that thread.
#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <utility>

#include "runtime/MainView.h"
#include "runtime/ReaderService.h"
#include "ui/TrayMenu.h"
#include "ui/pages/PageCatalog.h"
#include "ui/qt/PageWidget.h"

class QTabWidget;
class QSystemTrayIcon;
class QMenu;
class QSocketNotifier;
class QTimer;
class QProgressDialog;
class QLabel;

namespace vandora::ui::qt {

class MainWindow final : public QWidget, public MainView {
  public:
    // scale: the device pixels per layout unit that pictures of the window are drawn with; 0:
    // the screen's own ratio.
    explicit MainWindow(int scale = 0);
    ~MainWindow() override;

    // Builds the tabs and the tray icon over the service and drives its event loop. The pages
    // are built again once the service has found its engines.
    void attach(ReaderService& service);
    // Drops the service's descriptors and timers from Qt's loop.
    void detach();

    int scale() const { return scale_; }
    QTabWidget* tabs() { return tabs_; }
    PageWidget* tabPage(int index);
    // Opens the dialog page an action names, modally; returns when it closes.
    void openDialogPage(const Action& action);
    // Makes the dialog of a page without running it (for pictures of it).
    std::unique_ptr<OptionDialog> makeDialog(const Action& action);

    // MainView
    void setStatusText(const ByteString& text) override;
    int messageBox(const std::string& text, const std::string& caption) override;
    void showMaximized() override;
    bool isActive() const override { return active_.load(); }
    void showWaitMessage(bool show) override;
    void showProgress(bool show) override;
    void setProgress(int position, int range) override;
    void setEnabled(bool enabled) override;
    std::string chooseFile(const std::string& filter) override;
    void showPicture(const std::string& path) override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void buildPages();
    void buildTray();
    void refreshAll();
    // Draws the General page again; from any thread.
    void refreshGeneral();
    void onAction(const Action& action);
    void hideToTray();
    void drive();
    void watchDescriptors();
    // Runs work on the user-interface thread, waiting for it when called from another thread.
    void onUiThread(const std::function<void()>& work);

    int scale_;
    ReaderService* service_ = nullptr;
    std::unique_ptr<PageCatalog> catalog_;
    std::unique_ptr<Page> pages_[3];
    PageWidget* pageWidgets_[3] = {nullptr, nullptr, nullptr};
    QTabWidget* tabs_ = nullptr;
    std::unique_ptr<TrayMenu> trayMenu_;
    QSystemTrayIcon* tray_ = nullptr;
    QMenu* menu_ = nullptr;
    FirmwareKeys firmwareKeys_;
    QElapsedTimer clock_;
    QSocketNotifier* wake_ = nullptr;
    std::map<std::pair<int, int>, QSocketNotifier*> watches_;
    QTimer* timer_ = nullptr;
    bool driving_ = false;
    bool wasBusy_ = true;
    std::atomic<bool> active_{false};
    QPointer<QWidget> waitBox_;
    QPointer<QProgressDialog> progress_;
};

}  // namespace vandora::ui::qt
