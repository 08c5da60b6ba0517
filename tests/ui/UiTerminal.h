// A simulated terminal with the service started on it, for the window pages' tests: the model,
// barcode engine and RFID module of a simulation spec ("model=4,barcode=3,rfid=0"), a fresh INI
// file in a folder of its own, and the binary link the program itself would use.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "SimulatedTerminal.h"
#include "rfid/link/RfidLink.h"
#include "runtime/ReaderService.h"

namespace vandora::testing {

class QuietView final : public MainView {
  public:
    void setStatusText(const ByteString& text) override { status = text.narrow(); }
    int messageBox(const std::string& text, const std::string&) override {
        asked = text;
        return kOk;
    }
    std::string status;
    std::string asked;
};

class UiTerminal {
  public:
    // view: the service's view (a window under test); null: a quiet one.
    explicit UiTerminal(const std::string& spec, const std::string& ini = {},
                        MainView* windowView = nullptr) {
        std::string error;
        sim::TerminalSpec parsed;
        EXPECT_TRUE(sim::parseTerminalSpec(spec, parsed, error)) << error;
        terminal_ = std::make_unique<sim::SimulatedTerminal>(parsed);
        ReaderPlatform platform = terminal_->platform();
        link_ = std::make_unique<RfidLink>(*platform.ports, *platform.clock);
        platform.rfidLink = link_.get();
        dir_ = std::filesystem::temp_directory_path() /
               ("vandora-ui-" + std::to_string(getpid()) + "-" + std::to_string(counter_++));
        std::filesystem::create_directories(dir_);
        iniPath = (dir_ / "VandoraINI.txt").string();
        // The engines named in the file, as after a first start: the service then opens them
        // without looking through every baud rate.
        std::ofstream(iniPath, std::ios::binary) << (ini.empty() ? hints(parsed) : ini);
        parts_.platform = platform;
        parts_.view = windowView != nullptr ? windowView : &view;
        parts_.iniPath = iniPath;
        service = std::make_unique<ReaderService>(parts_);
        service->startUp();
    }
    ~UiTerminal() {
        service.reset();
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    UiTerminal(const UiTerminal&) = delete;
    UiTerminal& operator=(const UiTerminal&) = delete;

    std::shared_ptr<sim::EngineSim> barcodeEngine() const { return terminal_->barcodeEngine(); }

    QuietView view;
    std::string iniPath;
    std::unique_ptr<ReaderService> service;

  private:
    static std::string hints(const sim::TerminalSpec& spec) {
        std::string text;
        switch (spec.barcode) {
            case 2:
                text = "[Barcode Reader CCD/Laser]\r\nhasCCD=1\r\n";
                break;
            case 3:
                text = "[Barcode Reader 2D]\r\nhas2D=1\r\n";
                break;
            case 8:
                text = "[Barcode Reader 2D]\r\nhas2D_4507=1\r\n";
                break;
            case 4:
                text = "[Barcode Reader 1D_LR]\r\nhas1DLR=1\r\n";
                break;
            case 9:
                text = "[Barcode Reader 1D_LR]\r\nhas1D_955=1\r\n";
                break;
            default:
                break;
        }
        if (spec.rfid != 0) {
            text += "[RFID]\r\nhasRfid=" + std::to_string(spec.rfid) + "\r\n";
        }
        return text;
    }

    static inline int counter_ = 0;
    std::unique_ptr<sim::SimulatedTerminal> terminal_;
    std::unique_ptr<RfidLink> link_;
    std::filesystem::path dir_;
    ReaderServiceParts parts_;
};

}  // namespace vandora::testing
