#include "platform/EngineReadyLine.h"

#include <cstdlib>
#include <fstream>

namespace vandora {

FileEngineReadyLine::FileEngineReadyLine() {
    if (const char* env = std::getenv("VANDORA_ENGINE_READY")) {
        path_ = env;
    }
}

bool FileEngineReadyLine::read(std::uint32_t& value) {
    if (path_.empty()) {
        return false;
    }
    std::ifstream in(path_);
    unsigned long number = 0;
    if (!(in >> number)) {
        return false;
    }
    value = static_cast<std::uint32_t>(number);
    return true;
}

}  // namespace vandora
