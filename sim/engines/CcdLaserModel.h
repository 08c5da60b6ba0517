// The CCD/Laser linear engine (type 2) as the host sees it on the wire.
//
// A command is a run of 0xFF wake-up bytes, ESC, the command text and CR; the engine only wakes
// for the full run of thirty, and ignores a frame with fewer. Answers are text ended by CR; a
// command it does not know is answered "NG". "VER" gives the version text, "SET" the
// configuration block as hexadecimal text, "SAVE" followed by a block in hexadecimal replaces the
// block. "ON" starts a read: after the decode delay the engine sends the identifier character,
// three prefix characters and the data, or "*000" when nothing was read; "ON" and "OFF" get no
// answer of their own.
//
// Self-scanning: in scan modes 1, 5 and 7 of its block (byte 20, bits 4-7), and in mode 3 after
// "ON", the engine reads by itself (the facts table says which modes). The host never writes
// while it waits for such decodes, so the engine plans a whole run at once: every decode queued
// at that moment, each one the decode delay after the previous one has left (with repeating
// decodes, one pass through the queue). A no-read takes its turn and sends nothing. A run starts
// when a "SAVE" leaves the engine in such a mode, when the port is opened in one, on "ON" in mode
// 3, and on any later command once the previous run has gone out (taking up decodes queued since).
// Decodes already planned still come after the mode changes; reopening the port drops them with
// the old link and ends a mode 3 run ("OFF" ends it too).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engines/EngineSim.h"

namespace vandora::sim {

class CcdLaserModel final : public EngineSim {
  public:
    explicit CcdLaserModel(SimOptions options = {});

    // The configuration block ("SET" answers it, "SAVE" replaces it).
    std::vector<std::uint8_t> block;
    bool scanning = false;
    // The scan mode in the block.
    unsigned scanMode() const;
    // Whether the engine reads by itself in its current mode.
    bool selfScanning() const;

    static constexpr std::size_t kWakeBytes = 30;
    static const char* const kDecodePrefix;  // the three characters after the identifier
    static std::vector<std::uint8_t> factoryBlock();

  protected:
    void consume(const std::uint8_t* data, std::size_t size, bool fresh, SimLink& link) override;
    void respond(const std::vector<std::uint8_t>& frame, SimLink& link) override;
    void onInvalid(SimLink& link) override;
    std::vector<std::uint8_t> refusal() const override;
    void onOpen(SimLink& link) override;

  private:
    void reply(SimLink& link, const std::string& text, std::uint64_t extraDelayUs = 0);
    static std::string decodeText(const SimDecode& decode);
    // Plans a self-scanning run unless the previous one is still going out.
    void selfScan(SimLink& link);

    bool started_ = false;         // "ON" heard (mode 3 reads by itself only then)
    std::uint64_t runEndsUs_ = 0;  // when the last decode of the planned run has left

    std::size_t wake_ = 0;
    bool inFrame_ = false;
    std::vector<std::uint8_t> text_;
};

}  // namespace vandora::sim
