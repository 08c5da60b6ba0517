// RfidLink: the binary framed link to the RFID module of terminal model 4.
//
// It opens its serial ports itself (through the provider, port N as ports.create(N)), keeps one
// LinkPort per open port with its buffers and its devices, and offers one function per module
// command. Every function returns a status byte: 0 success, 35 a later ISO 15693 block failed,
// 238 to 241 and 248 to 255 as named in LinkStatus below. The framing is in LinkFrame.h.
//
// Each command is one transaction: the request in the framing of the device's mode, then the
// answer, which must start within 250 ms; once bytes arrive, 50 ms without a byte ends the wait.
// All waiting goes through the Clock, so the link runs in virtual time against simulated ports.
//
// Module answers are untrusted: an answer with the right echo but with too little data for the
// output it fills (or, where the output takes all data bytes, with more than it holds) is a wrong
// answer (239); nothing is copied from it.
//
// Threading: none of its own. Callers serialise (the RFID channel's lock; open and close at start
// and shutdown).
#pragma once

#include <array>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "platform/Clock.h"
#include "platform/RfidLinkApi.h"
#include "platform/SerialPort.h"
#include "rfid/link/LinkFrame.h"

namespace vandora {

namespace LinkStatus {
constexpr std::uint8_t Ok = 0;
constexpr std::uint8_t LaterBlockFailed = 35;
constexpr std::uint8_t StartSelectFailed = 238;
constexpr std::uint8_t WrongAnswer = 239;
constexpr std::uint8_t NoAnswer = 240;
constexpr std::uint8_t NoPort = 241;
constexpr std::uint8_t StartHandshakeFailed = 248;
constexpr std::uint8_t NoMemory = 252;
constexpr std::uint8_t StopNoAnswer = 253;
constexpr std::uint8_t CannotOpen = 254;
constexpr std::uint8_t NotStarted = 255;
}  // namespace LinkStatus

using LinkPassword = std::array<std::uint8_t, 4>;

// One module reached on a port.
struct LinkDevice {
    int port = 0;
    std::uint8_t mode = 0;
    LinkPassword password{};
    link::CodeState codeState{};
    link::FrameCode frameCode{};
    std::uint8_t address = 0;  // 0: no device
    std::uint8_t status = 0;   // status byte of the last long-framing answer
    bool started = false;
};

// The state of one open port: its devices and the buffers they share.
struct LinkPort {
    int number = 0;
    std::list<LinkDevice> devices;
    LinkDevice* current = nullptr;
    std::uint8_t currentAddress = 1;
    std::array<std::uint8_t, link::kLinkBufferBytes> receive{};
    std::array<std::uint8_t, link::kLinkBufferBytes> send{};
    std::array<std::uint8_t, link::kLinkBufferBytes> payload{};
};

class RfidLink final : public RfidLinkApi {
  public:
    static constexpr const char* kVersion = "2.225";
    static constexpr std::uint32_t kAnswerTimeoutMs = 250;
    static constexpr std::uint32_t kSilenceMs = 50;
    static constexpr std::uint32_t kHandshakePauseMs = 50;

    RfidLink(SerialPortProvider& ports, Clock& clock);
    ~RfidLink() override;
    RfidLink(const RfidLink&) = delete;
    RfidLink& operator=(const RfidLink&) = delete;

    // The built-in password (kDefaultLinkPassword).
    static LinkPassword defaultPassword();
    // The password of a text: its first 8 characters as 4 hexadecimal pairs (a pair with another
    // character gives 0); the built-in password when the text is shorter than 8 characters.
    static LinkPassword passwordFromText(const std::string& text);

    std::uint8_t linkOpen(int port, std::uint32_t baud, const std::string& passwordText, int mode,
                          std::uint32_t settleMs, std::uint32_t& actualBaud) override;
    std::uint8_t linkClose(int port) override;
    // Copies "2.225" into text.
    std::uint8_t linkVersion(std::string& text) const;

    std::uint8_t linkSetState(int port, std::uint8_t value) override;
    // info: 8 bytes, serial: 4 bytes (either may be null).
    std::uint8_t linkModuleInfo(int port, std::uint8_t* info, std::uint8_t* serial) override;
    std::uint8_t linkSelectProtocol(int port, std::uint8_t protocol) override;
    std::uint8_t linkRequestA(int port, std::uint8_t requestMode, std::span<std::uint8_t> uid,
                              std::uint16_t& atqa, std::uint8_t& sak) override;
    std::uint8_t linkMifareRead(int port, std::uint8_t keyType, std::uint8_t zeroKey,
                                std::uint8_t option, std::uint8_t block,
                                std::span<const std::uint8_t, 6> key,
                                std::span<std::uint8_t, 16> data) override;
    std::uint8_t linkMifareWrite(int port, std::uint8_t keyType, std::uint8_t zeroKey,
                                 std::uint8_t option, std::uint8_t block,
                                 std::span<const std::uint8_t, 6> key,
                                 std::span<const std::uint8_t, 16> data) override;
    std::uint8_t linkMifareWriteKeys(int port, std::uint8_t keyType, std::uint8_t zeroKey,
                                     std::uint8_t option, std::uint8_t sector,
                                     std::span<const std::uint8_t, 6> key,
                                     std::span<const std::uint8_t, 16> trailer) override;
    std::uint8_t linkUltralightRead(int port, std::uint8_t page,
                                    std::span<std::uint8_t, 16> data) override;
    std::uint8_t linkUltralightWrite(int port, std::uint8_t page,
                                     std::span<const std::uint8_t, 4> data) override;
    std::uint8_t linkSr176Select(int port, std::uint8_t& chipId) override;
    std::uint8_t linkSr176Read(int port, std::uint8_t block,
                               std::span<std::uint8_t, 2> data) override;
    std::uint8_t linkSr176Write(int port, std::uint8_t block,
                                std::span<const std::uint8_t, 2> data) override;
    std::uint8_t linkSrix4kRead(int port, std::uint8_t block,
                                std::span<std::uint8_t, 4> data) override;
    std::uint8_t linkSrix4kWrite(int port, std::uint8_t block,
                                 std::span<const std::uint8_t, 4> data) override;
    std::uint8_t linkSrix4kUid(int port, std::span<std::uint8_t, 8> uid) override;
    std::uint8_t linkIso15693Inventory(int port, std::uint8_t flags, std::uint8_t afi,
                                       std::uint8_t maskLength, std::span<const std::uint8_t> mask,
                                       std::uint8_t& dsfid,
                                       std::span<std::uint8_t, 8> uid) override;
    std::uint8_t linkIso15693Read(int port, std::uint8_t flags,
                                  std::span<const std::uint8_t, 8> uid, std::uint8_t firstBlock,
                                  std::uint8_t count, std::span<std::uint8_t> data) override;
    std::uint8_t linkIso15693Write(int port, std::uint8_t flags,
                                   std::span<const std::uint8_t, 8> uid, std::uint8_t block,
                                   std::span<const std::uint8_t, 4> data) override;

    // The device-level steps, on the current device of a port (241 without one).
    std::uint8_t linkHandshake(int port);
    std::uint8_t linkStartDevice(int port, const LinkPassword& password, int mode);
    std::uint8_t linkStopDevice(int port);

    // Inspection for tests and diagnostics: the current device of a port, or null.
    const LinkDevice* device(int port) const;

  private:
    struct Target {
        LinkPort* port = nullptr;
        LinkDevice* device = nullptr;
    };

    Target find(int port);
    LinkPort& findOrCreatePort(int port);
    LinkDevice& findOrCreateDevice(LinkPort& port);
    // Removes the port's current device, and the port state when it was the last one.
    void removeDevice(LinkPort& port);
    void closeHandle(int port);
    int openHandle(int port, std::uint32_t baud);
    SerialPort* handle(int port);

    // One request and its answer; false when no valid answer came.
    bool transact(LinkPort& port, LinkDevice& device, std::span<const std::uint8_t> request,
                  std::uint32_t timeoutMs, link::LinkAnswer& answer);
    bool receive(SerialPort& serial, std::uint8_t startByte, std::uint32_t timeoutMs,
                 std::span<std::uint8_t> buffer, std::size_t& got);
    // The command wrapper: transact, renew the handshake after no answer in the coded modes,
    // check the status byte and the echo.
    std::uint8_t command(LinkPort& port, LinkDevice& device, std::span<const std::uint8_t> request,
                         link::LinkAnswer& answer);
    // The wrapper on the current device of a port number.
    std::uint8_t command(int port, std::span<const std::uint8_t> request, link::LinkAnswer& answer);
    std::uint8_t handshake(LinkPort& port, LinkDevice& device);
    std::uint8_t startDevice(LinkPort& port, LinkDevice& device, const LinkPassword& password,
                             int mode);
    std::uint8_t stopDevice(LinkPort& port, LinkDevice& device);
    // A command whose answer fills out with exactly (exact) or at least out.size() data bytes.
    std::uint8_t readInto(int port, std::span<const std::uint8_t> request,
                          std::span<std::uint8_t> out, bool exact);

    SerialPortProvider* ports_;
    Clock* clock_;
    std::list<LinkPort> linkPorts_;
    std::map<int, std::unique_ptr<SerialPort>> handles_;
};

}  // namespace vandora
