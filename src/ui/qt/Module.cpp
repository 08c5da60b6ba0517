// The windows as a loadable module: the program finds vandora_window_module() and gets the
// functions that create the view, run it over the service and draw the pages' pictures.
#include <QApplication>
#include <QScreen>
#include <cstdlib>
#include <memory>

#include "ui/TrayMenu.h"
#include "ui/WindowModule.h"
#include "ui/qt/MainWindow.h"
#include "ui/qt/Screenshots.h"

namespace {

using vandora::MainView;
using vandora::ReaderService;
using vandora::ui::qt::MainWindow;

std::unique_ptr<QApplication> gApp;

MainView* createView(int* argc, char** argv) {
    gApp = std::make_unique<QApplication>(*argc, argv);
    // A 480-pixel wide screen gets the large layout: the toolkit starts again drawing everything
    // at twice the size, unless the session chose its own scale factor.
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen != nullptr && vandora::ui::screenScale(screen->size().width()) == 2 &&
        std::getenv("QT_SCALE_FACTOR") == nullptr) {
        gApp.reset();
        setenv("QT_SCALE_FACTOR", "2", 1);
        gApp = std::make_unique<QApplication>(*argc, argv);
    }
    return new MainWindow();
}

int run(MainView* view, ReaderService* service) {
    auto* window = static_cast<MainWindow*>(view);
    window->attach(*service);
    int code = QApplication::exec();
    window->detach();
    return code;
}

void destroyView(MainView* view) {
    delete static_cast<MainWindow*>(view);
    gApp.reset();
}

int screenshots(ReaderService* service, const char* folder, int scale) {
    // Drawn without a display, whatever the session has.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "vandora";
    static char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    return vandora::ui::qt::writeScreenshots(*service, QString::fromLocal8Bit(folder), scale);
}

const vandora::WindowModule kModule{createView, run, destroyView, screenshots};

}  // namespace

extern "C" __attribute__((visibility("default"))) const vandora::WindowModule*
vandora_window_module() {
    return &kModule;
}
