#include "ScriptedModel.h"

namespace vandora::sim {

ScriptRule& ScriptedModel::on(std::vector<std::uint8_t> command, std::vector<std::uint8_t> answer) {
    ScriptRule rule;
    rule.command = std::move(command);
    rule.answer = std::move(answer);
    rules_.push_back(std::move(rule));
    return rules_.back();
}

ScriptRule& ScriptedModel::onAny(std::vector<std::uint8_t> answer) {
    return on({}, std::move(answer));
}

void ScriptedModel::onHostBytes(const std::uint8_t* data, std::size_t size, std::uint32_t baud,
                                SimLink& link) {
    std::vector<std::uint8_t> frame(data, data + size);
    frames.push_back(frame);
    frameBauds.push_back(baud);
    frameTimesUs.push_back(link.nowUs());
    for (ScriptRule& rule : rules_) {
        if (rule.uses == 0) {
            continue;
        }
        if (!rule.command.empty() && rule.command != frame) {
            continue;
        }
        if (rule.baud != 0 && rule.baud != baud) {
            continue;
        }
        if (rule.uses > 0) {
            --rule.uses;
        }
        link.send(rule.answer, rule.delayUs);
        return;
    }
}

void ScriptedModel::onLines(bool rts, bool /*dtr*/, SimLink& link) {
    if (ctsFollowsRts) {
        link.setCts(rts);
    }
}

void ScriptedModel::onOpen(SimLink& link) {
    if (!onOpenBytes.empty()) {
        link.send(onOpenBytes, 0);
    }
}

std::vector<std::uint8_t> bytesOf(const std::string& text) {
    return {text.begin(), text.end()};
}

std::vector<std::uint8_t> withChecksum(std::vector<std::uint8_t> packet) {
    unsigned sum = 0;
    for (std::uint8_t b : packet) {
        sum += b;
    }
    unsigned check = (0x10000 - (sum & 0xFFFF)) & 0xFFFF;
    packet.push_back(static_cast<std::uint8_t>(check >> 8));
    packet.push_back(static_cast<std::uint8_t>(check & 0xFF));
    return packet;
}

}  // namespace vandora::sim
