// FieldPage: a dialog page built from a table of fields, each bound to one setting key.
//
// A field is a check box, a choice list, an edit box (number, one character or text), a length
// pair (the "discrete" / "*min/max" list and two boxes with spin buttons), a note, a group frame
// or the picture folder's "Browse" button. The page lays its fields out in rows, loads each from
// the current values of its section (AppSettings or the engine itself, as SettingAccess reads
// them) and on OK puts every field back and applies the section: the program's keys into
// AppSettings, the engine's keys to the engine, and the section into the INI store while the
// service's store-update flag is set.
//
// A choice list's entry position, not its text, decides the value: toIndex shows a stored value
// (clamped into the list), toValue stores a chosen position.
#pragma once

#include <climits>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "config/IniStore.h"
#include "config/SectionDef.h"
#include "config/engines/SettingRow.h"
#include "reader/engines/EngineTable.h"
#include "runtime/ReaderService.h"
#include "ui/PageModel.h"

namespace vandora::ui {

// The engine kinds the pages tell apart, read from the engine rows: every engine of the barcode
// port, every module of the RFID port, and the engines that share a family of settings pages.
TypeSet barcodeEngines();
TypeSet rfidModules();
TypeSet pageFamily(PageFamily family);

// One number of a section held in a store; fallback when the section or the key is missing.
std::int32_t sectionInt(const IniStore& store, const SectionDef& section, std::string_view key,
                        std::int32_t fallback = 0);

enum class FieldKind : std::uint8_t {
    Check,      // text beside the box; value 0 or 1
    Choice,     // text is the label before the list
    Number,     // edit box with "%d"; lo..hi corrects the text while typed (lo > hi: no limits)
    Char,       // edit box holding one character, the key holds its code
    Text,       // edit box with the key's text; lo is the most characters (0: any)
    MultiText,  // multi-line edit box with the key's text
    Lengths,    // key: the list's key (empty: the order of the two lengths tells), key2/key3 the
                // two lengths
    Preamble,   // one list of three groups, each headed by a line that cannot be chosen; items
                // are the group headings, key/key2/key3 the three settings
    Note,       // explaining text
    Group,      // a frame around the next lo fields
    Browse,     // the "Browse" button choosing the picture folder
};

using ToIndex = int (*)(int value, int count);
using ToValue = int (*)(int index);

// The plain mapping: position = value, clamped into the list.
int sameIndex(int value, int count);
int sameValue(int index);

// What a field asks of the terminal model's row.
enum class ModelNeed : std::uint8_t {
    Nothing,
    SignalFields,  // the LED and buzzer settings
    RfidInWindow,  // the RFID display settings
};

struct Field {
    Field() = default;
    Field(FieldKind kind_, std::string text_ = {}, std::string_view key_ = {},
          std::vector<std::string> items_ = {}, ToIndex toIndex_ = sameIndex,
          ToValue toValue_ = sameValue)
        : kind(kind_),
          text(std::move(text_)),
          key(key_),
          items(std::move(items_)),
          toIndex(toIndex_),
          toValue(toValue_) {}

    FieldKind kind = FieldKind::Check;
    std::string text;
    std::string_view key;
    std::vector<std::string> items;
    ToIndex toIndex = sameIndex;
    ToValue toValue = sameValue;
    int lo = 0;
    int hi = -1;
    const SectionDef* section = nullptr;  // null: the page's section
    int id = 0;                           // 0: numbered by the page
    int labelId = 0;
    TypeSet types = TypeSet::every();      // the engine types that have this field
    ModelNeed needs = ModelNeed::Nothing;  // what the terminal model must offer for it
    bool needsRfid = false;                // disabled without an RFID module
    bool emptyIsMinusOne = false;          // Number: an empty box stores -1
    int spinId = 0;                        // Number: its spin button's identifier (0: none)
    std::string_view key2;
    std::string_view key3;
};

struct PageTable {
    PageTable(std::string title_, const SectionDef* section_, std::vector<Field> fields_,
              bool rfidFields_ = false, TypeSet types_ = TypeSet::every())
        : title(std::move(title_)),
          section(section_),
          fields(std::move(fields_)),
          rfidFields(rfidFields_),
          types(types_) {}

    std::string title;
    const SectionDef* section = nullptr;
    std::vector<Field> fields;
    bool rfidFields = false;  // Field::types names RFID module kinds, not barcode engine types
    TypeSet types = TypeSet::every();  // the engine types that have this page
};

// Table-writing shorthands.
Field check(std::string text, std::string_view key, int id = 0);
Field choice(std::string label, std::string_view key, std::vector<std::string> items,
             ToIndex toIndex = sameIndex, ToValue toValue = sameValue);
Field number(std::string label, std::string_view key, int lo, int hi);
Field lengths(int lo, int hi, std::string_view listKey = {});
Field note(std::string text);
Field group(std::string text, int fieldsInside);
Field only(Field field, TypeSet types);
Field in(Field field, const SectionDef& section);

// Lays controls out in rows of the 320 x 300 layout.
class RowLayout {
  public:
    static constexpr int kLeft = 8;
    static constexpr int kSplit = 160;
    static constexpr int kRight = 312;
    static constexpr int kRowHeight = 24;
    static constexpr int kControlHeight = 20;

    Rect full(int rows = 1);
    Rect label() const { return {kLeft, y_, kSplit - kLeft - 4, kControlHeight}; }
    Rect control() const { return {kSplit, y_, kRight - kSplit, kControlHeight}; }
    Rect at(int x, int w) const { return {x, y_, w, kControlHeight}; }
    void next(int rows = 1) { y_ += rows * kRowHeight; }
    int y() const { return y_; }

  private:
    int y_ = 8;
};

class FieldPage : public Page {
  public:
    FieldPage(ReaderService& service, const PageTable& table);

    Action accept() override;
    void folderChosen(const std::string& path) override;

    // Whether the page could read its values when it opened.
    bool loaded() const { return loaded_; }

  protected:
    Action changed(Control& control) override;
    Action pressed(Control& control) override;
    Action stepped(Control& spin, int delta) override;

    // The value a field holds now, as it would be stored.
    int fieldValue(std::size_t field) const;
    // The control that shows a field (a list for Lengths and Preamble).
    int controlOf(std::size_t field) const { return placed_[field].control; }
    const std::vector<Field>& fields() const { return fields_; }
    ReaderService& service() { return service_; }
    const SectionDef& pageSection() const { return *section_; }
    // Called after OK applied the sections: a reader page starts or stops continuous scanning.
    virtual void applied() {}

  private:
    struct Placed {
        int control = 0;
        int box1 = 0;  // Lengths: the two boxes
        int box2 = 0;
        int preamble[3] = {0, 0, 0};  // Preamble: the three values chosen
    };
    void build();
    IniStore& storeFor(const SectionDef& section);
    const SectionDef& sectionOf(const Field& field) const;
    int readInt(const Field& field, std::string_view key);
    void load(std::size_t index);
    void store(std::size_t index);

    ReaderService& service_;
    const SectionDef* section_;
    std::vector<Field> fields_;
    std::vector<Placed> placed_;
    std::map<const SectionDef*, IniStore> values_;
    bool loaded_ = true;
    std::string folder_;
};

}  // namespace vandora::ui
