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
    return name;
}

std::vector<PagePicture> drawPages(ReaderService& service, int scale) {
    std::vector<PagePicture> pictures;
    MainWindow window(scale);
    window.attach(service);
    QTabWidget* tabs = window.tabs();
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        pictures.push_back({tabs->tabText(i).toStdString(), window.grab().toImage()});
    }
    PageCatalog catalog(service);
    for (const Action& open : catalog.dialogPages()) {
        std::unique_ptr<OptionDialog> dialog = window.makeDialog(open);
        if (!dialog) {
            continue;
        }
        dialog->layout()->activate();
        dialog->resize(dialog->sizeHint());
        pictures.push_back({dialog->windowTitle().toStdString(), dialog->grab().toImage()});
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
