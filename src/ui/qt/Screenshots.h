// Screenshots: pictures of every tab and dialog page of the service's terminal, as PNG files
// named after the page's title (lowercase, blanks and slashes as "-").
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>
#include <string>
#include <vector>

#include "runtime/ReaderService.h"

namespace vandora::ui::qt {

struct PagePicture {
    std::string title;
    QImage image;
};

// "EAN-13/UPC-A" -> "ean-13-upc-a", "I/F Pharma." -> "i-f-pharma".
std::string pictureName(const std::string& title);
// A widget as the screen shows it, at scale device pixels per unit.
QImage drawWidget(QWidget& widget, int scale);
// Every tab, then every dialog page the terminal has, drawn at the scale (1 or 2).
std::vector<PagePicture> drawPages(ReaderService& service, int scale);
// Writes drawPages into folder; the number of files written, -1 when one could not be written.
int writeScreenshots(ReaderService& service, const QString& folder, int scale);

}  // namespace vandora::ui::qt
