#include "runtime/DecodePublish.h"

namespace vandora {

std::int32_t publishDecode(const DecodeQueueRecord& record, const PublishTargets& targets) {
    if (targets.channel == nullptr) {
        return 0;
    }
    targets.channel->discardUnread();
    // Readers wait on the event and then expect the record: announcing a record that is not
    // there would send them to an empty queue.
    if (!targets.channel->write(record.data(), record.size())) {
        return 0;
    }
    if (targets.windowEvent) {
        targets.channel->setEvent();
    }
    if (targets.windowMessage && targets.signals != nullptr) {
        // Receivers of Message look at the CopyData that came just before it.
        targets.signals->emitCopyData(kDecodeMessageName, record.data(), record.size());
        targets.signals->emitMessage(kDecodeMessageName, record[0], 0);
        targets.signals->flush();
    }
    return 1;
}

}  // namespace vandora
