#include "runtime/Messages.h"

#include <array>
#include <charconv>

namespace vandora {

namespace {
struct Named {
    std::string_view name;
    std::uint32_t id;
};
constexpr std::array<Named, 10> kIncoming{{
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
}};
}  // namespace

std::optional<std::uint32_t> messageByName(std::string_view name) {
    for (const Named& n : kIncoming) {
        if (n.name == name) {
            return n.id;
        }
    }
    // Plain message numbers: only the one the window handles, in hexadecimal digits alone (no
    // blank, sign or second prefix, which strtoul would take).
    if (name.size() > 2 && name[0] == '0' && (name[1] == 'x' || name[1] == 'X')) {
        std::string_view digits = name.substr(2);
        const char* end = digits.data() + digits.size();
        std::uint32_t value = 0;
        auto [stop, error] = std::from_chars(digits.data(), end, value, 16);
        if (error == std::errc() && stop == end && value == Msg::Reinit) {
            return Msg::Reinit;
        }
    }
    return std::nullopt;
}

std::vector<std::string_view> messageNames() {
    std::vector<std::string_view> names;
    names.reserve(std::size(kIncoming));
    for (const Named& n : kIncoming) {
        names.push_back(n.name);
    }
    return names;
}

std::optional<Message> postedMessage(std::string_view name, std::uint32_t wParam,
                                     std::int64_t lParam) {
    std::optional<std::uint32_t> id = messageByName(name);
    if (!id) {
        return std::nullopt;
    }
    return Message{*id, wParam, lParam};
}

Message shownMessage() {
    return Message{Msg::Show, 0, 0};
}

}  // namespace vandora
