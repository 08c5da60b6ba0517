#include "rfid/RfidTag.h"

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

}  // namespace vandora
