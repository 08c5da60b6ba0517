#include "ui/qt/PageWidget.h"

#include <QApplication>
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
#include <QProxyStyle>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QStyleFactory>
#include <QStyleOption>
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

QFont pageFont() {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(kFontPixels);
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

namespace {

// Fusion on every desktop; the dialog buttons carry the toolkit's own OK and Cancel icons
// rather than the theme's, so pictures made without a desktop show what a user sees.
class WindowStyle final : public QProxyStyle {
  public:
    WindowStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {
        setObjectName(QStringLiteral("vandora"));
    }

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_DialogButtonBox_ButtonsHaveIcons) {
            return 1;
        }
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }

    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        // A page that scrolls keeps its controls clear of the bar: it lies in the right margin.
        if (metric == PM_ScrollBarExtent) {
            return kScrollBarWidth;
        }
        return QProxyStyle::pixelMetric(metric, option, widget);
    }

    QIcon standardIcon(StandardPixmap icon, const QStyleOption* option,
                       const QWidget* widget) const override {
        const char* name = icon == SP_DialogOkButton       ? "ok"
                           : icon == SP_DialogCancelButton ? "cancel"
                                                           : nullptr;
        if (name == nullptr) {
            return QProxyStyle::standardIcon(icon, option, widget);
        }
        QIcon result;
        for (int size : {16, 32, 128}) {
            result.addFile(
                QStringLiteral(
                    ":/qt-project.org/styles/commonstyle/images/standardbutton-%1-%2.png")
                    .arg(QLatin1String(name))
                    .arg(size),
                QSize(size, size));
        }
        return result;
    }

    static constexpr int kScrollBarWidth = 8;
};

}  // namespace

void useWindowStyle() {
    if (qApp->style()->objectName() != QStringLiteral("vandora")) {
        QApplication::setStyle(new WindowStyle);
    }
}

QtTextMetrics::QtTextMetrics() : font_(pageFont()) {
    QFontMetrics fm(font_);
    const QString sample = QStringLiteral("Sample");
    int sampleWidth = fm.horizontalAdvance(sample);
    QCheckBox box(sample);
    box.setFont(font_);
    checkChrome_ = box.sizeHint().width() - sampleWidth;
    QComboBox list;
    list.setFont(font_);
    list.setSizeAdjustPolicy(QComboBox::AdjustToContents);
    list.addItem(sample);
    choiceChrome_ = list.sizeHint().width() - sampleWidth;
    QPushButton button(sample);
    button.setFont(font_);
    buttonChrome_ = button.sizeHint().width() - sampleWidth;
    button.setText(QStringLiteral("I"));
    buttonMinimum_ = button.sizeHint().width();
    QLineEdit edit(sample);
    edit.setFont(font_);
    QStyleOptionFrame frame;
    frame.initFrom(&edit);
    editChrome_ = edit.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &frame, &edit) * 2 + 8;
}

int QtTextMetrics::needed(ControlKind kind, std::string_view text) const {
    QString q = withoutCr(std::string(text));
    QFontMetrics fm(font_);
    // Several lines: the widest.
    int width = 0;
    for (const QString& line : q.split(QLatin1Char('\n'))) {
        width = std::max(width, fm.horizontalAdvance(line));
    }
    switch (kind) {
        case ControlKind::Label:
        case ControlKind::Note:
            return width + 1;
        case ControlKind::Check:
            return width + checkChrome_;
        case ControlKind::Choice:
            return width + choiceChrome_;
        case ControlKind::Button:
            return std::max(buttonMinimum_, width + buttonChrome_);
        case ControlKind::Edit:
            return std::max(30, width + editChrome_);
        default:
            return 0;
    }
}

int QtTextMetrics::wrappedHeight(std::string_view text, int width) const {
    QFontMetrics fm(font_);
    return fm
        .boundingRect(QRect(0, 0, width, 100000), Qt::TextWordWrap, withoutCr(std::string(text)))
        .height();
}

PageWidget::PageWidget(Page& page, int pixelRatio, ActionHandler onAction, QWidget* parent)
    : QWidget(parent), page_(page), pixelRatio_(pixelRatio), onAction_(std::move(onAction)) {
    useWindowStyle();
    setFont(pageFont());
    page_.fitText(QtTextMetrics());
    build();
    sync();
    QSize size = contentSize();
    setMinimumSize(size);
    resize(size);
}

QSize PageWidget::contentSize() const {
    int bottom = 0;
    for (const Control& c : page_.controls()) {
        bottom = std::max(bottom, c.rect.y + c.rect.h);
    }
    // The pages fill the screen's width; their right margin holds a scroll bar when needed.
    return {kScreenWidth, bottom + 8};
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
                // A label too long for its row was given the height to wrap.
                label->setWordWrap(true);
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
        widget->setGeometry(c.rect.x, c.rect.y, c.rect.w, c.rect.h);
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
                    QPixmap pixmap = picturePixmap(c.text, widget->size() * pixelRatio_);
                    pixmap.setDevicePixelRatio(pixelRatio_);
                    label->setPixmap(pixmap);
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

OptionDialog::OptionDialog(std::unique_ptr<Page> page, int pixelRatio,
                           const ActionHandler& onAction, QWidget* parent)
    : QDialog(parent), page_(std::move(page)) {
    useWindowStyle();
    setWindowTitle(QString::fromStdString(page_->title()));
    setFont(pageFont());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 4);
    layout->setSpacing(4);
    // The page's own requests (a message, a folder) are carried out here; the rest goes on.
    auto dialogActions = [this, onAction](const Action& action) {
        if (!runDialogAction(this, *widget_, action) && onAction) {
            onAction(action);
        }
    };
    widget_ = new PageWidget(*page_, pixelRatio, dialogActions, nullptr);
    auto* scroll = new QScrollArea(this);
    scroll->setWidget(widget_);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    layout->addWidget(scroll, 1);
    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(8, 0, 4, 0);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QString footnote = QString::fromStdString(page_->footnote());
    if (!footnote.isEmpty()) {
        auto* line = new QLabel(footnote, this);
        line->setWordWrap(true);
        line->setObjectName(QStringLiteral("footnote"));
        // The line wraps in the room the buttons leave; the bar is as tall as its lines.
        buttons->ensurePolished();
        int width = kScreenWidth - 12 - bar->spacing() - buttons->sizeHint().width();
        line->setFixedWidth(width);
        line->setMinimumHeight(line->heightForWidth(width));
        bar->addWidget(line);
    }
    bar->addStretch(1);
    bar->addWidget(buttons);
    layout->addLayout(bar);
    // As tall as the page and the buttons, at most the screen; the page scrolls inside. The
    // buttons' height is known once the style has seen them.
    ensurePolished();
    const int barHeight = bar->sizeHint().height();
    const int pageHeight = widget_->contentSize().height();
    const int height = std::min(kScreenHeight, pageHeight + barHeight + 12);
    scroll->setMinimumSize(kScreenWidth, std::min(pageHeight, height - barHeight - 12));
    setFixedSize(kScreenWidth, height);
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
