#include "ui/qt/MainWindow.h"

#include <poll.h>

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QScreen>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <set>

#include "config/IniStore.h"

namespace vandora::ui::qt {

namespace {

// The tray and window icon: a few barcode bars.
QIcon barcodeIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setBrush(QColor(0x1d, 0x4e, 0x89));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(0, 0, 32, 32, 5, 5);
    painter.setBrush(Qt::white);
    int x = 5;
    for (int bar : {2, 1, 3, 1, 2, 1, 3, 2}) {
        painter.drawRect(x, 7, bar, 18);
        x += bar + 1;
    }
    return QIcon(pixmap);
}

std::int32_t storedWantMaxWindow(const std::string& iniPath) {
    IniStore file;
    if (file.load(iniPath) == 0) {
        return 1;
    }
    const IniSection* general = file.findSection("General");
    std::int32_t want = 1;
    if (general != nullptr) {
        file.getInt(general, "wantMaxWindow", want);
    }
    return want;
}

}  // namespace

MainWindow::MainWindow(int scale) {
    // The large layout is the small one at a device pixel ratio of 2 (see the module).
    scale_ = scale != 0 ? scale : std::max(1, qRound(devicePixelRatioF()));
    useWindowStyle();
    setWindowTitle(QStringLiteral("Vandora"));
    setWindowIcon(barcodeIcon());
    setFont(pageFont());
    tabs_ = new QTabWidget(this);
    tabs_->setGeometry(0, 0, kScreenWidth, kScreenHeight);
    setFixedSize(kScreenWidth, kScreenHeight);
    clock_.start();
    qApp->installEventFilter(this);
}

MainWindow::~MainWindow() {
    qApp->removeEventFilter(this);
    detach();
}

PageWidget* MainWindow::tabPage(int index) {
    return index >= 0 && index < 3 ? pageWidgets_[index] : nullptr;
}

void MainWindow::attach(ReaderService& service) {
    service_ = &service;
    catalog_ = std::make_unique<PageCatalog>(service);
    wasBusy_ = service.busy();
    buildPages();
    buildTray();
    EventLoop& loop = service.loop();
    wake_ = new QSocketNotifier(loop.wakeFd(), QSocketNotifier::Read, this);
    connect(wake_, &QSocketNotifier::activated, this, [this] { drive(); });
    timer_ = new QTimer(this);
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, [this] { drive(); });
    if (storedWantMaxWindow(service.iniPath()) == 0) {
        hideToTray();
    } else {
        showMaximized();
    }
    QTimer::singleShot(0, this, [this] { drive(); });
}

void MainWindow::detach() {
    delete wake_;
    wake_ = nullptr;
    for (auto& [key, notifier] : watches_) {
        delete notifier;
    }
    watches_.clear();
    delete timer_;
    timer_ = nullptr;
}

void MainWindow::buildPages() {
    int current = tabs_->currentIndex();
    while (tabs_->count() > 0) {
        QWidget* old = tabs_->widget(0);
        tabs_->removeTab(0);
        delete old;
    }
    pages_[0] = catalog_->general();
    pages_[1] = catalog_->symbologies();
    pages_[2] = catalog_->about();
    for (int i = 0; i < 3; ++i) {
        pageWidgets_[i] =
            new PageWidget(*pages_[i], scale_, [this](const Action& action) { onAction(action); });
        tabs_->addTab(pageWidgets_[i], QString::fromStdString(pages_[i]->title()));
    }
    tabs_->setCurrentIndex(current < 0 ? 0 : current);
}

void MainWindow::buildTray() {
    ReaderManager& readers = service_->readers();
    trayMenu_ = std::make_unique<TrayMenu>(readers.deviceModel(), readers.barcodeEngineType(),
                                           readers.rfidEngineType());
    trayMenu_->setWindowHidden(isHidden());
    if (tray_ != nullptr || !QSystemTrayIcon::isSystemTrayAvailable()) {
        return;
    }
    tray_ = new QSystemTrayIcon(barcodeIcon(), this);
    tray_->setToolTip(QStringLiteral("Vandora"));
    menu_ = new QMenu(this);
    connect(menu_, &QMenu::aboutToShow, this, [this] {
        menu_->clear();
        ReaderManager& r = service_->readers();
        for (const TrayItem& item : trayMenu_->items(r.barcodeReady != 0, r.rfidReady != 0)) {
            if (item.id == 0) {
                menu_->addSeparator();
                continue;
            }
            QAction* action = menu_->addAction(QString::fromStdString(item.text));
            action->setEnabled(item.enabled);
            action->setCheckable(item.checked);
            action->setChecked(item.checked);
            int id = item.id;
            connect(action, &QAction::triggered, this, [this, id] {
                ReaderManager& m = service_->readers();
                std::int32_t barcode = m.barcodeReady;
                std::int32_t rfid = m.rfidReady;
                switch (trayMenu_->command(id, barcode, rfid)) {
                    case TrayAction::ReaderSwitched:
                        service_->switchReader(kBarcodePort, barcode);
                        service_->switchReader(kRfidPort, rfid);
                        refreshAll();
                        break;
                    case TrayAction::Maximize:
                        showMaximized();
                        break;
                    case TrayAction::Exit:
                        service_->confirmQuit();
                        drive();
                        break;
                    case TrayAction::None:
                        break;
                }
            });
        }
    });
    tray_->setContextMenu(menu_);
    // Whatever the click, the menu opens.
    connect(tray_, &QSystemTrayIcon::activated, this, [this] { menu_->popup(QCursor::pos()); });
    tray_->show();
}

void MainWindow::refreshAll() {
    for (int i = 0; i < 3; ++i) {
        if (pages_[i]) {
            pages_[i]->refresh();
            pageWidgets_[i]->sync();
        }
    }
}

void MainWindow::onAction(const Action& action) {
    switch (action.kind) {
        case Action::Kind::OpenReaderPage:
        case Action::Kind::OpenSymbologyPage:
            openDialogPage(action);
            break;
        case Action::Kind::Refresh:
            refreshAll();
            break;
        case Action::Kind::Message:
            QMessageBox::warning(this, QStringLiteral("Warning"),
                                 QString::fromStdString(action.text));
            break;
        default:
            break;
    }
}

std::unique_ptr<OptionDialog> MainWindow::makeDialog(const Action& action) {
    std::unique_ptr<Page> page = catalog_ ? catalog_->open(action) : nullptr;
    if (!page) {
        return nullptr;
    }
    return std::make_unique<OptionDialog>(
        std::move(page), scale_, [this](const Action& a) { onAction(a); }, this);
}

void MainWindow::openDialogPage(const Action& action) {
    std::unique_ptr<OptionDialog> dialog = makeDialog(action);
    if (!dialog) {
        return;
    }
    dialog->exec();
    // The reader page may have switched continuous scanning, which the Symbologies tab shows.
    refreshAll();
}

void MainWindow::hideToTray() {
    if (tray_ != nullptr) {
        hide();
    } else {
        // Without a tray icon to bring it back, the window stays within reach on the task bar.
        showMinimized();
    }
    if (trayMenu_) {
        trayMenu_->setWindowHidden(true);
    }
}

void MainWindow::drive() {
    if (service_ == nullptr) {
        return;
    }
    EventLoop& loop = service_->loop();
    if (driving_) {
        timer_->start(0);
        return;
    }
    driving_ = true;
    loop.dispatchPending();
    driving_ = false;
    if (loop.quitting()) {
        QCoreApplication::exit(loop.exitCode());
        return;
    }
    if (wasBusy_ && !service_->busy()) {
        // The engines are known now: the pages and the tray's switches follow them.
        buildPages();
        buildTray();
    }
    wasBusy_ = service_->busy();
    watchDescriptors();
    int next = loop.nextTimeoutMs();
    if (next >= 0) {
        timer_->start(next);
    } else {
        timer_->stop();
    }
}

void MainWindow::watchDescriptors() {
    std::set<std::pair<int, int>> wanted;
    for (auto [fd, events] : service_->loop().watchedFds()) {
        if ((events & (POLLIN | POLLPRI)) != 0) {
            wanted.insert({fd, QSocketNotifier::Read});
        }
        if ((events & POLLOUT) != 0) {
            wanted.insert({fd, QSocketNotifier::Write});
        }
    }
    for (auto it = watches_.begin(); it != watches_.end();) {
        if (wanted.count(it->first) == 0) {
            // Possibly the notifier whose signal runs now: let Qt delete it afterwards.
            it->second->setEnabled(false);
            it->second->deleteLater();
            it = watches_.erase(it);
        } else {
            ++it;
        }
    }
    for (const auto& key : wanted) {
        if (watches_.count(key) == 0) {
            auto* notifier = new QSocketNotifier(
                key.first, static_cast<QSocketNotifier::Type>(key.second), this);
            connect(notifier, &QSocketNotifier::activated, this, [this] { drive(); });
            watches_[key] = notifier;
        }
    }
}

void MainWindow::onUiThread(const std::function<void()>& work) {
    if (QThread::currentThread() == thread()) {
        work();
    } else {
        QMetaObject::invokeMethod(this, work, Qt::BlockingQueuedConnection);
    }
}

void MainWindow::refreshGeneral() {
    // The General page shows the status and the picture the service keeps.
    QMetaObject::invokeMethod(this, [this] {
        if (pages_[0]) {
            pages_[0]->refresh();
            pageWidgets_[0]->sync();
        }
    });
}

void MainWindow::setStatusText(const ByteString& /*text*/) {
    refreshGeneral();
}

void MainWindow::showPicture(const std::string& /*path*/) {
    refreshGeneral();
}

int MainWindow::messageBox(const std::string& text, const std::string& caption) {
    int answer = kCancel;
    onUiThread([&] {
        QMessageBox box(QMessageBox::Warning, QString::fromStdString(caption),
                        QString::fromStdString(text), QMessageBox::Ok | QMessageBox::Cancel, this);
        answer = box.exec() == QMessageBox::Ok ? kOk : kCancel;
    });
    return answer;
}

void MainWindow::showMaximized() {
    QMetaObject::invokeMethod(this, [this] {
        setWindowState(windowState() & ~Qt::WindowMinimized);
        show();
        raise();
        activateWindow();
        if (trayMenu_) {
            trayMenu_->setWindowHidden(false);
        }
    });
}

void MainWindow::showWaitMessage(bool show) {
    QMetaObject::invokeMethod(this, [this, show] {
        if (!show) {
            delete waitBox_;
            return;
        }
        if (waitBox_ != nullptr) {
            return;
        }
        auto* box = new QWidget(this, Qt::Dialog);
        box->setGeometry(20, 100, 200, 70);
        auto* layout = new QVBoxLayout(box);
        auto* label =
            new QLabel(QStringLiteral("Please wait for initializing the 2D reader."), box);
        label->setWordWrap(true);
        layout->addWidget(label);
        box->show();
        waitBox_ = box;
    });
}

void MainWindow::showProgress(bool show) {
    QMetaObject::invokeMethod(this, [this, show] {
        if (!show) {
            delete progress_;
            return;
        }
        if (progress_ == nullptr) {
            progress_ =
                new QProgressDialog(QStringLiteral("Processing..."), QString(), 0, 100, this);
            progress_->setWindowModality(Qt::WindowModal);
            progress_->setMinimumDuration(0);
        }
        progress_->show();
    });
}

void MainWindow::setProgress(int position, int range) {
    QMetaObject::invokeMethod(this, [this, position, range] {
        if (progress_ != nullptr) {
            progress_->setMaximum(range);
            progress_->setValue(position);
        }
    });
}

void MainWindow::setEnabled(bool enabled) {
    QMetaObject::invokeMethod(this, [this, enabled] { QWidget::setEnabled(enabled); });
}

std::string MainWindow::chooseFile(const std::string& filter) {
    std::string chosen;
    onUiThread([&] {
        // "Name (*.EXT)||": the part before the bars is the filter.
        QString name = QString::fromStdString(filter.substr(0, filter.find('|')));
        chosen = QFileDialog::getOpenFileName(this, QString(), QString(), name).toStdString();
    });
    return chosen;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType() || service_ == nullptr) {
        return false;
    }
    auto* widget = static_cast<QWidget*>(watched);
    // Each key press once: where it is delivered first, the focused widget or the window.
    QWidget* target = QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : this;
    if (widget != target || widget->window() != this) {
        return false;
    }
    auto* key = static_cast<QKeyEvent*>(event);
    auto now = static_cast<std::uint64_t>(clock_.elapsed());
    switch (key->key()) {
        case Qt::Key_F4:
            firmwareKeys_.keyDown(FirmwareKeys::kF4, now);
            return false;
        case Qt::Key_F7:
            if (firmwareKeys_.keyDown(FirmwareKeys::kF7, now)) {
                service_->firmwareWarning();
                drive();
            }
            return false;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (qobject_cast<QPlainTextEdit*>(widget) != nullptr) {
                return false;
            }
            hideToTray();
            return true;
        default:
            return false;
    }
}

void MainWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange) {
        active_ = isActiveWindow();
    }
    QWidget::changeEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    if (tray_ != nullptr) {
        hideToTray();
        return;
    }
    // No tray to live behind: closing asks to quit, as the tray's "Exit" does.
    if (service_ != nullptr) {
        service_->confirmQuit();
        drive();
    }
}

}  // namespace vandora::ui::qt
