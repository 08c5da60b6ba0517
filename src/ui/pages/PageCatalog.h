// PageCatalog: every page of the settings windows for the terminal the service runs on, built
// from the page tables for its model, barcode engine kind and RFID module kind.
//
// The three tab pages act on each input (reader switches, symbology switches, "Restore
// Defaults"); dialog pages act on OK. All run on the service's loop thread; the engine
// operations they start take the channel locks themselves.
#pragma once

#include <memory>
#include <vector>

#include "runtime/ReaderService.h"
#include "ui/PageModel.h"

namespace vandora::ui {

// Controls of the General page that the window fills from the service, not from settings.
inline constexpr int kStatusBoxId = 94;  // the decode status text
inline constexpr int kPictureId = 93;    // the last picture saved
// The "About" page's logo: a picture the window draws itself.
inline constexpr int kLogoId = 95;
inline constexpr const char* kLogoName = "IDB_ABOUT_LOGO";

class PageCatalog {
  public:
    explicit PageCatalog(ReaderService& service);

    std::unique_ptr<Page> general();      // "General"
    std::unique_ptr<Page> symbologies();  // "Symbologies"
    std::unique_ptr<Page> about();        // "About"
    // The dialog page an action opens (OpenReaderPage, OpenSymbologyPage); null for any other
    // action or a page this terminal does not have.
    std::unique_ptr<Page> open(const Action& action);
    // The actions that open every dialog page this terminal has, whether or not its button is
    // enabled at the moment, in the order the tab pages list them: a reader's page only when the
    // terminal has that reader (the Mifare Keys page only with the module that changes keys).
    std::vector<Action> dialogPages() const;

  private:
    ReaderService& service_;
};

}  // namespace vandora::ui
