#include "runtime/workers/RfidWorker.h"

#include <string>
#include <utility>

#include "platform/Log.h"
#include "rfid/TagOps.h"
#include "runtime/DecodeFormat.h"

namespace vandora {

namespace {

constexpr const char* kCannotWriteText = "Cannot write data to tag.";
// A tag written on a trigger is read back a little beyond what was written.
constexpr std::int32_t kReadBackExtraBytes = 10;

}  // namespace

void RfidWorker::start() {
    thread_.start(
        request_, &done_, stopFlag_, [this] { readWork(); }, "rfid");
}

void RfidWorker::trigger(const AppSettings& settings) {
    if (settings.rfidRW == 1) {
        writeOnTrigger(settings);
        return;
    }
    {
        // The read thread takes the settings as they were at the press.
        std::lock_guard<std::mutex> lock(argsMutex_);
        args_ = {settings.rfidReadStartByte, settings.rfidReadLength, settings.mifareLoginKeyA,
                 settings.m_rfidSecurityKeyType};
    }
    request_.release();
}

void RfidWorker::readWork() {
    ReadArgs args;
    {
        std::lock_guard<std::mutex> lock(argsMutex_);
        args = args_;
    }
    ReaderManager& manager = parts_.manager;
    TagRead tag;
    if (readTag(manager, args.start, args.length, args.key, args.keyType, tag) == 0) {
        parts_.loop.post({Msg::ReadFailed, manager.rfid.lastError, 0});
        return;
    }
    Decode decode;
    decode.kind = DecodeKind::Rfid;
    decode.engineType = manager.rfid.engineType;
    decode.codeTypeId = tag.codeTypeId;
    decode.codeTypeName = std::move(tag.codeTypeName);
    decode.data = std::move(tag.uid);
    decode.userData = std::move(tag.userData);
    parts_.decodes.handOver(parts_.loop, std::move(decode), true);
}

// Writes the configured content to the tag in the field and shows the tag read back; nothing is
// delivered to the outputs.
void RfidWorker::writeOnTrigger(const AppSettings& settings) {
    ReaderManager& manager = parts_.manager;
    ByteString data;
    if (settings.isHexContent != 0) {
        hexToBytes(settings.rfidWriteContent, data);
    } else {
        data = settings.rfidWriteContent;
    }
    std::int32_t written = writeTag(manager, settings.rfidWriteStartByte, data,
                                    settings.mifareLoginKeyA, settings.m_rfidSecurityKeyType);
    if (written == 0) {
        logMessage(LogLevel::Warning, kCannotWriteText,
                   {{"ERROR_CODE", std::to_string(manager.rfid.lastError)}});
    }
    // Without a window there is nobody to show the tag read back to.
    if (!windowed_) {
        return;
    }
    if (written == 0) {
        parts_.view.showStatus(ByteString(kCannotWriteText), StatusOrigin::Logged);
        return;
    }
    TagRead tag;
    std::int32_t length = static_cast<std::int32_t>(data.length()) + kReadBackExtraBytes;
    if (readTag(manager, settings.rfidWriteStartByte, length, settings.mifareLoginKeyA,
                settings.m_rfidSecurityKeyType, tag) == 0) {
        return;
    }
    parts_.view.setStatusText(
        rfidStatusText(tag.codeTypeName, tag.uid, tag.userData, settings.isHexContent != 0));
}

}  // namespace vandora
