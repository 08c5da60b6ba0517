#include "config/engines/ImagerPictureFormat.h"

#include <array>

#include "config/engines/PacketCommands.h"
#include "reader/Trigger.h"

namespace vandora {

PictureFormat imagerPictureFormat(ReaderManager& manager, EngineSettings& engine) {
    constexpr PacketCommand kOptions = PacketCommand::ImagerOptions;
    int index = packetArgumentIndex(kOptions, "imageFileFormat");
    if (index < 0) {
        return PictureFormat::Jpeg;
    }
    std::int32_t& known = engine.paramCache().slot(kOptions, static_cast<std::size_t>(index));
    if (known < 0) {
        std::array<std::int32_t*, kPacketMaxArgs> args{};
        std::int32_t value = -1;
        args[static_cast<std::size_t>(index)] = &value;
        ChannelHold hold(manager.barcode);
        packetRead(manager.barcode, engine.paramCache(), kOptions, args);
    }
    return pictureFormatFor(known);
}

}  // namespace vandora
