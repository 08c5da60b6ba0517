#include "runtime/DecodeFormat.h"

#include "reader/engines/EngineTable.h"
#include "rfid/TagTable.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace vandora {

namespace {

constexpr std::int32_t kPdf417 = 17;
constexpr std::int32_t kDataMatrix = 27;
constexpr std::int32_t kQrCode = 28;
constexpr std::int32_t kMacroPdf = 40;
constexpr char16_t kReplacement = 0xFFFD;

bool isImager(EngineType engineType) {
    return engineInfo(engineType).imager;
}

char16_t terminator(std::int32_t autoEnterChar) {
    switch (autoEnterChar) {
        case 1:
            return 13;
        case 2:
            return 9;
        case 3:
            return 32;
        case 4:
            return 44;
        case 5:
            return 59;
        default:
            return 0;
    }
}

void appendDecimal(ByteString& out, std::size_t value) {
    ByteString number;
    number.format("%zu", value);
    out.append(number);
}

}  // namespace

ByteString decodeCodePage(const ByteString& bytes, const char* codePage) {
    std::vector<std::uint8_t> in = bytes.bytes();
    ByteString out(in.size());
    iconv_t cd = iconv_open("UTF-16LE", codePage);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        // An unknown code page: each byte stands for itself.
        return bytes;
    }
    char* inPtr = reinterpret_cast<char*>(in.data());
    std::size_t inLeft = in.size();
    std::vector<char> buffer(in.size() * 4 + 8);
    while (inLeft > 0) {
        char* outPtr = buffer.data();
        std::size_t outLeft = buffer.size();
        std::size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        std::size_t produced = buffer.size() - outLeft;
        for (std::size_t i = 0; i + 1 < produced; i += 2) {
            out.append(static_cast<char16_t>(static_cast<std::uint8_t>(buffer[i]) |
                                             (static_cast<std::uint8_t>(buffer[i + 1]) << 8)));
        }
        if (r == static_cast<std::size_t>(-1)) {
            if (errno == EILSEQ || errno == EINVAL) {
                // An invalid or cut-off sequence: one replacement, then go on after its byte.
                out.append(kReplacement);
                ++inPtr;
                --inLeft;
                iconv(cd, nullptr, nullptr, nullptr, nullptr);
            } else if (errno != E2BIG) {
                break;
            }
        }
    }
    iconv_close(cd);
    // The room the terminal gives the conversion: one unit per byte.
    out.truncate(in.size());
    return out;
}

ByteString convertDecodeText(EngineType engineType, std::int32_t codeTypeId,
                             const ByteString& data) {
    if (!isImager(engineType) ||
        (codeTypeId != kPdf417 && codeTypeId != kDataMatrix && codeTypeId != kQrCode)) {
        return data;
    }
    const char* codePage = std::getenv("VANDORA_CODEPAGE");
    ByteString text =
        decodeCodePage(data, codePage != nullptr && *codePage != '\0' ? codePage : "CP1252");
    text.replace(u'\0', u' ');
    return text;
}

ByteString barcodeStatusText(EngineType engineType, std::int32_t codeTypeId,
                             const ByteString& typeName, const ByteString& shownText) {
    ByteString shown = shownText;
    if (isImager(engineType) && codeTypeId == kMacroPdf) {
        ByteString kept;
        for (std::size_t i = 0; i < shown.length(); ++i) {
            if (shown.at(i) != 0) {
                kept.append(shown.at(i));
            }
        }
        shown = kept;
    }
    ByteString text("type : ");
    text.append(typeName);
    text.append("\r\ncode : ");
    text.append(shown);
    return text;
}

ByteString rfidStatusText(const ByteString& typeName, const ByteString& uid,
                          const ByteString& userData, bool hex) {
    ByteString text("type : ");
    text.append(typeName);
    text.append("\r\nuid : ");
    text.append(uid);
    text.append("\r\nuser data : ");
    text.append(hex ? lowerHex(userData) : userData);
    return text;
}

ByteString buildOutputText(int kind, const ByteString& typeName, const ByteString& text,
                           const ByteString* userData, const OutputOptions& settings) {
    ByteString output;
    if (settings.keyboardEmu == 0) {
        return output;
    }
    auto delimit = [&](ByteString& s) {
        if (settings.delimiter != 0) {
            s.append(static_cast<char16_t>(settings.delimiter));
        }
    };
    ByteString d = text;
    if (!settings.prefixStr.empty()) {
        ByteString withPrefix = settings.prefixStr;
        withPrefix.append(d);
        d = withPrefix;
    }
    if (!settings.suffixStr.empty()) {
        d.append(settings.suffixStr);
    }
    if (kind == 1) {
        if (settings.displayCodeType != 0) {
            output = typeName;
            delimit(output);
            output.append(d);
            if (settings.displayCodeLength != 0) {
                delimit(output);
                appendDecimal(output, d.length());
            }
        } else if (settings.displayCodeLength != 0) {
            output = d;
            delimit(output);
            appendDecimal(output, d.length());
        } else {
            output = d;
        }
    } else {
        bool haveUserData = userData != nullptr && !userData->empty();
        ByteString data;
        if (haveUserData) {
            data = settings.displayUserDataByHex != 0 ? lowerHex(*userData) : *userData;
        }
        if (settings.displayUid != 0) {
            output = d;
            if (settings.displayUserData != 0 && haveUserData) {
                delimit(output);
                output.append(data);
            }
        } else if (settings.displayUserData != 0 && haveUserData) {
            output = data;
        }
    }
    char16_t end = terminator(settings.autoEnterChar);
    if (settings.autoEnter == 1) {
        output.append(end);
    } else if (settings.autoEnter == 2 && end != 0) {
        ByteString withEnd;
        withEnd.append(end);
        withEnd.append(output);
        output = withEnd;
    }
    return output;
}

void showDecodeStatus(StatusView& view, const StatusFields& fields, bool hexUserData) {
    if (fields.kind == 1) {
        view.setStatusText(
            barcodeStatusText(fields.engineType, fields.codeTypeId, fields.typeName, fields.text));
    } else {
        view.setStatusText(
            rfidStatusText(fields.typeName, fields.text, fields.userData, hexUserData));
    }
}

std::uint8_t tagLetter(std::int32_t tagType) {
    return tagFamilyLetter(tagType);
}

namespace {
void putLength(DecodeQueueRecord& record, std::uint32_t length) {
    record[8] = static_cast<std::uint8_t>(length);
    record[9] = static_cast<std::uint8_t>(length >> 8);
    record[10] = static_cast<std::uint8_t>(length >> 16);
    record[11] = static_cast<std::uint8_t>(length >> 24);
}

void putBytes(DecodeQueueRecord& record, std::size_t offset, const ByteString& bytes,
              std::size_t max) {
    std::size_t n = std::min(bytes.length(), max);
    for (std::size_t i = 0; i < n; ++i) {
        record[offset + i] = bytes.byteAt(i);
    }
}
}  // namespace

DecodeQueueRecord barcodeRecord(std::int32_t codeTypeId, const ByteString& data) {
    DecodeQueueRecord record{};
    record[0] = kRecordKindBarcode;
    record[1] = static_cast<std::uint8_t>(codeTypeId);
    putLength(record, static_cast<std::uint32_t>(data.length()));
    putBytes(record, kRecordDataOffset, data, kRecordDataMax);
    return record;
}

DecodeQueueRecord rfidRecord(std::int32_t tagType, const ByteString& uid,
                             const ByteString* userData) {
    DecodeQueueRecord record{};
    record[0] = kRecordKindRfid;
    record[1] = tagLetter(tagType);
    putLength(record, static_cast<std::uint32_t>(uid.length()));
    putBytes(record, kRecordUidOffset, uid, kRecordUidMax);
    if (userData != nullptr) {
        putBytes(record, kRecordDataOffset, *userData, kRecordDataMax);
    }
    return record;
}

}  // namespace vandora
