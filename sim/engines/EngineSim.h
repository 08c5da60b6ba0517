// EngineSim: the common part of the reactive engine models.
//
// A model hears the host's bytes with the rate the host's port uses and only understands them
// at its own current rate; bytes at any other rate are lost (or, when told, draw junk). Complete
// frames are logged with their rate and time, then answered by the engine type's rules. Every
// answer goes through one place, where the fault switches act: silence, refusal of everything,
// junk instead of the answer, an answer cut short, a stall inside an answer, a delay before it.
// Decodes come from a queue loaded by the test or tool; an empty queue is a no-read.
//
// Threading: a model is driven by one line at a time (the simulated port calls it under its own
// lock, the pty bridge under the bridge's lock); read its log and counters under the same lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "common/Hex.h"

#include "SimulatedPort.h"
#include "engines/EngineFacts.h"
#include "engines/SimTags.h"

namespace vandora::sim {

constexpr std::size_t kNoLimit = static_cast<std::size_t>(-1);

struct SimFaults {
    bool silent = false;                // hears and logs, answers nothing
    bool refuseAll = false;             // answers every command with the engine's refusal
    bool garbage = false;               // answers junk of the answer's length instead of the answer
    std::size_t cutAfter = kNoLimit;    // sends only the first k bytes of each answer
    std::size_t stallAfter = kNoLimit;  // pauses stallUs after this many bytes of an answer
    std::uint64_t stallUs = 0;
    std::uint64_t replyDelayUs = 0;  // wait before each answer
    bool junkAtWrongRate = false;    // a write at a foreign rate draws a few junk bytes
};

// A command whose frame starts with `prefix` gets `reply` (sent as it is, through the fault
// switches) instead of the engine's own answer; uses -1 means every time.
struct ForcedAnswer {
    std::vector<std::uint8_t> prefix;
    std::vector<std::uint8_t> reply;
    int uses = -1;
};

enum class DecodeForm : std::uint8_t {
    Plain,    // the code type and the data, in as many packets as needed
    Wrapped,  // behind the 0x99 marker, laid out as the engine kind does it
    NoRead,   // nothing read: the engine's no-read behaviour
};

struct SimDecode {
    // Packet engines: the code type byte. CCD/Laser: the identifier character. RFID letter
    // module: the tag family letter. RFID hexadecimal module: not used (the family comes from the
    // detection frame).
    std::uint8_t codeType = 0;
    std::vector<std::uint8_t> data;  // RFID: the tag's UID bytes
    DecodeForm form = DecodeForm::Plain;
    std::size_t packetData = 0;  // packet engines: data bytes per packet; 0 as many as fit
};

struct SimOptions {
    std::uint32_t startBaud = 0;          // rate at power-up; 0: the engine's working rate
    int variant = 1;                      // RFID letter module: 1 "MultiISO 1.", 0 "ISO 0.9v"
    std::uint64_t decodeDelayUs = 30000;  // from the trigger to the decode
    bool repeatDecodes = false;           // cycle through the queue instead of using it up
    std::vector<SimDecode> decodes;
    // Picture of a 2D imager in snapshot mode; empty: a generated one of 600 bytes.
    std::vector<std::uint8_t> image;
    SimFaults faults;
};

struct ReceivedCommand {
    // CCD/Laser: the text between ESC and CR. Packet engines: the packet without its checksum.
    // RFID modules: the text as written.
    std::vector<std::uint8_t> frame;
    std::uint32_t baud = 0;
    std::uint64_t timeUs = 0;
    bool valid = true;  // false: bad checksum, missing wake-up bytes or malformed frame
    std::string text() const { return {frame.begin(), frame.end()}; }
};

// The frames a model heard, numbered from the first: size() counts every frame ever heard, but
// only the most recent kKeep stay readable, so that a service left running in simulation mode
// does not grow with every trigger. Index i is readable while i >= firstKept(); iteration runs
// over the readable ones, oldest first.
class CommandLog {
  public:
    static constexpr std::size_t kKeep = 1024;

    void push_back(ReceivedCommand command) {
        if (kept_.size() == kKeep) {
            kept_.pop_front();
        }
        kept_.push_back(std::move(command));
        ++total_;
    }
    std::size_t size() const { return total_; }
    bool empty() const { return total_ == 0; }
    std::size_t firstKept() const { return total_ - kept_.size(); }
    const ReceivedCommand& operator[](std::size_t i) const { return kept_[i - firstKept()]; }
    // The oldest frame still kept, and the newest.
    const ReceivedCommand& front() const { return kept_.front(); }
    const ReceivedCommand& back() const { return kept_.back(); }
    std::deque<ReceivedCommand>::const_iterator begin() const { return kept_.begin(); }
    std::deque<ReceivedCommand>::const_iterator end() const { return kept_.end(); }

  private:
    std::deque<ReceivedCommand> kept_;
    std::size_t total_ = 0;
};

struct SimCounters {
    unsigned commands = 0;         // complete frames heard (valid or not)
    unsigned invalid = 0;          // frames with a bad checksum or malformed
    unsigned refusals = 0;         // refusals sent
    unsigned answers = 0;          // answers sent (each answer once, whatever the faults did)
    unsigned wrongRateWrites = 0;  // host writes lost to a rate mismatch
    unsigned decodes = 0;          // decodes started (no-reads included)
    unsigned packets = 0;          // decode and image packets sent
    unsigned acks = 0;             // acknowledgements heard from the host
    unsigned resends = 0;          // packets sent again on the host's request
    // Commands other than an acknowledgement or a refusal heard while a picture packet still
    // waited for its acknowledgement (the imager takes nothing else before it).
    unsigned pictureInterruptions = 0;
    unsigned rateChanges = 0;
};

class EngineSim : public EngineModel {
  public:
    EngineSim(const EngineFacts& facts, SimOptions options);

    void onHostBytes(const std::uint8_t* data, std::size_t size, std::uint32_t baud,
                     SimLink& link) final;

    const EngineFacts& facts() const { return *facts_; }
    int engineType() const { return facts_->type; }
    std::uint32_t currentBaud() const { return baud_; }
    void setBaud(std::uint32_t baud) { baud_ = baud; }

    void queueDecode(SimDecode decode) { decodes_.push_back(std::move(decode)); }
    std::size_t queuedDecodes() const { return decodes_.size(); }
    void setDecodeDelayUs(std::uint64_t us) { options_.decodeDelayUs = us; }

    SimFaults faults;
    std::vector<ForcedAnswer> forcedAnswers;
    CommandLog log;
    SimCounters counters;

    // Texts of the readable logged commands, in order (text engines).
    std::vector<std::string> commandTexts() const;

    // The tags in front of an RFID module; null for a barcode engine.
    virtual TagField* tagField() { return nullptr; }

  protected:
    // Bytes heard at the right rate; `fresh` when the line was quiet long enough before them for
    // any half-heard frame to be dropped.
    virtual void consume(const std::uint8_t* data, std::size_t size, bool fresh, SimLink& link) = 0;
    // Answer to a valid frame that no fault or forced answer has taken.
    virtual void respond(const std::vector<std::uint8_t>& frame, SimLink& link) = 0;
    virtual std::vector<std::uint8_t> refusal() const;
    // Answer to an invalid frame: the refusal unless the engine keeps quiet.
    virtual void onInvalid(SimLink& link);

    // Logs a complete frame and has it answered.
    void frameReceived(std::vector<std::uint8_t> frame, bool valid, SimLink& link);
    // Sends an answer through the fault switches, extraDelayUs after the reply delay.
    void answer(SimLink& link, const std::vector<std::uint8_t>& bytes,
                std::uint64_t extraDelayUs = 0);
    void refuse(SimLink& link);
    // The next decode to deliver; false when the queue is empty. peekDecode: null when empty.
    bool nextDecode(SimDecode& out);
    const SimDecode* peekDecode() const { return decodes_.empty() ? nullptr : &decodes_.front(); }
    void switchRate(std::uint32_t baud);
    std::uint64_t byteTimeUs() const { return SimulatedPort::byteTimeUs(baud_); }

    SimOptions options_;

  private:
    std::vector<std::uint8_t> junk(std::size_t size);

    const EngineFacts* facts_;
    std::uint32_t baud_;
    std::deque<SimDecode> decodes_;
    std::uint32_t junkState_ = 0x2545F491u;
    std::uint64_t lastHeardUs_ = 0;
    bool heardAny_ = false;
};

}  // namespace vandora::sim
