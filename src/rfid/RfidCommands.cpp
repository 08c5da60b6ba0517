#include "rfid/RfidCommands.h"

#include <vector>

#include "reader/ReaderTypes.h"
#include "rfid/TagTable.h"

namespace vandora {

namespace {

struct ErrorLetter {
    char16_t letter;
    std::uint32_t code;
};

constexpr ErrorLetter kErrorLetters[] = {
    {u'N', EngineError::RfidNoAnswer}, {u'F', EngineError::RfidF},     {u'O', EngineError::RfidO},
    {u'R', EngineError::RfidR},        {u'?', EngineError::RfidOther},
};

bool fitsTwoDigits(std::int32_t n) {
    return n >= 0 && n <= kMaxCommandBlock;
}

// The first bracketed field at or after from: its first character and its end (the "]").
bool nextBracketed(const ByteString& reply, std::size_t from, std::size_t& begin,
                   std::size_t& end) {
    std::size_t open = reply.find(u'[', from);
    if (open == ByteString::npos) {
        return false;
    }
    std::size_t close = reply.find(u']', open + 1);
    if (close == ByteString::npos) {
        return false;
    }
    begin = open + 1;
    end = close;
    return true;
}

bool iso15693Field(const ByteString& reply, ByteString& field) {
    // An inventory slot without a tag reads "[,".
    std::size_t open = 0;
    for (;;) {
        open = reply.find(u'[', open);
        if (open == ByteString::npos) {
            return false;
        }
        if (reply.at(open + 1) != u',') {
            break;
        }
        ++open;
    }
    std::size_t begin = open + 1;
    std::size_t end = reply.find(u',', begin);
    if (end == ByteString::npos) {
        end = reply.find(u']', begin);
    }
    if (end == ByteString::npos) {
        end = reply.length() > begin ? reply.length() - 1 : begin;
    }
    field = reply.mid(begin, end > begin ? end - begin : 0);
    return !field.empty();
}

}  // namespace

std::uint32_t errorLetterCode(const ByteString& reply) {
    if (reply.length() != 1) {
        return 0;
    }
    for (const ErrorLetter& e : kErrorLetters) {
        if (reply.at(0) == e.letter) {
            return e.code;
        }
    }
    return 0;
}

bool letterReadCommand(std::int32_t variant, std::int32_t block, ByteString& out) {
    if (!fitsTwoDigits(block)) {
        return false;
    }
    out.format(variant == 1 ? "rb%02x" : "r%02x", static_cast<unsigned>(block));
    return true;
}

bool letterWriteCommand(std::int32_t variant, std::int32_t block, const ByteString& content,
                        ByteString& out) {
    if (!fitsTwoDigits(block)) {
        return false;
    }
    out.format(variant == 1 ? "wb%02x" : "w%02x", static_cast<unsigned>(block));
    out.append(bytesToHex(content));
    return true;
}

bool letterLoginCommand(std::int32_t sector, const ByteString& loginKey, ByteString& out) {
    if (!fitsTwoDigits(sector)) {
        return false;
    }
    out.format("l%02x", static_cast<unsigned>(sector));
    out.append(loginKey);
    return true;
}

bool letterBlockReply(const ByteString& reply, ByteString& block, std::uint32_t& error) {
    block.clear();
    error = errorLetterCode(reply);
    if (error != 0) {
        return false;
    }
    hexToBytes(reply, block);
    return !block.empty();
}

ByteString hexFrame(std::span<const std::uint8_t> commandAndParameters) {
    ByteString frame;
    for (std::uint8_t b : {0x01, 0x00, 0x00, 0x03, 0x04}) {
        frame.append(static_cast<char16_t>(b));
    }
    for (std::uint8_t b : commandAndParameters) {
        frame.append(static_cast<char16_t>(b));
    }
    frame.append(u'\0');
    frame.append(u'\0');
    frame.setAt(1, static_cast<char16_t>(frame.length() & 0xFF));
    return bytesToHex(frame);
}

ByteString hexBlockFrame(std::uint8_t flags, std::uint8_t request, std::uint8_t block,
                         const ByteString& data) {
    std::vector<std::uint8_t> body{0x18, flags, request, block};
    for (std::size_t i = 0; i < data.length(); ++i) {
        body.push_back(data.byteAt(i));
    }
    return hexFrame(body);
}

bool extractField(std::int32_t tagType, const ByteString& reply, ByteString& field) {
    field.clear();
    std::size_t begin = 0;
    std::size_t end = 0;
    switch (tagType) {
        case TagFamily::Iso14443A:
            // The module adds two characters after the UID.
            if (!nextBracketed(reply, 0, begin, end) || end - begin < 2) {
                return false;
            }
            field = reply.mid(begin, end - begin - 2);
            return !field.empty();
        case TagFamily::Iso14443B:
        case TagFamily::TagIt: {
            std::size_t from = 0;
            while (nextBracketed(reply, from, begin, end)) {
                if (end > begin) {
                    field = reply.mid(begin, end - begin);
                    return true;
                }
                from = end + 1;
            }
            return false;
        }
        case TagFamily::Iso15693:
            return iso15693Field(reply, field);
        default:
            return false;
    }
}

bool hexTagAnswer(std::int32_t tagType, const ByteString& reply, HexTagAnswer& out) {
    out = HexTagAnswer{};
    ByteString field;
    if (!extractField(tagType, reply, field)) {
        return false;
    }
    switch (tagType) {
        case TagFamily::Iso14443B:
            out.uid = field.length() >= 10 ? field.mid(2, 8) : field;
            break;
        case TagFamily::TagIt:
            out.uid = field;
            if (field.length() == 20) {
                out.uid = field.mid(4, 8);
                ByteString bytes;
                hexToBytes(field, bytes);
                out.tagitInfoByte = bytes.byteAt(8);
                out.tagitBlockCount = bytes.byteAt(9);
            }
            break;
        case TagFamily::Iso15693: {
            // The module sends the UID least significant byte first.
            ByteString bytes;
            hexToBytes(field, bytes);
            ByteString reversed;
            for (std::size_t i = bytes.length(); i > 0; --i) {
                reversed.append(bytes.at(i - 1));
            }
            out.uid = bytesToHex(reversed);
            break;
        }
        default:
            out.uid = field;
            break;
    }
    return !out.uid.empty();
}

bool iso15693BlockData(const ByteString& field, ByteString& data) {
    data.clear();
    ByteString bytes;
    hexToBytes(field, bytes);
    // Bit 0 of the response flags: the tag answered with an error code instead of data.
    if (bytes.empty() || (bytes.byteAt(0) & 0x01) != 0) {
        return false;
    }
    data = bytes.mid(1);
    return !data.empty();
}

bool tagItRealign(const ByteString& field, ByteString& data) {
    data.clear();
    if (field.length() < 16) {
        return false;
    }
    ByteString b;
    hexToBytes(field.mid(6, 10), b);
    for (std::size_t i = 0; i < 4; ++i) {
        auto byte = static_cast<std::uint8_t>(((b.byteAt(i) & 0x3F) << 2) | (b.byteAt(i + 1) >> 6));
        data.append(static_cast<char16_t>(byte));
    }
    return true;
}

bool endsWithOk(const ByteString& reply) {
    std::size_t n = reply.length();
    return n >= 4 && reply.mid(n - 4) == "[00]";
}

}  // namespace vandora
