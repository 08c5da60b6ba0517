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

namespace vandora::ui::qt {

using ActionHandler = std::function<void(const Action&)>;

// The font every page uses: fixed pixel sizes, so that pictures of the pages look alike on every
// display.
QFont pageFont(int scale);

class PageWidget final : public QWidget {
  public:
    PageWidget(Page& page, int scale, ActionHandler onAction, QWidget* parent = nullptr);

    Page& page() { return page_; }
    // Draws every control again from the page.
    void sync();
    // The size the controls need.
    QSize contentSize() const;

  private:
    void build();
    void handle(const Action& action);

    Page& page_;
    int scale_;
    ActionHandler onAction_;
    std::vector<QWidget*> widgets_;  // one per control, in the page's order
    bool syncing_ = false;
};

// The modal dialog that shows one dialog page with OK and Cancel. OK stores through the page;
// a message the page returns is shown and the dialog stays open.
class OptionDialog final : public QDialog {
  public:
    OptionDialog(std::unique_ptr<Page> page, int scale, const ActionHandler& onAction,
                 QWidget* parent = nullptr);

  private:
    std::unique_ptr<Page> page_;
    PageWidget* widget_ = nullptr;
};

// Carries out what a page asks that only the window can do: a message box, a folder chooser.
// Returns true when it handled the action.
bool runDialogAction(QWidget* owner, PageWidget& widget, const Action& action);

}  // namespace vandora::ui::qt
