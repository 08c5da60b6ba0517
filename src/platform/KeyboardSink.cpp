#include "platform/KeyboardSink.h"

#include "platform/XTestKeyboardSink.h"

#include <fcntl.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace vandora {

LogKeyboardSink::LogKeyboardSink(std::string path, Reporter report)
    : path_(std::move(path)), report_(std::move(report)) {
    if (!report_) {
        report_ = [](const std::string& message) {
            std::fprintf(stderr, "vandora: %s\n", message.c_str());
        };
    }
}

void LogKeyboardSink::appendLine(const std::string& line) {
    // Opened per line so that a log moved away or removed is started afresh; never blocking, so
    // that a FIFO nobody reads cannot hold up the decode; one write per line, so that lines of
    // two writers do not interleave.
    int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) {
        failed(errno);
        return;
    }
    std::string text = line + '\n';
    ssize_t n = ::write(fd, text.data(), text.size());
    int error = n < 0 ? errno : ENOSPC;
    ::close(fd);
    if (n != static_cast<ssize_t>(text.size())) {
        failed(error);
        return;
    }
    failing_ = false;
}

void LogKeyboardSink::failed(int error) {
    // Said once per spell of failures: a keystroke sink that fails fails for every key.
    if (failing_) {
        return;
    }
    failing_ = true;
    report_("the keyboard log " + path_ + " cannot be written (" + std::strerror(error) +
            "); keystrokes are dropped until it can");
}

void LogKeyboardSink::postCharacters(const std::vector<std::uint32_t>& characters) {
    std::string line = "post " + std::to_string(characters.size());
    char hex[16];
    for (std::uint32_t c : characters) {
        std::snprintf(hex, sizeof hex, " %X", c);
        line += hex;
    }
    appendLine(line);
}

void LogKeyboardSink::keyEvent(std::uint32_t vk, std::uint32_t scan, std::uint32_t flags) {
    appendLine("key " + std::to_string(vk) + " " + std::to_string(scan) + " " +
               std::to_string(flags));
}

namespace {

// Windows virtual-key code to Linux key code; 0 when there is no such key.
int linuxKeyOfVk(std::uint32_t vk) {
    static const int kDigits[] = {KEY_0, KEY_1, KEY_2, KEY_3, KEY_4,
                                  KEY_5, KEY_6, KEY_7, KEY_8, KEY_9};
    static const int kLetters[] = {KEY_A, KEY_B, KEY_C, KEY_D, KEY_E, KEY_F, KEY_G, KEY_H, KEY_I,
                                   KEY_J, KEY_K, KEY_L, KEY_M, KEY_N, KEY_O, KEY_P, KEY_Q, KEY_R,
                                   KEY_S, KEY_T, KEY_U, KEY_V, KEY_W, KEY_X, KEY_Y, KEY_Z};
    if (vk >= '0' && vk <= '9') {
        return kDigits[vk - '0'];
    }
    if (vk >= 'A' && vk <= 'Z') {
        return kLetters[vk - 'A'];
    }
    switch (vk) {
        case 9:
            return KEY_TAB;
        case 13:
            return KEY_ENTER;
        case 16:
            return KEY_LEFTSHIFT;
        case 17:
            return KEY_LEFTCTRL;
        case 0x20:
            return KEY_SPACE;
        case 0x6A:
            return KEY_KPASTERISK;
        case 0x6B:
            return KEY_KPPLUS;
        case 0xBA:
            return KEY_SEMICOLON;
        case 0xBB:
            return KEY_EQUAL;
        case 0xBC:
            return KEY_COMMA;
        case 0xBD:
            return KEY_MINUS;
        case 0xBE:
            return KEY_DOT;
        case 0xBF:
            return KEY_SLASH;
        case 0xC0:
            return KEY_GRAVE;
        case 0xDB:
            return KEY_LEFTBRACE;
        case 0xDC:
            return KEY_BACKSLASH;
        case 0xDD:
            return KEY_RIGHTBRACE;
        case 0xDE:
            return KEY_APOSTROPHE;
        default:
            return 0;
    }
}

// A character on the US layout: its key and whether Shift is needed.
std::pair<int, bool> keyOfCharacter(std::uint32_t c) {
    if (c >= 'a' && c <= 'z') {
        return {linuxKeyOfVk(c - 32), false};
    }
    if (c >= 'A' && c <= 'Z') {
        return {linuxKeyOfVk(c), true};
    }
    if (c >= '0' && c <= '9') {
        return {linuxKeyOfVk(c), false};
    }
    static const char kShifted[] = "!@#$%^&*()";
    static const char kShiftedDigits[] = "1234567890";
    for (int i = 0; kShifted[i] != '\0'; ++i) {
        if (c == static_cast<std::uint32_t>(kShifted[i])) {
            return {linuxKeyOfVk(static_cast<std::uint32_t>(kShiftedDigits[i])), true};
        }
    }
    struct Pair {
        char plain;
        char shifted;
        std::uint32_t vk;
    };
    static const Pair kPunctuation[] = {{' ', 0, 0x20},   {'-', '_', 0xBD},  {'=', '+', 0xBB},
                                        {'[', '{', 0xDB}, {']', '}', 0xDD},  {'\\', '|', 0xDC},
                                        {';', ':', 0xBA}, {'\'', '"', 0xDE}, {'`', '~', 0xC0},
                                        {',', '<', 0xBC}, {'.', '>', 0xBE},  {'/', '?', 0xBF}};
    for (const Pair& p : kPunctuation) {
        if (c == static_cast<std::uint32_t>(p.plain)) {
            return {linuxKeyOfVk(p.vk), false};
        }
        if (p.shifted != 0 && c == static_cast<std::uint32_t>(p.shifted)) {
            return {linuxKeyOfVk(p.vk), true};
        }
    }
    return {0, false};
}

}  // namespace

UinputKeyboardSink::UinputKeyboardSink() {
    fd_ = ::open("/dev/uinput", O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        return;
    }
    ioctl(fd_, UI_SET_EVBIT, EV_KEY);
    for (int key = KEY_ESC; key <= KEY_KPDOT; ++key) {
        ioctl(fd_, UI_SET_KEYBIT, key);
    }
    uinput_setup setup{};
    setup.id.bustype = BUS_VIRTUAL;
    setup.id.vendor = 0x1;
    setup.id.product = 0x1;
    std::strncpy(setup.name, "Vandora keyboard", UINPUT_MAX_NAME_SIZE - 1);
    if (ioctl(fd_, UI_DEV_SETUP, &setup) < 0 || ioctl(fd_, UI_DEV_CREATE) < 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

UinputKeyboardSink::~UinputKeyboardSink() {
    if (fd_ >= 0) {
        ioctl(fd_, UI_DEV_DESTROY);
        ::close(fd_);
    }
}

void UinputKeyboardSink::emit(int type, int code, int value) {
    if (fd_ < 0) {
        return;
    }
    input_event event{};
    event.type = static_cast<std::uint16_t>(type);
    event.code = static_cast<std::uint16_t>(code);
    event.value = value;
    [[maybe_unused]] ssize_t n = ::write(fd_, &event, sizeof event);
}

void UinputKeyboardSink::tap(int code, bool shift) {
    if (shift) {
        emit(EV_KEY, KEY_LEFTSHIFT, 1);
    }
    emit(EV_KEY, code, 1);
    emit(EV_SYN, SYN_REPORT, 0);
    emit(EV_KEY, code, 0);
    if (shift) {
        emit(EV_KEY, KEY_LEFTSHIFT, 0);
    }
    emit(EV_SYN, SYN_REPORT, 0);
}

void UinputKeyboardSink::postCharacters(const std::vector<std::uint32_t>& characters) {
    for (std::uint32_t c : characters) {
        auto [code, shift] = keyOfCharacter(c);
        if (code != 0) {
            tap(code, shift);
        }
    }
}

void UinputKeyboardSink::keyEvent(std::uint32_t vk, std::uint32_t /*scan*/, std::uint32_t flags) {
    int code = linuxKeyOfVk(vk);
    if (code == 0) {
        return;
    }
    emit(EV_KEY, code, (flags & kKeyUp) != 0 ? 0 : 1);
    emit(EV_SYN, SYN_REPORT, 0);
}

std::unique_ptr<KeyboardSink> makeKeyboardSink(const std::string& requested) {
    std::string name = requested;
    if (name.empty()) {
        const char* env = std::getenv("VANDORA_KEYBOARD");
        name = env != nullptr ? env : "";
    }
    if (name.rfind("log:", 0) == 0 && name.size() > 4) {
        return std::make_unique<LogKeyboardSink>(name.substr(4));
    }
    if (name == "uinput" || name.empty()) {
        auto sink = std::make_unique<UinputKeyboardSink>();
        if (sink->ready()) {
            return sink;
        }
    }
    const char* display = std::getenv("DISPLAY");
    if (name == "xtest" || (name.empty() && display != nullptr && *display != '\0')) {
        auto sink = std::make_unique<XTestKeyboardSink>();
        if (sink->ready()) {
            return sink;
        }
    }
    return std::make_unique<NullKeyboardSink>();
}

}  // namespace vandora
