#include "runtime/sinks/TypingSink.h"

#include "runtime/KeyboardEmulation.h"

namespace vandora {

OutputOptions outputOptionsOf(const AppSettings& settings) {
    OutputOptions options;
    options.keyboardEmu = settings.keyboardEmu;
    options.prefixStr = settings.prefixStr;
    options.suffixStr = settings.suffixStr;
    options.displayCodeType = settings.displayCodeType;
    options.displayCodeLength = settings.displayCodeLength;
    options.displayUid = settings.displayUid;
    options.displayUserData = settings.displayUserData;
    options.delimiter = settings.delimiter;
    options.autoEnter = settings.autoEnter;
    options.autoEnterChar = settings.autoEnterChar;
    options.displayUserDataByHex = settings.displayUserDataByHex;
    options.isHexContent = settings.isHexContent;
    return options;
}

void TypingSink::deliver(const Delivery& delivery, const AppSettings& settings) {
    if (settings.keyboardEmu == 0 || delivery.windowActive) {
        return;
    }
    const Decode& decode = delivery.decode;
    ByteString output = buildOutputText(static_cast<int>(decode.kind), decode.codeTypeName,
                                        delivery.text, &decode.userData, outputOptionsOf(settings));
    if (!output.empty()) {
        emulateKeyboard(output, settings.keyboardEmu == 2, keyboard_, clock_);
    }
}

}  // namespace vandora
