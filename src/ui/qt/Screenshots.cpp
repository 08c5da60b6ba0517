#include "ui/qt/Screenshots.h"

#include <QDir>
#include <QLayout>
#include <QTabWidget>
#include <cctype>

#include "ui/qt/MainWindow.h"

namespace vandora::ui::qt {

std::string pictureName(const std::string& title) {
    std::string name;
    for (char c : title) {
        name.push_back(c == ' ' || c == '/'
                           ? '-'
                           : static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
    // "I/F Pharma." would end in two dots before "png".
    while (!name.empty() && (name.back() == '.' || name.back() == '-')) {
        name.pop_back();
    }
    return name;
}

QImage drawWidget(QWidget& widget, int scale) {
    // The whole drawing at the scale: texts, boxes, arrows, margins and icons alike.
    QImage image(widget.size() * scale, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(widget.palette().color(QPalette::Window));
    widget.render(&image);
    image.setDevicePixelRatio(1);
    return image;
}

std::vector<PagePicture> drawPages(ReaderService& service, int scale) {
    std::vector<PagePicture> pictures;
    MainWindow window(scale);
    window.attach(service);
    QTabWidget* tabs = window.tabs();
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        pictures.push_back({tabs->tabText(i).toStdString(), drawWidget(window, scale)});
    }
    PageCatalog catalog(service);
    for (const Action& open : catalog.dialogPages()) {
        std::unique_ptr<OptionDialog> dialog = window.makeDialog(open);
        if (!dialog) {
            continue;
        }
        dialog->layout()->activate();
        pictures.push_back({dialog->windowTitle().toStdString(), drawWidget(*dialog, scale)});
    }
    return pictures;
}

int writeScreenshots(ReaderService& service, const QString& folder, int scale) {
    if (!QDir().mkpath(folder)) {
        return -1;
    }
    int written = 0;
    for (const PagePicture& picture : drawPages(service, scale)) {
        QString file = QDir(folder).filePath(QString::fromStdString(pictureName(picture.title)) +
                                             QStringLiteral(".png"));
        if (!picture.image.save(file, "PNG")) {
            return -1;
        }
        ++written;
    }
    return written;
}

}  // namespace vandora::ui::qt
