#include "platform/ProgramModule.h"

#include <dlfcn.h>

#include <filesystem>
#include <mutex>
#include <string>

namespace vandora {

void* programModuleSymbol(const std::string& module, const char* symbol, std::string* lastError) {
    // dlerror's text is per thread, but a load and its error must not interleave with another's.
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        if (lastError != nullptr) {
            *lastError = "cannot find the running program";
        }
        return nullptr;
    }
    std::filesystem::path folder = exe.parent_path();
    std::string error;
    for (const std::filesystem::path& candidate :
         {folder / module, folder / ".." / "lib" / "vandora" / module}) {
        if (!std::filesystem::exists(candidate, ec)) {
            continue;
        }
        void* handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            const char* text = dlerror();
            error = text != nullptr ? text : "cannot load " + candidate.string();
            continue;
        }
        void* address = dlsym(handle, symbol);
        if (address != nullptr) {
            return address;
        }
        error = "no " + std::string(symbol) + " in " + candidate.string();
    }
    if (lastError != nullptr) {
        *lastError = error.empty() ? "no module " + module : error;
    }
    return nullptr;
}

}  // namespace vandora
