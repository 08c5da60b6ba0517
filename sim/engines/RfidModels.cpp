#include "engines/RfidModels.h"

#include <algorithm>
#include <optional>

namespace vandora::sim {
namespace {

constexpr std::uint8_t kLineRateRegister = 0x0C;
constexpr std::uint8_t kLineRate57600 = 0x03;
constexpr std::uint8_t kFirstRegister = 0x0A;
constexpr std::uint8_t kLastRegister = 0x1F;

bool parseByte(std::string_view text, std::uint8_t& out) {
    std::vector<std::uint8_t> bytes;
    if (text.size() != 2 || !parseHex(text, bytes)) {
        return false;
    }
    out = bytes[0];
    return true;
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// A Tag-it read delivers its 4 bytes two bits out of place, in five bytes.
std::vector<std::uint8_t> tagItShifted(const std::vector<std::uint8_t>& content) {
    std::vector<std::uint8_t> shifted(5, 0x00);
    shifted[0] = static_cast<std::uint8_t>(content[0] >> 2);
    for (std::size_t i = 1; i < 4; ++i) {
        shifted[i] = static_cast<std::uint8_t>(((content[i - 1] & 0x03) << 6) | (content[i] >> 2));
    }
    shifted[4] = static_cast<std::uint8_t>((content[3] & 0x03) << 6);
    return shifted;
}

}  // namespace

// Detection frames of the hexadecimal module, by command byte: the tag family each finds, and
// the tag answer as the host's field rules read it.
struct HexDetection {
    std::uint8_t command;
    std::uint8_t family;
    std::string (*answer)(const std::vector<std::uint8_t>& uid);
    const char* noTag;
    // The answer for a tag in the field.
    std::string (*tagAnswer)(const SimTag& tag);
};

namespace {

constexpr HexDetection kDetections[] = {
    // ISO 14443 A: the field, less its last two characters, is the UID.
    {0xA0, 3, [](const std::vector<std::uint8_t>& uid) { return "[" + hexText(uid) + "08]"; }, "[]",
     [](const SimTag& tag) { return "[" + hexText(tag.uid) + "08]"; }},
    // ISO 14443 B: characters 2 to 9 of the field.
    {0xB0, 5, [](const std::vector<std::uint8_t>& uid) { return "[50" + hexText(uid) + "000000]"; },
     "[]", [](const SimTag& tag) { return "[50" + hexText(tag.uid) + "000000]"; }},
    // Tag-it: ten bytes, the UID in bytes 2 to 5, then the information byte and block count.
    {0x34, 8,
     [](const std::vector<std::uint8_t>& uid) {
         std::vector<std::uint8_t> field(10, 0x00);
         std::copy_n(uid.begin(), std::min<std::size_t>(uid.size(), 6), field.begin() + 2);
         field[9] = 0x08;
         return "[" + hexText(field) + "]";
     },
     "[]",
     // From the field: the information byte and the tag's block count after the UID.
     [](const SimTag& tag) {
         std::vector<std::uint8_t> field(10, 0x00);
         std::copy_n(tag.uid.begin(), std::min<std::size_t>(tag.uid.size(), 4), field.begin() + 2);
         field[8] = 0x01;
         field[9] = static_cast<std::uint8_t>(std::min<std::size_t>(tag.blocks.size(), 255));
         return "[" + hexText(field) + "]";
     }},
    // ISO 15693 inventory slots, the UID least significant byte first.
    {0x14, 16,
     [](const std::vector<std::uint8_t>& uid) {
         std::vector<std::uint8_t> reversed(uid.rbegin(), uid.rend());
         return "[,][" + hexText(reversed) + ",3A]";
     },
     "[,][,]",
     [](const SimTag& tag) {
         std::vector<std::uint8_t> reversed(tag.uid.rbegin(), tag.uid.rend());
         return "[,][" + hexText(reversed) + ",3A]";
     }},
};

}  // namespace

// --- RfidAsciiModel ------------------------------------------------------------------------

RfidAsciiModel::RfidAsciiModel(SimOptions options)
    : EngineSim(*engineFacts(5), std::move(options)) {
    for (std::uint8_t r = kFirstRegister; r <= kLastRegister; ++r) {
        registers[r] = 0x00;
    }
    registers[kLineRateRegister] = currentBaud() == 57600 ? kLineRate57600 : 0x00;
}

std::vector<std::uint8_t> RfidAsciiModel::refusal() const {
    std::vector<std::uint8_t> bytes(facts().refusal.begin(), facts().refusal.end());
    bytes.push_back('\r');
    bytes.push_back('\n');
    return bytes;
}

void RfidAsciiModel::consume(const std::uint8_t* data, std::size_t size, bool /*fresh*/,
                             SimLink& link) {
    std::vector<std::uint8_t> frame(data, data + size);
    while (!frame.empty() && (frame.back() == '\r' || frame.back() == '\n')) {
        frame.pop_back();
    }
    if (!frame.empty()) {
        frameReceived(std::move(frame), true, link);
    }
}

void RfidAsciiModel::reply(SimLink& link, const std::string& text, std::uint64_t extraDelayUs) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.push_back('\r');
    bytes.push_back('\n');
    answer(link, bytes, extraDelayUs);
}

void RfidAsciiModel::respond(const std::vector<std::uint8_t>& frame, SimLink& link) {
    std::string text(frame.begin(), frame.end());
    std::string_view view(text);
    bool multi = options_.variant == 1;
    if (!field.empty()) {
        std::string_view blockArgs;
        bool read = false;
        bool write = false;
        if (multi && (startsWith(view, "rb") || startsWith(view, "wb"))) {
            read = view[0] == 'r';
            write = !read;
            blockArgs = view.substr(2);
        } else if (!multi && !startsWith(view, "rp") && !startsWith(view, "wp") &&
                   (startsWith(view, "r") || startsWith(view, "w"))) {
            read = view[0] == 'r';
            write = !read;
            blockArgs = view.substr(1);
        }
        std::uint8_t block = 0;
        std::vector<std::uint8_t> data;
        if (text == "s") {
            selectTag(link);
            return;
        }
        if (startsWith(view, "l")) {
            login(view.substr(1), link);
            return;
        }
        if (read || write) {
            if (blockArgs.size() < 2 || !parseByte(blockArgs.substr(0, 2), block) ||
                (read && blockArgs.size() != 2) ||
                (write && (!parseHex(blockArgs.substr(2), data) || data.empty()))) {
                reply(link, "?");
            } else if (read) {
                readTagBlock(block, link);
            } else {
                writeTagBlock(block, data, link);
            }
            return;
        }
    }
    if (text == "v") {
        reply(link, std::string(multi ? facts().identity : facts().identityAlt));
    } else if (text == "s") {
        ++counters.decodes;
        SimDecode decode;
        if (!nextDecode(decode) || decode.form == DecodeForm::NoRead) {
            reply(link, "N", options_.decodeDelayUs);
            return;
        }
        reply(link, std::string(1, static_cast<char>(decode.codeType)) + hexText(decode.data),
              options_.decodeDelayUs);
    } else if (startsWith(view, "l")) {
        reply(link, "L");
    } else if (startsWith(view, "rp")) {
        readRegister(view.substr(2), link);
    } else if (startsWith(view, "wp")) {
        writeRegister(view.substr(2), link);
    } else if (multi && startsWith(view, "rb")) {
        readBlock(view.substr(2), link);
    } else if (multi && startsWith(view, "wb")) {
        writeBlock(view.substr(2), link);
    } else if (!multi && startsWith(view, "r")) {
        readBlock(view.substr(1), link);
    } else if (!multi && startsWith(view, "w")) {
        writeBlock(view.substr(1), link);
    } else {
        reply(link, "?");
    }
}

void RfidAsciiModel::readBlock(std::string_view number, SimLink& link) {
    std::uint8_t block = 0;
    if (!parseByte(number, block)) {
        reply(link, "?");
        return;
    }
    std::vector<std::uint8_t> content = blocks[block];
    content.resize(blockSize, 0x00);
    reply(link, hexText(content));
}

void RfidAsciiModel::writeBlock(std::string_view numberAndData, SimLink& link) {
    std::uint8_t block = 0;
    std::vector<std::uint8_t> data;
    if (numberAndData.size() < 2 || !parseByte(numberAndData.substr(0, 2), block) ||
        !parseHex(numberAndData.substr(2), data) || data.empty()) {
        reply(link, "?");
        return;
    }
    blocks[block] = data;
    reply(link, hexText(data));
}

void RfidAsciiModel::selectTag(SimLink& link) {
    ++counters.decodes;
    loggedSector_ = -1;
    const SimTag& tag = field.at(0);
    char letter = 'M';
    switch (tag.kind) {
        case TagKind::Mifare1K:
        case TagKind::Ultralight:
            letter = 'M';
            break;
        case TagKind::Sr176:
        case TagKind::Srix4k:
            letter = 'S';
            break;
        case TagKind::TagIt:
            letter = 'T';
            break;
        case TagKind::Iso15693:
            letter = 'V';
            break;
    }
    reply(link, std::string(1, letter) + hexText(tag.uid), options_.decodeDelayUs);
}

void RfidAsciiModel::login(std::string_view args, SimLink& link) {
    // Sector, "AA" or "BB", 12 digits of the key.
    std::uint8_t sector = 0;
    std::vector<std::uint8_t> key;
    if (args.size() != 16 || !parseByte(args.substr(0, 2), sector) ||
        (args.substr(2, 2) != "AA" && args.substr(2, 2) != "BB") ||
        !parseHex(args.substr(4), key) || key.size() != 6) {
        reply(link, "?");
        return;
    }
    const SimTag& tag = field.at(0);
    int keyType = args.substr(2, 2) == "AA" ? 0 : 1;
    MifareKey k{};
    std::copy(key.begin(), key.end(), k.begin());
    if (!tag.keyMatches(sector, keyType, k)) {
        loggedSector_ = -1;
        reply(link, "F");
        return;
    }
    loggedSector_ = sector;
    loggedKeyType_ = keyType;
    loggedKey_ = k;
    reply(link, "L");
}

void RfidAsciiModel::readTagBlock(std::uint8_t block, SimLink& link) {
    const SimTag& tag = field.at(0);
    std::optional<std::vector<std::uint8_t>> content;
    if (tag.kind == TagKind::Mifare1K) {
        if (loggedSector_ != block / 4) {
            reply(link, "F");
            return;
        }
        content = tag.readMifare(block, loggedKeyType_, loggedKey_);
    } else if (tag.kind == TagKind::Ultralight && block < tag.blocks.size()) {
        // Four pages from the one asked, wrapping at the end of the tag.
        std::vector<std::uint8_t> pages;
        for (std::size_t i = 0; i < 4; ++i) {
            const std::vector<std::uint8_t>& page = tag.blocks[(block + i) % tag.blocks.size()];
            pages.insert(pages.end(), page.begin(), page.end());
        }
        content = pages;
    } else {
        content = tag.read(block);
    }
    if (!content) {
        reply(link, "R");
        return;
    }
    reply(link, hexText(*content));
}

void RfidAsciiModel::writeTagBlock(std::uint8_t block, const std::vector<std::uint8_t>& data,
                                   SimLink& link) {
    SimTag& tag = field.at(0);
    bool written = false;
    if (tag.kind == TagKind::Mifare1K) {
        written =
            loggedSector_ == block / 4 && tag.writeMifare(block, loggedKeyType_, loggedKey_, data);
    } else {
        // The module sets the option flag itself for the makers that need it.
        written = tag.write(block, data, true);
    }
    reply(link, written ? hexText(data) : "F");
}

void RfidAsciiModel::writeRegister(std::string_view args, SimLink& link) {
    std::uint8_t reg = 0;
    std::uint8_t value = 0;
    if (args.size() != 4 || !parseByte(args.substr(0, 2), reg) ||
        !parseByte(args.substr(2), value)) {
        reply(link, "?");
        return;
    }
    if (reg < kFirstRegister || reg > kLastRegister) {
        reply(link, "R");
        return;
    }
    registers[reg] = value;
    reply(link, hexText({value}));
    // The echo still leaves at the old rate.
    if (reg == kLineRateRegister && value == kLineRate57600 &&
        facts().rateSwitch == RateSwitch::AsciiRegister) {
        switchRate(57600);
    }
}

void RfidAsciiModel::readRegister(std::string_view args, SimLink& link) {
    std::uint8_t reg = 0;
    if (!parseByte(args, reg) || !registers.contains(reg)) {
        reply(link, "R");
        return;
    }
    reply(link, hexText({registers[reg]}));
}

// --- RfidHexModel --------------------------------------------------------------------------

RfidHexModel::RfidHexModel(SimOptions options) : EngineSim(*engineFacts(6), std::move(options)) {}

void RfidHexModel::consume(const std::uint8_t* data, std::size_t size, bool fresh, SimLink& link) {
    if (fresh) {
        buffer_.clear();
    }
    buffer_.append(data, data + size);
    // Frames are collected by their length byte: 01, the length, then 2 × length characters.
    while (buffer_.size() >= 4) {
        std::uint8_t length = 0;
        if (buffer_.compare(0, 2, "01") != 0 ||
            !parseByte(std::string_view(buffer_).substr(2, 2), length) || length < 8) {
            buffer_.erase(0, 1);
            continue;
        }
        std::size_t chars = 2 * static_cast<std::size_t>(length);
        if (buffer_.size() < chars) {
            return;
        }
        std::string text = buffer_.substr(0, chars);
        buffer_.erase(0, chars);
        std::vector<std::uint8_t> bytes;
        bool valid = parseHex(text, bytes) && bytes[2] == 0x00 && bytes[3] == 0x03 &&
                     bytes[4] == 0x04 && bytes[length - 2] == 0x00 && bytes[length - 1] == 0x00;
        frameReceived({text.begin(), text.end()}, valid, link);
    }
}

void RfidHexModel::reply(SimLink& link, const std::string& text, std::uint64_t extraDelayUs) {
    answer(link, {text.begin(), text.end()}, extraDelayUs);
}

void RfidHexModel::respond(const std::vector<std::uint8_t>& frame, SimLink& link) {
    std::vector<std::uint8_t> bytes;
    parseHex(std::string_view(reinterpret_cast<const char*>(frame.data()), frame.size()), bytes);
    std::uint8_t command = bytes[5];
    if (command == 0xFE) {
        reply(link, std::string(facts().identity));
        return;
    }
    if (command == 0xF0 || command == 0xF1) {
        reply(link, "[00]");
        return;
    }
    if (command == 0x10) {
        // Register writes in pairs up to the trailer; register 1 selects the tag family.
        for (std::size_t i = 6; i + 3 < bytes.size(); i += 2) {
            if (bytes[i] == 0x01) {
                family = bytes[i + 1];
            }
        }
        reply(link, "[00]");
        return;
    }
    if (command == 0x18) {
        blockRequest(bytes, link);
        return;
    }
    for (const HexDetection& d : kDetections) {
        if (d.command == command) {
            detect(d, link);
            return;
        }
    }
    refuse(link);
}

void RfidHexModel::detect(const HexDetection& detection, SimLink& link) {
    if (!field.empty()) {
        ++counters.decodes;
        const SimTag* tag = field.find(detection.family);
        reply(link, tag != nullptr ? detection.tagAnswer(*tag) : detection.noTag,
              options_.decodeDelayUs);
        return;
    }
    // A tag answers only the detection of its own family (code type 0: any family).
    const SimDecode* next = peekDecode();
    if (next == nullptr || (next->codeType != 0 && next->codeType != detection.family)) {
        reply(link, detection.noTag, options_.decodeDelayUs);
        return;
    }
    ++counters.decodes;
    SimDecode decode;
    nextDecode(decode);
    if (decode.form == DecodeForm::NoRead) {
        reply(link, detection.noTag, options_.decodeDelayUs);
        return;
    }
    reply(link, detection.answer(decode.data), options_.decodeDelayUs);
}

void RfidHexModel::blockRequest(const std::vector<std::uint8_t>& frame, SimLink& link) {
    // 01 len 00 03 04 18 flags request block [data] 00 00
    if (frame.size() < 11) {
        refuse(link);
        return;
    }
    if (!field.empty()) {
        tagBlockRequest(frame, link);
        return;
    }
    std::uint8_t request = frame[7];
    std::uint8_t block = frame[8];
    std::vector<std::uint8_t> data(frame.begin() + 9, frame.end() - 2);
    std::vector<std::uint8_t> content = blocks[block];
    content.resize(4, 0x00);
    if (request == 0x20) {  // ISO 15693 read: response flags, then the block
        reply(link, "[00" + hexText(content) + "]");
    } else if (request == 0x08) {
        reply(link, "[000000" + hexText(tagItShifted(content)) + "]");
    } else if ((request == 0x21 || request == 0x28) && data.size() == 4) {
        blocks[block] = data;
        reply(link, "[00]");
    } else {
        refuse(link);
    }
}

void RfidHexModel::tagBlockRequest(const std::vector<std::uint8_t>& frame, SimLink& link) {
    std::uint8_t flags = frame[6];
    std::uint8_t request = frame[7];
    std::uint8_t block = frame[8];
    std::vector<std::uint8_t> data(frame.begin() + 9, frame.end() - 2);
    bool tagIt = request == 0x08 || request == 0x28;
    SimTag* tag = field.find(tagIt ? kFamilyTagIt : kFamily15693);
    // ISO 15693 error answer: flags with the error bit, then the error code.
    const std::string refused = tagIt ? "[]" : "[010F]";
    if (tag == nullptr) {
        reply(link, tagIt ? "[]" : "[,]");
        return;
    }
    if (request == 0x20 || request == 0x08) {
        std::optional<std::vector<std::uint8_t>> content = tag->read(block);
        if (!content || content->size() != 4) {
            reply(link, refused);
        } else if (request == 0x20) {
            reply(link, "[00" + hexText(*content) + "]");
        } else {
            reply(link, "[000000" + hexText(tagItShifted(*content)) + "]");
        }
    } else if (request == 0x21 || request == 0x28) {
        reply(link, tag->write(block, data, (flags & 0x40) != 0) ? "[00]" : refused);
    } else {
        refuse(link);
    }
}

}  // namespace vandora::sim
