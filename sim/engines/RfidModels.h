// The two text-driven RFID modules as the host sees them on the wire.
//
// RfidAsciiModel (type 5): short letter commands with no line end, one command per write (the
// module has nothing else to tell where a command ends); answers end with CR LF. "v" gives the
// version text of the module's firmware line, "s" looks for a tag (the tag family letter and
// the UID in hexadecimal after the decode delay, or "N"), "l" logs in ("L"), "r"/"rb" and
// "w"/"wb" read and write blocks in the dialect of the firmware line, "wp" writes a register
// and echoes the value ("wp0C03" moves the line to 57600 once the echo is out), "rp" reads one.
// Unknown commands get "?"; a forced answer gives "F", "R" and the like on demand.
//
// RfidHexModel (type 6): frames written as hexadecimal text, 01 length 00 03 04 command ...
// 00 00, collected by their length byte; answers have no end mark. The presence probe FE gives
// the version text, the detection frames give the tag of the matching family in brackets as the
// host's field rules expect, block reads and writes use the module's block memory.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engines/EngineSim.h"

namespace vandora::sim {

class RfidAsciiModel final : public EngineSim {
  public:
    explicit RfidAsciiModel(SimOptions options = {});

    int variant() const { return options_.variant; }
    std::map<std::uint8_t, std::vector<std::uint8_t>> blocks;  // by block number
    std::map<std::uint8_t, std::uint8_t> registers;            // 0x0A to 0x1F
    std::size_t blockSize = 16;

  protected:
    void consume(const std::uint8_t* data, std::size_t size, bool fresh, SimLink& link) override;
    void respond(const std::vector<std::uint8_t>& frame, SimLink& link) override;
    std::vector<std::uint8_t> refusal() const override;

  private:
    void reply(SimLink& link, const std::string& text, std::uint64_t extraDelayUs = 0);
    void readBlock(std::string_view number, SimLink& link);
    void writeBlock(std::string_view numberAndData, SimLink& link);
    void writeRegister(std::string_view args, SimLink& link);
    void readRegister(std::string_view args, SimLink& link);
};

struct HexDetection;

class RfidHexModel final : public EngineSim {
  public:
    explicit RfidHexModel(SimOptions options = {});

    std::map<std::uint8_t, std::vector<std::uint8_t>> blocks;  // 4 bytes each
    std::uint8_t family = 0;  // the family register last selected (0x01 value)

  protected:
    void consume(const std::uint8_t* data, std::size_t size, bool fresh, SimLink& link) override;
    void respond(const std::vector<std::uint8_t>& frame, SimLink& link) override;

  private:
    void detect(const HexDetection& detection, SimLink& link);
    void blockRequest(const std::vector<std::uint8_t>& frame, SimLink& link);
    void reply(SimLink& link, const std::string& text, std::uint64_t extraDelayUs = 0);

    std::string buffer_;
};

}  // namespace vandora::sim
