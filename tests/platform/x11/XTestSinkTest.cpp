// The XTest sink against a real X server: Xvfb with a small window that has the focus; the keys
// the sink types arrive there as key presses.
// GoogleTest first: the X headers define macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>
// clang-format off
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
// clang-format on
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/x11/XTestKeyboardSink.h"

#include <xkbcommon/xkbcommon.h>

namespace vandora {
namespace {

class Xvfb {
  public:
    // A server of its own on a free display number that the server picks and reports
    // (-displayfd): tests that run side by side, or a server of xvfb-run, are never shared.
    // Two servers starting at the same moment can pick the same number, so starts take turns.
    Xvfb() {
        if (system("command -v Xvfb >/dev/null 2>&1") != 0) {
            return;
        }
        int lock = open("/tmp/vandora-test-xvfb.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (lock >= 0) {
            flock(lock, LOCK_EX);
        }
        start();
        if (lock >= 0) {
            close(lock);
        }
    }
    void start() {
        int fds[2];
        if (pipe(fds) != 0) {
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {
            close(fds[0]);
            std::string fd = std::to_string(fds[1]);
            // -noreset: the server would otherwise reset when the start-up probe disconnects,
            // and refuse the test's own connection in the meantime.
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-noreset", "-nolisten", "tcp",
                   "-screen", "0", "640x480x24", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        char c = 0;
        while (poll(&p, 1, 10000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n') {
            number += c;
        }
        close(fds[0]);
        if (number.empty()) {
            return;
        }
        display_ = ":" + number;
        if (Display* d = XOpenDisplay(display_.c_str())) {
            XCloseDisplay(d);
            ready_ = true;
        }
    }
    ~Xvfb() { stop(); }
    void stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    bool ready() const { return ready_; }
    const std::string& display() const { return display_; }

  private:
    std::string display_;
    pid_t pid_ = -1;
    bool ready_ = false;
};

TEST(XTestSink, TypedKeysReachTheFocusedWindow) {
    Xvfb server;
    if (!server.ready()) {
        GTEST_SKIP() << "no Xvfb here: the XTest sink was not tested";
    }
    setenv("DISPLAY", server.display().c_str(), 1);
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    Window window =
        XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 200, 100, 0, 0, 0);
    XSelectInput(display, window, KeyPressMask | ExposureMask);
    XMapRaised(display, window);
    XSync(display, False);
    XSetInputFocus(display, window, RevertToParent, CurrentTime);
    XSync(display, False);

    XTestKeyboardSink sink;
    ASSERT_TRUE(sink.ready());
    // A character the keymap lacks (U+4F60) goes through a spare keycode.
    sink.postCharacters({'a', 'B', '1', '!', 0xE9, 0x4F60});
    sink.keyEvent(13, 0, 0);
    sink.keyEvent(13, 0, KeyboardSink::kKeyUp);

    std::vector<KeySym> typed;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (typed.size() < 7 && std::chrono::steady_clock::now() < deadline) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == KeyPress) {
                char text[16];
                KeySym sym = NoSymbol;
                XLookupString(&event.xkey, text, sizeof text, &sym, nullptr);
                if (sym != XK_Shift_L && sym != XK_Shift_R) {
                    typed.push_back(sym);
                }
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(typed, (std::vector<KeySym>{'a', 'B', '1', '!', 0xE9, 0x01004F60, XK_Return}));
    XDestroyWindow(display, window);
    XCloseDisplay(display);
    unsetenv("DISPLAY");
}

// A focused window of its own on the server of DISPLAY; what arrives there as text.
class FocusedWindow {
  public:
    FocusedWindow() : display_(XOpenDisplay(nullptr)) {
        if (display_ == nullptr) {
            return;
        }
        window_ =
            XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 200, 100, 0, 0, 0);
        XSelectInput(display_, window_, KeyPressMask);
        XMapRaised(display_, window_);
        XSync(display_, False);
        XSetInputFocus(display_, window_, RevertToParent, CurrentTime);
        XSync(display_, False);
    }
    ~FocusedWindow() {
        if (display_ != nullptr) {
            XDestroyWindow(display_, window_);
            XCloseDisplay(display_);
        }
    }
    FocusedWindow(const FocusedWindow&) = delete;
    FocusedWindow& operator=(const FocusedWindow&) = delete;
    bool ready() const { return display_ != nullptr; }
    // The characters of the key presses received, as UTF-8, once `count` of them have arrived
    // (or after five seconds without them); modifier keys are not characters.
    std::string received(std::size_t count) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (characters_ < count && std::chrono::steady_clock::now() < deadline) {
            while (XPending(display_) > 0) {
                XEvent event;
                XNextEvent(display_, &event);
                if (event.type != KeyPress) {
                    continue;
                }
                char bytes[16];
                KeySym sym = NoSymbol;
                XLookupString(&event.xkey, bytes, sizeof bytes, &sym, nullptr);
                char32_t c = xkb_keysym_to_utf32(static_cast<xkb_keysym_t>(sym));
                bool modifier = IsModifierKey(sym);
                if (modifier) {
                    continue;
                }
                char utf8[8];
                int n = xkb_keysym_to_utf8(static_cast<xkb_keysym_t>(sym), utf8, sizeof utf8);
                text_ += c != 0 && n > 1 ? std::string(utf8, static_cast<std::size_t>(n - 1))
                                         : "<" + std::to_string(sym) + ">";
                ++characters_;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return text_;
    }

  private:
    Display* display_;
    Window window_ = 0;
    std::string text_;
    std::size_t characters_ = 0;
};

struct LayoutCase {
    const char* layout;
    std::u16string_view text;
    const char* received;  // UTF-8
};

// The X server's own keymap, switched with setxkbmap: AltGr levels, umlauts, and the keys
// for tab, return and line feed.
TEST(XTestSink, TypesOnTheServersLayout) {
    if (system("command -v setxkbmap >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "no setxkbmap here: layouts were not switched";
    }
    Xvfb server;
    if (!server.ready()) {
        GTEST_SKIP() << "no Xvfb here: the XTest sink was not tested";
    }
    setenv("DISPLAY", server.display().c_str(), 1);
    const LayoutCase cases[] = {
        {"de", u"yz\u00E4\u00F6\u00FC\u00DF@\u20AC", "yz\u00E4\u00F6\u00FC\u00DF@\u20AC"},
        {"fr", u"\u00E9yz@\u20AC1", "\u00E9yz@\u20AC1"},
        {"us", u"yz@1", "yz@1"},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.layout);
        std::string command =
            std::string("setxkbmap -display ") + server.display() + " " + c.layout;
        ASSERT_EQ(system(command.c_str()), 0);
        FocusedWindow window;
        ASSERT_TRUE(window.ready());
        XTestKeyboardSink sink;
        ASSERT_TRUE(sink.ready());
        sink.postCharacters({c.text.begin(), c.text.end()});
        for (std::uint32_t vk : {9u, 13u, 10u}) {
            sink.keyEvent(vk, 0, 0);
            sink.keyEvent(vk, 0, KeyboardSink::kKeyUp);
        }
        std::string expected = std::string(c.received) + "\t\r\n";
        EXPECT_EQ(window.received(c.text.size() + 3), expected);
    }
    // The sink follows a switch made while it is open.
    ASSERT_EQ(system(("setxkbmap -display " + server.display() + " de").c_str()), 0);
    FocusedWindow window;
    XTestKeyboardSink sink;
    ASSERT_EQ(system(("setxkbmap -display " + server.display() + " fr").c_str()), 0);
    sink.postCharacters({u'\u00E9', u'a'});
    EXPECT_EQ(window.received(2), "\u00E9a");
    unsetenv("DISPLAY");
}

// A sink whose X server went away drops the keys; the process goes on (Xlib's own handler
// would end it).
TEST(XTestSink, AnXServerGoneCostsOnlyTheKeys) {
    Xvfb server;
    if (!server.ready()) {
        GTEST_SKIP() << "no Xvfb here: the XTest sink was not tested";
    }
    setenv("DISPLAY", server.display().c_str(), 1);
    XTestKeyboardSink sink;
    ASSERT_TRUE(sink.ready());
    server.stop();
    sink.postCharacters({'a', 0x4F60});
    sink.keyEvent(13, 0, 0);
    sink.keyEvent(13, 0, KeyboardSink::kKeyUp);
    sink.postCharacters({'b'});
    EXPECT_FALSE(sink.ready());
    unsetenv("DISPLAY");
}

}  // namespace
}  // namespace vandora
