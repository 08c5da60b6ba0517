// The two text-driven RFID modules as the host sees them on the wire.
//
// RfidAsciiModel (type 5): short letter commands with no line end, one command per write (the
// module has nothing else to tell where a command ends); answers end with CR LF. "v" gives the
// version text of the module's firmware line, "s" looks for a tag (the tag family letter and
// the UID in hexadecimal after the decode delay, or "N"), "l" logs in ("L"), "r"/"rb" and
// "w"/"wb" read and write blocks in the dialect of the firmware line, "wp" writes a register
// and echoes the value ("wp0C03" moves the line to 57600 once the echo is out), "rp" reads one.
// Unknown commands get "?"; a forced answer gives "F", "R" and the like on demand.
// With tags in its `field`, "s" finds the first of them (letters M, S, T, V by kind), "l" checks
// the Mifare sector key, and block reads and writes reach that tag's memory: "N" no tag, "F" a
// refused key or write, "R" a block the tag does not have; an Ultralight read gives four pages.
// With an empty field the module answers from its decode queue and its plain block store.
//
// RfidHexModel (type 6): frames written as hexadecimal text, 01 length 00 03 04 command ...
// 00 00, collected by their length byte; answers have no end mark. The presence probe FE gives
// the version text, the detection frames give the tag of the matching family in brackets as the
// host's field rules expect, block reads and writes use the module's block memory.
// With tags in its `field` the detections find the tag of their family, the Tag-it answer carries
// the information byte and the block count, and block reads and writes reach the tag: an ISO
// 15693 answer with the error flag ("[010F]") for a block the tag refuses, e.g. a write without
// the option flag to a tag that needs it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engines/EngineSim.h"
#include "engines/SimTags.h"

namespace vandora::sim {

class RfidAsciiModel final : public EngineSim {
  public:
    explicit RfidAsciiModel(SimOptions options = {});

    int variant() const { return options_.variant; }
    std::map<std::uint8_t, std::vector<std::uint8_t>> blocks;  // by block number
    std::map<std::uint8_t, std::uint8_t> registers;            // 0x0A to 0x1F
    std::size_t blockSize = 16;
    TagField field;
    TagField* tagField() override { return &field; }

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
    void selectTag(SimLink& link);
    void login(std::string_view args, SimLink& link);
    void readTagBlock(std::uint8_t block, SimLink& link);
    void writeTagBlock(std::uint8_t block, const std::vector<std::uint8_t>& data, SimLink& link);

    // The Mifare sector logged in since the last "s", with its key.
    int loggedSector_ = -1;
    int loggedKeyType_ = 0;
    MifareKey loggedKey_{};
};

struct HexDetection;

class RfidHexModel final : public EngineSim {
  public:
    explicit RfidHexModel(SimOptions options = {});

    std::map<std::uint8_t, std::vector<std::uint8_t>> blocks;  // 4 bytes each
    std::uint8_t family = 0;  // the family register last selected (0x01 value)
    TagField field;
    TagField* tagField() override { return &field; }

  protected:
    void consume(const std::uint8_t* data, std::size_t size, bool fresh, SimLink& link) override;
    void respond(const std::vector<std::uint8_t>& frame, SimLink& link) override;

  private:
    void detect(const HexDetection& detection, SimLink& link);
    void blockRequest(const std::vector<std::uint8_t>& frame, SimLink& link);
    void tagBlockRequest(const std::vector<std::uint8_t>& frame, SimLink& link);
    void reply(SimLink& link, const std::string& text, std::uint64_t extraDelayUs = 0);

    std::string buffer_;
};

}  // namespace vandora::sim
