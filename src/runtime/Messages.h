// The messages of the main window: the registered names other programs use, and their numbers
// inside the service.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "runtime/EventLoop.h"

namespace vandora {

namespace Msg {
constexpr std::uint32_t User1Down = 0xC001;
constexpr std::uint32_t User1Up = 0xC002;
constexpr std::uint32_t User2Down = 0xC003;
constexpr std::uint32_t User2Up = 0xC004;
constexpr std::uint32_t Decode = 0xC005;
constexpr std::uint32_t DecodeImage = 0xC006;
constexpr std::uint32_t DecodeError = 0xC007;
constexpr std::uint32_t ReadImage = 0xC008;
constexpr std::uint32_t TriggerOn = 0xC009;
constexpr std::uint32_t TriggerOff = 0xC00A;
constexpr std::uint32_t ImageCaptureOn = 0xC00B;
constexpr std::uint32_t ImageCaptureOff = 0xC00C;
// The plain message that starts the re-initialisation of the barcode reader.
constexpr std::uint32_t Reinit = 0x8205;
// Inside the service only: show the window; quit as the window's close does.
constexpr std::uint32_t Show = 0xC100;
constexpr std::uint32_t Quit = 0xC101;
// Inside the service only: the slow work of a start or a reconnection is done; the barcode
// engine's device went away.
constexpr std::uint32_t BackgroundDone = 0xC102;
constexpr std::uint32_t BarcodeLost = 0xC103;
// A read on a trigger press found nothing; wParam: the channel's error.
constexpr std::uint32_t ReadFailed = 0xC104;
}  // namespace Msg

// A message name as other programs post it ("WM_USER1DOWN", or a number written "0x8205");
// empty for a name that is not one of ours.
std::optional<std::uint32_t> messageByName(std::string_view name);
// The registered names other programs may post, in the order they are listed to people.
std::vector<std::string_view> messageNames();

// The message a PostMessage call over the bus posts to the main window: the name looked up as
// above, wParam and lParam passed on as they came. Empty for a name that is not one of ours; the
// call is then refused and nothing is posted.
std::optional<Message> postedMessage(std::string_view name, std::uint32_t wParam,
                                     std::int64_t lParam);
// The message a Show call over the bus posts: the window shows itself.
Message shownMessage();

}  // namespace vandora
