// Drives the output formatting of a decode with arbitrary settings and arbitrary decode data: the
// status text, the keystroke text and its key calls in both modes, the queue record, and the code
// page conversion with a code page picked from a list. The settings come either as numbers and
// texts straight from the input or as the "General" and "RFID" sections of an INI file read the
// way the program reads its own. Every input must give its texts and record without a crash or a
// leak, and each result must stay within what it was made from.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/AppSettings.h"
#include "config/IniStore.h"
#include "config/SettingSections.h"
#include "platform/Clock.h"
#include "platform/KeyboardSink.h"
#include "runtime/DecodeFormat.h"
#include "runtime/KeyboardEmulation.h"
#include "runtime/sinks/TypingSink.h"

namespace {

using namespace vandora;

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Units of 16 bits, as the settings texts hold them.
ByteString wideText(FuzzedDataProvider& input, std::size_t maxUnits) {
    std::size_t n = input.ConsumeIntegralInRange<std::size_t>(0, maxUnits);
    ByteString text(n);
    for (std::size_t i = 0; i < n && input.remaining_bytes() > 0; ++i) {
        text.append(input.ConsumeIntegral<char16_t>());
    }
    return text;
}

ByteString byteText(FuzzedDataProvider& input, std::size_t maxBytes) {
    std::vector<std::uint8_t> bytes =
        input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange<std::size_t>(0, maxBytes));
    return ByteString::fromBytes(bytes.data(), bytes.size());
}

OutputOptions directOptions(FuzzedDataProvider& input) {
    OutputOptions o;
    o.keyboardEmu = input.ConsumeIntegralInRange<std::int32_t>(-1, 3);
    o.prefixStr = wideText(input, 64);
    o.suffixStr = wideText(input, 64);
    o.displayCodeType = input.ConsumeIntegral<std::int32_t>();
    o.displayCodeLength = input.ConsumeIntegral<std::int32_t>();
    o.displayUid = input.ConsumeIntegral<std::int32_t>();
    o.displayUserData = input.ConsumeIntegral<std::int32_t>();
    o.delimiter = input.ConsumeIntegral<std::int32_t>();
    o.autoEnter = input.ConsumeIntegralInRange<std::int32_t>(-1, 3);
    o.autoEnterChar = input.ConsumeIntegralInRange<std::int32_t>(-1, 6);
    o.displayUserDataByHex = input.ConsumeIntegral<std::int32_t>();
    o.isHexContent = input.ConsumeIntegral<std::int32_t>();
    return o;
}

AppSettings iniSettings(FuzzedDataProvider& input) {
    std::string text = "[General]\r\n" + input.ConsumeRandomLengthString(2048);
    IniStore store;
    AppSettings settings;
    if (store.loadBytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()) != 0) {
        accessSection(store, kGeneral, 'r', settings.generalFields());
        accessSection(store, kRfid, 'r', settings.rfidFields());
    }
    return settings;
}

class StatusText final : public StatusView {
  public:
    void setStatusText(const ByteString& t) override {
        text = t;
        ++calls;
    }
    ByteString text;
    int calls = 0;
};

class CountingSink final : public KeyboardSink {
  public:
    void postCharacters(const std::vector<std::uint32_t>& characters) override {
        check(!characters.empty());
        posted += characters.size();
    }
    void keyEvent(std::uint32_t vk, std::uint32_t, std::uint32_t) override {
        check(vk <= 0xFF);
        ++keys;
    }
    std::size_t posted = 0;
    std::size_t keys = 0;
};

constexpr const char* kCodePages[] = {
    "CP1252", "UTF-8",       "SHIFT_JIS", "GB18030", "BIG5",   "EUC-KR",
    "UTF-16", "ISO-2022-JP", "UTF-7",     "CP437",   "KOI8-R", "NO-SUCH-CODEPAGE",
};

bool startsWith(const ByteString& text, const char* prefix) {
    return text.left(ByteString(prefix).length()) == prefix;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    bool fromIni = input.ConsumeBool();
    AppSettings settings;
    OutputOptions options;
    if (fromIni) {
        settings = iniSettings(input);
        options = outputOptionsOf(settings);
    } else {
        options = directOptions(input);
        settings.displayUserDataByHex = options.displayUserDataByHex;
    }
    std::int32_t kind = input.ConsumeBool() ? 1 : 2;
    std::int32_t engineType = input.ConsumeIntegralInRange<std::int32_t>(0, 9);
    std::int32_t codeTypeId = input.ConsumeIntegral<std::uint8_t>();
    const char* codePage = input.PickValueInArray(kCodePages);
    ByteString typeName = byteText(input, 64);
    ByteString userData = byteText(input, 512);
    bool haveUserData = input.ConsumeBool();
    ByteString decode = byteText(input, input.remaining_bytes());

    // The conversion gives at most one unit per byte.
    ByteString converted = decodeCodePage(decode, codePage);
    check(converted.length() <= decode.length());
    ByteString text =
        kind == 1 ? convertDecodeText(EngineType(engineType), codeTypeId, decode) : decode;
    check(text.length() <= decode.length());

    StatusText status;
    StatusFields fields;
    fields.kind = kind;
    fields.engineType = EngineType(engineType);
    fields.codeTypeId = codeTypeId;
    fields.typeName = typeName;
    fields.text = text;
    fields.userData = userData;
    showDecodeStatus(status, fields, settings.displayUserDataByHex != 0);
    check(status.calls == 1 && startsWith(status.text, "type : "));
    check(status.text.length() <= 32 + typeName.length() + text.length() + 2 * userData.length());

    ByteString output =
        buildOutputText(kind, typeName, text, haveUserData ? &userData : nullptr, options);
    if (options.keyboardEmu == 0) {
        check(output.empty());
    }
    // Every part at most once, the user data at most doubled by hexadecimal, and the length of
    // the data, delimiters and terminator on top.
    check(output.length() <= typeName.length() + options.prefixStr.length() + text.length() +
                                 options.suffixStr.length() + 2 * userData.length() + 16);

    for (bool rdp : {false, true}) {
        CountingSink sink;
        VirtualClock clock;
        emulateKeyboard(output, rdp, sink, clock);
        check(sink.posted <= output.length());
        check(sink.keys <= 6 * output.length());
        check(clock.sleptUs() <= 20000 * output.length());
    }

    DecodeQueueRecord record =
        kind == 1 ? barcodeRecord(codeTypeId, decode) : rfidRecord(codeTypeId, decode, &userData);
    check(record[0] == (kind == 1 ? kRecordKindBarcode : kRecordKindRfid));
    std::uint32_t length = record[8] | (record[9] << 8) | (record[10] << 16) |
                           (static_cast<std::uint32_t>(record[11]) << 24);
    check(length == decode.length());
    std::size_t offset = kind == 1 ? kRecordDataOffset : kRecordUidOffset;
    std::size_t room = kind == 1 ? kRecordDataMax : kRecordUidMax;
    for (std::size_t i = 0; i < decode.length() && i < room; ++i) {
        check(record[offset + i] == decode.byteAt(i));
    }

    ByteString hex = lowerHex(userData);
    check(hex.length() == 2 * userData.length());
    for (std::size_t i = 0; i < hex.length(); ++i) {
        char16_t c = hex.at(i);
        check((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'));
    }
    return 0;
}
