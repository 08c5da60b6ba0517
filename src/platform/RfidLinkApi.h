// The calls the reader and the RFID code make on the binary link of the terminal model that has
// one (port 2). The link is a service of the terminal, like its serial ports: the reader opens and
// identifies through it, the RFID module kind above the reader reads and writes tags through it.
//
// Every call returns a status byte: 0 is success; 240 no valid answer, 239 a wrong answer, 241 no
// open port or device, and the other codes of the link. Output buffers are spans of the size the
// answer fills; an answer with too little data for them is a failure, never a short copy.
// The tag commands default to "no answer", so that a stand-in only overrides what it needs.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace vandora {

class RfidLinkApi {
  public:
    static constexpr std::uint8_t kNoAnswer = 240;

    virtual ~RfidLinkApi() = default;
    virtual std::uint8_t linkOpen(int port, std::uint32_t baud, const std::string& passwordText,
                                  int mode, std::uint32_t settleMs, std::uint32_t& actualBaud) = 0;
    virtual std::uint8_t linkClose(int port) = 0;
    virtual std::uint8_t linkSetState(int port, std::uint8_t value) = 0;
    virtual std::uint8_t linkModuleInfo(int port, std::uint8_t* info, std::uint8_t* serial) = 0;

    // Protocol before a tag detection: 0x41 ISO 14443 A, 0x73 SR176/SRIX4K, 0x31 ISO 15693.
    virtual std::uint8_t linkSelectProtocol(int, std::uint8_t) { return kNoAnswer; }
    // ISO 14443 A request: uid is cleared (at most 11 bytes) and receives the UID followed by the
    // end marker 0x4D; atqa the answer to request (low byte first on the wire), sak the select
    // byte.
    virtual std::uint8_t linkRequestA(int, std::uint8_t, std::span<std::uint8_t>, std::uint16_t&,
                                      std::uint8_t&) {
        return kNoAnswer;
    }
    // Mifare block access with key type (0 A, 1 B), zeroKey and option flags; key: 6 bytes.
    virtual std::uint8_t linkMifareRead(int, std::uint8_t, std::uint8_t, std::uint8_t, std::uint8_t,
                                        std::span<const std::uint8_t, 6>,
                                        std::span<std::uint8_t, 16>) {
        return kNoAnswer;
    }
    virtual std::uint8_t linkMifareWrite(int, std::uint8_t, std::uint8_t, std::uint8_t,
                                         std::uint8_t, std::span<const std::uint8_t, 6>,
                                         std::span<const std::uint8_t, 16>) {
        return kNoAnswer;
    }
    // New sector trailer (key A, access bytes, key B) for a sector, logging in with key.
    virtual std::uint8_t linkMifareWriteKeys(int, std::uint8_t, std::uint8_t, std::uint8_t,
                                             std::uint8_t, std::span<const std::uint8_t, 6>,
                                             std::span<const std::uint8_t, 16>) {
        return kNoAnswer;
    }
    // Ultralight: a read gives 16 bytes (four pages from the one asked), a write one page.
    virtual std::uint8_t linkUltralightRead(int, std::uint8_t, std::span<std::uint8_t, 16>) {
        return kNoAnswer;
    }
    virtual std::uint8_t linkUltralightWrite(int, std::uint8_t, std::span<const std::uint8_t, 4>) {
        return kNoAnswer;
    }
    virtual std::uint8_t linkSr176Select(int, std::uint8_t&) { return kNoAnswer; }
    virtual std::uint8_t linkSr176Read(int, std::uint8_t, std::span<std::uint8_t, 2>) {
        return kNoAnswer;
    }
    virtual std::uint8_t linkSr176Write(int, std::uint8_t, std::span<const std::uint8_t, 2>) {
        return kNoAnswer;
    }
    virtual std::uint8_t linkSrix4kRead(int, std::uint8_t, std::span<std::uint8_t, 4>) {
        return kNoAnswer;
    }
    virtual std::uint8_t linkSrix4kWrite(int, std::uint8_t, std::span<const std::uint8_t, 4>) {
        return kNoAnswer;
    }
    virtual std::uint8_t linkSrix4kUid(int, std::span<std::uint8_t, 8>) { return kNoAnswer; }
    // ISO 15693 inventory: flags, AFI, mask length and mask (the first maskLength bytes are sent,
    // the rest of the 8 as 0); dsfid gets the data-format byte, uid the 8 UID bytes as received.
    virtual std::uint8_t linkIso15693Inventory(int, std::uint8_t, std::uint8_t, std::uint8_t,
                                               std::span<const std::uint8_t>, std::uint8_t&,
                                               std::span<std::uint8_t, 8>) {
        return kNoAnswer;
    }
    // Reads count blocks of 4 bytes from firstBlock into data (at least 4 × count bytes): 0 all
    // read, the first block's error when it fails, 35 when a later one fails.
    virtual std::uint8_t linkIso15693Read(int, std::uint8_t, std::span<const std::uint8_t, 8>,
                                          std::uint8_t, std::uint8_t, std::span<std::uint8_t>) {
        return kNoAnswer;
    }
    virtual std::uint8_t linkIso15693Write(int, std::uint8_t, std::span<const std::uint8_t, 8>,
                                           std::uint8_t, std::span<const std::uint8_t, 4>) {
        return kNoAnswer;
    }
};

// No link present: every call fails with status 240 (no answer).
class UnavailableRfidLink final : public RfidLinkApi {
  public:
    std::uint8_t linkOpen(int, std::uint32_t, const std::string&, int, std::uint32_t,
                          std::uint32_t&) override {
        return kNoAnswer;
    }
    std::uint8_t linkClose(int) override { return kNoAnswer; }
    std::uint8_t linkSetState(int, std::uint8_t) override { return kNoAnswer; }
    std::uint8_t linkModuleInfo(int, std::uint8_t*, std::uint8_t*) override { return kNoAnswer; }
};

}  // namespace vandora
