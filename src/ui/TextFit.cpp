#include "ui/TextFit.h"

#include <algorithm>
#include <map>
#include <numeric>

namespace vandora::ui {

namespace {

constexpr int kRowStep = 24;        // a row's height and the space below it
constexpr int kControlHeight = 20;  // one line of controls
constexpr int kIndent = 16;         // controls moved below their label

bool rigid(ControlKind kind) {
    return kind == ControlKind::Spin || kind == ControlKind::Picture ||
           kind == ControlKind::MultiEdit || kind == ControlKind::Group;
}

bool wraps(ControlKind kind) {
    return kind == ControlKind::Label || kind == ControlKind::Note;
}

struct Placing {
    int origY = 0;
    int down = 0;  // moved below its row
};

// Places the controls of one line side by side from x0, keeping their gaps, within end; true when
// every need fits.
bool spread(std::vector<Control*>& line, const std::vector<int>& need, int x0, int end) {
    std::vector<int> gaps(line.size(), 0);
    for (std::size_t i = 0; i + 1 < line.size(); ++i) {
        gaps[i] = std::max(0, line[i + 1]->rect.x - (line[i]->rect.x + line[i]->rect.w));
    }
    int gapSum = std::accumulate(gaps.begin(), gaps.end(), 0);
    int needSum = std::accumulate(need.begin(), need.end(), 0);
    if (needSum + gapSum > end - x0) {
        return false;
    }
    std::vector<int> widths(line.size());
    for (std::size_t i = 0; i < line.size(); ++i) {
        widths[i] = std::max(line[i]->rect.w, need[i]);
    }
    int over = std::accumulate(widths.begin(), widths.end(), 0) + gapSum - (end - x0);
    while (over > 0) {
        std::size_t most = 0;
        int slack = 0;
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (widths[i] - need[i] > slack) {
                slack = widths[i] - need[i];
                most = i;
            }
        }
        int take = std::min(slack, over);
        widths[most] -= take;
        over -= take;
    }
    int x = x0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        line[i]->rect.x = x;
        line[i]->rect.w = widths[i];
        x += widths[i] + gaps[i];
    }
    return true;
}

std::vector<int> needsOf(const std::vector<Control*>& line, const TextMetrics& metrics) {
    std::vector<int> need;
    need.reserve(line.size());
    for (const Control* c : line) {
        need.push_back(rigid(c->kind) ? c->rect.w : neededWidth(*c, metrics));
    }
    return need;
}

// A label or note alone on its line: as wide as the line allows, and as tall as its wrapped
// text. Returns how much taller it became.
int wrapAlone(Control& c, const TextMetrics& metrics, int end) {
    if (neededWidth(c, metrics) > c.rect.w) {
        c.rect.w = std::max(c.rect.w, end - c.rect.x);
    }
    int old = c.rect.h;
    if (c.kind == ControlKind::Note || neededWidth(c, metrics) > c.rect.w) {
        c.rect.h = std::max(kControlHeight, metrics.wrappedHeight(c.text, c.rect.w));
    }
    return c.rect.h - old;
}

}  // namespace

int neededWidth(const Control& control, const TextMetrics& metrics) {
    switch (control.kind) {
        case ControlKind::Label:
        case ControlKind::Note:
        case ControlKind::Check:
        case ControlKind::Button:
        case ControlKind::Edit:
            return metrics.needed(control.kind, control.text);
        case ControlKind::Choice: {
            int widest = metrics.needed(ControlKind::Choice, "");
            for (const std::string& item : control.items) {
                widest = std::max(widest, metrics.needed(ControlKind::Choice, item));
            }
            return widest;
        }
        case ControlKind::Group:
        case ControlKind::MultiEdit:
        case ControlKind::Spin:
        case ControlKind::Picture:
            return 0;
    }
    return 0;
}

void fitControls(std::vector<Control>& controls, const TextMetrics& metrics, FitBounds bounds) {
    std::vector<Placing> placing(controls.size());
    // Rows by their top, in order down the page; frames follow the rows they hold.
    std::map<int, std::vector<std::size_t>> rows;
    for (std::size_t i = 0; i < controls.size(); ++i) {
        placing[i].origY = controls[i].rect.y;
        if (controls[i].kind != ControlKind::Group) {
            rows[controls[i].rect.y].push_back(i);
        }
    }
    std::map<int, int> extraAt;  // row top -> how much taller the row became
    for (auto& [top, members] : rows) {
        std::vector<Control*> line;
        for (std::size_t i : members) {
            line.push_back(&controls[i]);
        }
        std::stable_sort(line.begin(), line.end(),
                         [](const Control* a, const Control* b) { return a->rect.x < b->rect.x; });
        std::vector<int> need = needsOf(line, metrics);
        bool fits = true;
        for (std::size_t i = 0; i < line.size(); ++i) {
            fits = fits && need[i] <= line[i]->rect.w;
        }
        int x0 = line.front()->rect.x;
        int end = std::max(bounds.right, line.back()->rect.x + line.back()->rect.w);
        int extra = 0;
        if (line.size() == 1 && wraps(line.front()->kind)) {
            extra = wrapAlone(*line.front(), metrics, end);
        } else if (!fits && !spread(line, need, x0, end)) {
            if (line.size() > 1 && wraps(line.front()->kind)) {
                // The label takes the whole line, its controls the next one.
                Control& label = *line.front();
                label.rect.w = bounds.right - label.rect.x;
                extra = wrapAlone(label, metrics, bounds.right) + kRowStep;
                std::vector<Control*> rest(line.begin() + 1, line.end());
                std::vector<int> restNeed(need.begin() + 1, need.end());
                int shiftLeft = rest.front()->rect.x - (bounds.left + kIndent);
                for (Control* c : rest) {
                    c->rect.x -= shiftLeft;
                    placing[static_cast<std::size_t>(c - controls.data())].down =
                        label.rect.h - kControlHeight + kRowStep;
                }
                spread(rest, restNeed, bounds.left + kIndent, bounds.right);
            } else {
                for (Control* c : line) {
                    if (wraps(c->kind)) {
                        extra = std::max(extra, wrapAlone(*c, metrics, c->rect.x + c->rect.w));
                    }
                }
            }
        }
        if (extra != 0) {
            extraAt[top] = extra;
        }
    }
    auto shiftBefore = [&extraAt](int y) {
        int shift = 0;
        for (auto [top, extra] : extraAt) {
            if (top < y) {
                shift += extra;
            }
        }
        return shift;
    };
    for (std::size_t i = 0; i < controls.size(); ++i) {
        Rect& r = controls[i].rect;
        int y = placing[i].origY;
        if (controls[i].kind == ControlKind::Group) {
            int bottom = y + r.h;
            r.y = y + shiftBefore(y);
            r.h = bottom + shiftBefore(bottom) - r.y;
        } else {
            r.y = y + placing[i].down + shiftBefore(y);
        }
    }
}

}  // namespace vandora::ui
