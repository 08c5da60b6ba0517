#include "engines/EngineModels.h"

namespace vandora::sim {

std::shared_ptr<EngineSim> makeEngineModel(int engineType, SimOptions options) {
    const EngineFacts* facts = engineFacts(engineType);
    if (facts == nullptr) {
        return nullptr;
    }
    switch (facts->framing) {
        case WireFraming::CcdText:
            return std::make_shared<CcdLaserModel>(std::move(options));
        case WireFraming::Packet:
            return std::make_shared<PacketEngineModel>(engineType, std::move(options));
        case WireFraming::AsciiText:
            return std::make_shared<RfidAsciiModel>(std::move(options));
        case WireFraming::HexText:
            return std::make_shared<RfidHexModel>(std::move(options));
        case WireFraming::BinaryLink:
            return std::make_shared<RfidLinkModel>(std::move(options));
    }
    return nullptr;
}

}  // namespace vandora::sim
