// Drives the handling of the bus methods with arbitrary arguments. The first input byte picks
// the method (even: PostMessage, odd: Show); for PostMessage the next four bytes are wParam and
// the eight after them lParam (little-endian), and the rest is the name, cut at its first zero
// byte as a bus string arrives. Every call must give a message to post or a refusal, and the
// answer must match the rule written out here on its own: one of the registered names, or
// "0x"/"0X" and hexadecimal digits whose value is 0x8205; wParam and lParam passed on unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "common/Hex.h"

#include "runtime/Messages.h"

namespace {

using vandora::Message;
namespace Msg = vandora::Msg;

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

struct Named {
    std::string_view name;
    std::uint32_t id;
};
constexpr Named kNames[] = {
    {"WM_USER1DOWN", Msg::User1Down},
    {"WM_USER1UP", Msg::User1Up},
    {"WM_USER2DOWN", Msg::User2Down},
    {"WM_USER2UP", Msg::User2Up},
    {"WM_READIMAGE", Msg::ReadImage},
    {"WM_TRIGGERON", Msg::TriggerOn},
    {"WM_TRIGGEROFF", Msg::TriggerOff},
    {"WM_IMAGECAPTUREON", Msg::ImageCaptureOn},
    {"WM_IMAGECAPTUREOFF", Msg::ImageCaptureOff},
    {"WM_DECODEERROR", Msg::DecodeError},
};

// The message number a name stands for, by the rule above.
std::optional<std::uint32_t> expectedId(std::string_view name) {
    for (const Named& n : kNames) {
        if (n.name == name) {
            return n.id;
        }
    }
    if (name.size() < 3 || name[0] != '0' || (name[1] != 'x' && name[1] != 'X')) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (char c : name.substr(2)) {
        int digit = vandora::hexDigitValue(c);
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * 16 + static_cast<std::uint64_t>(digit);
        if (value > 0xFFFFFFFFu) {
            return std::nullopt;
        }
    }
    if (value != Msg::Reinit) {
        return std::nullopt;
    }
    return Msg::Reinit;
}

std::uint64_t little(const std::uint8_t* data, std::size_t n) {
    std::uint64_t value = 0;
    for (std::size_t i = n; i > 0; --i) {
        value = (value << 8) | data[i - 1];
    }
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    if ((data[0] & 1) != 0) {
        // Show takes no arguments and always shows the window.
        Message shown = vandora::shownMessage();
        check(shown.id == Msg::Show && shown.wParam == 0 && shown.lParam == 0);
        return 0;
    }
    constexpr std::size_t kHeader = 1 + 4 + 8;
    if (size < kHeader) {
        return 0;
    }
    auto wParam = static_cast<std::uint32_t>(little(data + 1, 4));
    auto lParam = static_cast<std::int64_t>(little(data + 5, 8));
    std::string_view bytes(reinterpret_cast<const char*>(data + kHeader), size - kHeader);
    std::string name(bytes.substr(0, bytes.find('\0')));

    std::optional<Message> posted = vandora::postedMessage(name, wParam, lParam);
    std::optional<std::uint32_t> expected = expectedId(name);
    check(posted.has_value() == expected.has_value());
    if (posted) {
        check(posted->id == *expected);
        check(posted->wParam == wParam);
        check(posted->lParam == lParam);
    }
    check(vandora::messageByName(name) == expected);
    return 0;
}
