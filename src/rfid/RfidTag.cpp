#include "rfid/RfidTag.h"

#include <memory>

namespace vandora {

void RfidTagState::clear() {
    userData.clear();
    readStart = 0;
    readLength = 0;
    blockSize = 0;
    loginKey.clear();
    keyType = 0;
    tagType = 0;
    tagitBlockCount = 0;
    tagitInfoByte = 0;
    activity.reset(0);
}

RfidTagState& tagState(ReaderChannel& channel) {
    if (!channel.moduleState) {
        channel.moduleState = std::make_unique<RfidTagState>(channel.clock());
    }
    // Only the RFID code fills the channel's module state, and always with this type.
    return static_cast<RfidTagState&>(*channel.moduleState);
}

}  // namespace vandora
