#include "runtime/sinks/TypingSink.h"

#include <algorithm>
#include <utility>

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

TypingJob typingJobOf(const ByteString& output, const AppSettings& settings) {
    // A pace beyond ten seconds a key is a mistyped setting, not a wish.
    constexpr std::int32_t kLongestWaitMs = 10000;
    TypingJob job;
    job.text = output;
    job.rdpMode = settings.keyboardEmu == 2;
    job.interKeyDelayMs =
        static_cast<std::uint32_t>(std::clamp(settings.interKeyDelay, 0, kLongestWaitMs));
    job.terminatorDelayMs =
        static_cast<std::uint32_t>(std::clamp(settings.terminatorDelay, 0, kLongestWaitMs));
    if (!output.empty() && settings.autoEnter == 1) {
        job.terminatorAt = output.length() - 1;
    } else if (!output.empty() && settings.autoEnter == 2) {
        job.terminatorAt = 0;
    }
    job.unicodeEntry = settings.unicodeEntry != 0;
    return job;
}

void TypingSink::deliver(const Delivery& delivery, const AppSettings& settings) {
    if (settings.keyboardEmu == 0 || delivery.windowActive) {
        return;
    }
    const Decode& decode = delivery.decode;
    ByteString output = buildOutputText(static_cast<int>(decode.kind), decode.codeTypeName,
                                        delivery.text, &decode.userData, outputOptionsOf(settings));
    if (output.empty()) {
        return;
    }
    TypingJob job = typingJobOf(output, settings);
    if (thread_ != nullptr) {
        thread_->submit(std::move(job));
    } else {
        typeJob(job, *keyboard_, *clock_);
    }
}

}  // namespace vandora
