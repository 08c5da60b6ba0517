#include "engines/EngineSim.h"

#include <algorithm>

namespace vandora::sim {
namespace {

// A line quiet for this long ends whatever half frame the engine was collecting: the host has
// given up on it.
constexpr std::uint64_t kFrameGapUs = 100000;

}  // namespace

EngineSim::EngineSim(const EngineFacts& facts, SimOptions options)
    : faults(options.faults),
      options_(std::move(options)),
      facts_(&facts),
      baud_(options_.startBaud != 0 ? options_.startBaud : facts.workingBaud),
      decodes_(options_.decodes.begin(), options_.decodes.end()) {}

void EngineSim::onHostBytes(const std::uint8_t* data, std::size_t size, std::uint32_t baud,
                            SimLink& link) {
    std::uint64_t now = link.nowUs();
    bool fresh = !heardAny_ || now - lastHeardUs_ > kFrameGapUs;
    heardAny_ = true;
    lastHeardUs_ = now;
    if (baud != baud_) {
        // The engine's receiver sees framing errors; what it was collecting is lost as well.
        ++counters.wrongRateWrites;
        consume(nullptr, 0, true, link);
        if (faults.junkAtWrongRate && !faults.silent) {
            std::vector<std::uint8_t> bytes = junk(3);
            link.send(bytes, faults.replyDelayUs);
        }
        return;
    }
    consume(data, size, fresh, link);
}

std::vector<std::string> EngineSim::commandTexts() const {
    std::vector<std::string> texts;
    texts.reserve(log.size() - log.firstKept());
    for (const ReceivedCommand& command : log) {
        texts.push_back(command.text());
    }
    return texts;
}

std::vector<std::uint8_t> EngineSim::refusal() const {
    return {facts_->refusal.begin(), facts_->refusal.end()};
}

void EngineSim::onInvalid(SimLink& link) {
    refuse(link);
}

void EngineSim::frameReceived(std::vector<std::uint8_t> frame, bool valid, SimLink& link) {
    ReceivedCommand command;
    command.frame = std::move(frame);
    command.baud = baud_;
    command.timeUs = link.nowUs();
    command.valid = valid;
    log.push_back(command);
    ++counters.commands;
    if (!valid) {
        ++counters.invalid;
        onInvalid(link);
        return;
    }
    if (faults.silent) {
        return;
    }
    if (faults.refuseAll) {
        refuse(link);
        return;
    }
    const std::vector<std::uint8_t>& bytes = command.frame;
    for (ForcedAnswer& forced : forcedAnswers) {
        if (forced.uses == 0 || forced.prefix.size() > bytes.size() ||
            !std::equal(forced.prefix.begin(), forced.prefix.end(), bytes.begin())) {
            continue;
        }
        if (forced.uses > 0) {
            --forced.uses;
        }
        answer(link, forced.reply);
        return;
    }
    respond(bytes, link);
}

void EngineSim::answer(SimLink& link, const std::vector<std::uint8_t>& bytes,
                       std::uint64_t extraDelayUs) {
    if (faults.silent || bytes.empty()) {
        return;
    }
    ++counters.answers;
    std::vector<std::uint8_t> out = faults.garbage ? junk(bytes.size()) : bytes;
    if (faults.cutAfter < out.size()) {
        out.resize(faults.cutAfter);
    }
    std::uint64_t delay = faults.replyDelayUs + extraDelayUs;
    if (faults.stallAfter < out.size()) {
        std::size_t head = faults.stallAfter;
        link.send(out.data(), head, delay);
        // The link counts a delay from the host's last byte, so the pause is placed after the
        // head's own line time.
        link.send(out.data() + head, out.size() - head,
                  delay + head * byteTimeUs() + faults.stallUs);
        return;
    }
    link.send(out.data(), out.size(), delay);
}

void EngineSim::refuse(SimLink& link) {
    ++counters.refusals;
    answer(link, refusal());
}

bool EngineSim::nextDecode(SimDecode& out) {
    if (decodes_.empty()) {
        return false;
    }
    out = decodes_.front();
    decodes_.pop_front();
    if (options_.repeatDecodes) {
        decodes_.push_back(out);
    }
    return true;
}

void EngineSim::switchRate(std::uint32_t baud) {
    if (baud != 0 && baud != baud_) {
        baud_ = baud;
        ++counters.rateChanges;
    }
}

std::vector<std::uint8_t> EngineSim::junk(std::size_t size) {
    // High bytes only: no CR, LF, ESC, NUL or space, and a packet length that never fits, so
    // that no framing rule can take junk for an answer.
    std::vector<std::uint8_t> bytes(size);
    for (std::uint8_t& b : bytes) {
        junkState_ ^= junkState_ << 13;
        junkState_ ^= junkState_ >> 17;
        junkState_ ^= junkState_ << 5;
        b = static_cast<std::uint8_t>(0x80 | (junkState_ & 0x7F));
    }
    return bytes;
}

}  // namespace vandora::sim
