#include "ui/PageModel.h"

#include <utility>

#include "ui/TextFit.h"

namespace vandora::ui {

const Control* Page::find(int id) const {
    for (const Control& control : controls_) {
        if (control.id == id && id != 0) {
            return &control;
        }
    }
    return nullptr;
}

void Page::fitText(const TextMetrics& metrics) {
    fitControls(controls_, metrics);
}

std::string Page::footnote() const {
    for (const Control& control : controls_) {
        for (const std::string& item : control.items) {
            if (item.starts_with('*')) {
                return "* marks the factory default";
            }
        }
    }
    return {};
}

Control* Page::findMutable(int id) {
    for (Control& control : controls_) {
        if (control.id == id && id != 0) {
            return &control;
        }
    }
    return nullptr;
}

Control& Page::add(Control control) {
    if (control.secret) {
        const Control* show = find(kShowKeysId);
        control.masked = show == nullptr || show->value == 0;
    }
    controls_.push_back(std::move(control));
    return controls_.back();
}

Rect Page::besideShowKeys(Rect edit) {
    constexpr int kBoxWidth = 56;
    constexpr int kGap = 4;
    if (find(kShowKeysId) == nullptr) {
        edit.w -= kBoxWidth + kGap;
        add({kShowKeysId,
             ControlKind::Check,
             "Show",
             {edit.x + edit.w + kGap, edit.y, kBoxWidth, edit.h}});
    }
    return edit;
}

Action Page::setChecked(int id, bool checked) {
    Control* control = findMutable(id);
    if (control == nullptr || control->kind != ControlKind::Check || !control->enabled) {
        return {};
    }
    control->value = checked ? 1 : 0;
    if (id == kShowKeysId) {
        for (Control& key : controls_) {
            key.masked = key.secret && !checked;
        }
    }
    return changed(*control);
}

Action Page::choose(int id, int index) {
    Control* control = findMutable(id);
    if (control == nullptr || control->kind != ControlKind::Choice || !control->enabled ||
        index < 0 || static_cast<std::size_t>(index) >= control->items.size()) {
        return {};
    }
    auto at = static_cast<std::size_t>(index);
    if (at < control->itemDisabled.size() && control->itemDisabled[at]) {
        return {};
    }
    control->value = index;
    return changed(*control);
}

Action Page::typeText(int id, std::string_view text) {
    Control* control = findMutable(id);
    if (control == nullptr || !control->enabled ||
        (control->kind != ControlKind::Edit && control->kind != ControlKind::MultiEdit)) {
        return {};
    }
    control->text = std::string(text);
    if (control->maxLength > 0 &&
        control->text.size() > static_cast<std::size_t>(control->maxLength)) {
        control->text.resize(static_cast<std::size_t>(control->maxLength));
    }
    return changed(*control);
}

Action Page::press(int id) {
    Control* control = findMutable(id);
    if (control == nullptr || control->kind != ControlKind::Button || !control->enabled) {
        return {};
    }
    return pressed(*control);
}

Action Page::step(int id, int delta) {
    Control* control = findMutable(id);
    if (control == nullptr || control->kind != ControlKind::Spin || !control->enabled) {
        return {};
    }
    return stepped(*control, delta);
}

}  // namespace vandora::ui
