// The packet engines as the host sees them on the wire: 2D imagers (types 3 and 8) and 1D
// lasers (types 4 and 9).
//
// Every packet the host sends is checked (length, then the 16-bit two's complement checksum);
// a bad one is refused with 05 D1 00 00 01. Commands are acknowledged with 04 D0 00 00. The
// revision request (A3) is answered with the engine's revision text; parameter sends (C6) change
// the parameter table and, with parameter 0x9C, the line rate once the acknowledgement is out;
// parameter requests (C7) are answered from the table; C8 restores the defaults. Start decoding
// (E4) delivers the next queued decode as F3 packets: a long one in several packets, each after
// the host's acknowledgement 04 D0 04 03; a host refusal 05 D1 04 00 01 asks for the last
// unacknowledged packet again. In snapshot mode (F7) a 2D imager sends its picture as B1 packets
// the same way instead: the test's picture, or a generated one (simPicturePixels, turned upside
// down as the imager sees the scene, as JPEG or, with parameter F0 30 = 3, as BMP). Every picture
// packet, the last one too, must be acknowledged before the host sends anything else; any other
// command meanwhile is counted in counters.pictureInterruptions.
//
// Firmware (the newer 2D imager): after the download start (EE) the engine listens for loader
// frames (02, N, N - 1 bytes, the checksum of the last N bytes). The loader request is answered
// 02 07 00 06 64 00 87 00 and the engine moves to 115200 baud; each data frame carries a record
// of four address bytes and data, checked and kept in `firmware` by address, answered with
// status 0 (a bad frame: status 0x3F). The record at address FFFFFFFF closes the download: the
// engine programs itself, sends 04 and restarts at 9600 baud.
//
// Self-scanning: while the scan mode (parameter 0x8A) holds a value in which the engine type reads
// by itself (the facts table), no start decoding is needed. The engine has no clock of its own
// here, so each look is tied to something the host does: setting the mode, opening the port in
// that mode, or acknowledging a whole decode (04 D0 04 00; the continuation acknowledgement
// 04 D0 04 03 is not the end of one) makes it send the next queued decode after the decode delay.
// Until that acknowledgement it sends nothing more. When it looks and finds the queue empty or a
// no-read in front, it sends nothing (no no-read message either) and looks again at the next
// command the host sends.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <vector>

#include "engines/EngineSim.h"

namespace vandora::sim {

class PacketEngineModel : public EngineSim {
  public:
    PacketEngineModel(int engineType, SimOptions options);

    // Parameter values by number (F0 nn and F1 nn as 0xF0nn and 0xF1nn); numbers never set read
    // as 0. Word parameters (sent behind F4) are kept apart.
    std::map<std::uint16_t, std::uint8_t> params;
    std::map<std::uint16_t, std::uint16_t> words;
    std::uint8_t param(std::uint16_t number) const;
    // Whether the current scan mode has the engine read by itself.
    bool selfScanning() const;

    bool scanning = false;
    bool aiming = false;
    bool snapshotMode = false;

    // Firmware received, by address; the number of closed downloads.
    std::map<std::uint32_t, std::uint8_t> firmware;
    unsigned firmwareLoads = 0;
    bool loaderMode = false;

    // The engine's factory parameter values (what C8 restores).
    static const std::map<std::uint16_t, std::uint8_t>& defaults();

  protected:
    void consume(const std::uint8_t* data, std::size_t size, bool fresh, SimLink& link) override;
    void respond(const std::vector<std::uint8_t>& frame, SimLink& link) override;
    std::vector<std::uint8_t> refusal() const override;
    void onOpen(SimLink& link) override;

  private:
    using Frame = std::vector<std::uint8_t>;
    struct OpcodeRow {
        std::uint8_t opcode;
        void (PacketEngineModel::*handle)(const Frame&, SimLink&);
    };
    static const OpcodeRow kOpcodes[];

    void revision(const Frame& frame, SimLink& link);
    void aimOff(const Frame& frame, SimLink& link);
    void aimOn(const Frame& frame, SimLink& link);
    void parameterSend(const Frame& frame, SimLink& link);
    void parameterRequest(const Frame& frame, SimLink& link);
    void parameterDefaults(const Frame& frame, SimLink& link);
    void hostAck(const Frame& frame, SimLink& link);
    void hostRefusal(const Frame& frame, SimLink& link);
    void startDecoding(const Frame& frame, SimLink& link);
    void stopDecoding(const Frame& frame, SimLink& link);
    void imagerMode(const Frame& frame, SimLink& link);
    void acknowledge(const Frame& frame, SimLink& link);
    void firmwareStart(const Frame& frame, SimLink& link);
    void loaderFrame(const Frame& body, bool valid, SimLink& link);
    void consumeLoader(SimLink& link);

    void ack(SimLink& link);
    // bySelf: a look of a self-scanning engine, which keeps quiet when it sees nothing.
    void sendDecode(SimLink& link, bool bySelf = false);
    // A self-scanning engine with no decode or picture on its way takes its next look.
    void selfScan(SimLink& link);
    void sendImage(SimLink& link);
    // Sends the first of a series of packets; the rest wait for the host's acknowledgements.
    void startSeries(std::vector<Frame> packets, SimLink& link);
    void sendPacket(const Frame& packet, std::uint64_t extraDelayUs, SimLink& link);

    std::vector<std::uint8_t> buffer_;
    std::deque<Frame> waiting_;  // packets not sent yet
    Frame lastSent_;             // the packet the host has not acknowledged yet
    bool lastAcked_ = true;
    bool seriesOut_ = false;  // a decode or picture is out and the host has not acknowledged it
};

// The four packet engine types by name.
class Imager2DModel final : public PacketEngineModel {
  public:
    explicit Imager2DModel(SimOptions options = {}) : PacketEngineModel(3, std::move(options)) {}
};
class LongRange1DModel final : public PacketEngineModel {
  public:
    explicit LongRange1DModel(SimOptions options = {}) : PacketEngineModel(4, std::move(options)) {}
};
class Imager2D4507Model final : public PacketEngineModel {
  public:
    explicit Imager2D4507Model(SimOptions options = {})
        : PacketEngineModel(8, std::move(options)) {}
};
class Laser1D955Model final : public PacketEngineModel {
  public:
    explicit Laser1D955Model(SimOptions options = {}) : PacketEngineModel(9, std::move(options)) {}
};

}  // namespace vandora::sim
