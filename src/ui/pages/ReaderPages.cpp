#include "ui/pages/ReaderPages.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <tuple>

#include "config/SettingAccess.h"
#include "config/SettingSections.h"
#include "config/SettingsTransfer.h"
#include "rfid/TagOps.h"
#include "ui/pages/FieldPage.h"

namespace vandora::ui {

namespace {

using T = EngineType;
const TypeSet k2D = pageFamily(PageFamily::Imager2D);
const TypeSet kLr = pageFamily(PageFamily::Laser1D);

std::string format(const char* pattern, double value) {
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), pattern, value);
    return text.data();
}
std::string format(const char* pattern, int value) {
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), pattern, value);
    return text.data();
}

// "1 sec" to "9 sec", the 3-second entry marked.
std::vector<std::string> sessionTimeouts() {
    std::vector<std::string> items;
    for (int s = 1; s <= 9; ++s) {
        items.push_back(format(s == 3 ? "*%d sec" : "%d sec", s));
    }
    return items;
}
// The timeout in seconds (CCD/Laser) or in tenths (the others).
int secondsIndex(int value, int count) {
    return value < 1 ? 0 : sameIndex(value - 1, count);
}
int secondsValue(int index) {
    return index + 1;
}
int tenthsIndex(int value, int /*count*/) {
    if (value < 11) {
        return 0;
    }
    return value > 90 ? 8 : value / 10 - 1;
}
int tenthsValue(int index) {
    return (index + 1) * 10;
}

constexpr std::array<int, 5> kCcdModes{0, 1, 3, 6, 7};
int ccdModeIndex(int value, int /*count*/) {
    auto at = std::find(kCcdModes.begin(), kCcdModes.end(), value);
    return at == kCcdModes.end() ? 3 : static_cast<int>(at - kCcdModes.begin());
}
int ccdModeValue(int index) {
    return kCcdModes[static_cast<std::size_t>(std::clamp(index, 0, 4))];
}

int fromOneIndex(int value, int count) {
    return sameIndex(value - 1, count);
}
int fromOneValue(int index) {
    return index + 1;
}

int angle4Index(int value, int /*count*/) {
    return value == 181 ? 0 : 1;
}
int angle4Value(int index) {
    return index == 0 ? 181 : 182;
}
int angle9Index(int value, int /*count*/) {
    return value == 5 ? 1 : 0;
}
int angle9Value(int index) {
    return index == 1 ? 5 : 6;
}
int lrModeIndex(int value, int /*count*/) {
    return value == 4 ? 0 : 1;
}
int lrModeValue(int index) {
    return index == 0 ? 4 : 8;
}

std::vector<std::string> betweenSymbols() {
    std::vector<std::string> items;
    items.reserve(21);
    for (int half = 0; half < 20; ++half) {
        items.push_back(format(half == 2 ? "*%.1f sec" : "%.1f sec", half * 0.5));
    }
    items.emplace_back("9.9 sec");
    return items;
}
int betweenIndex(int value, int /*count*/) {
    return value < 99 ? std::clamp(value / 5, 0, 19) : 20;
}
int betweenValue(int index) {
    return index >= 20 ? 99 : index * 5;
}

std::vector<std::string> aimDurations() {
    std::vector<std::string> items;
    for (int s = 0; s <= 9; ++s) {
        items.push_back(format(s == 0 ? "*%d sec" : "%d sec", s));
    }
    return items;
}
int aimIndex(int value, int /*count*/) {
    return std::clamp(value / 10, 0, 9);
}
int aimValue(int index) {
    return index * 10;
}

std::vector<std::string> sounds() {
    std::vector<std::string> items{"mute"};
    for (int n = 1; n <= 9; ++n) {
        items.push_back(format("sound %d", n));
    }
    return items;
}
std::vector<std::string> vibrations() {
    std::vector<std::string> items{"0 sec"};
    for (int half = 1; half <= 10; ++half) {
        items.push_back(format("%.1f sec", half * 0.5));
    }
    return items;
}
std::vector<std::string> frequencies() {
    std::vector<std::string> items;
    for (int hz = 500; hz <= 5000; hz += 500) {
        items.push_back(format(hz == 500 ? "*%dHz" : "%dHz", hz));
    }
    return items;
}
std::vector<std::string> delimiters() {
    std::vector<std::string> items{"None"};
    for (int code = 1; code < 32; ++code) {
        items.push_back(format("0x%.2X", code));
    }
    for (int code = 0x20; code <= 0x7E; ++code) {
        items.push_back(format("'%c'", code));
    }
    return items;
}
int idleIndex(int value, int count) {
    return sameIndex(value / 10 - 1, count);
}
int idleValue(int index) {
    return (index + 1) * 10;
}
std::vector<std::string> idleTimes() {
    std::vector<std::string> items;
    for (int s = 10; s <= 600; s += 10) {
        items.push_back(format("%d sec", s));
    }
    return items;
}

Field withIds(Field field, int labelId, int id) {
    field.labelId = labelId;
    field.id = id;
    return field;
}
Field forModels(Field field, ModelNeed need) {
    field.needs = need;
    return field;
}

// The reader pages; page 1 has one table per engine kind.
// clang-format off
const std::vector<PageTable>& readerTables() {
    static const std::vector<PageTable> tables = {
        {"Barcode Reader Settings", &kReaderCcd, {
            withIds(choice("Decode Session Timeout:", "laserOnTime", sessionTimeouts(), secondsIndex, secondsValue), 5, 38),
            withIds(choice("Scan mode:", "scanMode", {"Auto off", "Continuous", "Alternate", "*Laser", "Test"},
                           ccdModeIndex, ccdModeValue), 6, 39),
            withIds(choice("Redundancy level:", "redundancy", {"*0", "1", "2", "3"}), 7, 40)},
         false, pageFamily(PageFamily::CcdLaser)},
        {"Barcode Reader Settings", &kReader2D, {
            withIds(choice("Decode Session Timeout:", "laserOnTime", sessionTimeouts(), tenthsIndex, tenthsValue), 5, 38),
            check("Enable decoding illumination", "decodingIllumination", 19),
            check("Enable decoding aiming pattern", "decodeAimingPattern", 20),
            in(withIds(choice("Redundancy level:", "redundancy", {"*1", "2", "3", "4"}, fromOneIndex, fromOneValue), 6, 40),
               kSecurity2D),
            in(withIds(choice("Security level:", "securityLevel", {"*0", "1", "2", "3"}), 7, 41), kSecurity2D),
            only(withIds(choice("Focus mode:", "imgFocus", {"*Far focus", "Near focus", "Smart focus"}), 10, 39),
                 {T::Imager2D})},
         false, k2D},
        {"Barcode Reader Settings", &kReader1DLr, {
            withIds(choice("Decode Session Timeout:", "laserOnTime", sessionTimeouts(), tenthsIndex, tenthsValue), 5, 38),
            withIds(choice("Redundancy level:", "bidirectionalRedundancy", {"*1", "2", "3", "4"}, fromOneIndex,
                           fromOneValue), 6, 39),
            only(withIds(choice("Scan angle:", "scanAngle", {"wide", "*narrow"}, angle4Index, angle4Value), 7, 40),
                 {T::LongRange1D}),
            only(withIds(choice("Scan angle:", "scanAngle", {"*wide", "narrow"}, angle9Index, angle9Value), 7, 40),
                 {T::Laser1D955}),
            withIds(choice("Scan mode:", "scanMode", {"Continuous", "*Laser"}, lrModeIndex, lrModeValue), 8, 42),
            // Its own identifier: the redundancy list already has 39.
            withIds(choice("Timeout between symbols", "timeoutBetweenSameSymbol", betweenSymbols(), betweenIndex,
                           betweenValue), 9, 43),
            withIds(note("(This is applied only in continuous mode.)"), 0, 10),
            only(withIds(choice("Aim pattern Duration:", "aimDurtion", aimDurations(), aimIndex, aimValue), 11, 41),
                 {T::LongRange1D})},
         false, kLr},
        {"Notifications", &kGeneral, {
            withIds(group("Good read via speaker", 2), 0, 91),
            withIds(choice("Select a sound:", "goodReadBeepFileIdx", sounds()), 5, 55),
            withIds(choice("Vibration duration:", "vibrationTime", vibrations()), 7, 38),
            forModels(check("Enable LED when good read", "enableLed", 14), ModelNeed::SignalFields),
            forModels(withIds(group("Good read via buzzer", 2), 0, 92), ModelNeed::SignalFields),
            forModels([] {
                Field f = withIds(number("Select duration(0.1 sec):", "buzzerDuration", 0, 255), 8, 89);
                f.spinId = 63;
                return f;
            }(), ModelNeed::SignalFields),
            forModels(withIds(choice("Select a frequency:", "buzzerFreq", frequencies(), fromOneIndex, fromOneValue),
                              9, 88), ModelNeed::SignalFields)}},
        {"Data output", &kGeneral, {
            withIds(choice("Keyboard emulation:", "keyboardEmu", {"None", "Local machine", "RDP server"}), 10, 41),
            check("Windows Message", "windowMessage", 15), check("Windows Event", "windowEvent", 16),
            withIds(choice("Auto Enter:", "autoEnter", {"None", "Scan + Enter_char", "Enter_char + Scan"}), 5, 38),
            withIds(choice("Auto Enter Char:", "autoEnterChar",
                           {"None", "Carriage return", "Tab", "Space", "Comma", "Semicolon"}), 6, 39),
            withIds(Field{FieldKind::Text, "Prefix string:", "prefixStr"}, 7, 47),
            withIds(Field{FieldKind::Text, "Suffix string:", "suffixStr"}, 8, 48),
            check("Display code type", "displayCodeType", 17), check("Display code length", "displayCodeLength", 18),
            forModels([] { Field f = check("Display RFID UID", "displayUid", 19); f.needsRfid = true; return f; }(),
                      ModelNeed::RfidInWindow),
            forModels([] { Field f = check("Display RFID user data", "displayUserData", 20); f.needsRfid = true;
                           return f; }(), ModelNeed::RfidInWindow),
            withIds(choice("Field delimiter:", "delimiter", delimiters()), 9, 40)}},
    };
    return tables;
}

// The RFID page: the read half, then the write half.
Field rfidNumber(const char* label, std::string_view key, int labelId, int id) {
    Field f{FieldKind::Number, label, key};
    f.labelId = labelId;
    f.id = id;
    f.emptyIsMinusOne = true;
    return f;
}
const PageTable& rfidTable() {
    static const PageTable table{"RFID Reader Settings", &kRfid, {
        check("Read blocks", {}, 82),
        withIds(choice("Login Key:", "m_rfidSecurityKeyType", {"Key A", "Key B"}), 122, 123),
        [] { Field f{FieldKind::Text, {}, "mifareLoginKeyA"}; f.id = 124; f.lo = 12; return f; }(),
        rfidNumber("Start position:", "rfidReadStartByte", 5, 47),
        withIds(note("(-1: byte 0 of the default page)"), 0, 6),
        rfidNumber("Reading length (byte):", "rfidReadLength", 7, 48),
        check("Display hex values", "displayUserDataByHex", 15),
        only(withIds(choice("Turn off RFID power if idle for:", "timeOfPowerOn", idleTimes(), idleIndex, idleValue),
                     8, 38), {T::RfidHex}),
        check("Write blocks", "rfidRW", 83),
        rfidNumber("Start byte to write:", "rfidWriteStartByte", 9, 49),
        withIds(note("(-1: byte 0 of the default page)"), 0, 10),
        check("Use hex values", "isHexContent", 18),
        only(withIds(choice("Turn off RFID power if idle for:", "timeOfPowerOn", idleTimes(), idleIndex, idleValue),
                     11, 39), {T::RfidHex}),
        withIds(Field{FieldKind::MultiText, "Input string to write:", "rfidWriteContent"}, 12, 50)},
        true, rfidModules()};
    return table;
}
// clang-format on

const PageTable* tableFor(int page, EngineType barcode) {
    const std::vector<PageTable>& tables = readerTables();
    if (page == 1) {
        for (std::size_t i = 0; i < 3; ++i) {
            if (tables[i].types.has(barcode)) {
                return &tables[i];
            }
        }
        return nullptr;
    }
    return page == 2 ? &tables[3] : page == 3 ? &tables[4] : nullptr;
}

class BarcodeReaderPage final : public FieldPage {
  public:
    BarcodeReaderPage(ReaderService& service, const PageTable& table) : FieldPage(service, table) {
        followScanMode();
    }

  protected:
    Action changed(Control& control) override {
        followScanMode();
        return FieldPage::changed(control);
    }
    void applied() override {
        // The scan mode the engine took last decides whether it reads by itself.
        service().setContinuousScan(barcodeReadsBySelf(service().readers()));
    }

  private:
    // The CCD/Laser decode timeout means nothing while the engine scans by itself.
    void followScanMode() {
        for (std::size_t i = 0; i < fields().size(); ++i) {
            if (&pageSection() == &kReaderCcd && fields()[i].key == "scanMode") {
                bool bySelf = readsBySelf(service().readers().barcodeEngineType(), fieldValue(i));
                if (Control* timeout = findMutable(38)) {
                    timeout->enabled = loaded() && !bySelf;
                }
            }
        }
    }
};

// A reader page the terminal lacks the reader for: OK switches that reader off.
class MissingReaderPage final : public Page {
  public:
    MissingReaderPage(ReaderService& service, std::string title, bool rfid)
        : Page(std::move(title)), service_(service), rfid_(rfid) {}
    Action accept() override {
        service_.switchReader(rfid_ ? kRfidPort : kBarcodePort, 0);
        return {Action::Kind::Refresh, 0, {}};
    }

  private:
    ReaderService& service_;
    bool rfid_;
};

class RfidPage final : public FieldPage {
  public:
    explicit RfidPage(ReaderService& service) : FieldPage(service, rfidTable()) {
        const Control* write = find(83);
        setWriting(write != nullptr && write->value != 0);
    }

  protected:
    Action changed(Control& control) override {
        if (control.id == 82 || control.id == 83) {
            setWriting(control.id == 83);
        } else if (control.id == 38 || control.id == 39) {
            // Both lists show the one power-off time.
            if (Control* other = findMutable(control.id == 38 ? 39 : 38)) {
                other->value = control.value;
            }
        }
        return FieldPage::changed(control);
    }

  private:
    void setWriting(bool writing) {
        static constexpr int kRead[] = {122, 123, 124, 47, 48, 15, 38};
        static constexpr int kWrite[] = {49, 18, 39, 50};
        findMutable(82)->value = writing ? 0 : 1;
        findMutable(83)->value = writing ? 1 : 0;
        for (int id : kRead) {
            if (Control* c = findMutable(id)) {
                c->enabled = loaded() && !writing;
            }
        }
        for (int id : kWrite) {
            if (Control* c = findMutable(id)) {
                c->enabled = loaded() && writing;
            }
        }
    }
};

class MifareKeysPage final : public Page {
  public:
    explicit MifareKeysPage(ReaderService& service, bool hasKeys)
        : Page("Mifare Keys"), service_(service) {
        if (!hasKeys) {
            return;
        }
        RowLayout rows;
        add({122, ControlKind::Label, "Login Key:", rows.label()});
        Control keyType{123, ControlKind::Choice, {}, rows.control()};
        keyType.items = {"Key A", "Key B"};
        add(keyType);
        rows.next();
        // The three keys are masked like the settings' login key.
        Control login{124, ControlKind::Edit, "3C5A9E71B2D4", besideShowKeys(rows.full())};
        login.maxLength = 12;
        login.secret = true;
        add(login);
        rows.next();
        for (auto [labelId, editId, text] :
             {std::tuple{115, 114, "Key A:"}, {120, 119, "Key B:"}}) {
            add({labelId, ControlKind::Label, text, rows.label()});
            Control edit{editId, ControlKind::Edit, {}, rows.control()};
            edit.maxLength = 12;
            edit.secret = true;
            add(edit);
            rows.next();
        }
        // The blocks' label grows to "(256, 257, 258 blocks)": the row leaves it the rest.
        add({116, ControlKind::Label, "Sector:", rows.at(RowLayout::kLeft, 60)});
        Rect sector = rows.at(72, 40);
        add({117, ControlKind::Edit, "1", sector});
        Control spin{118, ControlKind::Spin, {}, {sector.x + 42, sector.y, 18, sector.h}};
        spin.buddy = 117;
        add(spin);
        int blocks = sector.x + 64;
        add({10,
             ControlKind::Label,
             "(4, 5, 6 blocks)",
             {blocks, sector.y, RowLayout::kRight - blocks, sector.h}});
        rows.next();
        add({113, ControlKind::Button, "Write", rows.at(RowLayout::kLeft, 80)});
    }

  protected:
    Action stepped(Control& /*spin*/, int delta) override {
        Control* edit = findMutable(117);
        int sector = std::atoi(edit->text.c_str());
        if (delta > 0 && sector < 64) {
            ++sector;
        } else if (delta < 0 && sector >= 1) {
            --sector;
        }
        edit->text = std::to_string(sector);
        findMutable(10)->text = "(" + std::to_string(4 * sector) + ", " +
                                std::to_string(4 * sector + 1) + ", " +
                                std::to_string(4 * sector + 2) + " blocks)";
        return {};
    }

    Action pressed(Control& control) override {
        if (control.id != 113) {
            return {};
        }
        struct KeyBox {
            int id;
            const char* tooShort;
        };
        static constexpr KeyBox kBoxes[] = {{124, "The length of the loginKey must be 12."},
                                            {114, "The length of the new key A must be 12."},
                                            {119, "The length of the new key B must be 12."}};
        std::array<std::array<std::uint8_t, 6>, 3> keys{};
        for (std::size_t i = 0; i < 3; ++i) {
            const std::string& text = find(kBoxes[i].id)->text;
            if (text.size() != 12) {
                return {Action::Kind::Message, 0, kBoxes[i].tooShort};
            }
            ByteString bytes;
            hexToBytes(ByteString::fromBytes(text), bytes);
            for (std::size_t b = 0; b < 6 && b < bytes.length(); ++b) {
                keys[i][b] = static_cast<std::uint8_t>(bytes.at(b));
            }
        }
        int sector = std::atoi(find(117)->text.c_str());
        std::int32_t ok = writeMifareKeys(service_.readers(), find(123)->value, sector, keys[0],
                                          keys[1], keys[2]);
        return {Action::Kind::Message, 0, ok != 0 ? "Operation succeeds." : "Operation fails."};
    }

  private:
    ReaderService& service_;
};

}  // namespace

std::unique_ptr<Page> makeReaderPage(ReaderService& service, int page) {
    ReaderManager& readers = service.readers();
    switch (page) {
        case 1: {
            const PageTable* table = tableFor(1, readers.barcodeEngineType());
            if (table == nullptr ||
                findPresentSection(readers, table->section->name) != table->section) {
                return std::make_unique<MissingReaderPage>(service, "Barcode Reader Settings",
                                                           false);
            }
            return std::make_unique<BarcodeReaderPage>(service, *table);
        }
        case 2:
        case 3:
            return std::make_unique<FieldPage>(service,
                                               *tableFor(page, readers.barcodeEngineType()));
        case 4:
            if (!rfidTable().types.has(readers.rfidEngineType())) {
                return std::make_unique<MissingReaderPage>(service, "RFID Reader Settings", true);
            }
            return std::make_unique<RfidPage>(service);
        case 5:
            return std::make_unique<MifareKeysPage>(
                service, engineInfo(readers.rfidEngineType()).mifareKeysPage);
        default:
            return nullptr;
    }
}

}  // namespace vandora::ui
