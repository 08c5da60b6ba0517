// The Qt windows over the simulated terminals: every page of every engine kind drawn, the main
// pages compared with their reference pictures, a page's OK reaching the engine and the INI file,
// and a trigger's decode reaching the General page.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <cstdlib>
#include <set>
#include <vector>

#include "../ui/UiTerminal.h"
#include "config/SettingAccess.h"
#include "config/SettingSections.h"
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

// The reference pictures are in tests/windows/reference; VANDORA_UPDATE_REFERENCES=1 writes them
// anew from this build (look at them before committing).
TEST(ReferencePictures, MainPagesLookAsTheReferencesAtBothScales) {
    const QString folder = QStringLiteral(VANDORA_SOURCE_DIR "/tests/windows/reference/");
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

TEST(MainWindow, EnterHidesTheWindowAndShowBringsItBack) {
    MainWindow window(1);
    UiTerminal t("model=1,barcode=2,rfid=0", {}, &window);
    window.attach(*t.service);
    QApplication::processEvents();
    ASSERT_TRUE(window.isVisible()) << "a fresh settings file shows the window";
    QWidget* focus = QApplication::focusWidget();
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(focus != nullptr ? focus : &window, &enter);
    EXPECT_FALSE(window.isVisible());
    // The bus's Show reaches the service as a message.
    t.service->handle({Msg::Show, 0, 0});
    QApplication::processEvents();
    EXPECT_TRUE(window.isVisible());
    window.detach();
}

}  // namespace
}  // namespace vandora::ui::qt
