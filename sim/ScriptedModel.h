// ScriptedModel: a device that answers from a script of command-to-answer rules, for tests and
// for replaying recorded sessions.
//
// Each host write is one frame. The first rule whose `command` equals the frame (or that matches
// any frame when `command` is empty), whose rate fits and that has uses left answers it with
// `answer` after `delayUs`. Frames that match no rule get no answer. Everything the host sent is
// kept frame by frame.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "SimulatedPort.h"

namespace vandora::sim {

struct ScriptRule {
    std::vector<std::uint8_t> command;  // empty: any frame
    std::vector<std::uint8_t> answer;
    std::uint32_t baud = 0;  // 0: any rate
    int uses = -1;           // -1: unlimited
    std::uint64_t delayUs = 0;
};

class ScriptedModel final : public EngineModel {
  public:
    ScriptedModel() = default;

    ScriptRule& on(std::vector<std::uint8_t> command, std::vector<std::uint8_t> answer);
    ScriptRule& onAny(std::vector<std::uint8_t> answer);
    // CTS follows RTS unless told otherwise.
    bool ctsFollowsRts = true;
    // Bytes sent when the port opens (an engine that talks by itself).
    std::vector<std::uint8_t> onOpenBytes;

    void onHostBytes(const std::uint8_t* data, std::size_t size, std::uint32_t baud,
                     SimLink& link) override;
    void onLines(bool rts, bool dtr, SimLink& link) override;
    void onOpen(SimLink& link) override;

    std::vector<std::vector<std::uint8_t>> frames;  // host frames, in order
    std::vector<std::uint32_t> frameBauds;
    std::vector<std::uint64_t> frameTimesUs;

  private:
    std::vector<ScriptRule> rules_;
};

// Byte helpers for scripts.
std::vector<std::uint8_t> bytesOf(const std::string& text);
// Packet bytes plus their two checksum bytes.
std::vector<std::uint8_t> withChecksum(std::vector<std::uint8_t> packet);

}  // namespace vandora::sim
