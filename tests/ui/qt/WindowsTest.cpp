// The Qt windows over the simulated terminals: every page of every engine kind drawn, the main
// pages compared with their reference pictures, a page's OK reaching the engine and the INI file,
// and a trigger's decode reaching the General page.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QStyleOptionComboBox>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <cstdlib>
#include <set>
#include <vector>

#include "config/SettingAccess.h"
#include "config/SettingSections.h"
#include "ui/UiTerminal.h"
#include "ui/pages/FieldPage.h"
#include "ui/qt/MainWindow.h"
#include "ui/qt/Screenshots.h"

namespace vandora::ui::qt {
namespace {

using testing::UiTerminal;

const char* const kSpecs[] = {"model=1,barcode=2,rfid=6", "model=4,barcode=3,rfid=7",
                              "model=5,barcode=8,rfid=0", "model=2,barcode=4,rfid=5",
                              "model=5,barcode=9,rfid=0"};

class EveryKindDrawn : public ::testing::TestWithParam<const char*> {};

TEST_P(EveryKindDrawn, EveryTabAndPageIsDrawnOnceWithItsTitle) {
    UiTerminal t(GetParam());
    PageCatalog catalog(*t.service);
    std::vector<PagePicture> pictures = drawPages(*t.service, 1);
    ASSERT_EQ(pictures.size(), 3 + catalog.dialogPages().size());
    EXPECT_EQ(pictures[0].title, "General");
    EXPECT_EQ(pictures[1].title, "Symbologies");
    EXPECT_EQ(pictures[2].title, "About");
    std::set<std::string> names;
    for (const PagePicture& picture : pictures) {
        EXPECT_TRUE(names.insert(pictureName(picture.title)).second) << picture.title;
        EXPECT_GE(picture.image.width(), 200) << picture.title;
        EXPECT_GE(picture.image.height(), 40) << picture.title;
    }
    EXPECT_EQ(pictures[0].image.size(), QSize(320, 300));
}

INSTANTIATE_TEST_SUITE_P(Windows, EveryKindDrawn, ::testing::ValuesIn(kSpecs),
                         [](const auto& test) { return "kind" + std::to_string(test.index); });

// The pictures of --screenshots hold no page for a reader the terminal lacks: such a page would
// be drawn empty.
TEST(Screenshots, NoPageForAReaderTheTerminalLacks) {
    struct Case {
        const char* spec;
        std::set<std::string> absent;
        std::set<std::string> present;
    };
    const Case cases[] = {
        {"model=4,barcode=3,rfid=0",
         {"rfid-reader-settings", "mifare-keys"},
         {"barcode-reader-settings"}},
        {"model=1,barcode=0,rfid=6",
         {"barcode-reader-settings", "mifare-keys"},
         {"rfid-reader-settings"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.spec);
        UiTerminal t(c.spec);
        std::set<std::string> names;
        for (const PagePicture& picture : drawPages(*t.service, 1)) {
            names.insert(pictureName(picture.title));
        }
        for (const std::string& name : c.absent) {
            EXPECT_EQ(names.count(name), 0u) << name;
        }
        for (const std::string& name : c.present) {
            EXPECT_EQ(names.count(name), 1u) << name;
        }
    }
}

TEST(PictureNames, FollowTheTitle) {
    EXPECT_EQ(pictureName("General"), "general");
    EXPECT_EQ(pictureName("Barcode Reader Settings"), "barcode-reader-settings");
    EXPECT_EQ(pictureName("EAN-13/UPC-A"), "ean-13-upc-a");
    EXPECT_EQ(pictureName("Code 128"), "code-128");
    EXPECT_EQ(pictureName("I/F Pharma."), "i-f-pharma");
}

// Share of pixels that differ clearly; font rendering may move a few.
double differingShare(const QImage& a, const QImage& b) {
    QImage x = a.convertToFormat(QImage::Format_RGB32);
    QImage y = b.convertToFormat(QImage::Format_RGB32);
    long differing = 0;
    for (int row = 0; row < x.height(); ++row) {
        for (int col = 0; col < x.width(); ++col) {
            QRgb p = x.pixel(col, row);
            QRgb q = y.pixel(col, row);
            int d = std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q))});
            if (d > 64) {
                ++differing;
            }
        }
    }
    return static_cast<double>(differing) / (x.width() * x.height());
}

// Share of pixels of a that no pixel of b at most one pixel away matches: the type of a large
// picture shrunk lands a pixel aside here and there, a box or an arrow drawn at another size
// does not.
double differingShareNear(const QImage& a, const QImage& b) {
    QImage x = a.convertToFormat(QImage::Format_RGB32);
    QImage y = b.convertToFormat(QImage::Format_RGB32);
    long differing = 0;
    for (int row = 0; row < x.height(); ++row) {
        for (int col = 0; col < x.width(); ++col) {
            QRgb p = x.pixel(col, row);
            bool matched = false;
            for (int dy = -1; dy <= 1 && !matched; ++dy) {
                for (int dx = -1; dx <= 1 && !matched; ++dx) {
                    int r = row + dy;
                    int c = col + dx;
                    if (r < 0 || c < 0 || r >= y.height() || c >= y.width()) {
                        continue;
                    }
                    QRgb q = y.pixel(c, r);
                    matched =
                        std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                  std::abs(qBlue(p) - qBlue(q))}) <= 64;
                }
            }
            differing += matched ? 0 : 1;
        }
    }
    return static_cast<double>(differing) / (x.width() * x.height());
}

// Every text of a widget that the font cuts off: a label wider (or, wrapped, taller) than its
// place, a check box or button narrower than its text needs, a list entry wider than the list's
// field. Empty when every text shows whole.
std::vector<std::string> cutTexts(QWidget& root) {
    std::vector<std::string> cut;
    auto name = [](const QWidget* w, const QString& text) {
        return w->objectName().toStdString() + " \"" + text.toStdString() + "\"";
    };
    for (QLabel* label : root.findChildren<QLabel*>()) {
        if (label->text().isEmpty() || !label->pixmap().isNull()) {
            continue;
        }
        QRect needs = label->fontMetrics().boundingRect(
            QRect(0, 0, label->width(), 100000),
            label->wordWrap() ? Qt::TextWordWrap : Qt::TextSingleLine, label->text());
        if (needs.width() > label->width() || needs.height() > label->height()) {
            cut.push_back(name(label, label->text()));
        }
    }
    for (QCheckBox* box : root.findChildren<QCheckBox*>()) {
        if (box->sizeHint().width() > box->width()) {
            cut.push_back(name(box, box->text()));
        }
    }
    for (QPushButton* button : root.findChildren<QPushButton*>()) {
        int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin);
        int icon = button->icon().isNull() ? 0 : button->iconSize().width() + 4;
        if (button->fontMetrics().horizontalAdvance(button->text()) + 2 * margin + icon >
            button->width()) {
            cut.push_back(name(button, button->text()));
        }
    }
    for (QComboBox* list : root.findChildren<QComboBox*>()) {
        QStyleOptionComboBox option;
        option.initFrom(list);
        option.editable = false;
        QRect field = list->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                    QStyle::SC_ComboBoxEditField, list);
        for (int i = 0; i < list->count(); ++i) {
            if (list->fontMetrics().horizontalAdvance(list->itemText(i)) > field.width()) {
                cut.push_back(name(list, list->itemText(i)));
            }
        }
    }
    return cut;
}

// Every page of every terminal kind, at both scales: no text cut off, the page within the
// screen's width, and the dialog with its OK and Cancel within the screen.
TEST_P(EveryKindDrawn, EveryTextFitsAndOkAndCancelLieOnTheScreen) {
    UiTerminal t(GetParam());
    for (int scale : {1, 2}) {
        SCOPED_TRACE(scale);
        MainWindow window(scale);
        window.attach(*t.service);
        for (int tab = 0; tab < 3; ++tab) {
            for (const std::string& text : cutTexts(*window.tabPage(tab))) {
                ADD_FAILURE() << "tab " << tab << ": " << text;
            }
        }
        PageCatalog catalog(*t.service);
        for (const Action& open : catalog.dialogPages()) {
            std::unique_ptr<OptionDialog> dialog = window.makeDialog(open);
            ASSERT_NE(dialog, nullptr);
            // Shown, so that every layout inside has placed its widgets.
            dialog->show();
            QApplication::processEvents();
            const std::string title = dialog->windowTitle().toStdString();
            for (const std::string& text : cutTexts(*dialog)) {
                ADD_FAILURE() << title << ": " << text;
            }
            const QRect screen(0, 0, 320, 300);
            EXPECT_TRUE(screen.contains(dialog->rect())) << title;
            auto* buttons = dialog->findChild<QDialogButtonBox*>();
            for (auto which : {QDialogButtonBox::Ok, QDialogButtonBox::Cancel}) {
                QPushButton* button = buttons->button(which);
                QRect at(button->mapTo(dialog.get(), QPoint(0, 0)), button->size());
                EXPECT_TRUE(screen.contains(at))
                    << title << " button " << which << " at " << at.x() << "," << at.y() << " "
                    << at.width() << "x" << at.height() << " dialog " << dialog->height();
            }
            QWidget* page = dialog->findChild<QScrollArea*>()->widget();
            for (QWidget* control : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                EXPECT_LE(control->geometry().right(), 320)
                    << title << " " << control->objectName().toStdString();
            }
            EXPECT_EQ(drawWidget(*dialog, scale).size(), dialog->size() * scale) << title;
        }
        window.detach();
    }
}

// The large layout is the small one at twice the size: every picture twice as wide and high, and
// shrunk back to the small size it matches the small picture but for a few pixels of type.
TEST_P(EveryKindDrawn, TheLargePictureIsTheSmallOneAtTwiceTheSize) {
    UiTerminal t(GetParam());
    std::vector<PagePicture> small = drawPages(*t.service, 1);
    std::vector<PagePicture> large = drawPages(*t.service, 2);
    ASSERT_EQ(small.size(), large.size());
    for (std::size_t i = 0; i < small.size(); ++i) {
        SCOPED_TRACE(small[i].title);
        ASSERT_EQ(large[i].title, small[i].title);
        ASSERT_EQ(large[i].image.size(), small[i].image.size() * 2);
        QImage shrunk = large[i].image.scaled(small[i].image.size(), Qt::IgnoreAspectRatio,
                                              Qt::SmoothTransformation);
        EXPECT_LT(differingShareNear(shrunk, small[i].image), 0.01);
    }
}

// The reference pictures are in tests/ui/qt/reference; VANDORA_UPDATE_REFERENCES=1 writes them
// anew from this build (look at them before committing).
TEST(ReferencePictures, MainPagesLookAsTheReferencesAtBothScales) {
    const QString folder = QStringLiteral(VANDORA_SOURCE_DIR "/tests/ui/qt/reference/");
    const char* update = std::getenv("VANDORA_UPDATE_REFERENCES");
    bool updating = update != nullptr && std::string(update) == "1";
    UiTerminal t("model=4,barcode=3,rfid=7");
    for (int scale : {1, 2}) {
        std::vector<PagePicture> pictures = drawPages(*t.service, scale);
        for (const PagePicture& picture : pictures) {
            QString file = folder + QString::fromStdString(pictureName(picture.title)) +
                           QStringLiteral("-%1.png").arg(scale);
            bool main = picture.title == "General" || picture.title == "Symbologies" ||
                        picture.title == "About" || picture.title == "Code 128";
            if (!main) {
                continue;
            }
            if (updating) {
                ASSERT_TRUE(picture.image.save(file, "PNG")) << file.toStdString();
                continue;
            }
            QImage reference(file);
            ASSERT_FALSE(reference.isNull()) << "missing " << file.toStdString();
            ASSERT_EQ(reference.size(), picture.image.size()) << picture.title;
            EXPECT_LT(differingShare(reference, picture.image), 0.03)
                << picture.title << " at scale " << scale
                << " differs; if on purpose, run with VANDORA_UPDATE_REFERENCES=1";
        }
    }
}

std::int32_t engineValue(ReaderService& service, const SectionDef& section, const char* key) {
    IniStore values;
    SettingsContext context = service.settingsContext();
    EXPECT_TRUE(readCurrent(context, section, values));
    return sectionInt(values, section, key, -1);
}

// The Code 39 page of a CCD/Laser terminal opened from its window (the third line of the list).
class Code39Dialog : public ::testing::Test {
  protected:
    void SetUp() override {
        window.attach(*t.service);
        before = engineValue(*t.service, kCode39Ccd, "fullASCII");
        dialog = window.makeDialog({Action::Kind::OpenSymbologyPage, 2, {}});
        ASSERT_NE(dialog, nullptr);
        ASSERT_EQ(dialog->windowTitle(), QStringLiteral("Code 39"));
    }
    void TearDown() override { window.detach(); }
    void press(QDialogButtonBox::StandardButton button) {
        dialog->findChild<QDialogButtonBox*>()->button(button)->click();
    }

    UiTerminal t{"model=1,barcode=2,rfid=0"};
    MainWindow window{1};
    std::int32_t before = 0;
    std::unique_ptr<OptionDialog> dialog;
};

TEST_F(Code39Dialog, OkReachesTheEngineAndTheIniFile) {
    QCheckBox* fullAscii = nullptr;
    for (QCheckBox* box : dialog->findChildren<QCheckBox*>()) {
        if (box->text() == QStringLiteral("Full ASCII")) {
            fullAscii = box;
        }
    }
    ASSERT_NE(fullAscii, nullptr);
    fullAscii->click();
    press(QDialogButtonBox::Ok);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(engineValue(*t.service, kCode39Ccd, "fullASCII"), before == 0 ? 1 : 0);

    t.service->quitNow();
    IniStore file;
    ASSERT_NE(file.load(t.iniPath), 0);
    std::int32_t saved = -1;
    file.getInt(file.findSection("Code39 CCD/Laser"), "fullASCII", saved);
    EXPECT_EQ(saved, before == 0 ? 1 : 0);
}

TEST_F(Code39Dialog, CancelLeavesTheEngineAlone) {
    for (QCheckBox* box : dialog->findChildren<QCheckBox*>()) {
        box->click();
    }
    press(QDialogButtonBox::Cancel);
    EXPECT_EQ(engineValue(*t.service, kCode39Ccd, "fullASCII"), before);
}

// The key boxes of the RFID and Mifare Keys pages are drawn as dots (and cannot be copied out)
// until the page's Show box is clicked.
TEST(KeyBoxes, DrawnMaskedUntilShowIsClicked) {
    UiTerminal t("model=4,barcode=3,rfid=7");
    MainWindow window{1};
    window.attach(*t.service);
    struct Case {
        int page;
        std::vector<int> keys;
    };
    for (const Case& c : {Case{4, {124}}, Case{5, {124, 114, 119}}}) {
        SCOPED_TRACE(c.page);
        std::unique_ptr<OptionDialog> dialog =
            window.makeDialog({Action::Kind::OpenReaderPage, c.page, {}});
        ASSERT_NE(dialog, nullptr);
        auto echoOf = [&dialog](int id) {
            auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("control%1").arg(id));
            return edit != nullptr ? edit->echoMode() : QLineEdit::NoEcho;
        };
        for (int id : c.keys) {
            EXPECT_EQ(echoOf(id), QLineEdit::Password) << id;
        }
        auto* show = dialog->findChild<QCheckBox*>(QStringLiteral("control%1").arg(kShowKeysId));
        ASSERT_NE(show, nullptr);
        EXPECT_EQ(show->text(), QStringLiteral("Show"));
        show->click();
        for (int id : c.keys) {
            EXPECT_EQ(echoOf(id), QLineEdit::Normal) << id;
        }
    }
    window.detach();
}

// Not a "Threaded" suite: the sanitizer for threads cannot see the toolkit's own locks.
TEST(MainWindowService, ATriggerPutsTheDecodeInTheGeneralPagesStatusText) {
    MainWindow window(1);
    UiTerminal t("model=4,barcode=3,rfid=0", {}, &window);
    window.attach(*t.service);
    auto* status = window.tabPage(0)->findChild<QPlainTextEdit*>(QStringLiteral("control94"));
    ASSERT_NE(status, nullptr);
    t.service->loop().post({Msg::User1Down, 0, 0});
    QElapsedTimer waited;
    waited.start();
    // A decode shows as "type : ...", "code : ...".
    while (!status->toPlainText().contains(QStringLiteral("code : VANDORA")) &&
           waited.elapsed() < 20000) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    t.service->loop().post({Msg::User1Up, 0, 0});
    QApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_TRUE(status->toPlainText().contains(QStringLiteral("code : VANDORA")))
        << status->toPlainText().toStdString();
    window.detach();
}

// The offscreen platform has no tray: Enter minimises the window instead of hiding it, so that
// the desktop can bring it back; the bus's Show brings it back too.
TEST(MainWindow, EnterWithoutATrayMinimisesTheWindowAndShowBringsItBack) {
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    MainWindow window(1);
    UiTerminal t("model=1,barcode=2,rfid=0", {}, &window);
    window.attach(*t.service);
    QApplication::processEvents();
    ASSERT_TRUE(window.isVisible()) << "a fresh settings file shows the window";
    QWidget* focus = QApplication::focusWidget();
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(focus != nullptr ? focus : &window, &enter);
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(window.isMinimized());
    // The bus's Show reaches the service as a message.
    t.service->handle({Msg::Show, 0, 0});
    QApplication::processEvents();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());
    window.detach();
}

// What "*" marks is said beside OK and Cancel, on the pages whose lists carry it.
TEST(OptionDialogs, SayWhatTheStarMarksWhereAListCarriesIt) {
    UiTerminal t("model=4,barcode=3,rfid=7");
    MainWindow window{1};
    window.attach(*t.service);
    struct Case {
        Action open;
        bool marked;
    };
    const Case cases[] = {{{Action::Kind::OpenReaderPage, 1, {}}, true},      // "*1", "*Far focus"
                          {{Action::Kind::OpenReaderPage, 3, {}}, false},     // "Data output"
                          {{Action::Kind::OpenSymbologyPage, 2, {}}, true}};  // Code 39
    for (const Case& c : cases) {
        std::unique_ptr<OptionDialog> dialog = window.makeDialog(c.open);
        ASSERT_NE(dialog, nullptr);
        auto* line = dialog->findChild<QLabel*>(QStringLiteral("footnote"));
        EXPECT_EQ(line != nullptr, c.marked) << dialog->windowTitle().toStdString();
        if (line != nullptr) {
            EXPECT_EQ(line->text(), QStringLiteral("* marks the factory default"));
        }
    }
    window.detach();
}

}  // namespace
}  // namespace vandora::ui::qt
