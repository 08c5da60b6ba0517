#include "ui/pages/FieldPage.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <utility>

#include "common/Utf.h"
#include "config/SettingAccess.h"
#include "config/SettingLimits.h"
#include "reader/TerminalModels.h"

namespace vandora::ui {

namespace {

constexpr int kFirstAutoId = 1000;
// The entries under each preamble heading.
const char* const kPreambleEntries[] = {"no preamble", "*system character",
                                        "system character & country code"};
constexpr int kPreambleGroupSize = 4;  // the heading and its three entries

ByteString keyName(std::string_view key) {
    return ByteString::fromBytes(key);
}

// The number a box holds; nullopt when it holds none (empty, a lone sign, or not a number).
std::optional<long> numberIn(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || errno == ERANGE) {
        return std::nullopt;
    }
    return value;
}

bool hasLimits(const Field& field) {
    return field.lo <= field.hi;
}

int clampTo(long value, const Field& field) {
    if (hasLimits(field)) {
        value = std::clamp<long>(value, field.lo, field.hi);
    }
    return static_cast<int>(std::clamp<long>(value, INT32_MIN, INT32_MAX));
}

template <typename Test>
TypeSet typesWhere(Test test) {
    TypeSet types;
    for (const EngineInfo& row : engineRows()) {
        if (test(row)) {
            types.bits = static_cast<std::uint16_t>(
                types.bits | (1u << static_cast<unsigned>(toNumber(row.type))));
        }
    }
    return types;
}

bool modelHas(const TerminalModel& model, ModelNeed need) {
    switch (need) {
        case ModelNeed::SignalFields:
            return model.signalFields;
        case ModelNeed::RfidInWindow:
            return model.rfidInWindow;
        case ModelNeed::Nothing:
            break;
    }
    return true;
}

}  // namespace

Field check(std::string text, std::string_view key, int id) {
    Field f{FieldKind::Check, std::move(text), key};
    f.id = id;
    return f;
}
Field choice(std::string label, std::string_view key, std::vector<std::string> items,
             ToIndex toIndex, ToValue toValue) {
    Field f{FieldKind::Choice, std::move(label), key, std::move(items), toIndex, toValue};
    return f;
}
Field number(std::string label, std::string_view key, int lo, int hi) {
    Field f{FieldKind::Number, std::move(label), key};
    f.lo = lo;
    f.hi = hi;
    return f;
}
Field lengths(int lo, int hi, std::string_view listKey) {
    Field f{FieldKind::Lengths, {}, listKey};
    f.lo = lo;
    f.hi = hi;
    f.key2 = "length1";
    f.key3 = "length2";
    return f;
}
Field note(std::string text) {
    return {FieldKind::Note, std::move(text)};
}
Field group(std::string text, int fieldsInside) {
    Field f{FieldKind::Group, std::move(text)};
    f.lo = fieldsInside;
    return f;
}
Field only(Field field, TypeSet types) {
    field.types = types;
    return field;
}
Field in(Field field, const SectionDef& section) {
    field.section = &section;
    return field;
}

std::int32_t sectionInt(const IniStore& store, const SectionDef& section, std::string_view key,
                        std::int32_t fallback) {
    std::int32_t value = fallback;
    store.getInt(store.findSection(keyName(section.name)), keyName(key), value);
    return value;
}

TypeSet barcodeEngines() {
    return typesWhere([](const EngineInfo& row) { return row.port == kBarcodePort; });
}
TypeSet rfidModules() {
    return typesWhere([](const EngineInfo& row) { return row.port == kRfidPort; });
}
TypeSet pageFamily(PageFamily family) {
    return typesWhere([family](const EngineInfo& row) {
        return family != PageFamily::None && row.pages == family;
    });
}

int sameIndex(int value, int count) {
    return std::clamp(value, 0, std::max(count - 1, 0));
}
int sameValue(int index) {
    return index;
}

Rect RowLayout::full(int rows) {
    return {kLeft, y_, kRight - kLeft, kControlHeight + (rows - 1) * kRowHeight};
}

FieldPage::FieldPage(ReaderService& service, const PageTable& table)
    : Page(table.title), service_(service), section_(table.section) {
    ReaderManager& readers = service.readers();
    EngineType engine = table.rfidFields ? readers.rfidEngineType() : readers.barcodeEngineType();
    const TerminalModel& model = terminalModel(readers.deviceModel());
    for (const Field& field : table.fields) {
        if (field.types.has(engine) && modelHas(model, field.needs)) {
            fields_.push_back(field);
        }
    }
    SettingsContext context = service.settingsContext();
    for (const Field& field : fields_) {
        const SectionDef& section = sectionOf(field);
        if (values_.count(&section) == 0 && !readCurrent(context, section, values_[&section])) {
            loaded_ = false;
        }
    }
    build();
}

const SectionDef& FieldPage::sectionOf(const Field& field) const {
    return field.section != nullptr ? *field.section : *section_;
}

IniStore& FieldPage::storeFor(const SectionDef& section) {
    return values_[&section];
}

int FieldPage::readInt(const Field& field, std::string_view key) {
    const SectionDef& section = sectionOf(field);
    return sectionInt(storeFor(section), section, key);
}

void FieldPage::build() {
    RowLayout rows;
    int nextId = kFirstAutoId;
    auto idFor = [&nextId](int wanted) { return wanted != 0 ? wanted : nextId++; };
    if (!loaded_) {
        add({0, ControlKind::Note, "The reader did not answer; its settings cannot be changed now.",
             rows.full(2)});
        rows.next(2);
    }
    struct OpenGroup {
        int id;
        int top;
        int left;
    };
    std::vector<OpenGroup> groups;
    placed_.resize(fields_.size());
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        const Field& f = fields_[i];
        Placed& placed = placed_[i];
        int labelId = f.labelId;
        switch (f.kind) {
            case FieldKind::Check:
                placed.control = idFor(f.id);
                add({placed.control, ControlKind::Check, f.text, rows.full()});
                break;
            case FieldKind::Choice: {
                placed.control = idFor(f.id);
                Rect where = rows.full();
                if (!f.text.empty()) {
                    add({labelId, ControlKind::Label, f.text, rows.label()});
                    where = rows.control();
                }
                Control list{placed.control, ControlKind::Choice, {}, where};
                list.items = f.items;
                add(list);
                break;
            }
            case FieldKind::Number:
            case FieldKind::Char:
            case FieldKind::Text: {
                placed.control = idFor(f.id);
                Rect where = rows.full();
                if (!f.text.empty()) {
                    add({labelId, ControlKind::Label, f.text, rows.label()});
                    where = rows.control();
                }
                if (f.spinId != 0) {
                    where.w -= 20;
                }
                bool secret = f.kind == FieldKind::Text && settingIsSecret(sectionOf(f), f.key);
                if (secret) {
                    where = besideShowKeys(where);
                }
                Control edit{placed.control, ControlKind::Edit, {}, where};
                edit.maxLength =
                    f.kind == FieldKind::Char ? 1 : (f.kind == FieldKind::Text ? f.lo : 0);
                edit.secret = secret;
                add(edit);
                if (f.spinId != 0) {
                    Control spin{f.spinId,
                                 ControlKind::Spin,
                                 {},
                                 {where.x + where.w + 2, where.y, 18, where.h}};
                    spin.buddy = placed.control;
                    add(spin);
                }
                break;
            }
            case FieldKind::MultiText: {
                placed.control = idFor(f.id);
                add({labelId, ControlKind::Label, f.text, rows.full()});
                rows.next();
                add({placed.control, ControlKind::MultiEdit, {}, rows.full(3)});
                rows.next(2);
                break;
            }
            case FieldKind::Lengths: {
                placed.control = idFor(f.id);
                // The list alone would not say what it chooses.
                add({0, ControlKind::Label, "Lengths:", rows.at(RowLayout::kLeft, 52)});
                Control list{placed.control, ControlKind::Choice, {}, rows.at(64, 88)};
                list.items = {"discrete", "*min/max"};
                add(list);
                int x = RowLayout::kSplit;
                for (int box = 0; box < 2; ++box) {
                    int editId = nextId++;
                    (box == 0 ? placed.box1 : placed.box2) = editId;
                    add({editId, ControlKind::Edit, {}, rows.at(x, 54)});
                    Control spin{nextId++, ControlKind::Spin, {}, rows.at(x + 56, 18)};
                    spin.buddy = editId;
                    add(spin);
                    x += 78;
                }
                break;
            }
            case FieldKind::Preamble: {
                placed.control = idFor(f.id);
                add({0, ControlKind::Label, "Preamble:", rows.label()});
                Control list{placed.control, ControlKind::Choice, {}, rows.control()};
                for (const std::string& heading : f.items) {
                    list.items.push_back(heading);
                    list.itemDisabled.push_back(true);
                    for (const char* entry : kPreambleEntries) {
                        list.items.emplace_back(entry);
                        list.itemDisabled.push_back(false);
                    }
                }
                add(list);
                break;
            }
            case FieldKind::Note: {
                int lines = 1 + static_cast<int>(f.text.size()) / 52;
                placed.control = idFor(f.id);
                add({placed.control, ControlKind::Note, f.text, rows.full(lines)});
                rows.next(lines - 1);
                break;
            }
            case FieldKind::Group:
                placed.control = idFor(f.id);
                add({placed.control, ControlKind::Group, f.text, rows.full()});
                groups.push_back({placed.control, rows.y(), f.lo});
                break;
            case FieldKind::Browse:
                placed.control = idFor(f.id);
                add({placed.control, ControlKind::Button, "Browse", rows.at(RowLayout::kLeft, 80)});
                break;
        }
        rows.next();
        if (f.kind != FieldKind::Group) {
            for (OpenGroup& group : groups) {
                if (group.left > 0 && --group.left == 0) {
                    Control* frame = findMutable(group.id);
                    frame->rect = {RowLayout::kLeft - 4, group.top - 4,
                                   RowLayout::kRight - RowLayout::kLeft + 8, rows.y() - group.top};
                }
            }
        }
        load(i);
        if (!loaded_ || (f.needsRfid && !rfidModules().has(service_.readers().rfidEngineType()))) {
            for (int id : {placed.control, placed.box1, placed.box2}) {
                if (Control* c = findMutable(id)) {
                    c->enabled = false;
                }
            }
        }
    }
}

void FieldPage::load(std::size_t index) {
    const Field& f = fields_[index];
    Placed& placed = placed_[index];
    Control* control = findMutable(placed.control);
    const SectionDef& section = sectionOf(f);
    IniStore& store = storeFor(section);
    switch (f.kind) {
        case FieldKind::Check:
            control->value = readInt(f, f.key) != 0 ? 1 : 0;
            break;
        case FieldKind::Choice:
            control->value = f.toIndex(readInt(f, f.key), static_cast<int>(f.items.size()));
            break;
        case FieldKind::Number:
            control->text = std::to_string(readInt(f, f.key));
            break;
        case FieldKind::Char: {
            int code = readInt(f, f.key);
            control->text = code > 0 && code < 256 ? std::string(1, static_cast<char>(code)) : "";
            break;
        }
        case FieldKind::Text:
        case FieldKind::MultiText: {
            ByteString text;
            store.getString(store.findSection(keyName(section.name)), keyName(f.key), text);
            control->text = utf8Of(text);
            break;
        }
        case FieldKind::Lengths: {
            int first = readInt(f, f.key2);
            int second = readInt(f, f.key3);
            control->value =
                f.key.empty() ? (first > second ? 0 : 1) : f.toIndex(readInt(f, f.key), 2);
            findMutable(placed.box1)->text = std::to_string(first);
            findMutable(placed.box2)->text = std::to_string(second);
            break;
        }
        case FieldKind::Preamble: {
            std::string_view keys[3] = {f.key, f.key2, f.key3};
            for (int group = 0; group < 3; ++group) {
                placed.preamble[group] = std::clamp(readInt(f, keys[group]), 0, 2);
            }
            control->value = 1 + placed.preamble[0];
            break;
        }
        case FieldKind::Note:
        case FieldKind::Group:
        case FieldKind::Browse:
            break;
    }
}

int FieldPage::fieldValue(std::size_t index) const {
    const Field& f = fields_[index];
    const Control* control = find(placed_[index].control);
    switch (f.kind) {
        case FieldKind::Check:
            return control->value;
        case FieldKind::Choice:
            return f.toValue(control->value);
        case FieldKind::Number: {
            std::optional<long> number = numberIn(control->text);
            if (!number) {
                return f.emptyIsMinusOne && control->text.empty() ? -1 : (hasLimits(f) ? f.lo : 0);
            }
            return clampTo(*number, f);
        }
        case FieldKind::Char:
            return control->text.empty() ? 0 : static_cast<unsigned char>(control->text[0]);
        default:
            return 0;
    }
}

void FieldPage::store(std::size_t index) {
    const Field& f = fields_[index];
    const Placed& placed = placed_[index];
    const SectionDef& section = sectionOf(f);
    IniStore& values = storeFor(section);
    IniSection* at = values.findOrAddSection(keyName(section.name));
    auto setInt = [&](std::string_view key, int value) {
        if (!key.empty()) {  // a control that only steers others
            values.setInt(at, keyName(key), value);
        }
    };
    switch (f.kind) {
        case FieldKind::Check:
        case FieldKind::Choice:
        case FieldKind::Number:
        case FieldKind::Char:
            setInt(f.key, fieldValue(index));
            break;
        case FieldKind::Text:
        case FieldKind::MultiText:
            values.setString(at, keyName(f.key), fromUtf8(find(placed.control)->text));
            break;
        case FieldKind::Lengths: {
            auto box = [&](int id) {
                std::optional<long> n = numberIn(find(id)->text);
                return clampTo(n.value_or(hasLimits(f) ? f.lo : 0), f);
            };
            int first = box(placed.box1);
            int second = box(placed.box2);
            int choice = find(placed.control)->value;
            if (!f.key.empty()) {
                setInt(f.key, f.toValue(choice));
            } else if ((choice == 0) != (first > second)) {
                // Without a key of its own, the order of the two lengths says which it is.
                std::swap(first, second);
            }
            setInt(f.key2, first);
            setInt(f.key3, second);
            break;
        }
        case FieldKind::Preamble:
            setInt(f.key, placed.preamble[0]);
            setInt(f.key2, placed.preamble[1]);
            setInt(f.key3, placed.preamble[2]);
            break;
        case FieldKind::Browse:
            if (!folder_.empty()) {
                values.setString(at, keyName(f.key), fromUtf8(folder_));
            }
            break;
        case FieldKind::Note:
        case FieldKind::Group:
            break;
    }
}

Action FieldPage::accept() {
    if (!loaded_) {
        // Values never read must not overwrite the engine's.
        return {Action::Kind::Close, 0, {}};
    }
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        store(i);
    }
    SettingsContext context = service_.settingsContext();
    bool refused = false;
    for (auto& [section, values] : values_) {
        if (applySection(context, *section, values, service_.storeUpdate()) ==
            ApplyResult::EngineRefused) {
            refused = true;
        }
    }
    applied();
    if (service_.storeUpdate()) {
        // What OK stored is kept at once, not only at quit.
        service_.saveSettings();
    }
    if (refused) {
        return {Action::Kind::Message, 0, "The reader did not take every setting."};
    }
    return {Action::Kind::Close, 0, {}};
}

void FieldPage::folderChosen(const std::string& path) {
    if (path.empty()) {
        return;
    }
    folder_ = path;
    if (folder_.back() != '/') {
        folder_ += '/';
    }
}

Action FieldPage::changed(Control& control) {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        const Field& f = fields_[i];
        Placed& placed = placed_[i];
        bool isBox = control.id == placed.control ||
                     (f.kind == FieldKind::Lengths &&
                      (control.id == placed.box1 || control.id == placed.box2));
        if (!isBox) {
            continue;
        }
        if (f.kind == FieldKind::Preamble && control.id == placed.control) {
            placed.preamble[control.value / kPreambleGroupSize] =
                control.value % kPreambleGroupSize - 1;
        } else if (control.kind == ControlKind::Edit && hasLimits(f) &&
                   (f.kind == FieldKind::Number || f.kind == FieldKind::Lengths)) {
            // The box corrects itself while typed; an empty box is left for the next key.
            std::optional<long> number = numberIn(control.text);
            if (!control.text.empty() && control.text != "-") {
                int corrected = clampTo(number.value_or(f.lo), f);
                if (!number || corrected != *number) {
                    control.text = std::to_string(corrected);
                }
            }
        }
        break;
    }
    return {};
}

Action FieldPage::pressed(Control& control) {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (fields_[i].kind == FieldKind::Browse && placed_[i].control == control.id) {
            return {Action::Kind::ChooseFolder, 0, {}};
        }
    }
    return {};
}

Action FieldPage::stepped(Control& spin, int delta) {
    int buddyId = spin.buddy;
    Control* buddy = findMutable(buddyId);
    if (buddy == nullptr || !buddy->enabled) {
        return {};
    }
    long value = numberIn(buddy->text).value_or(0) + delta;
    buddy->text = std::to_string(value);
    return changed(*buddy);
}

}  // namespace vandora::ui
