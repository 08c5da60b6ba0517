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
//
// Firmware: "DOWNLOAD" (answered "OK") opens a download. The engine then also takes raw lines:
// ":ERASE" CR (clears its memory, "FA"), data records "S3", count, the count bytes (address,
// data, checksum) and CR, each checked (count, checksum, CR) and kept in `firmware` by address
// ("FA"; "NG" for a bad one), and the end record "S7" 05 00 00 00 00 FA CR, which closes the
// download ("FA").
#pragma once

#include <cstdint>
#include <map>
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
    // Firmware received, by address; whether a download is open; downloads closed.
    std::map<std::uint32_t, std::uint8_t> firmware;
    bool downloading = false;
    unsigned firmwareLoads = 0;
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
    // A byte of a raw download line; false when the byte starts no such line.
    bool downloadByte(std::uint8_t b, SimLink& link);
    void downloadLine(const std::vector<std::uint8_t>& frame, SimLink& link);

    // Raw download line being read: its bytes so far and how many more the count asks for.
    enum class LineState : std::uint8_t { Idle, Text, Type, Count, Body, End };
    LineState line_ = LineState::Idle;
    std::vector<std::uint8_t> lineBytes_;
    std::size_t lineLeft_ = 0;

    bool started_ = false;         // "ON" heard (mode 3 reads by itself only then)
    std::uint64_t runEndsUs_ = 0;  // when the last decode of the planned run has left

    std::size_t wake_ = 0;
    bool inFrame_ = false;
    std::vector<std::uint8_t> text_;
};

}  // namespace vandora::sim
