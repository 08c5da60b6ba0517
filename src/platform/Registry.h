// Registry: the terminal's identity values, kept on Linux in a plain 8-bit INI file.
//
// The file is $VANDORA_REGISTRY, else /etc/vandora/registry.ini. A key is an INI section such as
// "[HKEY_LOCAL_MACHINE\Ident]"; a value is a "Name=text" line in it. A missing file or section is
// a missing key (openKey fails); a missing value fails queryValue.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace vandora {

class RegistryKey {
  public:
    // Opens a key by its full name, e.g. "HKEY_LOCAL_MACHINE\\Ident"; empty when absent.
    static std::optional<RegistryKey> open(const std::string& keyName);
    static std::optional<RegistryKey> openIn(const std::string& filePath,
                                             const std::string& keyName);

    // The text of a value; false when the key has no such value.
    bool queryValue(const std::string& name, std::string& out) const;

  private:
    std::map<std::string, std::string> values_;
};

std::string registryFilePath();

}  // namespace vandora
