// ReaderPages: the five reader and output pages the "General" tab opens: 1 "Barcode Reader
// Settings" (one table per barcode engine kind), 2 "Notifications", 3 "Data output", 4 "RFID
// Reader Settings" and 5 "Mifare Keys". Each is a table of fields; the pages add only the
// behaviour a table cannot say (the read/write pair, the sector spin, the "Write" button, the
// scan mode that starts continuous scanning).
#pragma once

#include <memory>

#include "runtime/ReaderService.h"
#include "ui/PageModel.h"

namespace vandora::ui {

// Reader page 1 to 5; null for any other number. A page whose reader the terminal lacks is
// empty, and its OK switches that reader off.
std::unique_ptr<Page> makeReaderPage(ReaderService& service, int page);

}  // namespace vandora::ui
