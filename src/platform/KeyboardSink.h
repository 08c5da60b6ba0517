// KeyboardSink: where emulated keystrokes go.
//
// Two calls carry every key sequence: postCharacters (a batch of characters typed into the
// focused window) and keyEvent (one key going down or up, by Windows virtual-key code, with a
// scan code and flags: 2 key up, 4 silent). Sinks:
//   log:PATH  appends one line per call ("post N c1 c2 ..." with uppercase hexadecimal code
//             points, "key VK SCAN FLAGS" in decimal) so other programs can check sequences;
//   uinput    a virtual keyboard through /dev/uinput;
//   xtest     the X server's XTest extension (XTestKeyboardSink.h);
//   none      drops everything.
// A sink that fails (no device, file not writable, X server gone) drops the call and never
// blocks: the log is written without waiting, the virtual keyboard is non-blocking. The log sink
// says once that it cannot write (again only after it could in between), not once per key.
// Threading: one caller at a time (the user-interface thread).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vandora {

class KeyboardSink {
  public:
    static constexpr std::uint32_t kKeyUp = 2;
    static constexpr std::uint32_t kSilent = 4;

    virtual ~KeyboardSink() = default;
    virtual void postCharacters(const std::vector<std::uint32_t>& characters) = 0;
    virtual void keyEvent(std::uint32_t vk, std::uint32_t scan, std::uint32_t flags) = 0;
};

class NullKeyboardSink final : public KeyboardSink {
  public:
    void postCharacters(const std::vector<std::uint32_t>&) override {}
    void keyEvent(std::uint32_t, std::uint32_t, std::uint32_t) override {}
};

class LogKeyboardSink final : public KeyboardSink {
  public:
    // Receives the one line that says the log cannot be written; the default writes it to
    // standard error.
    using Reporter = std::function<void(const std::string& message)>;

    explicit LogKeyboardSink(std::string path, Reporter report = {});
    void postCharacters(const std::vector<std::uint32_t>& characters) override;
    void keyEvent(std::uint32_t vk, std::uint32_t scan, std::uint32_t flags) override;

  private:
    void appendLine(const std::string& line);
    void failed(int error);
    std::string path_;
    Reporter report_;
    bool failing_ = false;
};

// A virtual keyboard. Virtual-key codes are mapped to Linux key codes (Shift handled as the
// events say); posted characters are typed with the US layout, Shift where the character needs
// it; characters it has no key for are dropped.
class UinputKeyboardSink final : public KeyboardSink {
  public:
    UinputKeyboardSink();
    ~UinputKeyboardSink() override;
    bool ready() const { return fd_ >= 0; }
    void postCharacters(const std::vector<std::uint32_t>& characters) override;
    void keyEvent(std::uint32_t vk, std::uint32_t scan, std::uint32_t flags) override;

  private:
    void emit(int type, int code, int value);
    void tap(int code, bool shift);
    int fd_ = -1;
};

// The sink named by `name` ("uinput", "xtest", "log:PATH" or "none"), or, when name is empty, by
// $VANDORA_KEYBOARD, else uinput when /dev/uinput can be opened, else xtest when $DISPLAY is set
// and reachable, else none.
std::unique_ptr<KeyboardSink> makeKeyboardSink(const std::string& name);

}  // namespace vandora
