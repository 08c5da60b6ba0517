// The calls the reader channel makes on the RFID binary link of the terminal model that has one.
//
// Every call returns a status byte: 0 is success. Until the link itself is built in, the
// unavailable link answers every call with a failure, so that a channel behind it fails like a
// silent engine.
#pragma once

#include <cstdint>
#include <string>

namespace vandora {

class RfidLinkApi {
  public:
    virtual ~RfidLinkApi() = default;
    virtual std::uint8_t linkOpen(int port, std::uint32_t baud, const std::string& passwordText,
                                  int mode, std::uint32_t settleMs, std::uint32_t& actualBaud) = 0;
    virtual std::uint8_t linkClose(int port) = 0;
    virtual std::uint8_t linkSetState(int port, std::uint8_t value) = 0;
    virtual std::uint8_t linkModuleInfo(int port, std::uint8_t* info, std::uint8_t* serial) = 0;
};

// No link present: every call fails with status 240 (no answer).
class UnavailableRfidLink final : public RfidLinkApi {
  public:
    static constexpr std::uint8_t kNoAnswer = 240;
    std::uint8_t linkOpen(int, std::uint32_t, const std::string&, int, std::uint32_t,
                          std::uint32_t&) override {
        return kNoAnswer;
    }
    std::uint8_t linkClose(int) override { return kNoAnswer; }
    std::uint8_t linkSetState(int, std::uint8_t) override { return kNoAnswer; }
    std::uint8_t linkModuleInfo(int, std::uint8_t*, std::uint8_t*) override { return kNoAnswer; }
};

}  // namespace vandora
