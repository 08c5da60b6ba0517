#include "rfid/link/RfidLink.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/Hex.h"

#include "reader/ReaderTypes.h"

namespace vandora {

namespace {

using link::LinkAnswer;

constexpr std::uint8_t kSetState = 0x11;
constexpr std::uint8_t kControl = 0x13;
constexpr std::uint8_t kModuleInfo = 0x19;
constexpr std::uint8_t kReset = 0x1B;
constexpr std::uint8_t kSelectProtocol = 0x1F;
constexpr std::uint8_t kRequestA = 0x20;
constexpr std::uint8_t kMifareRead = 0x21;
constexpr std::uint8_t kMifareWrite = 0x22;
constexpr std::uint8_t kMifareWriteKeys = 0x2A;
constexpr std::uint8_t kUltralightRead = 0x2E;
constexpr std::uint8_t kUltralightWrite = 0x2F;
constexpr std::uint8_t kSr176Select = 0x41;
constexpr std::uint8_t kSr176Read = 0x43;
constexpr std::uint8_t kSr176Write = 0x44;
constexpr std::uint8_t kSrix4kRead = 0x46;
constexpr std::uint8_t kSrix4kWrite = 0x47;
constexpr std::uint8_t kSrix4kUid = 0x49;
constexpr std::uint8_t kIso15693Inventory = 0x60;
constexpr std::uint8_t kIso15693Read = 0x64;
constexpr std::uint8_t kIso15693Write = 0x65;

constexpr std::uint8_t kProtocol14443A = 0x41;
constexpr std::uint8_t kStateStart = 9;
constexpr std::uint8_t kStateStop = 0;
constexpr std::uint8_t kControlStart = 16;
constexpr std::uint8_t kControlStop = 17;

constexpr std::uint8_t kUidMarker = 0x4D;
constexpr std::size_t kUidClearBytes = 11;
// A 6-byte ISO 14443 A answer: a 4-byte UID and two bytes that are not the ATQA and SAK.
constexpr std::size_t kShortRequestAnswer = 6;
constexpr std::uint16_t kShortRequestAtqa = 0x0004;
// Fewer data bytes would give a UID of fewer than 3 bytes under the n - 3 rule.
constexpr std::size_t kMinRequestAnswer = 6;

constexpr std::uint32_t kSearchRates[] = {115200, 38400, 19200, 9600};

std::uint8_t mifareFlags(std::uint8_t keyType, std::uint8_t zeroKey, std::uint8_t option) {
    return static_cast<std::uint8_t>((keyType != 0 ? 0x01 : 0) | (zeroKey != 0 ? 0x02 : 0) |
                                     (option != 0 ? 0x04 : 0));
}

// Appends the six key bytes, or six zeros with the zero-key flag.
std::uint8_t* putKey(std::uint8_t* at, std::span<const std::uint8_t, 6> key, std::uint8_t zeroKey) {
    if (zeroKey != 0) {
        return std::fill_n(at, 6, std::uint8_t{0});
    }
    return std::copy(key.begin(), key.end(), at);
}

}  // namespace

RfidLink::RfidLink(SerialPortProvider& ports, Clock& clock) : ports_(&ports), clock_(&clock) {}

RfidLink::~RfidLink() {
    for (auto& entry : handles_) {
        if (entry.second) {
            entry.second->close();
        }
    }
}

LinkPassword RfidLink::defaultPassword() {
    return passwordFromText(kDefaultLinkPassword);
}

LinkPassword RfidLink::passwordFromText(const std::string& text) {
    if (text.size() < 8) {
        return defaultPassword();
    }
    LinkPassword password{};
    for (std::size_t i = 0; i < password.size(); ++i) {
        int high = hexDigitValue(text[2 * i]);
        int low = hexDigitValue(text[2 * i + 1]);
        password[i] = high < 0 || low < 0 ? 0 : static_cast<std::uint8_t>(high * 16 + low);
    }
    return password;
}

// --- state ----------------------------------------------------------------------------------

RfidLink::Target RfidLink::find(int port) {
    for (LinkPort& lp : linkPorts_) {
        if (lp.number == port) {
            return {&lp, lp.current};
        }
    }
    return {};
}

const LinkDevice* RfidLink::device(int port) const {
    for (const LinkPort& lp : linkPorts_) {
        if (lp.number == port) {
            return lp.current;
        }
    }
    return nullptr;
}

LinkPort& RfidLink::findOrCreatePort(int port) {
    Target target = find(port);
    if (target.port != nullptr) {
        return *target.port;
    }
    LinkPort& lp = linkPorts_.emplace_back();
    lp.number = port;
    lp.currentAddress = 1;
    return lp;
}

LinkDevice& RfidLink::findOrCreateDevice(LinkPort& port) {
    if (port.current == nullptr) {
        LinkDevice& device = port.devices.emplace_back();
        device.port = port.number;
        port.current = &device;
    }
    return *port.current;
}

void RfidLink::removeDevice(LinkPort& port) {
    if (port.current != nullptr) {
        const LinkDevice* gone = port.current;
        port.devices.remove_if([gone](const LinkDevice& d) { return &d == gone; });
        port.current = port.devices.empty() ? nullptr : &port.devices.front();
    }
    if (port.devices.empty()) {
        const LinkPort* gone = &port;
        linkPorts_.remove_if([gone](const LinkPort& p) { return &p == gone; });
    }
}

SerialPort* RfidLink::handle(int port) {
    auto it = handles_.find(port);
    return it == handles_.end() ? nullptr : it->second.get();
}

void RfidLink::closeHandle(int port) {
    auto it = handles_.find(port);
    if (it != handles_.end()) {
        if (it->second) {
            it->second->close();
        }
        handles_.erase(it);
    }
}

int RfidLink::openHandle(int port, std::uint32_t baud) {
    std::unique_ptr<SerialPort> serial = ports_->create(port);
    if (!serial) {
        return ENODEV;
    }
    int error = serial->open();
    if (error != 0) {
        return error;
    }
    PortSettings settings;
    settings.baud = baud;
    settings.dataBits = 8;
    settings.parity = Parity::None;
    settings.stopBits = StopBits::One;
    error = serial->setSettings(settings);
    if (error == 0) {
        // A read returns at once with what is there.
        PortTimeouts timeouts;
        timeouts.readIntervalMs = 1;
        timeouts.readMultiplier = 1;
        timeouts.readConstantMs = 1;
        timeouts.writeMultiplier = 50;
        timeouts.writeConstantMs = 500;
        error = serial->setTimeouts(timeouts);
    }
    if (error != 0) {
        serial->close();
        return error;
    }
    handles_[port] = std::move(serial);
    return 0;
}

// --- one transaction ------------------------------------------------------------------------

bool RfidLink::receive(SerialPort& serial, std::uint8_t startByte, std::uint32_t timeoutMs,
                       std::span<std::uint8_t> buffer, std::size_t& got) {
    got = 0;
    link::FrameFollower follower(startByte);
    std::uint64_t allowedUs = static_cast<std::uint64_t>(timeoutMs) * 1000;
    std::uint64_t since = clock_->nowUs();
    for (;;) {
        std::uint64_t now = clock_->nowUs();
        if (now < since) {
            since = now;  // the clock went backwards
        }
        if (now - since >= allowedUs) {
            return false;
        }
        // Whatever is there, one byte at a time.
        for (;;) {
            std::uint8_t byte = 0;
            std::size_t n = 0;
            if (serial.read(&byte, 1, n) != 0) {
                return false;
            }
            if (n == 0) {
                break;
            }
            std::uint64_t at = clock_->nowUs();
            if (at >= since && at - since >= allowedUs) {
                return false;  // it came after the wait had ended
            }
            if (got == buffer.size()) {
                return false;  // more than the buffer holds
            }
            buffer[got++] = byte;
            if (follower.feed(byte)) {
                return true;
            }
            // Bytes arrived: from now on only a short silence is allowed.
            since = at;
            allowedUs = static_cast<std::uint64_t>(kSilenceMs) * 1000;
        }
    }
}

bool RfidLink::transact(LinkPort& port, LinkDevice& device, std::span<const std::uint8_t> request,
                        std::uint32_t timeoutMs, LinkAnswer& answer) {
    SerialPort* serial = handle(device.port);
    if (serial == nullptr || request.empty()) {
        return false;
    }
    const std::uint8_t commandByte = request[0];
    if (link::carriesCode(device.mode, commandByte)) {
        device.frameCode = link::advanceFrameCode(device.codeState);
    }
    std::size_t size =
        link::buildRequest(device.mode, device.address, device.frameCode, request, port.send);
    if (size == 0) {
        return false;
    }
    std::size_t written = 0;
    if (serial->write(port.send.data(), size, written) != 0 || written < size) {
        return false;
    }
    std::size_t got = 0;
    if (!receive(*serial, link::answerStart(device.mode), timeoutMs, port.receive, got)) {
        return false;
    }
    if (link::parseAnswer(std::span<const std::uint8_t>(port.receive.data(), got), device.mode,
                          device.address, commandByte, device.frameCode, port.payload,
                          answer) != link::AnswerError::None) {
        return false;
    }
    device.status = link::isLongFraming(device.mode) ? answer.status : 0;
    return true;
}

std::uint8_t RfidLink::command(LinkPort& port, LinkDevice& device,
                               std::span<const std::uint8_t> request, LinkAnswer& answer) {
    if (!transact(port, device, request, kAnswerTimeoutMs, answer)) {
        if (link::hasCodeState(device.mode)) {
            handshake(port, device);
        }
        answer = LinkAnswer{};
        return LinkStatus::NoAnswer;
    }
    if (link::isLongFraming(device.mode) && answer.status != 0) {
        return LinkStatus::WrongAnswer;
    }
    if (answer.echo != request[0]) {
        return LinkStatus::WrongAnswer;
    }
    return LinkStatus::Ok;
}

std::uint8_t RfidLink::command(int port, std::span<const std::uint8_t> request,
                               LinkAnswer& answer) {
    Target target = find(port);
    if (target.device == nullptr) {
        return LinkStatus::NoPort;
    }
    return command(*target.port, *target.device, request, answer);
}

std::uint8_t RfidLink::readInto(int port, std::span<const std::uint8_t> request,
                                std::span<std::uint8_t> out, bool exact) {
    LinkAnswer answer;
    std::uint8_t status = command(port, request, answer);
    if (status != LinkStatus::Ok) {
        return status;
    }
    if (answer.data.size() < out.size() || (exact && answer.data.size() != out.size())) {
        return LinkStatus::WrongAnswer;
    }
    std::copy_n(answer.data.begin(), out.size(), out.begin());
    return LinkStatus::Ok;
}

// --- handshake, start, stop -----------------------------------------------------------------

std::uint8_t RfidLink::handshake(LinkPort& port, LinkDevice& device) {
    clock_->sleepMs(kHandshakePauseMs);
    const bool longFraming = link::isLongFraming(device.mode);
    const std::uint8_t request[2] = {link::kCommandHandshake,
                                     static_cast<std::uint8_t>(device.mode - 2)};
    LinkAnswer answer;
    if (!transact(port, device, std::span<const std::uint8_t>(request, longFraming ? 2 : 1),
                  kAnswerTimeoutMs, answer)) {
        return LinkStatus::NoAnswer;
    }
    if (answer.echo != link::kCommandHandshake) {
        return LinkStatus::WrongAnswer;
    }
    std::span<const std::uint8_t> seed = answer.data;
    if (seed.size() != 8) {
        if (longFraming && answer.status != 0) {
            return LinkStatus::WrongAnswer;
        }
        if (answer.data.empty()) {
            return LinkStatus::WrongAnswer;
        }
        const int newMode = answer.data[0] + 2;
        if (newMode > link::kHighestMode) {
            return LinkStatus::WrongAnswer;
        }
        if (newMode == 2) {
            device.mode = 2;
            return LinkStatus::Ok;
        }
        if (answer.data.size() < 9) {
            return LinkStatus::WrongAnswer;
        }
        device.mode = static_cast<std::uint8_t>(newMode);
        seed = answer.data.subspan(1, 8);
    }
    device.codeState = link::codeStateFromSeed(seed.first<8>(), device.password);
    device.frameCode = link::deriveFrameCode(device.codeState);
    return LinkStatus::Ok;
}

std::uint8_t RfidLink::startDevice(LinkPort& port, LinkDevice& device, const LinkPassword& password,
                                   int mode) {
    device.address = 1;
    device.mode = static_cast<std::uint8_t>(mode);
    if (link::hasCodeState(mode)) {
        device.password = password;
        std::uint8_t status = handshake(port, device);
        if (status == LinkStatus::NoAnswer) {
            return LinkStatus::NoAnswer;
        }
        if (status != LinkStatus::Ok) {
            return LinkStatus::StartHandshakeFailed;
        }
    }
    LinkAnswer answer;
    const std::uint8_t select[] = {kSelectProtocol, kProtocol14443A};
    if (command(port, device, select, answer) == LinkStatus::NoAnswer) {
        std::uint8_t status = handshake(port, device);
        if (status != LinkStatus::Ok) {
            return status == LinkStatus::NoAnswer ? LinkStatus::NoAnswer
                                                  : LinkStatus::StartSelectFailed;
        }
    }
    const std::uint8_t state[] = {kSetState, kStateStart};
    const std::uint8_t reset[] = {kReset};
    const std::uint8_t control[] = {kControl, kControlStart};
    for (std::span<const std::uint8_t> step :
         {std::span<const std::uint8_t>(state), std::span<const std::uint8_t>(reset),
          std::span<const std::uint8_t>(control)}) {
        std::uint8_t status = command(port, device, step, answer);
        if (status != LinkStatus::Ok) {
            return status == LinkStatus::NoAnswer ? LinkStatus::NoAnswer : LinkStatus::WrongAnswer;
        }
    }
    device.started = true;
    return LinkStatus::Ok;
}

std::uint8_t RfidLink::stopDevice(LinkPort& port, LinkDevice& device) {
    if (!device.started) {
        return LinkStatus::NotStarted;
    }
    const std::uint8_t state[] = {kSetState, kStateStop};
    const std::uint8_t reset[] = {kReset};
    const std::uint8_t control[] = {kControl, kControlStop};
    std::uint8_t result = LinkStatus::Ok;
    LinkAnswer answer;
    for (std::span<const std::uint8_t> step :
         {std::span<const std::uint8_t>(state), std::span<const std::uint8_t>(reset),
          std::span<const std::uint8_t>(control)}) {
        std::uint8_t status = command(port, device, step, answer);
        if (status != LinkStatus::Ok) {
            result =
                status == LinkStatus::NoAnswer ? LinkStatus::StopNoAnswer : LinkStatus::WrongAnswer;
            break;
        }
    }
    device.started = false;
    return result;
}

std::uint8_t RfidLink::linkHandshake(int port) {
    Target target = find(port);
    if (target.device == nullptr) {
        return LinkStatus::NoPort;
    }
    return handshake(*target.port, *target.device);
}

std::uint8_t RfidLink::linkStartDevice(int port, const LinkPassword& password, int mode) {
    Target target = find(port);
    if (target.device == nullptr) {
        return LinkStatus::NoPort;
    }
    if (mode < 0 || mode > link::kHighestMode) {
        return LinkStatus::StartHandshakeFailed;
    }
    return startDevice(*target.port, *target.device, password, mode);
}

std::uint8_t RfidLink::linkStopDevice(int port) {
    Target target = find(port);
    if (target.device == nullptr) {
        return LinkStatus::NoPort;
    }
    return stopDevice(*target.port, *target.device);
}

// --- open and close -------------------------------------------------------------------------

std::uint8_t RfidLink::linkOpen(int port, std::uint32_t baud, const std::string& passwordText,
                                int mode, std::uint32_t settleMs, std::uint32_t& actualBaud) {
    actualBaud = 0;
    if (port <= 0 || mode < 0 || mode > link::kHighestMode) {
        return LinkStatus::CannotOpen;
    }
    Target existing = find(port);
    if (existing.device != nullptr && existing.device->address != 0) {
        return LinkStatus::Ok;
    }
    LinkPort& lp = findOrCreatePort(port);
    LinkDevice& device = findOrCreateDevice(lp);
    const LinkPassword password = passwordFromText(passwordText);

    auto giveUp = [&](std::uint8_t status) {
        removeDevice(lp);
        closeHandle(port);
        actualBaud = 0;
        return status;
    };
    // Opens the port at a rate and starts the device; false when the port cannot be opened.
    std::uint8_t started = LinkStatus::NoAnswer;
    auto attempt = [&](std::uint32_t rate) {
        closeHandle(port);
        device.port = port;
        device.address = 1;
        if (openHandle(port, rate) != 0) {
            return false;
        }
        clock_->sleepMs(settleMs);
        actualBaud = rate;
        started = startDevice(lp, device, password, mode);
        return true;
    };

    if (baud != 0) {
        if (!attempt(baud)) {
            return giveUp(LinkStatus::CannotOpen);
        }
        if (started == LinkStatus::Ok) {
            return LinkStatus::Ok;
        }
    }
    for (std::uint32_t rate : kSearchRates) {
        if (rate == baud) {
            continue;
        }
        if (!attempt(rate)) {
            return giveUp(LinkStatus::CannotOpen);
        }
        if (started == LinkStatus::Ok) {
            return LinkStatus::Ok;
        }
    }
    return giveUp(started);
}

std::uint8_t RfidLink::linkClose(int port) {
    if (port == 0) {
        for (LinkPort& lp : linkPorts_) {
            for (LinkDevice& device : lp.devices) {
                if (device.started) {
                    stopDevice(lp, device);
                }
            }
        }
        linkPorts_.clear();
        for (auto& entry : handles_) {
            if (entry.second) {
                entry.second->close();
            }
        }
        handles_.clear();
        return LinkStatus::Ok;
    }
    Target target = find(port);
    if (target.device == nullptr) {
        return LinkStatus::NoPort;
    }
    std::uint8_t result = stopDevice(*target.port, *target.device);
    const bool last = target.port->devices.size() == 1;
    removeDevice(*target.port);
    if (last) {
        closeHandle(port);
    }
    return result;
}

std::uint8_t RfidLink::linkVersion(std::string& text) const {
    text = kVersion;
    return LinkStatus::Ok;
}

// --- module commands ------------------------------------------------------------------------

std::uint8_t RfidLink::linkSetState(int port, std::uint8_t value) {
    const std::uint8_t request[] = {kSetState, value};
    LinkAnswer answer;
    return command(port, request, answer);
}

std::uint8_t RfidLink::linkModuleInfo(int port, std::uint8_t* info, std::uint8_t* serial) {
    const std::uint8_t request[] = {kModuleInfo};
    std::array<std::uint8_t, 12> both{};
    std::uint8_t status = readInto(port, request, both, false);
    if (status != LinkStatus::Ok) {
        return status;
    }
    if (info != nullptr) {
        std::memcpy(info, both.data(), 8);
    }
    if (serial != nullptr) {
        std::memcpy(serial, both.data() + 8, 4);
    }
    return LinkStatus::Ok;
}

std::uint8_t RfidLink::linkSelectProtocol(int port, std::uint8_t protocol) {
    const std::uint8_t request[] = {kSelectProtocol, protocol};
    LinkAnswer answer;
    return command(port, request, answer);
}

std::uint8_t RfidLink::linkRequestA(int port, std::uint8_t requestMode, std::span<std::uint8_t> uid,
                                    std::uint16_t& atqa, std::uint8_t& sak) {
    std::fill_n(uid.begin(), std::min(uid.size(), kUidClearBytes), std::uint8_t{0});
    const std::uint8_t request[] = {kRequestA, requestMode};
    LinkAnswer answer;
    std::uint8_t status = command(port, request, answer);
    if (status != LinkStatus::Ok) {
        return status;
    }
    const std::span<const std::uint8_t> data = answer.data;
    const std::size_t n = data.size();
    if (n < kMinRequestAnswer) {
        return LinkStatus::WrongAnswer;
    }
    std::size_t uidLength = n - 3;
    std::uint16_t answerToRequest = static_cast<std::uint16_t>(data[n - 3] | data[n - 2] << 8);
    std::uint8_t select = data[n - 1];
    if (n == kShortRequestAnswer) {
        uidLength = 4;
        answerToRequest = kShortRequestAtqa;
        select = 0;
    }
    if (uidLength + 1 > uid.size()) {
        return LinkStatus::WrongAnswer;
    }
    std::copy_n(data.begin(), uidLength, uid.begin());
    uid[uidLength] = kUidMarker;
    atqa = answerToRequest;
    sak = select;
    return LinkStatus::Ok;
}

std::uint8_t RfidLink::linkMifareRead(int port, std::uint8_t keyType, std::uint8_t zeroKey,
                                      std::uint8_t option, std::uint8_t block,
                                      std::span<const std::uint8_t, 6> key,
                                      std::span<std::uint8_t, 16> data) {
    std::array<std::uint8_t, 9> request{kMifareRead, mifareFlags(keyType, zeroKey, option), block};
    putKey(request.data() + 3, key, zeroKey);
    return readInto(port, request, data, false);
}

std::uint8_t RfidLink::linkMifareWrite(int port, std::uint8_t keyType, std::uint8_t zeroKey,
                                       std::uint8_t option, std::uint8_t block,
                                       std::span<const std::uint8_t, 6> key,
                                       std::span<const std::uint8_t, 16> data) {
    std::array<std::uint8_t, 25> request{kMifareWrite, mifareFlags(keyType, zeroKey, option),
                                         block};
    std::copy(data.begin(), data.end(), putKey(request.data() + 3, key, zeroKey));
    LinkAnswer answer;
    return command(port, request, answer);
}

std::uint8_t RfidLink::linkMifareWriteKeys(int port, std::uint8_t keyType, std::uint8_t zeroKey,
                                           std::uint8_t option, std::uint8_t sector,
                                           std::span<const std::uint8_t, 6> key,
                                           std::span<const std::uint8_t, 16> trailer) {
    std::array<std::uint8_t, 25> request{kMifareWriteKeys, mifareFlags(keyType, zeroKey, option),
                                         sector};
    std::copy(trailer.begin(), trailer.end(), putKey(request.data() + 3, key, zeroKey));
    LinkAnswer answer;
    return command(port, request, answer);
}

std::uint8_t RfidLink::linkUltralightRead(int port, std::uint8_t page,
                                          std::span<std::uint8_t, 16> data) {
    const std::uint8_t request[] = {kUltralightRead, page};
    return readInto(port, request, data, false);
}

std::uint8_t RfidLink::linkUltralightWrite(int port, std::uint8_t page,
                                           std::span<const std::uint8_t, 4> data) {
    const std::uint8_t request[] = {kUltralightWrite, page, data[0], data[1], data[2], data[3]};
    LinkAnswer answer;
    return command(port, request, answer);
}

std::uint8_t RfidLink::linkSr176Select(int port, std::uint8_t& chipId) {
    const std::uint8_t request[] = {kSr176Select};
    std::uint8_t id = 0;
    std::uint8_t status = readInto(port, request, std::span<std::uint8_t>(&id, 1), false);
    if (status == LinkStatus::Ok) {
        chipId = id;
    }
    return status;
}

std::uint8_t RfidLink::linkSr176Read(int port, std::uint8_t block,
                                     std::span<std::uint8_t, 2> data) {
    const std::uint8_t request[] = {kSr176Read, block};
    return readInto(port, request, data, true);
}

std::uint8_t RfidLink::linkSr176Write(int port, std::uint8_t block,
                                      std::span<const std::uint8_t, 2> data) {
    const std::uint8_t request[] = {kSr176Write, block, data[0], data[1]};
    LinkAnswer answer;
    return command(port, request, answer);
}

std::uint8_t RfidLink::linkSrix4kRead(int port, std::uint8_t block,
                                      std::span<std::uint8_t, 4> data) {
    const std::uint8_t request[] = {kSrix4kRead, block};
    return readInto(port, request, data, true);
}

std::uint8_t RfidLink::linkSrix4kWrite(int port, std::uint8_t block,
                                       std::span<const std::uint8_t, 4> data) {
    const std::uint8_t request[] = {kSrix4kWrite, block, data[0], data[1], data[2], data[3]};
    LinkAnswer answer;
    return command(port, request, answer);
}

std::uint8_t RfidLink::linkSrix4kUid(int port, std::span<std::uint8_t, 8> uid) {
    const std::uint8_t request[] = {kSrix4kUid};
    return readInto(port, request, uid, true);
}

std::uint8_t RfidLink::linkIso15693Inventory(int port, std::uint8_t flags, std::uint8_t afi,
                                             std::uint8_t maskLength,
                                             std::span<const std::uint8_t> mask,
                                             std::uint8_t& dsfid, std::span<std::uint8_t, 8> uid) {
    std::array<std::uint8_t, 12> request{kIso15693Inventory, flags, afi, maskLength};
    const std::size_t maskBytes = std::min<std::size_t>({maskLength, 8, mask.size()});
    std::copy_n(mask.begin(), maskBytes, request.begin() + 4);
    std::array<std::uint8_t, 9> both{};
    std::uint8_t status = readInto(port, request, both, false);
    if (status != LinkStatus::Ok) {
        return status;
    }
    dsfid = both[0];
    std::copy_n(both.begin() + 1, 8, uid.begin());
    return LinkStatus::Ok;
}

std::uint8_t RfidLink::linkIso15693Read(int port, std::uint8_t flags,
                                        std::span<const std::uint8_t, 8> uid,
                                        std::uint8_t firstBlock, std::uint8_t count,
                                        std::span<std::uint8_t> data) {
    if (find(port).device == nullptr) {
        return LinkStatus::NoPort;
    }
    if (data.size() < 4 * static_cast<std::size_t>(count)) {
        return LinkStatus::WrongAnswer;
    }
    std::array<std::uint8_t, 12> request{kIso15693Read, flags};
    std::copy(uid.begin(), uid.end(), request.begin() + 2);
    request[11] = 1;
    for (std::size_t i = 0; i < count; ++i) {
        request[10] = static_cast<std::uint8_t>(firstBlock + i);
        std::uint8_t status = readInto(port, request, data.subspan(4 * i, 4), false);
        if (status != LinkStatus::Ok) {
            return i == 0 ? status : LinkStatus::LaterBlockFailed;
        }
    }
    return LinkStatus::Ok;
}

std::uint8_t RfidLink::linkIso15693Write(int port, std::uint8_t flags,
                                         std::span<const std::uint8_t, 8> uid, std::uint8_t block,
                                         std::span<const std::uint8_t, 4> data) {
    std::array<std::uint8_t, 15> request{kIso15693Write, flags};
    std::copy(uid.begin(), uid.end(), request.begin() + 2);
    request[10] = block;
    std::copy(data.begin(), data.end(), request.begin() + 11);
    LinkAnswer answer;
    return command(port, request, answer);
}

}  // namespace vandora
