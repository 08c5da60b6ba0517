// EngineReadyLine: the terminal's engine-ready signal (a kernel control on some models).
//
// read() returns false when the call fails; otherwise value holds the line's value (only 0 and 1
// matter to callers). The Linux form reads the file named by VANDORA_ENGINE_READY (for example a
// GPIO value file) as a decimal number; without the variable, or with an unreadable file, every
// call fails.
#pragma once

#include <cstdint>
#include <string>

namespace vandora {

class EngineReadyLine {
  public:
    virtual ~EngineReadyLine() = default;
    virtual bool read(std::uint32_t& value) = 0;
};

class FileEngineReadyLine final : public EngineReadyLine {
  public:
    // Path from VANDORA_ENGINE_READY.
    FileEngineReadyLine();
    explicit FileEngineReadyLine(std::string path) : path_(std::move(path)) {}
    bool read(std::uint32_t& value) override;

  private:
    std::string path_;
};

}  // namespace vandora
