// PageModel: the settings windows' pages without a toolkit.
//
// A page is a list of controls, each with its identifier, kind, text, place (in layout units of
// the 320 x 300 screen; the windows multiply by the screen scale), choice entries and current
// value. The page's logic (what a control shows, which controls are enabled, what OK stores and
// sends) lives in the Page subclasses; a toolkit only draws the controls, passes the user's input
// to the page and draws the controls again from the page afterwards. Tests drive pages directly.
//
// Texts are UTF-8.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vandora::ui {

class TextMetrics;

enum class ControlKind : std::uint8_t {
    Label,      // static text
    Note,       // static text that explains the control above it
    Choice,     // drop-down list; value is the selected index (-1: none)
    Check,      // check box; value 0 or 1
    Group,      // group frame around the controls inside its rectangle
    Edit,       // single-line edit; text is its content, maxLength limits it (0: no limit)
    MultiEdit,  // multi-line edit
    Spin,       // arrows that step the edit named by buddy
    Button,     // push button
    Picture,    // the General page's picture of the last capture (text: the file, may be empty)
};

struct Rect {
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
};

struct Control {
    Control() = default;
    Control(int id_, ControlKind kind_, std::string text_, Rect rect_)
        : id(id_), kind(kind_), text(std::move(text_)), rect(rect_) {}

    int id = 0;  // the control's identifier; 0 for controls nobody addresses
    ControlKind kind = ControlKind::Label;
    std::string text;  // label, check box and button text; edit content
    Rect rect;
    std::vector<std::string> items;  // choice entries in display order, "*" marks included
    // Choice: entries that cannot be chosen (headings inside a list); empty: all can.
    std::vector<bool> itemDisabled;
    int value = 0;  // choice index or check state
    bool enabled = true;
    bool visible = true;
    int maxLength = 0;      // edits
    int buddy = 0;          // spin: the edit it steps
    bool readOnly = false;  // edits that only show text
    // Edits holding a key: masked (drawn as dots; the text is still the key) until the page's
    // "Show" box is checked, and again when the page opens the next time.
    bool secret = false;
    bool masked = false;
};

// The "Show" check box of a page with key edits.
inline constexpr int kShowKeysId = 125;

// What the window must do after an input: nothing, or open another page or dialog. The toolkit
// carries it out and, where a result comes back (a chosen folder), hands it to the page.
struct Action {
    enum class Kind : std::uint8_t {
        None,
        OpenReaderPage,     // arg: reader page 1 to 5
        OpenSymbologyPage,  // arg: symbology index of the current engine kind
        ChooseFolder,       // the page then gets folderChosen()
        Message,            // a box with text and caption "Warning"
        Close,              // the dialog closes (after OK or Cancel)
        Refresh,            // settings other pages and the tray menu show changed: load them again
    };
    Kind kind = Kind::None;
    int arg = 0;
    std::string text;
};

class Page {
  public:
    virtual ~Page() = default;

    const std::string& title() const { return title_; }
    std::span<const Control> controls() const { return controls_; }
    const Control* find(int id) const;

    // Lays the rows out again so that every text fits its control in the window's font (see
    // TextFit.h); the window calls it once before drawing the page.
    void fitText(const TextMetrics& metrics);
    // The line the dialog shows beside OK and Cancel: what the "*" before a list entry means,
    // on pages that have such entries; empty otherwise.
    std::string footnote() const;

    // The user's input. Each returns what the window must do next; an identifier the page does
    // not have, or a control of another kind, is ignored (Action::None).
    Action setChecked(int id, bool checked);
    Action choose(int id, int index);
    // Text typed into an edit; the page may correct it (limits), so draw it again from find().
    Action typeText(int id, std::string_view text);
    Action press(int id);
    // A spin button's arrow: +1 up, -1 down.
    Action step(int id, int delta);
    virtual void folderChosen(const std::string& /*path*/) {}
    // Loads every control again from the settings, after a change made elsewhere (the tray
    // menu's reader switches, "Restore Defaults").
    virtual void refresh() {}

    // OK of a dialog page: stores and sends the values; Action::Close, or a Message when the
    // page refuses. Tab pages (General, Symbologies, About) act on each input instead.
    virtual Action accept() { return {Action::Kind::Close, 0, {}}; }

  protected:
    explicit Page(std::string title) : title_(std::move(title)) {}

    // A secret control starts masked unless the page's "Show" box is checked.
    Control& add(Control control);
    Control* findMutable(int id);
    // Adds the page's "Show" box at the right end of a key edit's place, which it narrows; a
    // page has one box, added with its first key edit. Returns where the edit goes.
    Rect besideShowKeys(Rect edit);

    // Called after the control's value or text changed through the user's input; the default
    // does nothing.
    virtual Action changed(Control& /*control*/) { return {}; }
    virtual Action pressed(Control& /*control*/) { return {}; }
    virtual Action stepped(Control& /*spin*/, int /*delta*/) { return {}; }

  private:
    std::string title_;
    std::vector<Control> controls_;
};

}  // namespace vandora::ui
