#include "platform/SystemLibrary.h"

#include <dlfcn.h>

namespace vandora {

bool SystemLibrary::load(const std::string& path) {
    unload();
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    return handle_ != nullptr;
}

void SystemLibrary::unload() {
    if (handle_ != nullptr) {
        dlclose(handle_);
        handle_ = nullptr;
    }
}

void* SystemLibrary::resolve(const char* name) const {
    return handle_ != nullptr ? dlsym(handle_, name) : nullptr;
}

}  // namespace vandora
