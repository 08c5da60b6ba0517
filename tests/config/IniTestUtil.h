// Helpers of the configuration tests: file bytes from text, a readable rendering of a store, and
// a scratch folder.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "config/IniStore.h"

namespace vandora::testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

// FF FE followed by the units, little-endian.
inline Bytes utf16File(std::u16string_view text) {
    Bytes out{0xFF, 0xFE};
    for (char16_t unit : text) {
        out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        out.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return out;
}

// Units as text for comparisons: CR and LF as \r and \n, other units outside printable ASCII
// as \u{hex}.
inline std::string escaped(std::u16string_view units) {
    std::string out;
    for (char16_t unit : units) {
        if (unit == u'\r') {
            out += "\\r";
        } else if (unit == u'\n') {
            out += "\\n";
        } else if (unit < 0x20 || unit >= 0x7F) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "\\u{%X}", static_cast<unsigned>(unit));
            out += buf;
        } else {
            out += static_cast<char>(unit);
        }
    }
    return out;
}

// The store as "[name] key=value key=value [name] ...".
inline std::string render(const IniStore& store) {
    std::string out;
    for (const IniSection& section : store.sections()) {
        if (!out.empty()) {
            out += ' ';
        }
        out += "[" + escaped(section.name().view()) + "]";
        for (const IniEntry& entry : section.entries()) {
            out += " " + escaped(entry.key.view()) + "=" + escaped(entry.value.view());
        }
    }
    return out;
}

inline IniStore parsed(const Bytes& bytes) {
    IniStore store;
    store.loadBytes(bytes.data(), bytes.size());
    return store;
}

// A fresh temporary folder, removed with everything in it.
class ScratchFolder {
  public:
    ScratchFolder() {
        char pattern[] = "/tmp/vandora-config-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        folder_ = made != nullptr ? made : "";
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::string path(const std::string& name) const { return folder_ + "/" + name; }
    const std::string& folder() const { return folder_; }

    void write(const std::string& name, const Bytes& bytes) const {
        std::ofstream out(path(name), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    Bytes read(const std::string& name) const {
        std::ifstream in(path(name), std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // Names in the folder, sorted.
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& item : std::filesystem::directory_iterator(folder_)) {
            out.push_back(item.path().filename().string());
        }
        std::sort(out.begin(), out.end());
        return out;
    }

  private:
    std::string folder_;
};

}  // namespace vandora::testing
