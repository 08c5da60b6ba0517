// TextFit: lays a page's rows out again so that every text shows whole in the font the window
// draws with. The pages place their controls in fixed layout units; only the toolkit knows how
// wide a text is, so it hands its measures over and the rows are fitted from them:
// - a row whose controls lack room takes it from the free space at its right end and from the
//   slack of its other controls (the split between a label and its list moves);
// - a row that cannot hold its texts at all puts the label on a line of its own and the
//   controls on the next line;
// - a label or note that is still too wide wraps, and the rows below move down.
// Rows that fit keep their places, so pages keep their columns wherever the texts allow.
#pragma once

#include <string_view>
#include <vector>

#include "ui/PageModel.h"

namespace vandora::ui {

class TextMetrics {
  public:
    virtual ~TextMetrics() = default;
    // The width, in layout units, that a control of this kind needs to show text whole: its
    // frame, check box or arrow included. For a list, text is one entry.
    virtual int needed(ControlKind kind, std::string_view text) const = 0;
    // The height a label needs to hold text wrapped at width.
    virtual int wrappedHeight(std::string_view text, int width) const = 0;
};

// The width a control needs for its text or, for a list, its widest entry; 0 for controls whose
// size is their own (spin buttons, pictures, multi-line edits, frames).
int neededWidth(const Control& control, const TextMetrics& metrics);

// The layout's edges: controls stay between left and right.
struct FitBounds {
    int left = 8;
    int right = 312;
};

// Fits every row of controls to its texts (see above). Controls keep their order, identifiers
// and values; only places and sizes change.
void fitControls(std::vector<Control>& controls, const TextMetrics& metrics, FitBounds bounds = {});

}  // namespace vandora::ui
