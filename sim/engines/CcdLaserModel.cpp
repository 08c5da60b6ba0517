#include "engines/CcdLaserModel.h"

namespace vandora::sim {
namespace {

constexpr std::uint8_t kWake = 0xFF;
constexpr std::uint8_t kEsc = 0x1B;
constexpr std::uint8_t kCr = 0x0D;
constexpr std::size_t kBlockSize = 30;
constexpr std::size_t kScanModeByte = 20;
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

unsigned CcdLaserModel::scanMode() const {
    return block.size() > kScanModeByte ? block[kScanModeByte] >> 4 : 0;
}

bool CcdLaserModel::selfScanning() const {
    return scansBySelf(facts(), scanMode(), started_);
}

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
        started_ = true;
        if (selfScanning()) {
            selfScan(link);
            return;
        }
        ++counters.decodes;
        SimDecode decode;
        if (!nextDecode(decode) || decode.form == DecodeForm::NoRead) {
            reply(link, "*000", options_.decodeDelayUs);
            return;
        }
        reply(link, decodeText(decode), options_.decodeDelayUs);
    } else if (text == "OFF") {
        scanning = false;
        started_ = false;
    } else {
        refuse(link);
    }
    selfScan(link);
}

void CcdLaserModel::onOpen(SimLink& link) {
    // A reopened link is the host's way of stopping a mode 3 run; planned decodes went with the
    // old link.
    started_ = false;
    runEndsUs_ = 0;
    selfScan(link);
}

std::string CcdLaserModel::decodeText(const SimDecode& decode) {
    std::string text(1, static_cast<char>(decode.codeType));
    text += kDecodePrefix;
    text.append(decode.data.begin(), decode.data.end());
    return text;
}

void CcdLaserModel::selfScan(SimLink& link) {
    if (!selfScanning() || faults.silent || link.nowUs() < runEndsUs_) {
        return;
    }
    // The link counts every delay from the same moment, so each decode's delay adds up the
    // turns and line times of the ones before it: the host, which purges the port after each
    // decode, must not find the next one already started.
    std::size_t turns = options_.repeatDecodes ? queuedDecodes() : kNoLimit;
    std::uint64_t offsetUs = 0;
    SimDecode decode;
    while (turns-- > 0 && nextDecode(decode)) {
        ++counters.decodes;
        offsetUs += options_.decodeDelayUs;
        if (decode.form == DecodeForm::NoRead) {
            continue;
        }
        std::string text = decodeText(decode);
        reply(link, text, offsetUs);
        offsetUs += (text.size() + 1) * byteTimeUs();
    }
    runEndsUs_ = link.nowUs() + faults.replyDelayUs + offsetUs;
}

}  // namespace vandora::sim
