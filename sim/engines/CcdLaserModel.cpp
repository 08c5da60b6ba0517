#include "engines/CcdLaserModel.h"

namespace vandora::sim {
namespace {

constexpr std::uint8_t kWake = 0xFF;
constexpr std::uint8_t kEsc = 0x1B;
constexpr std::uint8_t kCr = 0x0D;
constexpr std::size_t kBlockSize = 30;
// A command longer than this is line noise, not a frame.
constexpr std::size_t kMaxCommand = 512;

}  // namespace

const char* const CcdLaserModel::kDecodePrefix = "]x0";

std::vector<std::uint8_t> CcdLaserModel::factoryBlock() {
    std::vector<std::uint8_t> b(kBlockSize, 0x00);
    b[0] = 0x9B;   // Code 39, Interleaved 2 of 5, Codabar, Code 93 and more on
    b[1] = 0xC9;   // EAN-13, EAN-8, UPC-E, Code 128 family on
    b[10] = 0x3D;  // check digits and system numbers transmitted
    b[20] = 0x60;  // scan mode 6: triggered by the host
    b[21] = 0x32;  // laser on time
    b[22] = 0xC0;  // Code 128 and EAN-128 on
    return b;
}

CcdLaserModel::CcdLaserModel(SimOptions options)
    : EngineSim(*engineFacts(2), std::move(options)), block(factoryBlock()) {}

void CcdLaserModel::consume(const std::uint8_t* data, std::size_t size, bool fresh, SimLink& link) {
    if (fresh) {
        wake_ = 0;
        inFrame_ = false;
        text_.clear();
    }
    for (std::size_t i = 0; i < size; ++i) {
        std::uint8_t b = data[i];
        if (inFrame_) {
            if (b == kCr) {
                inFrame_ = false;
                bool awake = wake_ >= kWakeBytes;
                wake_ = 0;
                frameReceived(std::move(text_), awake, link);
                text_.clear();
            } else if (text_.size() < kMaxCommand) {
                text_.push_back(b);
            } else {
                inFrame_ = false;
                wake_ = 0;
                text_.clear();
            }
        } else if (b == kWake) {
            ++wake_;
        } else if (b == kEsc) {
            inFrame_ = true;
            text_.clear();
        } else {
            wake_ = 0;
        }
    }
}

void CcdLaserModel::onInvalid(SimLink& /*link*/) {
    // Not woken up: the engine never heard the command.
}

std::vector<std::uint8_t> CcdLaserModel::refusal() const {
    std::vector<std::uint8_t> bytes(facts().refusal.begin(), facts().refusal.end());
    bytes.push_back(kCr);
    return bytes;
}

void CcdLaserModel::reply(SimLink& link, const std::string& text, std::uint64_t extraDelayUs) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(kCr);
    answer(link, bytes, extraDelayUs);
}

void CcdLaserModel::respond(const std::vector<std::uint8_t>& frame, SimLink& link) {
    std::string text(frame.begin(), frame.end());
    if (text == "VER") {
        reply(link, std::string(facts().identity));
    } else if (text == "SET") {
        reply(link, hexText(block));
    } else if (text.rfind("SAVE", 0) == 0) {
        std::vector<std::uint8_t> bytes;
        if (!parseHex(std::string_view(text).substr(4), bytes) || bytes.size() < kBlockSize) {
            refuse(link);
            return;
        }
        block = bytes;
        reply(link, "OK");
    } else if (text == "ON") {
        scanning = true;
        ++counters.decodes;
        SimDecode decode;
        if (!nextDecode(decode) || decode.form == DecodeForm::NoRead) {
            reply(link, "*000", options_.decodeDelayUs);
            return;
        }
        std::string answerText(1, static_cast<char>(decode.codeType));
        answerText += kDecodePrefix;
        answerText.append(decode.data.begin(), decode.data.end());
        reply(link, answerText, options_.decodeDelayUs);
    } else if (text == "OFF") {
        scanning = false;
    } else {
        refuse(link);
    }
}

}  // namespace vandora::sim
