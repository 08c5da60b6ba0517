#include "platform/Folders.h"

#include <pwd.h>
#include <unistd.h>

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

std::string stateFolder() {
    if (const char* env = std::getenv("XDG_STATE_HOME"); env != nullptr && *env == '/') {
        return withSlash(env) + "vandora/";
    }
    std::string home;
    if (const char* env = std::getenv("HOME"); env != nullptr && *env != '\0') {
        home = env;
    } else if (const passwd* user = ::getpwuid(::getuid()); user != nullptr) {
        home = user->pw_dir;
    }
    return withSlash(home) + ".local/state/vandora/";
}

}  // namespace vandora
