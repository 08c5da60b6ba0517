// The CCD/Laser linear engine (type 2) as the host sees it on the wire.
//
// A command is a run of 0xFF wake-up bytes, ESC, the command text and CR; the engine only wakes
// for the full run of thirty, and ignores a frame with fewer. Answers are text ended by CR; a
// command it does not know is answered "NG". "VER" gives the version text, "SET" the
// configuration block as hexadecimal text, "SAVE" followed by a block in hexadecimal replaces the
// block. "ON" starts a read: after the decode delay the engine sends the identifier character,
// three prefix characters and the data, or "*000" when nothing was read; "ON" and "OFF" get no
// answer of their own.
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

    static constexpr std::size_t kWakeBytes = 30;
    static const char* const kDecodePrefix;  // the three characters after the identifier
    static std::vector<std::uint8_t> factoryBlock();

  protected:
    void consume(const std::uint8_t* data, std::size_t size, bool fresh, SimLink& link) override;
    void respond(const std::vector<std::uint8_t>& frame, SimLink& link) override;
    void onInvalid(SimLink& link) override;
    std::vector<std::uint8_t> refusal() const override;

  private:
    void reply(SimLink& link, const std::string& text, std::uint64_t extraDelayUs = 0);

    std::size_t wake_ = 0;
    bool inFrame_ = false;
    std::vector<std::uint8_t> text_;
};

}  // namespace vandora::sim
