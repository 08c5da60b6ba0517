#include "platform/Folders.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace vandora {

namespace {
std::string withSlash(std::string path) {
    if (path.empty() || path.back() != '/') {
        path.push_back('/');
    }
    return path;
}
}  // namespace

std::string programFolder() {
    if (const char* env = std::getenv("VANDORA_HOME"); env != nullptr && *env != '\0') {
        return withSlash(env);
    }
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        return "./";
    }
    return withSlash(exe.parent_path().string());
}

std::string systemFolder() {
    if (const char* env = std::getenv("VANDORA_SYSTEM_DIR"); env != nullptr && *env != '\0') {
        return withSlash(env);
    }
    return "/usr/lib/vandora/system/";
}

}  // namespace vandora
