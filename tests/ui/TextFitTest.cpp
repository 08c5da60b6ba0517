// Fitting a page's rows to its texts, with a font where every character is 6 units wide and a
// line 14 high: rows that fit stay, a row short of room moves its split, a row that cannot hold
// its texts puts the controls below the label, a long label wraps, and what lies below (frames
// included) moves down by as much.
#include <gtest/gtest.h>

#include <vector>

#include "ui/TextFit.h"

namespace vandora::ui {
namespace {

class SixWide final : public TextMetrics {
  public:
    int needed(ControlKind kind, std::string_view text) const override {
        int chrome = kind == ControlKind::Choice ? 24 : kind == ControlKind::Check ? 20 : 0;
        return static_cast<int>(text.size()) * 6 + chrome;
    }
    int wrappedHeight(std::string_view text, int width) const override {
        int perLine = std::max(1, width / 6);
        return 14 * ((static_cast<int>(text.size()) + perLine - 1) / perLine);
    }
};

Control label(std::string text, int y) {
    return {0, ControlKind::Label, std::move(text), {8, y, 148, 20}};
}
Control list(int id, std::vector<std::string> items, int y) {
    Control c{id, ControlKind::Choice, {}, {160, y, 152, 20}};
    c.items = std::move(items);
    return c;
}

TEST(TextFit, RowsThatFitStayWhereTheyAre) {
    std::vector<Control> controls{label("Scan mode:", 8), list(1, {"Auto off", "*Laser"}, 8)};
    std::vector<Control> before = controls;
    fitControls(controls, SixWide());
    for (std::size_t i = 0; i < controls.size(); ++i) {
        EXPECT_EQ(controls[i].rect.x, before[i].rect.x);
        EXPECT_EQ(controls[i].rect.w, before[i].rect.w);
        EXPECT_EQ(controls[i].rect.y, before[i].rect.y);
    }
}

TEST(TextFit, EveryTextFitsAndTheRowsBelowMove) {
    struct Case {
        const char* name;
        std::vector<Control> controls;
        int belowMovedBy;  // the last control, a check box in the next row
    };
    Control below{9, ControlKind::Check, "Full ASCII", {8, 32, 304, 20}};
    const Case cases[] = {
        // 26 characters of label and a short list: the split moves right.
        {"split moves", {label("Concatenation Redundancy:", 8), list(1, {"10"}, 8), below}, 0},
        // A 26-character entry: the list takes room from the label.
        {"list widens", {label("Gap:", 8), list(1, {"*Normal intercharacter gaps"}, 8), below}, 0},
        // Both long: the list goes below its label.
        {"list below",
         {label("Intercharacter gap size:", 8),
          list(1, {"*Normal intercharacter gaps", "Large intercharacter gaps"}, 8), below},
         24},
        // A label alone, too long for the line: it wraps onto a second line.
        {"label wraps", {label(std::string(60, 'x'), 8), below}, 14 * 2 - 20},
    };
    SixWide metrics;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Control> controls = c.controls;
        fitControls(controls, metrics);
        for (const Control& control : controls) {
            EXPECT_GE(control.rect.x, 8);
            EXPECT_LE(control.rect.x + control.rect.w, 312) << control.text;
            if (control.kind == ControlKind::Label) {
                // Wrapped where it must be.
                EXPECT_GE(control.rect.h, metrics.wrappedHeight(control.text, control.rect.w));
            } else {
                EXPECT_LE(neededWidth(control, metrics), control.rect.w) << control.text;
            }
        }
        EXPECT_EQ(controls.back().rect.y, 32 + c.belowMovedBy);
        // Nothing overlaps the row below.
        for (std::size_t i = 0; i + 1 < controls.size(); ++i) {
            EXPECT_LE(controls[i].rect.y + controls[i].rect.h, controls.back().rect.y);
        }
    }
}

TEST(TextFit, AFrameGrowsWithTheRowsInsideItAndKeepsItsTop) {
    std::vector<Control> controls{
        {1, ControlKind::Group, "Good read via buzzer", {4, 4, 312, 52}},
        label("Intercharacter gap size:", 8),
        list(2, {"*Normal intercharacter gaps"}, 8),
        {3, ControlKind::Check, "LED", {8, 32, 304, 20}},
        {4, ControlKind::Check, "After the frame", {8, 64, 304, 20}},
    };
    fitControls(controls, SixWide());
    EXPECT_EQ(controls[0].rect.y, 4);
    EXPECT_EQ(controls[0].rect.h, 52 + 24);
    EXPECT_EQ(controls[3].rect.y, 32 + 24);
    EXPECT_EQ(controls[4].rect.y, 64 + 24);
}

}  // namespace
}  // namespace vandora::ui
