#include "platform/KeyboardSink.h"

#include "platform/ProgramModule.h"
#include "platform/VirtualKeys.h"

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

constexpr std::uint32_t kEvdevOffset = 8;
constexpr std::uint32_t kLeftCtrl = KEY_LEFTCTRL + kEvdevOffset;
constexpr std::uint32_t kLeftShift = KEY_LEFTSHIFT + kEvdevOffset;

void defaultReport(const std::string& message) {
    std::fprintf(stderr, "vandora: %s\n", message.c_str());
}

}  // namespace

UinputKeyboardSink::UinputKeyboardSink() : UinputKeyboardSink(KeyLayout::configuredNames()) {}

UinputKeyboardSink::UinputKeyboardSink(const LayoutNames& names, Reporter report)
    : layout_(KeyLayout::fromNames(names)), report_(std::move(report)) {
    if (!report_) {
        report_ = defaultReport;
    }
    if (!layout_.ok()) {
        report_("keyboard layout " + names.describe() +
                " cannot be compiled; the virtual keyboard types nothing");
        return;
    }
    openDevice();
}

UinputKeyboardSink::UinputKeyboardSink(int eventFd, const LayoutNames& names, Reporter report)
    : layout_(KeyLayout::fromNames(names)), report_(std::move(report)), fd_(eventFd) {
    if (!report_) {
        report_ = defaultReport;
    }
}

void UinputKeyboardSink::openDevice() {
    fd_ = ::open("/dev/uinput", O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        return;
    }
    ownsFd_ = true;
    ioctl(fd_, UI_SET_EVBIT, EV_KEY);
    // Every key a layout may put a character on (AltGr, the Japanese and Korean keys among them).
    for (int key = KEY_ESC; key < 256; ++key) {
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
        ownsFd_ = false;
    }
}

UinputKeyboardSink::~UinputKeyboardSink() {
    if (ownsFd_) {
        ioctl(fd_, UI_DEV_DESTROY);
        ::close(fd_);
    }
}

void UinputKeyboardSink::press(std::uint32_t xkbKey, bool down) {
    auto add = [&](int type, int code, int value) {
        input_event event{};
        event.type = static_cast<std::uint16_t>(type);
        event.code = static_cast<std::uint16_t>(code);
        event.value = value;
        const auto* bytes = reinterpret_cast<const unsigned char*>(&event);
        pending_.insert(pending_.end(), bytes, bytes + sizeof event);
    };
    add(EV_KEY, static_cast<int>(xkbKey - kEvdevOffset), down ? 1 : 0);
    // A report per key change: the receiving side sees modifiers go down before the key.
    add(EV_SYN, SYN_REPORT, 0);
}

void UinputKeyboardSink::flush() {
    if (fd_ >= 0 && !pending_.empty()) {
        [[maybe_unused]] ssize_t n = ::write(fd_, pending_.data(), pending_.size());
    }
    pending_.clear();
}

void UinputKeyboardSink::type(const KeyStroke& stroke) {
    for (std::uint32_t modifier : stroke.modifiers) {
        press(modifier, true);
    }
    press(stroke.key, true);
    press(stroke.key, false);
    for (auto it = stroke.modifiers.rbegin(); it != stroke.modifiers.rend(); ++it) {
        press(*it, false);
    }
}

bool UinputKeyboardSink::typeByUnicodeEntry(char32_t character) {
    const KeyStroke* u = layout_.strokeOf(U'u');
    const KeyStroke* space = layout_.strokeOf(U' ');
    char hex[16];
    std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(character));
    std::vector<const KeyStroke*> digits;
    for (const char* d = hex; *d != '\0'; ++d) {
        digits.push_back(layout_.strokeOf(static_cast<char32_t>(*d)));
        if (digits.back() == nullptr) {
            return false;
        }
    }
    if (u == nullptr || space == nullptr) {
        return false;
    }
    press(kLeftCtrl, true);
    press(kLeftShift, true);
    press(u->key, true);
    press(u->key, false);
    press(kLeftShift, false);
    press(kLeftCtrl, false);
    for (const KeyStroke* digit : digits) {
        type(*digit);
    }
    type(*space);
    return true;
}

void UinputKeyboardSink::postCharacters(const std::vector<std::uint32_t>& characters) {
    if (!ready()) {
        return;
    }
    for (char32_t c : codePointsOf(characters)) {
        if (const KeyStroke* stroke = layout_.strokeOf(c)) {
            type(*stroke);
        } else if (!unicodeEntry_ || !typeByUnicodeEntry(c)) {
            ++dropped_;
        }
    }
    flush();
}

void UinputKeyboardSink::keyEvent(std::uint32_t vk, std::uint32_t /*scan*/, std::uint32_t flags) {
    std::uint16_t key = linuxKeyOfVirtualKey(vk);
    if (key == 0 || fd_ < 0) {
        return;
    }
    press(key + kEvdevOffset, (flags & kKeyUp) == 0);
    flush();
}

void UinputKeyboardSink::endOfText() {
    if (dropped_ == 0) {
        return;
    }
    // Counted, not named: the report goes to the log, which never holds decoded data.
    report_(std::to_string(dropped_) + " character(s) of this decode are not on keyboard " +
            "layout " + layout_.name() + " and were dropped" +
            (unicodeEntry_ ? "" : " (unicodeEntry=1 types them as Ctrl+Shift+U hex entry)"));
    dropped_ = 0;
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
        // The X client libraries come with the module, only when they are needed.
        using CreateSink = KeyboardSink* (*)();
        auto create = reinterpret_cast<CreateSink>(  // NOLINT: a symbol's address
            programModuleSymbol("vandora-xtest.so", "vandoraCreateXTestSink"));
        if (create != nullptr) {
            if (KeyboardSink* sink = create()) {
                return std::unique_ptr<KeyboardSink>(sink);
            }
        }
    }
    return std::make_unique<NullKeyboardSink>();
}

}  // namespace vandora
