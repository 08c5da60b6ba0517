#include "ui/qt/PageWidget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QStandardItemModel>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "ui/pages/PageCatalog.h"

namespace vandora::ui::qt {

namespace {

constexpr int kFontPixels = 11;

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

// Texts keep the system's "\r\n" line ends; the widgets want "\n".
QString withoutCr(const std::string& text) {
    return qs(text).remove(QLatin1Char('\r'));
}

// The "About" page's logo, drawn rather than shipped.
QPixmap logoPixmap(QSize size) {
    QPixmap pixmap(size);
    pixmap.fill(Qt::white);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient shade(0, 0, size.width(), 0);
    shade.setColorAt(0, QColor(0x1d, 0x4e, 0x89));
    shade.setColorAt(1, QColor(0x3a, 0x8d, 0xc8));
    painter.setBrush(shade);
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRectF(2, 2, size.width() - 4, size.height() - 4), 8, 8);
    // A few bars of a barcode at the left.
    painter.setBrush(Qt::white);
    int h = size.height();
    int x = h / 4;
    for (int bar : {2, 1, 3, 1, 2, 1, 1, 3}) {
        painter.drawRect(QRectF(x, h / 4.0, bar * h / 40.0, h / 2.0));
        x += bar * h / 40 + h / 24;
    }
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(h * 2 / 5);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(x + h / 8, 0, size.width() - x, h), Qt::AlignVCenter | Qt::AlignLeft,
                     QStringLiteral("Vandora"));
    return pixmap;
}

QPixmap picturePixmap(const std::string& source, QSize size) {
    if (source == kLogoName) {
        return logoPixmap(size);
    }
    QPixmap picture(qs(source));
    if (picture.isNull()) {
        return {};
    }
    return picture.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

}  // namespace

QFont pageFont(int scale) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(kFontPixels * scale);
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

PageWidget::PageWidget(Page& page, int scale, ActionHandler onAction, QWidget* parent)
    : QWidget(parent), page_(page), scale_(scale), onAction_(std::move(onAction)) {
    setFont(pageFont(scale));
    build();
    sync();
    QSize size = contentSize();
    setMinimumSize(size);
    resize(size);
}

QSize PageWidget::contentSize() const {
    int right = 0;
    int bottom = 0;
    for (const Control& c : page_.controls()) {
        right = std::max(right, c.rect.x + c.rect.w);
        bottom = std::max(bottom, c.rect.y + c.rect.h);
    }
    return {(right + 8) * scale_, (bottom + 8) * scale_};
}

void PageWidget::handle(const Action& action) {
    sync();
    if (action.kind != Action::Kind::None && onAction_) {
        onAction_(action);
    }
}

void PageWidget::build() {
    for (const Control& c : page_.controls()) {
        const int id = c.id;
        QWidget* widget = nullptr;
        switch (c.kind) {
            case ControlKind::Label:
            case ControlKind::Note: {
                auto* label = new QLabel(this);
                label->setWordWrap(c.kind == ControlKind::Note);
                label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
                widget = label;
                break;
            }
            case ControlKind::Choice: {
                auto* list = new QComboBox(this);
                for (const std::string& item : c.items) {
                    list->addItem(qs(item));
                }
                if (auto* model = qobject_cast<QStandardItemModel*>(list->model())) {
                    for (std::size_t i = 0; i < c.itemDisabled.size(); ++i) {
                        if (c.itemDisabled[i]) {
                            model->item(static_cast<int>(i))->setEnabled(false);
                        }
                    }
                }
                connect(list, &QComboBox::activated, this,
                        [this, id](int index) { handle(page_.choose(id, index)); });
                widget = list;
                break;
            }
            case ControlKind::Check: {
                auto* box = new QCheckBox(this);
                connect(box, &QCheckBox::clicked, this,
                        [this, id](bool on) { handle(page_.setChecked(id, on)); });
                widget = box;
                break;
            }
            case ControlKind::Group: {
                auto* group = new QGroupBox(this);
                widget = group;
                break;
            }
            case ControlKind::Edit: {
                auto* edit = new QLineEdit(this);
                if (c.maxLength > 0) {
                    edit->setMaxLength(c.maxLength);
                }
                edit->setReadOnly(c.readOnly);
                connect(edit, &QLineEdit::textEdited, this, [this, id](const QString& text) {
                    handle(page_.typeText(id, text.toStdString()));
                });
                widget = edit;
                break;
            }
            case ControlKind::MultiEdit: {
                auto* edit = new QPlainTextEdit(this);
                edit->setReadOnly(c.readOnly);
                connect(edit, &QPlainTextEdit::textChanged, this, [this, id, edit] {
                    if (!syncing_ && !edit->isReadOnly()) {
                        handle(page_.typeText(id, edit->toPlainText().toStdString()));
                    }
                });
                widget = edit;
                break;
            }
            case ControlKind::Spin: {
                auto* arrows = new QWidget(this);
                auto* layout = new QVBoxLayout(arrows);
                layout->setContentsMargins(0, 0, 0, 0);
                layout->setSpacing(0);
                for (int delta : {1, -1}) {
                    auto* arrow = new QToolButton(arrows);
                    arrow->setArrowType(delta > 0 ? Qt::UpArrow : Qt::DownArrow);
                    arrow->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
                    connect(arrow, &QToolButton::clicked, this,
                            [this, id, delta] { handle(page_.step(id, delta)); });
                    layout->addWidget(arrow);
                }
                widget = arrows;
                break;
            }
            case ControlKind::Button: {
                auto* button = new QPushButton(this);
                connect(button, &QPushButton::clicked, this,
                        [this, id] { handle(page_.press(id)); });
                widget = button;
                break;
            }
            case ControlKind::Picture: {
                auto* picture = new QLabel(this);
                picture->setAlignment(Qt::AlignCenter);
                widget = picture;
                break;
            }
        }
        widget->setGeometry(c.rect.x * scale_, c.rect.y * scale_, c.rect.w * scale_,
                            c.rect.h * scale_);
        if (c.kind == ControlKind::Group) {
            widget->lower();
        }
        if (id != 0) {
            widget->setObjectName(QStringLiteral("control%1").arg(id));
        }
        widgets_.push_back(widget);
    }
}

void PageWidget::sync() {
    syncing_ = true;
    auto controls = page_.controls();
    for (std::size_t i = 0; i < controls.size() && i < widgets_.size(); ++i) {
        const Control& c = controls[i];
        QWidget* widget = widgets_[i];
        QSignalBlocker quiet(widget);
        switch (c.kind) {
            case ControlKind::Label:
            case ControlKind::Note:
                static_cast<QLabel*>(widget)->setText(withoutCr(c.text));
                break;
            case ControlKind::Choice:
                static_cast<QComboBox*>(widget)->setCurrentIndex(c.value);
                break;
            case ControlKind::Check: {
                auto* box = static_cast<QCheckBox*>(widget);
                box->setText(qs(c.text));
                box->setChecked(c.value != 0);
                break;
            }
            case ControlKind::Group:
                static_cast<QGroupBox*>(widget)->setTitle(qs(c.text));
                break;
            case ControlKind::Edit: {
                auto* edit = static_cast<QLineEdit*>(widget);
                if (edit->text() != qs(c.text)) {
                    edit->setText(qs(c.text));
                }
                // Password echo also keeps a masked key from being copied out of the box.
                QLineEdit::EchoMode echo = c.masked ? QLineEdit::Password : QLineEdit::Normal;
                if (edit->echoMode() != echo) {
                    edit->setEchoMode(echo);
                }
                break;
            }
            case ControlKind::MultiEdit: {
                auto* edit = static_cast<QPlainTextEdit*>(widget);
                QString text = withoutCr(c.text);
                if (edit->toPlainText() != text) {
                    edit->setPlainText(text);
                }
                break;
            }
            case ControlKind::Button:
                static_cast<QPushButton*>(widget)->setText(qs(c.text));
                break;
            case ControlKind::Picture: {
                auto* label = static_cast<QLabel*>(widget);
                QString source = qs(c.text);
                if (label->property("source").toString() != source) {
                    label->setProperty("source", source);
                    label->setPixmap(picturePixmap(c.text, widget->size()));
                }
                break;
            }
            case ControlKind::Spin:
                break;
        }
        widget->setEnabled(c.enabled);
        widget->setVisible(c.visible);
    }
    syncing_ = false;
}

OptionDialog::OptionDialog(std::unique_ptr<Page> page, int scale, const ActionHandler& onAction,
                           QWidget* parent)
    : QDialog(parent), page_(std::move(page)) {
    setWindowTitle(QString::fromStdString(page_->title()));
    setFont(pageFont(scale));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 4 * scale);
    // The page's own requests (a message, a folder) are carried out here; the rest goes on.
    auto dialogActions = [this, onAction](const Action& action) {
        if (!runDialogAction(this, *widget_, action) && onAction) {
            onAction(action);
        }
    };
    widget_ = new PageWidget(*page_, scale, dialogActions, nullptr);
    auto* scroll = new QScrollArea(this);
    scroll->setWidget(widget_);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setMinimumSize(widget_->contentSize());
    layout->addWidget(scroll);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::accepted, this, [this, onAction] {
        Action result = page_->accept();
        widget_->sync();
        if (result.kind == Action::Kind::Message) {
            runDialogAction(this, *widget_, result);
            return;
        }
        if (result.kind == Action::Kind::Refresh && onAction) {
            onAction(result);
        }
        accept();
    });
}

bool runDialogAction(QWidget* owner, PageWidget& widget, const Action& action) {
    switch (action.kind) {
        case Action::Kind::Message:
            QMessageBox::warning(owner, QStringLiteral("Warning"),
                                 QString::fromStdString(action.text));
            return true;
        case Action::Kind::ChooseFolder: {
            QString folder = QFileDialog::getExistingDirectory(owner);
            if (!folder.isEmpty()) {
                widget.page().folderChosen(folder.toStdString());
                widget.sync();
            }
            return true;
        }
        default:
            return false;
    }
}

}  // namespace vandora::ui::qt
