#include "runtime/KeyboardEmulation.h"

#include <string_view>
#include <vector>

#include "common/Utf.h"

namespace vandora {

namespace {

// The sink as a paced job sees it: a wait before every call but the first, posted characters
// one per call while there is a wait, and nothing at all once the job was given up.
class PacedKeyboard final : public KeyboardSink {
  public:
    PacedKeyboard(KeyboardSink& sink, Clock& clock, std::uint32_t delayMs,
                  const std::atomic<bool>* stop, bool started)
        : sink_(sink), clock_(clock), delayMs_(delayMs), stop_(stop), started_(started) {}
    void postCharacters(const std::vector<std::uint32_t>& characters) override {
        if (delayMs_ == 0) {
            if (pace()) {
                sink_.postCharacters(characters);
            }
            return;
        }
        for (std::size_t i = 0; i < characters.size(); ++i) {
            // A surrogate pair is one character: its two units travel together.
            std::size_t n = isHighSurrogate(characters[i]) && i + 1 < characters.size() ? 2 : 1;
            if (pace()) {
                sink_.postCharacters({characters.begin() + static_cast<std::ptrdiff_t>(i),
                                      characters.begin() + static_cast<std::ptrdiff_t>(i + n)});
            }
            i += n - 1;
        }
    }
    void keyEvent(std::uint32_t vk, std::uint32_t scan, std::uint32_t flags) override {
        if (pace()) {
            sink_.keyEvent(vk, scan, flags);
        }
    }

  private:
    bool pace() {
        if (stopped()) {
            return false;
        }
        if (started_ && delayMs_ != 0) {
            clock_.sleepMs(delayMs_);
        }
        started_ = true;
        return !stopped();
    }
    bool stopped() const { return stop_ != nullptr && stop_->load(); }

    KeyboardSink& sink_;
    Clock& clock_;
    std::uint32_t delayMs_;
    const std::atomic<bool>* stop_;
    bool started_;
};

constexpr std::uint32_t kShift = 16;
constexpr std::uint32_t kShiftScan = 0x58;
constexpr std::uint32_t kControl = 17;
constexpr std::uint32_t kWaitMs = 10;

void localMode(const ByteString& text, KeyboardSink& sink) {
    std::vector<std::uint32_t> pending;
    auto flush = [&] {
        if (!pending.empty()) {
            sink.postCharacters(pending);
            pending.clear();
        }
    };
    for (std::size_t i = 0; i < text.length(); ++i) {
        std::uint32_t c = text.at(i);
        if (c == 9 || c == 10 || c == 13) {
            flush();
            sink.keyEvent(c, 0, 0);
            sink.keyEvent(c, 0, KeyboardSink::kKeyUp);
        } else {
            pending.push_back(c);
        }
    }
    flush();
}

class RdpTyper {
  public:
    RdpTyper(KeyboardSink& sink, Clock& clock) : sink_(sink), clock_(clock) {}
    void press(std::uint32_t vk) {
        sink_.keyEvent(vk, 0, 0);
        sink_.keyEvent(vk, 0, KeyboardSink::kKeyUp);
    }
    void shiftDown() { sink_.keyEvent(kShift, kShiftScan, KeyboardSink::kSilent); }
    void shiftUp() {
        sink_.keyEvent(kShift, kShiftScan, KeyboardSink::kKeyUp | KeyboardSink::kSilent);
    }
    void wait() { clock_.sleepMs(kWaitMs); }
    void shifted(std::uint32_t vk) {
        shiftDown();
        wait();
        press(vk);
        shiftUp();
        wait();
    }
    void unshifted(std::uint32_t vk) {
        shiftUp();
        wait();
        press(vk);
    }
    KeyboardSink& sink() { return sink_; }

  private:
    KeyboardSink& sink_;
    Clock& clock_;
};

// Key of a punctuation character that needs no Shift, or 0.
std::uint32_t plainKey(std::uint32_t c) {
    constexpr std::string_view chars = "*+;=,-./\\[] `'";
    constexpr std::uint32_t keys[] = {0x6A, 0x6B, 0xBA, 0xBB, 0xBC, 0xBD, 0xBE,
                                      0xBF, 0xDC, 0xDB, 0xDD, 0x20, 0xC0, 0xDE};
    std::size_t pos = chars.find(static_cast<char>(c));
    return c < 128 && pos != std::string_view::npos ? keys[pos] : 0;
}

// Key of a character typed with Shift, or 0.
std::uint32_t shiftedKey(std::uint32_t c) {
    constexpr std::string_view chars = "!@#$%^&()~{}|:\"<>?_";
    constexpr std::uint32_t keys[] = {0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x39, 0x30, 0xC0,
                                      0xDB, 0xDD, 0xDC, 0xBA, 0xDE, 0xBC, 0xBE, 0xBF, 0xBD};
    std::size_t pos = chars.find(static_cast<char>(c));
    return c < 128 && pos != std::string_view::npos ? keys[pos] : 0;
}

void rdpMode(const ByteString& text, KeyboardSink& sink, Clock& clock) {
    RdpTyper typer(sink, clock);
    for (std::size_t i = 0; i < text.length(); ++i) {
        std::uint32_t c = text.at(i);
        if (c == kControl) {
            if (i + 1 < text.length()) {
                std::uint32_t n = text.at(++i);
                sink.keyEvent(kControl, 0, 0);
                typer.wait();
                typer.press(n & 0xFF);
                sink.keyEvent(kControl, 0, KeyboardSink::kKeyUp);
            }
        } else if (c >= 'a' && c <= 'z') {
            typer.unshifted(c - 32);
        } else if (c == 9 || c == 13) {
            typer.press(c);
        } else if (std::uint32_t plain = plainKey(c); plain != 0) {
            typer.press(plain);
        } else if (std::uint32_t key = shiftedKey(c); key != 0) {
            typer.shifted(key);
        } else if (c >= '0' && c <= '9') {
            typer.unshifted(c);
        } else if (c >= 'A' && c <= 'Z') {
            typer.shiftDown();
            typer.wait();
            sink.keyEvent(c, 0, 0);
            sink.keyEvent(c, 2, KeyboardSink::kKeyUp);
            typer.shiftUp();
            typer.wait();
        } else if (c >= 127) {
            typer.press(c & 0xFF);
        }
        // Other control characters (a line feed among them) type nothing.
    }
}

}  // namespace

void emulateKeyboard(const ByteString& text, bool rdp, KeyboardSink& sink, Clock& clock) {
    if (rdp) {
        rdpMode(text, sink, clock);
    } else {
        localMode(text, sink);
    }
}

void typeJob(const TypingJob& job, KeyboardSink& sink, Clock& clock, const std::atomic<bool>* stop,
             bool afterAnother) {
    sink.setUnicodeEntry(job.unicodeEntry);
    PacedKeyboard paced(sink, clock, job.interKeyDelayMs, stop, afterAnother);
    if (job.terminatorDelayMs == 0 || job.terminatorAt >= job.text.length()) {
        emulateKeyboard(job.text, job.rdpMode, paced, clock);
    } else {
        // Split only when waiting: a terminator posted with the characters around it stays one
        // batch otherwise.
        emulateKeyboard(job.text.left(job.terminatorAt + 1), job.rdpMode, paced, clock);
        if (stop == nullptr || !stop->load()) {
            clock.sleepMs(job.terminatorDelayMs);
        }
        emulateKeyboard(job.text.mid(job.terminatorAt + 1), job.rdpMode, paced, clock);
    }
    sink.endOfText();
}

}  // namespace vandora
