#include "platform/Registry.h"

#include <cstdlib>
#include <fstream>

namespace vandora {

namespace {
std::string stripLine(std::string line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' ' ||
                             line.back() == '\t')) {
        line.pop_back();
    }
    std::size_t start = line.find_first_not_of(" \t");
    return start == std::string::npos ? std::string() : line.substr(start);
}
}  // namespace

std::string registryFilePath() {
    if (const char* env = std::getenv("VANDORA_REGISTRY")) {
        return env;
    }
    return "/etc/vandora/registry.ini";
}

std::optional<RegistryKey> RegistryKey::open(const std::string& keyName) {
    return openIn(registryFilePath(), keyName);
}

std::optional<RegistryKey> RegistryKey::openIn(const std::string& filePath,
                                               const std::string& keyName) {
    std::ifstream in(filePath, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string wanted = "[" + keyName + "]";
    RegistryKey key;
    bool inside = false;
    bool found = false;
    std::string line;
    while (std::getline(in, line)) {
        line = stripLine(line);
        if (!line.empty() && line.front() == '[') {
            inside = line == wanted;
            found = found || inside;
            continue;
        }
        if (!inside) {
            continue;
        }
        std::size_t eq = line.find('=');
        if (eq == std::string::npos) {
            continue;
        }
        std::string name = stripLine(line.substr(0, eq));
        key.values_.emplace(name, line.substr(eq + 1));
    }
    if (!found) {
        return std::nullopt;
    }
    return key;
}

bool RegistryKey::queryValue(const std::string& name, std::string& out) const {
    auto it = values_.find(name);
    if (it == values_.end()) {
        return false;
    }
    out = it->second;
    return true;
}

}  // namespace vandora
