#include "reader/Firmware.h"

#include <iterator>

#include "common/Hex.h"
#include "platform/FileContents.h"

#include "reader/Exchange.h"
#include "reader/Identify.h"
#include "reader/PortOps.h"
#include "reader/TerminalModels.h"
#include "reader/engines/EngineTable.h"
#include "reader/engines/PacketProtocol.h"

namespace vandora {

namespace {

constexpr std::uint32_t kVersionMs = 1000;
constexpr std::int32_t kCcdVersionAttempts = 1;
constexpr std::int32_t kRevisionAttempts = 5;
constexpr std::size_t kRevisionDataAt = 4;

constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kEsc = 0x1B;
constexpr int kWakeBytes = 30;
constexpr std::uint32_t kEraseBusyPauseMs = 5000;
constexpr std::uint32_t kEraseBusyReplyMs = 3000;
constexpr int kRepliesPerLine = 5;
constexpr std::uint32_t kEndRecordPauseMs = 10;
constexpr std::uint32_t kDataRecordPauseMs = 5;

constexpr std::uint32_t kShxLineMs = 3000;
constexpr std::int32_t kDownloadTries = 2;
constexpr std::int32_t kEraseTries = 3;
constexpr std::int32_t kDataTries = 3;
constexpr std::size_t kRecordsPerLine = 5;
constexpr std::size_t kAddressBytes = 4;
constexpr std::size_t kMaxCount = 255;
constexpr std::int32_t kShxStartProgress = 5;
constexpr std::int32_t kShxDoneProgress = 100;

constexpr std::size_t kDatHeaderBytes = 8;
constexpr std::size_t kDatRecordLead = 4;
// L + 1 travels in one byte.
constexpr std::size_t kMaxDatRecord = 254;
constexpr std::uint32_t kLoaderBaud = 9600;
constexpr std::uint32_t kUploadBaud = 115200;
constexpr std::uint32_t kLoaderStartMs = 1000;
constexpr std::uint32_t kLoaderSettleMs = 3000;
constexpr std::int32_t kLoaderTries = 3;
constexpr std::uint32_t kDatPacketMs = 3000;
constexpr std::int32_t kDatTries = 3;
constexpr std::size_t kDatReplyBytes = 8;
constexpr std::uint8_t kDatMaxStatus = 15;
constexpr std::uint32_t kProgrammingMs = 240000;
constexpr std::uint8_t kProgrammed = 0x04;
constexpr std::uint32_t kRebootMs = 4000;
constexpr std::int32_t kDatStartProgress = 5;
constexpr std::int32_t kDatDoneProgress = 1000;

const ByteString& endRecord() {
    static const ByteString kEnd = [] {
        static constexpr std::uint8_t kBytes[] = {'S', '7', 0x05, 0x00, 0x00, 0x00, 0x00, 0xFA};
        return ByteString::fromBytes(kBytes, sizeof kBytes);
    }();
    return kEnd;
}

bool readCcdReply(ReaderChannel& channel, std::uint32_t ms, ByteString& reply) {
    return readReply(channel, reply, ms, 0) != 0;
}

// The bytes of one S-record's hexadecimal text; false for anything that is not pairs of digits.
bool recordBytes(const std::uint8_t* text, std::size_t size, std::vector<std::uint8_t>& out) {
    return parseHex(std::string_view(reinterpret_cast<const char*>(text), size), out);
}

std::uint32_t addressOf(const std::vector<std::uint8_t>& record) {
    return (static_cast<std::uint32_t>(record[1]) << 24) |
           (static_cast<std::uint32_t>(record[2]) << 16) |
           (static_cast<std::uint32_t>(record[3]) << 8) | record[4];
}

// A group of contiguous records on its way to one line.
struct ShxGroup {
    std::vector<std::uint8_t> address;
    std::vector<std::uint8_t> data;
    std::uint64_t next = 0;  // the address after the group's last byte
    std::size_t records = 0;

    bool empty() const { return records == 0; }
    ShxLine line(std::int32_t progress) const {
        ShxLine out;
        out.bytes = ByteString("S3");
        out.bytes.append(static_cast<char16_t>(1 + kAddressBytes + data.size()));
        out.bytes.appendBytes(address.data(), address.size());
        out.bytes.appendBytes(data.data(), data.size());
        out.progress = progress;
        return out;
    }
};

}  // namespace

bool takesFirmware(EngineType engineType) {
    const FirmwareFile kind = engineInfo(engineType).firmware;
    return kind != FirmwareFile::None;
}

const char* firmwareFileFilter(EngineType engineType) {
    return engineInfo(engineType).firmwareFilter;
}

const char* uploadSucceedsText(EngineType engineType) {
    return engineInfo(engineType).uploadDoneText;
}

std::int32_t queryFirmwareVersion(ReaderManager& manager, EngineType engineType, ByteString& out) {
    out.clear();
    const EngineInfo& info = engineInfo(engineType);
    ReaderChannel& channel = manager.barcode;
    ByteString reply;
    switch (info.version) {
        case VersionText::None:
            return 0;
        case VersionText::Reply:
            if (exchange(channel, ByteString::fromBytes(info.query), kVersionMs, &reply,
                         kCcdVersionAttempts) == 0) {
                return 0;
            }
            out = reply;
            return 1;
        case VersionText::RevisionWord:
        case VersionText::RevisionCells:
            if (exchange(channel, ByteString::fromBytes(info.query), kVersionMs, &reply,
                         kRevisionAttempts) == 0) {
                return 0;
            }
            if (info.version == VersionText::RevisionCells) {
                out = reply.mid(kRevisionDataAt, info.versionCells);
            } else {
                std::size_t space = reply.find(u' ', kRevisionDataAt);
                out =
                    reply.mid(kRevisionDataAt, space == ByteString::npos ? ByteString::npos
                                                                         : space - kRevisionDataAt);
            }
            return 1;
    }
    return 0;
}

std::int32_t sendDownloadLine(ReaderChannel& channel, const ByteString& line,
                              std::uint32_t timeoutMs, std::int32_t tries) {
    setTimeout(channel, 'w', timeoutMs);
    if (tries < 1) {
        return 0;
    }
    Clock& clock = channel.clock();
    ByteString reply;
    if (line == "DOWNLOAD") {
        ByteString frame;
        for (int i = 0; i < kWakeBytes; ++i) {
            frame.append(u'\xFF');
        }
        frame.append(static_cast<char16_t>(kEsc));
        frame.append(line);
        frame.append(static_cast<char16_t>(kCr));
        for (std::int32_t t = 0; t < tries; ++t) {
            if (writeFrame(channel, frame) != 0 && readCcdReply(channel, timeoutMs, reply) &&
                (reply == "ACK2" || reply == "FN" || reply == "OK")) {
                return 1;
            }
        }
        return 0;
    }
    if (line == ":ERASE") {
        ByteString frame = line;
        frame.append(static_cast<char16_t>(kCr));
        for (std::int32_t t = 0; t < tries; ++t) {
            if (writeFrame(channel, frame) == 0 || !readCcdReply(channel, timeoutMs, reply)) {
                continue;
            }
            if (reply == "FA") {
                return 1;
            }
            if (reply == "FB") {
                // Erasing: the engine says FA when it is done.
                clock.sleepMs(kEraseBusyPauseMs);
                if (readCcdReply(channel, kEraseBusyReplyMs, reply) && reply == "FA") {
                    return 1;
                }
            }
        }
        return 0;
    }
    bool end = line == endRecord();
    ByteString frame = line;
    if (!end) {
        unsigned sum = 0;
        for (std::size_t i = 2; i < line.length(); ++i) {
            sum += line.byteAt(i);
        }
        frame.append(static_cast<char16_t>(0xFF - (sum & 0xFF)));
    }
    frame.append(static_cast<char16_t>(kCr));
    const std::uint32_t pauseMs = end ? kEndRecordPauseMs : kDataRecordPauseMs;
    for (std::int32_t t = 0; t < tries; ++t) {
        if (writeFrame(channel, frame) == 0) {
            continue;
        }
        for (int r = 0; r < kRepliesPerLine; ++r) {
            if (readCcdReply(channel, timeoutMs, reply) && reply == "FA") {
                return 1;
            }
            clock.sleepMs(pauseMs);
        }
    }
    return 0;
}

ShxPlan planShx(const std::uint8_t* text, std::size_t size) {
    ShxPlan plan;
    ShxGroup group;
    auto progressAt = [size](std::size_t position) {
        return static_cast<std::int32_t>(position * 100 / size) + kShxStartProgress;
    };
    auto flush = [&](std::size_t position) {
        if (!group.empty()) {
            plan.lines.push_back(group.line(progressAt(position)));
            group = ShxGroup();
        }
    };
    std::vector<std::uint8_t> record;
    std::size_t i = 0;
    while (i < size) {
        if (text[i] != 'S') {
            ++i;
            continue;
        }
        if (i + 1 >= size) {
            break;
        }
        std::uint8_t type = text[i + 1];
        std::size_t start = i + 2;
        std::size_t end = start;
        while (end < size && text[end] != '\r' && text[end] != '\n') {
            ++end;
        }
        if (type == '7') {
            flush(end);
            plan.ended = true;
            return plan;
        }
        i = end;
        if (type != '3') {
            // Header, count and other records carry nothing to load.
            continue;
        }
        // Count, four address bytes, at least the checksum; the count must describe the record.
        if (!recordBytes(text + start, end - start, record) ||
            record.size() < 1 + kAddressBytes + 1 || record[0] + 1U != record.size()) {
            flush(end);
            return plan;
        }
        std::uint32_t address = addressOf(record);
        std::size_t dataBytes = record.size() - 1 - kAddressBytes - 1;
        bool follows = !group.empty() && group.next == address &&
                       1 + kAddressBytes + group.data.size() + dataBytes <= kMaxCount;
        if (!group.empty() && !follows) {
            flush(start);
        }
        if (group.empty()) {
            group.address.assign(record.begin() + 1, record.begin() + 1 + kAddressBytes);
            group.next = address;
        }
        group.data.insert(group.data.end(), record.begin() + 1 + kAddressBytes, record.end() - 1);
        group.next += dataBytes;
        if (++group.records == kRecordsPerLine) {
            flush(end);
        }
    }
    flush(size);
    return plan;
}

bool planDat(const std::uint8_t* data, std::size_t size, std::vector<ByteString>& records) {
    records.clear();
    std::size_t position = kDatHeaderBytes;
    while (position < size) {
        std::size_t length = data[position];
        if (length == 0) {
            return true;
        }
        if (length > kMaxDatRecord || size - position < kDatRecordLead ||
            size - position - kDatRecordLead < length) {
            return false;
        }
        position += kDatRecordLead;
        records.push_back(ByteString::fromBytes(data + position, length));
        position += length;
    }
    // No zero length: the file was cut short.
    return false;
}

ByteString datPacket(const ByteString& record) {
    ByteString body;
    body.append(static_cast<char16_t>(record.length() + 1));
    body.append(record);
    appendChecksum(body);
    ByteString packet;
    packet.append(u'\x02');
    packet.append(body);
    return packet;
}

std::int32_t uploadShxDecoder(ReaderManager& manager, const std::string& path,
                              const std::function<void(int)>& progress) {
    ReaderChannel& channel = manager.barcode;
    const FirmwareFile kind = engineInfo(channel.engineType).firmware;
    if (kind != FirmwareFile::Shx) {
        return 0;
    }
    std::vector<std::uint8_t> text;
    // An empty file would leave an erased engine behind: it fails before anything is sent.
    if (!readWholeFile(path, text, kMaxFirmwareFileBytes) || text.empty()) {
        return 0;
    }
    ShxPlan plan = planShx(text.data(), text.size());
    if (sendDownloadLine(channel, ByteString("DOWNLOAD"), kShxLineMs, kDownloadTries) == 0 ||
        sendDownloadLine(channel, ByteString(":ERASE"), kShxLineMs, kEraseTries) == 0) {
        return 0;
    }
    if (progress) {
        progress(kShxStartProgress);
    }
    for (const ShxLine& line : plan.lines) {
        if (sendDownloadLine(channel, line.bytes, kShxLineMs, kDataTries) == 0) {
            return 0;
        }
        if (progress) {
            progress(std::min(line.progress, kShxDoneProgress));
        }
    }
    if (!plan.ended) {
        return 0;
    }
    std::int32_t ok = sendDownloadLine(channel, endRecord(), kShxLineMs, kDataTries);
    if (progress) {
        progress(kShxDoneProgress);
    }
    return ok;
}

std::int32_t uploadDatDecoder(ReaderManager& manager, const std::string& path,
                              const std::function<void(int)>& progress) {
    ReaderChannel& channel = manager.barcode;
    const TerminalModel& model = terminalModel(manager.deviceModel());
    const FirmwareFile kind = engineInfo(channel.engineType).firmware;
    if (kind != FirmwareFile::Dat || !model.datFirmware) {
        return 0;
    }
    std::vector<std::uint8_t> file;
    std::vector<ByteString> records;
    // Every record is checked before the loader starts: a bad file leaves the engine as it was.
    if (!readWholeFile(path, file, kMaxFirmwareFileBytes) ||
        !planDat(file.data(), file.size(), records)) {
        return 0;
    }
    Clock& clock = channel.clock();
    setEngineBaud(channel, kLoaderBaud);
    setBaudRate(channel, kLoaderBaud);
    ByteString reply;
    if (exchange(channel, hostPacket(0xEE, 0, {0x46, 0x44}), kLoaderStartMs, &reply, 1) == 0) {
        return 0;
    }
    clock.sleepMs(kLoaderSettleMs);
    // The first answer's checksum is still in the port: it is no part of the next answer.
    if (channel.handle) {
        channel.handle->purge(kPurgeRxClear);
    }
    static constexpr std::uint8_t kSecond[] = {0x02, 0x07, 0x00, 0x06, 0x64,
                                               0x00, 0x07, 0x05, 0xFF, 0x83};
    static constexpr std::uint8_t kSecondReply[] = {0x02, 0x07, 0x00, 0x06, 0x64, 0x00, 0x87};
    if (exchangeFirmware(channel, ByteString::fromBytes(kSecond, sizeof kSecond), kLoaderStartMs,
                         &reply, kLoaderTries) == 0 ||
        reply.length() < 8) {
        return 0;
    }
    for (std::size_t i = 0; i < sizeof kSecondReply; ++i) {
        if (reply.byteAt(i) != kSecondReply[i]) {
            return 0;
        }
    }
    setBaudRate(channel, kUploadBaud);
    if (progress) {
        progress(kDatStartProgress);
    }
    std::size_t position = kDatHeaderBytes;
    for (const ByteString& record : records) {
        if (exchangeFirmware(channel, datPacket(record), kDatPacketMs, &reply, kDatTries) == 0 ||
            reply.length() != kDatReplyBytes || reply.byteAt(7) > kDatMaxStatus) {
            return 0;
        }
        position += kDatRecordLead + record.length();
        if (progress) {
            progress(static_cast<int>(position * 1000 / file.size()) + kDatStartProgress);
        }
    }
    std::uint8_t done = 0;
    setTimeout(channel, 'r', kProgrammingMs);
    if (readByte(channel, done) == 0 || done != kProgrammed) {
        return 0;
    }
    if (progress) {
        progress(kDatDoneProgress);
    }
    if (model.reopenAfterDat) {
        // The engine restarts at its loader rate; it is moved back to the working rate.
        closePort(channel);
        openPort(channel);
        clock.sleepMs(kRebootMs);
        setBaudRate(channel, kLoaderBaud);
        setEngineBaud(channel, kUploadBaud);
        setBaudRate(channel, kUploadBaud);
    }
    return 1;
}

std::int32_t uploadDecoder(ReaderManager& manager, const std::string& path,
                           const std::function<void(int)>& progress) {
    switch (engineInfo(manager.barcode.engineType).firmware) {
        case FirmwareFile::Shx:
            return uploadShxDecoder(manager, path, progress);
        case FirmwareFile::Dat:
            return uploadDatDecoder(manager, path, progress);
        case FirmwareFile::None:
            break;
    }
    return 0;
}

}  // namespace vandora
