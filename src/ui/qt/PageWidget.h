// PageWidget: draws one toolkit-free page with Qt widgets, placed at the page's layout units
// times the screen scale, and hands the user's input back to the page. After each input every
// widget is drawn again from the page, so corrections and enable changes show at once.
#pragma once

#include <QDialog>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "ui/PageModel.h"
#include "ui/TextFit.h"

namespace vandora::ui::qt {

using ActionHandler = std::function<void(const Action&)>;

// The pages are laid out in units of the 320 x 300 screen, one unit a pixel of the small
// layout. The large layout draws everything (texts, boxes, arrows, margins, icons) twice as large
// through the device pixel ratio, so that its picture is the small one at twice the size.
inline constexpr int kScreenWidth = 320;
inline constexpr int kScreenHeight = 300;

// The font every page uses: a fixed pixel size, so that pictures of the pages look alike on
// every display.
QFont pageFont();

// The look every window has, live or drawn into pictures: one style, with icons on the dialog
// buttons, whatever the desktop's theme. Installed once for the application.
void useWindowStyle();

// How wide texts are in the page font and the window style, for fitting a page's rows.
class QtTextMetrics final : public TextMetrics {
  public:
    QtTextMetrics();
    int needed(ControlKind kind, std::string_view text) const override;
    int wrappedHeight(std::string_view text, int width) const override;

  private:
    QFont font_;
    int checkChrome_ = 0;   // a check box's box and spacing
    int choiceChrome_ = 0;  // a list's frame and arrow
    int buttonChrome_ = 0;  // a button's frame and margins
    int buttonMinimum_ = 0;
    int editChrome_ = 0;
};

class PageWidget final : public QWidget {
  public:
    // pixelRatio: how many device pixels a unit has where the page is drawn (pictures are made
    // that sharp).
    PageWidget(Page& page, int pixelRatio, ActionHandler onAction, QWidget* parent = nullptr);

    Page& page() { return page_; }
    // Draws every control again from the page.
    void sync();
    // The size the controls need.
    QSize contentSize() const;

  private:
    void build();
    void handle(const Action& action);

    Page& page_;
    int pixelRatio_;
    ActionHandler onAction_;
    std::vector<QWidget*> widgets_;  // one per control, in the page's order
    bool syncing_ = false;
};

// The modal dialog that shows one dialog page with OK and Cancel. OK stores through the page;
// a message the page returns is shown and the dialog stays open. The dialog never outgrows the
// screen: a taller page scrolls above the buttons, which stay at the bottom, beside the line
// that says what "*" marks.
class OptionDialog final : public QDialog {
  public:
    OptionDialog(std::unique_ptr<Page> page, int pixelRatio, const ActionHandler& onAction,
                 QWidget* parent = nullptr);

  private:
    std::unique_ptr<Page> page_;
    PageWidget* widget_ = nullptr;
};

// Carries out what a page asks that only the window can do: a message box, a folder chooser.
// Returns true when it handled the action.
bool runDialogAction(QWidget* owner, PageWidget& widget, const Action& action);

}  // namespace vandora::ui::qt
