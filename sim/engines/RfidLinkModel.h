// RfidLinkModel (type 7): the RFID module behind the binary framed link, as the host sees it on
// the wire, with the tags of its field.
//
// It hears only its own rate (19200 unless options.startBaud says otherwise) and only frames in
// the framing of its link mode (default 1, the mode the system opens with): 0x02, the stuffed
// body, 0x03. It checks what a real module checks: the stuffing, the checksum, the length, the
// address (long framing), the rotation of the payload (mode 1) and the frame code (modes 1, 3
// and 4). Any of these wrong gets no answer; a wrong frame code moreover puts the module out of
// step, and out of step it refuses (does not answer) every coded frame until the host
// handshakes again. The handshake (0x17) answers 8 seed bytes, new ones each time; with the
// module's password they give the code state both ends advance before each coded frame.
//
// Every command of the link is answered from the tags in `field` (sim/engines/SimTags.h): module
// information (0x19), the state commands (0x11, 0x1B, 0x13), protocol selection (0x1F), ISO
// 14443 A request (0x20: UID, ATQA low byte first, SAK), Mifare read, write and key change with
// key checks (0x21, 0x22, 0x2A), Ultralight (0x2E four pages, 0x2F one page), SR176 (0x41
// select, 0x43/0x44 blocks; blocks 0 to 3 are the UID, most significant pair in block 3,
// read-only), SRIX4K (0x46/0x47 blocks, 0x49 UID) and ISO 15693 (0x60 inventory, 0x64 read,
// 0x65 write with the option flag; UIDs least significant byte first on the wire). A tag family
// needs its protocol selected first (0x41 ISO 14443 A, the power-up choice; 0x73 SR176/SRIX4K;
// 0x31 ISO 15693). A command for a tag that is not there, a wrong key, a block the tag does not
// have or a wrong protocol gets a failure answer: in the short framing the echo is the command
// with bit 7 flipped, in the long framing the status byte is nonzero.
//
// Logged frames are the command and its parameters (un-stuffed, un-rotated); frames refused by
// a check are logged as not valid.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "engines/EngineSim.h"
#include "engines/SimTags.h"

namespace vandora::sim {

using LinkPasswordBytes = std::array<std::uint8_t, 4>;

// An answer the test chooses for a command, framed by the module like its own (right code,
// rotation and checksum), so that the host takes it apart and judges the data.
struct LinkForcedAnswer {
    std::uint8_t command = 0;
    std::vector<std::uint8_t> data;    // after the echo (and the status byte)
    std::optional<std::uint8_t> echo;  // default: the command
    std::uint8_t status = 0;           // long framing
    int uses = -1;                     // -1: every time
};

struct LinkCounters {
    unsigned handshakes = 0;
    unsigned badFrames = 0;       // stuffing, checksum, length, address, rotation or mode byte
    unsigned codeMismatches = 0;  // coded frames with the wrong code (the module falls out of step)
    unsigned refusedOutOfStep = 0;  // coded frames refused while out of step
    unsigned failures = 0;          // failure answers sent
};

class RfidLinkModel final : public EngineSim {
  public:
    // Failure codes (short framing: the data byte after the flipped echo; long: the status).
    static constexpr std::uint8_t kNoTag = 0x01;
    static constexpr std::uint8_t kRefused = 0x02;  // wrong key, block or write
    static constexpr std::uint8_t kBadRequest = 0x03;
    static constexpr std::uint8_t kWrongProtocol = 0x04;
    static constexpr std::uint8_t kUnknownCommand = 0x05;

    explicit RfidLinkModel(SimOptions options = {});

    // The password the module is configured with; by default kDefaultLinkPassword.
    void setPassword(const LinkPasswordBytes& password) { password_ = password; }
    // 8 hexadecimal characters; false (and the password unchanged) for anything else.
    bool setPasswordText(std::string_view text);
    const LinkPasswordBytes& password() const { return password_; }

    // The link mode the module is set up for, 0 to 4 (default 1).
    void setLinkMode(int mode);
    int linkMode() const { return mode_; }
    // In step: a handshake has set up the code state and no coded frame has broken it since.
    bool inStep() const { return inStep_; }

    TagField field;
    TagField* tagField() override { return &field; }
    std::array<std::uint8_t, 8> moduleInfo{};
    std::array<std::uint8_t, 4> serialNumber{0x20, 0x07, 0x04, 0x01};
    std::uint8_t address = 1;
    // The handshake answer leads with this byte (the new mode - 2) when set, and the module
    // moves to that mode; with value 0 (mode 2) no seed bytes follow.
    std::optional<std::uint8_t> handshakeModeByte;
    // The seed bytes of every handshake when set; otherwise new ones each time.
    std::optional<std::array<std::uint8_t, 8>> fixedSeed;
    // The next frames that never reach the module (noise on the line): not heard, not logged.
    unsigned missedFrames = 0;
    std::vector<LinkForcedAnswer> forcedData;
    LinkCounters linkCounters;

    // What the state commands left: protocol (0x1F), value of 0x11, resets (0x1B), value of 0x13.
    std::uint8_t protocol = 0x41;
    std::uint8_t stateValue = 0;
    unsigned resets = 0;
    std::uint8_t controlValue = 0;
    // The seed bytes of the last handshake.
    std::array<std::uint8_t, 8> lastSeed{};

  protected:
    void consume(const std::uint8_t* data, std::size_t size, bool fresh, SimLink& link) override;
    void respond(const std::vector<std::uint8_t>& frame, SimLink& link) override;
    std::vector<std::uint8_t> refusal() const override;
    void onInvalid(SimLink& link) override;

  private:
    struct Heard {
        std::uint8_t command = 0;
        std::vector<std::uint8_t> params;
        std::uint8_t c1 = 0;
        std::uint8_t c0 = 0;
        bool coded = false;
    };

    void frameEnded(SimLink& link);
    bool decode(const std::vector<std::uint8_t>& body, Heard& heard) const;
    // The wire bytes of an answer to the current request. x, y: the code bytes of a short
    // answer to an uncoded request (the first also rotates it).
    std::vector<std::uint8_t> frameAnswer(std::uint8_t echo, std::uint8_t status,
                                          const std::vector<std::uint8_t>& data, std::uint8_t x,
                                          std::uint8_t y) const;
    std::vector<std::uint8_t> failureAnswer(std::uint8_t code, std::uint8_t x,
                                            std::uint8_t y) const;
    void reply(SimLink& link, const std::vector<std::uint8_t>& data);
    void fail(SimLink& link, std::uint8_t code);
    std::uint8_t draw();

    void handshake(SimLink& link);
    bool needProtocol(std::uint8_t wanted, SimLink& link);
    SimTag* kind(TagKind kind, SimLink& link);
    SimTag* iso15693(std::uint8_t flags, const std::uint8_t* uidLsbFirst, SimLink& link);
    void mifare(const Heard& heard, SimLink& link);
    void ultralight(const Heard& heard, SimLink& link);
    void sr(const Heard& heard, SimLink& link);
    void vicinity(const Heard& heard, SimLink& link);

    LinkPasswordBytes password_{};
    int mode_ = 1;
    bool inStep_ = false;
    std::array<std::uint8_t, 8> codeState_{};
    std::uint32_t random_ = 0x9E3779B9u;

    // Frame collection.
    bool collecting_ = false;
    bool escaped_ = false;
    bool malformed_ = false;
    std::vector<std::uint8_t> body_;
    // The request being answered.
    Heard current_;
};

}  // namespace vandora::sim
