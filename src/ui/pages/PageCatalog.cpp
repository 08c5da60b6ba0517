#include "ui/pages/PageCatalog.h"

#include "common/Utf.h"
#include "config/SettingsTransfer.h"
#include "config/engines/SettingRow.h"
#include "reader/TerminalModels.h"
#include "ui/pages/FieldPage.h"
#include "ui/pages/ReaderPages.h"
#include "ui/pages/SymbologyPages.h"

namespace vandora::ui {

namespace {

struct PageButton {
    int id;
    int page;
};
constexpr PageButton kPageButtons[] = {{65, 1}, {67, 2}, {66, 3}, {68, 4}, {69, 5}};

class GeneralTab final : public Page {
  public:
    explicit GeneralTab(ReaderService& service) : Page("General"), service_(service) {
        ReaderManager& readers = service.readers();
        rfidLine_ = terminalModel(readers.deviceModel()).rfidInWindow;
        add({14, ControlKind::Check, {}, {8, 8, 26, 20}});
        add({65, ControlKind::Button, "Barcode Reader", {36, 8, 130, 20}});
        int y = 32;
        if (rfidLine_) {
            add({17, ControlKind::Check, {}, {8, y, 26, 20}});
            add({68, ControlKind::Button, "RFID Reader", {36, y, 130, 20}});
            if (engineInfo(readers.rfidEngineType()).mifareKeysPage) {
                add({69, ControlKind::Button, "Mifare Keys", {172, y, 130, 20}});
            }
            y += 24;
        }
        add({66, ControlKind::Button, "Data Output", {36, y, 130, 20}});
        add({67, ControlKind::Button, "Notifications", {172, y, 130, 20}});
        y += 24;
        add({85, ControlKind::Button, "Restore Defaults", {36, y, 130, 20}});
        y += 24;
        add({18, ControlKind::Check, "Maximize me on the next start", {8, y, 304, 20}});
        y += 24;
        Control status{kStatusBoxId, ControlKind::MultiEdit, {}, {8, y, 304, 268 - y}};
        status.readOnly = true;
        add(status);
        add({kPictureId, ControlKind::Picture, {}, {8, y, 304, 268 - y}});
        refresh();
    }

    void refresh() override {
        ReaderManager& readers = service_.readers();
        bool hasBarcode = barcodeEngines().has(readers.barcodeEngineType());
        Control* barcode = findMutable(14);
        barcode->value = readers.barcodeReady != 0 ? 1 : 0;
        barcode->enabled = hasBarcode;
        findMutable(65)->enabled = hasBarcode;
        if (rfidLine_) {
            EngineType rfid = readers.rfidEngineType();
            Control* box = findMutable(17);
            box->value = readers.rfidReady != 0 ? 1 : 0;
            box->enabled = rfidModules().has(rfid);
            bool on = box->value != 0;
            findMutable(68)->enabled = box->enabled && (on || engineInfo(rfid).rfidPageWhileOff);
            if (Control* keys = findMutable(69)) {
                keys->enabled = on;
            }
        }
        findMutable(18)->value = service_.settings().wantMaxWindow != 0 ? 1 : 0;
        Control* picture = findMutable(kPictureId);
        picture->text = service_.lastPicture();
        picture->visible = !picture->text.empty();
        Control* status = findMutable(kStatusBoxId);
        status->text = utf8Of(service_.lastStatus());
        status->visible = !picture->visible;
    }

  protected:
    Action changed(Control& control) override {
        ReaderManager& readers = service_.readers();
        AppSettings& settings = service_.settings();
        switch (control.id) {
            case 14:
                service_.switchReader(kBarcodePort, control.value);
                return {Action::Kind::Refresh, 0, {}};
            case 17:
                if (rfidModules().has(readers.rfidEngineType())) {
                    service_.switchReader(kRfidPort, control.value);
                } else {
                    settings.enableRfid = 0;
                }
                refresh();
                return {Action::Kind::Refresh, 0, {}};
            case 18:
                settings.wantMaxWindow = control.value;
                return {};
            default:
                return {};
        }
    }

    Action pressed(Control& control) override {
        for (const PageButton& button : kPageButtons) {
            if (button.id == control.id) {
                return {Action::Kind::OpenReaderPage, button.page, {}};
            }
        }
        if (control.id == 85) {
            // The engines and AppSettings return to their defaults; the store gets the
            // symbology enables the engine reports, and the file is written at quit.
            restoreDefaults(service_.readers(), service_.engineSettings(), service_.store(),
                            service_.settings());
            service_.setStoreUpdate(true);
            refresh();
            return {Action::Kind::Refresh, 0, {}};
        }
        return {};
    }

  private:
    ReaderService& service_;
    bool rfidLine_ = true;
};

class AboutTab final : public Page {
  public:
    explicit AboutTab(ReaderService& service) : Page("About") {
        add({kLogoId, ControlKind::Picture, kLogoName, {8, 8, 304, 80}});
        std::string text = "Vandora\r\n\r\nVersion: 1.49";
        const ByteString& barcode = service.firmwareVersion();
        if (!barcode.empty()) {
            text += "\r\nBarcode decoder version: " + utf8Of(barcode);
        }
        text +=
            "\r\n\r\nThe reader service of the data-collection terminal: barcode and RFID "
            "reads as keystrokes, broadcasts and queue records.";
        Control about{0, ControlKind::MultiEdit, text, {8, 96, 304, 172}};
        about.readOnly = true;
        add(about);
    }
};

}  // namespace

PageCatalog::PageCatalog(ReaderService& service) : service_(service) {}

std::unique_ptr<Page> PageCatalog::general() {
    return std::make_unique<GeneralTab>(service_);
}
std::unique_ptr<Page> PageCatalog::symbologies() {
    return makeSymbologiesTab(service_);
}
std::unique_ptr<Page> PageCatalog::about() {
    return std::make_unique<AboutTab>(service_);
}

std::unique_ptr<Page> PageCatalog::open(const Action& action) {
    switch (action.kind) {
        case Action::Kind::OpenReaderPage:
            return makeReaderPage(service_, action.arg);
        case Action::Kind::OpenSymbologyPage:
            return makeSymbologyPage(service_, action.arg);
        default:
            return nullptr;
    }
}

std::vector<Action> PageCatalog::dialogPages() const {
    std::vector<Action> actions;
    ReaderManager& readers = service_.readers();
    // A reader page only for a reader the terminal has: without it the page would stand empty.
    if (barcodeEngines().has(readers.barcodeEngineType())) {
        actions.push_back({Action::Kind::OpenReaderPage, 1, {}});
    }
    EngineType rfid = readers.rfidEngineType();
    if (terminalModel(readers.deviceModel()).rfidInWindow && rfidModules().has(rfid)) {
        actions.push_back({Action::Kind::OpenReaderPage, 4, {}});
        if (engineInfo(rfid).mifareKeysPage) {
            actions.push_back({Action::Kind::OpenReaderPage, 5, {}});
        }
    }
    actions.push_back({Action::Kind::OpenReaderPage, 3, {}});
    actions.push_back({Action::Kind::OpenReaderPage, 2, {}});
    for (int index : symbologyPageIndexes(service_)) {
        actions.push_back({Action::Kind::OpenSymbologyPage, index, {}});
    }
    return actions;
}

}  // namespace vandora::ui
