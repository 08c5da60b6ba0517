// WindowModule: what the program asks of its windows, which live in a loadable module so that a
// service without a display never maps the toolkit.
//
// The program creates the view before the service (the service talks to it from its start),
// then hands the service over and lets the windows run the service's event loop until it quits.
#pragma once

#include "runtime/MainView.h"

namespace vandora {

class ReaderService;

struct WindowModule {
    // The toolkit and the window view; null when no display can be opened.
    MainView* (*createView)(int* argc, char** argv);
    // Builds the main window, its tabs and the tray icon over the started (or starting) service
    // and runs its event loop until the service quits; returns the loop's exit code.
    int (*run)(MainView* view, ReaderService* service);
    void (*destroyView)(MainView* view);
    // Renders every tab and dialog page of the service's terminal into folder as PNG files, on
    // the offscreen platform; returns the number of pictures written, -1 on failure.
    int (*screenshots)(ReaderService* service, const char* folder, int scale);
};

// The module's file and the symbol that returns its WindowModule.
inline constexpr const char* kWindowModuleFile = "vandora-qt.so";
inline constexpr const char* kWindowModuleSymbol = "vandora_window_module";
using WindowModuleEntry = const WindowModule* (*)();

}  // namespace vandora
