// SymbologyPages: the "Symbologies" tab and the page of each symbology, for the barcode engine
// kind the terminal has. Each engine kind's lines and pages are tables written once; a page's
// controls read their values from the engine when it opens and send them on OK.
#pragma once

#include <memory>
#include <vector>

#include "runtime/ReaderService.h"
#include "ui/PageModel.h"

namespace vandora::ui {

// The "Symbologies" tab: one line per symbology (a switch, a button opening its page, or both).
std::unique_ptr<Page> makeSymbologiesTab(ReaderService& service);
// The page of one symbology by its index for the current engine kind; null when there is none.
std::unique_ptr<Page> makeSymbologyPage(ReaderService& service, int index);
// The indexes of every symbology page the current engine kind has, in the tab's order.
std::vector<int> symbologyPageIndexes(ReaderService& service);

}  // namespace vandora::ui
