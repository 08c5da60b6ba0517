// SystemLibrary: a terminal system library loaded at run time, its entries found by name.
//
// A library "X.dll" of the terminal is the shared object "X.so" in the system folder. Loading
// fails quietly (no file, wrong format): the caller then skips the hardware it drives.
// Threading: load and unload on one thread; resolved entries may be called from any thread.
#pragma once

#include <string>

namespace vandora {

class SystemLibrary {
  public:
    SystemLibrary() = default;
    ~SystemLibrary() { unload(); }
    SystemLibrary(const SystemLibrary&) = delete;
    SystemLibrary& operator=(const SystemLibrary&) = delete;

    // Loads path; false (and nothing loaded) when it cannot be opened.
    bool load(const std::string& path);
    void unload();
    bool loaded() const { return handle_ != nullptr; }
    void* handle() const { return handle_; }
    // The entry of that name, or null.
    void* resolve(const char* name) const;

  private:
    void* handle_ = nullptr;
};

}  // namespace vandora
