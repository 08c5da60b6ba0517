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
    if (fresh) {
        line_ = LineState::Idle;
    }
    for (std::size_t i = 0; i < size; ++i) {
        std::uint8_t b = data[i];
        if (downloading && !inFrame_ && downloadByte(b, link)) {
            continue;
        }
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

bool CcdLaserModel::downloadByte(std::uint8_t b, SimLink& link) {
    switch (line_) {
        case LineState::Idle:
            if (b != ':' && b != 'S') {
                return false;
            }
            lineBytes_.assign(1, b);
            line_ = b == ':' ? LineState::Text : LineState::Type;
            return true;
        case LineState::Text:
            if (b == kCr) {
                line_ = LineState::Idle;
                frameReceived(std::move(lineBytes_), true, link);
                lineBytes_.clear();
            } else if (lineBytes_.size() < kMaxCommand) {
                lineBytes_.push_back(b);
            } else {
                line_ = LineState::Idle;
            }
            return true;
        case LineState::Type:
            lineBytes_.push_back(b);
            line_ = LineState::Count;
            return true;
        case LineState::Count:
            lineBytes_.push_back(b);
            lineLeft_ = b;
            line_ = lineLeft_ == 0 ? LineState::End : LineState::Body;
            return true;
        case LineState::Body:
            lineBytes_.push_back(b);
            if (--lineLeft_ == 0) {
                line_ = LineState::End;
            }
            return true;
        case LineState::End:
            line_ = LineState::Idle;
            frameReceived(std::move(lineBytes_), b == kCr, link);
            lineBytes_.clear();
            return true;
    }
    return false;
}

void CcdLaserModel::downloadLine(const std::vector<std::uint8_t>& frame, SimLink& link) {
    std::string text(frame.begin(), frame.end());
    if (text == ":ERASE") {
        firmware.clear();
        reply(link, "FA");
        return;
    }
    static const std::vector<std::uint8_t> kEnd = {'S', '7', 0x05, 0x00, 0x00, 0x00, 0x00, 0xFA};
    if (frame == kEnd) {
        downloading = false;
        ++firmwareLoads;
        reply(link, "FA");
        return;
    }
    // S3, count, four address bytes, data, checksum: the count covers all after itself.
    if (frame.size() < 3 + 5 || frame[1] != '3' || frame[2] + 3U != frame.size()) {
        reply(link, "NG");
        return;
    }
    unsigned sum = 0;
    for (std::size_t i = 2; i + 1 < frame.size(); ++i) {
        sum += frame[i];
    }
    if (static_cast<std::uint8_t>(0xFF - (sum & 0xFF)) != frame.back()) {
        reply(link, "NG");
        return;
    }
    std::uint32_t address = (static_cast<std::uint32_t>(frame[3]) << 24) |
                            (static_cast<std::uint32_t>(frame[4]) << 16) |
                            (static_cast<std::uint32_t>(frame[5]) << 8) | frame[6];
    for (std::size_t i = 7; i + 1 < frame.size(); ++i) {
        firmware[address + static_cast<std::uint32_t>(i - 7)] = frame[i];
    }
    reply(link, "FA");
}

void CcdLaserModel::onInvalid(SimLink& link) {
    if (downloading && !log.empty() && !log.back().frame.empty() &&
        (log.back().frame[0] == 'S' || log.back().frame[0] == ':')) {
        // A download line without its CR.
        reply(link, "NG");
    }
    // Otherwise not woken up: the engine never heard the command.
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
    if (downloading && !frame.empty() && (frame[0] == ':' || frame[0] == 'S')) {
        downloadLine(frame, link);
        return;
    }
    if (text == "DOWNLOAD") {
        if (!facts().takesFirmware) {
            refuse(link);
            return;
        }
        downloading = true;
        reply(link, "OK");
        return;
    }
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
