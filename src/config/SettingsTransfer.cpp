#include "config/SettingsTransfer.h"

#include <algorithm>
#include <array>
#include <climits>
#include <string_view>

#include "config/CcdCommands.h"
#include "config/PacketCommands.h"

namespace vandora {

namespace {

using Names = std::vector<std::string_view>;

void notify(const SectionCallback& onSection, const SectionDef& section) {
    if (onSection) {
        onSection(section);
    }
}

// An engine command of either family.
struct Command {
    bool ccd;
    std::uint8_t id;
};

constexpr Command ccdCmd(CcdCommand c) {
    return {true, static_cast<std::uint8_t>(c)};
}
constexpr Command pkt(PacketCommand c) {
    return {false, static_cast<std::uint8_t>(c)};
}

int argIndex(Command c, std::string_view name) {
    return c.ccd ? ccdArgumentIndex(static_cast<CcdCommand>(c.id), name)
                 : packetArgumentIndex(static_cast<PacketCommand>(c.id), name);
}

std::size_t argCount(Command c) {
    return c.ccd ? ccdArgumentNames(static_cast<CcdCommand>(c.id)).size()
                 : packetArgumentNames(static_cast<PacketCommand>(c.id)).size();
}

bool argApplies(Command c, std::size_t index, EngineType type) {
    return c.ccd || packetArgumentApplies(static_cast<PacketCommand>(c.id), index, type);
}

std::int32_t run(ReaderChannel& channel, EngineSettings& engine, Command c, int direction,
                 std::span<std::int32_t* const> args) {
    return c.ccd ? ccdCommand(channel, static_cast<CcdCommand>(c.id), direction, args)
                 : packetCommand(channel, engine.paramCache(), static_cast<PacketCommand>(c.id),
                                 direction, args);
}

bool allowed(std::string_view key, const Names& only, std::string_view except) {
    if (key == except) {
        return false;
    }
    return only.empty() || std::find(only.begin(), only.end(), key) != only.end();
}

// A section's integer values as the file has them; absent keys are marked.
class SectionValues {
  public:
    static constexpr std::int32_t kAbsent = INT32_MIN;

    SectionValues(IniStore& store, const SectionDef& section) : section_(&section) {
        values_.fill(kAbsent);
        std::array<std::int32_t*, kMaxSectionKeys> refs{};
        for (std::size_t i = 0; i < section.keys.size(); ++i) {
            if (section.keys[i].kind == KeyKind::Int) {
                refs[i] = &values_[i];
            }
        }
        exists_ =
            accessSection(store, section, kDirectionRead,
                          std::span<std::int32_t* const>(refs.data(), section.keys.size())) != 0;
    }
    bool exists() const { return exists_; }
    std::int32_t* find(std::string_view key) {
        for (std::size_t i = 0; i < section_->keys.size(); ++i) {
            if (section_->keys[i].name == key) {
                return values_[i] == kAbsent ? nullptr : &values_[i];
            }
        }
        return nullptr;
    }
    // Sends the keys this command takes. Keys missing from the file are left out.
    void send(ReaderChannel& channel, EngineSettings& engine, Command c, const Names& only = {},
              std::string_view except = {}) {
        std::array<std::int32_t*, kPacketMaxArgs> args{};
        std::size_t count = 0;
        for (const SectionKey& key : section_->keys) {
            int index = argIndex(c, key.name);
            std::int32_t* value = find(key.name);
            if (index < 0 || value == nullptr || !allowed(key.name, only, except)) {
                continue;
            }
            args[static_cast<std::size_t>(index)] = value;
            count = std::max(count, static_cast<std::size_t>(index) + 1);
        }
        if (count > 0) {
            run(channel, engine, c, kDirectionWrite,
                std::span<std::int32_t* const>(args.data(), count));
        }
    }

  private:
    const SectionDef* section_;
    std::array<std::int32_t, kMaxSectionKeys> values_{};
    bool exists_ = false;
};

// Values read from the engine by one command.
struct EngineValues {
    Command command;
    std::array<std::int32_t, kPacketMaxArgs> values{};
    Names only;
    std::string_view except;
    bool ok = false;
};

EngineValues readEngine(ReaderChannel& channel, EngineSettings& engine, Command c, Names only = {},
                        std::string_view except = {}) {
    EngineValues result{c, {}, std::move(only), except};
    std::array<std::int32_t*, kPacketMaxArgs> refs{};
    std::size_t n = argCount(c);
    auto names = c.ccd ? ccdArgumentNames(static_cast<CcdCommand>(c.id))
                       : packetArgumentNames(static_cast<PacketCommand>(c.id));
    for (std::size_t i = 0; i < n; ++i) {
        if (allowed(names[i], result.only, result.except)) {
            refs[i] = &result.values[i];
        }
    }
    result.ok = run(channel, engine, c, kDirectionRead,
                    std::span<std::int32_t* const>(refs.data(), n)) != 0;
    return result;
}

struct Extra {
    std::string_view key;
    std::int32_t* value;
};

// Writes a section from engine values and extra fields; keys without a source stay absent.
void writeSection(IniStore& store, const SectionDef& section, EngineType type,
                  std::initializer_list<EngineValues*> sources, std::initializer_list<Extra> extras,
                  const SectionCallback& onSection) {
    std::array<std::int32_t*, kMaxSectionKeys> refs{};
    for (std::size_t k = 0; k < section.keys.size(); ++k) {
        std::string_view key = section.keys[k].name;
        for (const Extra& e : extras) {
            if (e.key == key) {
                refs[k] = e.value;
            }
        }
        if (refs[k] != nullptr) {
            continue;
        }
        for (EngineValues* src : sources) {
            int index = argIndex(src->command, key);
            if (index >= 0 && allowed(key, src->only, src->except) &&
                argApplies(src->command, static_cast<std::size_t>(index), type)) {
                refs[k] = &src->values[static_cast<std::size_t>(index)];
                break;
            }
        }
    }
    accessSection(store, section, kDirectionWrite,
                  std::span<std::int32_t* const>(refs.data(), section.keys.size()));
    if (onSection) {
        onSection(section);
    }
}

// A symbology section and the command that carries it.
struct Link {
    const SectionDef* section;
    Command command;
    Names only = {};
    std::string_view except = {};
};

using C = CcdCommand;
using P = PacketCommand;

const std::vector<Link>& ccdLoadLinks() {
    static const std::vector<Link> links = {
        {&kCodabarCcd, ccdCmd(C::Codabar)},
        {&kIndustrial25Ccd, ccdCmd(C::Industrial25)},
        {&kInterleaved25Ccd, ccdCmd(C::Interleaved25)},
        {&kMatrix25Ccd, ccdCmd(C::Matrix25)},
        {&kCode39Ccd, ccdCmd(C::Code39)},
        {&kCode93Ccd, ccdCmd(C::Code93)},
        {&kIsbt128Ccd, ccdCmd(C::Isbt128)},
        {&kCode128Ccd, ccdCmd(C::Code128)},
        {&kEan128Ccd, ccdCmd(C::Ean128)},
        {&kPharmacodeCcd, ccdCmd(C::Pharmacode)},
        {&kMsiCcd, ccdCmd(C::Msi)},
        {&kNegativeCcd, ccdCmd(C::Negative)},
        {&kPlesseyCcd, ccdCmd(C::Plessey)},
        {&kRssCcd, ccdCmd(C::Rss)},
        {&kTelepenCcd, ccdCmd(C::Telepen)},
        {&kEan8Ccd, ccdCmd(C::Ean8)},
        {&kEan13UpcACcd, ccdCmd(C::Ean13UpcA)},
        {&kGtinCcd, ccdCmd(C::Gtin)},
        {&kUpcECcd, ccdCmd(C::UpcE)},
    };
    return links;
}

const std::vector<Link>& ccdSaveLinks() {
    static const std::vector<Link> links = {
        {&kCodabarCcd, ccdCmd(C::Codabar)},
        {&kIsbt128Ccd, ccdCmd(C::Isbt128)},
        {&kCode128Ccd, ccdCmd(C::Code128)},
        {&kEan128Ccd, ccdCmd(C::Ean128)},
        {&kCode39Ccd, ccdCmd(C::Code39)},
        {&kCode93Ccd, ccdCmd(C::Code93)},
        {&kEan13UpcACcd, ccdCmd(C::Ean13UpcA)},
        {&kEan8Ccd, ccdCmd(C::Ean8)},
        {&kGtinCcd, ccdCmd(C::Gtin)},
        {&kIndustrial25Ccd, ccdCmd(C::Industrial25)},
        {&kInterleaved25Ccd, ccdCmd(C::Interleaved25)},
        {&kMatrix25Ccd, ccdCmd(C::Matrix25)},
        {&kMsiCcd, ccdCmd(C::Msi)},
        {&kNegativeCcd, ccdCmd(C::Negative)},
        {&kPharmacodeCcd, ccdCmd(C::Pharmacode)},
        {&kPlesseyCcd, ccdCmd(C::Plessey)},
        {&kRssCcd, ccdCmd(C::Rss)},
        {&kTelepenCcd, ccdCmd(C::Telepen)},
        {&kUpcECcd, ccdCmd(C::UpcE)},
    };
    return links;
}

std::vector<Link> laserLoadLinks(EngineType type) {
    std::vector<Link> links = {
        {&kCodabarLr, pkt(P::Codabar)},
        {&kCode128Lr, pkt(P::Code128), {"enable", "uccEan128", "isbt128"}},
        {&kCode39Lr, pkt(P::Code39)},
        {&kCode93Lr, pkt(P::Code93)},
        {&kDiscrete25Lr, pkt(P::Discrete25)},
        {&kEanJanLr, pkt(P::EanJan), {}, "upcEanSecurityLevel"},
        {&kInterleaved25Lr, pkt(P::Interleaved25)},
        {&kMiscLr, pkt(P::Miscellaneous)},
        {&kMsiLr, pkt(P::Msi)},
        {&kRssLr, pkt(P::Rss)},
        {&kUpcLr, pkt(P::Upc)},
    };
    if (type == EngineType::Laser1D955) {
        links.push_back({&kCode11_2D, pkt(P::Code11)});
        links.push_back({&kChinese25, pkt(P::Chinese25)});
    }
    return links;
}

std::vector<Link> laserSaveLinks(EngineType type) {
    std::vector<Link> links = laserLoadLinks(type);
    links[1].only.clear();  // Code 128: all five keys
    links[5].except = {};   // EAN, JAN: every key
    return links;
}

std::vector<Link> imagerLoadLinks() {
    return {
        {&kCodabarLr, pkt(P::Codabar)},
        {&kCode11_2D, pkt(P::Code11)},
        {&kCode128Lr, pkt(P::Code128)},
        {&kCode39Lr, pkt(P::Code39)},
        {&kCode93Lr, pkt(P::Code93)},
        {&kComposite2D, pkt(P::Composite)},
        {&kDiscrete25Lr, pkt(P::Discrete25)},
        {&kEanJanLr, pkt(P::EanJan), {}, "upcEanSecurityLevel"},
        {&kInterleaved25Lr, pkt(P::Interleaved25)},
        {&kMacroPdf2D, pkt(P::MacroPdf)},
        {&kMiscLr, pkt(P::Miscellaneous)},
        {&kMsiLr, pkt(P::Msi)},
        {&kPostal2D, pkt(P::Postal)},
        {&kRssLr, pkt(P::Rss)},
        {&kSecurity2D, pkt(P::SecurityLevel)},
        {&kUpcLr, pkt(P::Upc)},
    };
}

std::vector<Link> imagerSaveLinks() {
    std::vector<Link> links = imagerLoadLinks();
    links[7].except = {};  // EAN, JAN: every key
    // Security level goes after the others, on type 3 only; the short symbology form comes
    // before UPC.
    links.erase(links.begin() + 14);
    links.insert(links.end() - 1, Link{&kSymbologies2DShort, pkt(P::Symbologies2DShort)});
    return links;
}

// The sections only the newer imager has, after its "Image 2D": Chinese 2 of 5, Matrix 2 of 5,
// and the full form of the 2D symbologies (second, so that it wins over the short form).
std::vector<Link> imager4507Links() {
    return {{&kChinese25, pkt(P::Chinese25)},
            {&kMatrix25_2D, pkt(P::Matrix25)},
            {&kSymbologies2DFull, pkt(P::Symbologies2DFull)}};
}

void loadLinks(ReaderChannel& channel, EngineSettings& engine, IniStore& store,
               const std::vector<Link>& links, const SectionCallback& onSection) {
    for (const Link& link : links) {
        SectionValues values(store, *link.section);
        if (values.exists()) {
            values.send(channel, engine, link.command, link.only, link.except);
            if (onSection) {
                onSection(*link.section);
            }
        }
    }
}

void saveLinks(ReaderChannel& channel, EngineSettings& engine, IniStore& store,
               const std::vector<Link>& links, const SectionCallback& onSection) {
    for (const Link& link : links) {
        EngineValues values = readEngine(channel, engine, link.command, link.only, link.except);
        if (values.ok) {
            writeSection(store, *link.section, channel.engineType, {&values}, {}, onSection);
        }
    }
}

// "Image 2D": the enable is the program's own; the rest goes to the imager options.
void loadImage2D(ReaderChannel& channel, EngineSettings& engine, IniStore& store,
                 AppSettings& settings, const SectionCallback& onSection) {
    SectionValues values(store, kImage2D);
    if (!values.exists()) {
        return;
    }
    if (std::int32_t* enable = values.find("enable")) {
        settings.imageEnable = *enable;
    }
    values.send(channel, engine, pkt(P::ImagerOptions), {}, "snapshotModeTimeout");
    if (onSection) {
        onSection(kImage2D);
    }
}

void saveImage2D(ReaderChannel& channel, EngineSettings& engine, IniStore& store,
                 AppSettings& settings, const SectionCallback& onSection) {
    // Type 8 keeps its exposure in the gain parameter, so it is not saved for that type.
    EngineValues values =
        channel.engineType == EngineType::Imager2D4507
            ? readEngine(channel, engine, pkt(P::ImagerOptions),
                         {"imageAutoexposure", "imageIllumination", "gain", "snapshotAimPattern",
                          "imageResolution", "jpgImageOptions", "qualityValue", "jpgSizeValue",
                          "imageFileFormat", "bitsPerPixel"})
            : readEngine(channel, engine, pkt(P::ImagerOptions), {}, "snapshotModeTimeout");
    if (values.ok) {
        writeSection(store, kImage2D, channel.engineType, {&values},
                     {{"enable", &settings.imageEnable}}, onSection);
    }
}

void loadBarcode(ReaderManager& manager, EngineSettings& engine, IniStore& store,
                 AppSettings& settings, const SectionCallback& onSection) {
    ReaderChannel& channel = manager.barcode;
    EngineType type = channel.engineType;
    auto takeEnable = [&](SectionValues& values) {
        if (std::int32_t* enable = values.find("enableBarcode")) {
            settings.enableBarcode = *enable;
        }
    };
    switch (type) {
        case EngineType::CcdLaser: {
            SectionValues reader(store, kReaderCcd);
            if (reader.exists()) {
                takeEnable(reader);
                reader.send(channel, engine, ccdCmd(C::Reader),
                            {"scanMode", "redundancy", "laserOnTime"});
                notify(onSection, kReaderCcd);
            }
            loadLinks(channel, engine, store, ccdLoadLinks(), onSection);
            break;
        }
        case EngineType::LongRange1D:
        case EngineType::Laser1D955: {
            SectionValues reader(store, kReader1DLr);
            if (reader.exists()) {
                takeEnable(reader);
                reader.send(channel, engine, pkt(P::Reader1D),
                            {"laserOnTime", "scanAngle", "linearCodeTypeSecurityLevels",
                             "aimDurtion", "scanMode"});
                notify(onSection, kReader1DLr);
            }
            loadLinks(channel, engine, store, laserLoadLinks(type), onSection);
            break;
        }
        case EngineType::Imager2D:
        case EngineType::Imager2D4507: {
            SectionValues reader(store, kReader2D);
            if (reader.exists()) {
                takeEnable(reader);
                Names readerKeys = {"laserOnTime"};
                if (type == EngineType::Imager2D4507) {
                    readerKeys.push_back("scanMode");
                }
                reader.send(channel, engine, pkt(P::Reader2D), readerKeys);
                reader.send(channel, engine, pkt(P::ImagerOptions),
                            {"decodingIllumination", "decodeAimingPattern", "imgFocus"});
                notify(onSection, kReader2D);
            }
            std::vector<Link> links = imagerLoadLinks();
            loadLinks(channel, engine, store, links, onSection);
            if (type == EngineType::Imager2D) {
                loadLinks(channel, engine, store,
                          {{&kSymbologies2DShort, pkt(P::Symbologies2DShort)}}, onSection);
                loadImage2D(channel, engine, store, settings, onSection);
            } else {
                loadImage2D(channel, engine, store, settings, onSection);
                loadLinks(channel, engine, store, imager4507Links(), onSection);
            }
            break;
        }
        default:
            settings.enableBarcode = 0;
            break;
    }
}

void saveBarcode(ReaderManager& manager, EngineSettings& engine, IniStore& store,
                 AppSettings& settings, const SectionCallback& onSection) {
    ReaderChannel& channel = manager.barcode;
    EngineType type = channel.engineType;
    std::int32_t one = 1;
    switch (type) {
        case EngineType::CcdLaser: {
            // Written even when the read fails.
            EngineValues reader = readEngine(channel, engine, ccdCmd(C::Reader));
            writeSection(store, kReaderCcd, type, {&reader},
                         {{"hasCCD", &one}, {"enableBarcode", &settings.enableBarcode}}, onSection);
            saveLinks(channel, engine, store, ccdSaveLinks(), onSection);
            break;
        }
        case EngineType::LongRange1D:
        case EngineType::Laser1D955: {
            EngineValues reader =
                readEngine(channel, engine, pkt(P::Reader1D),
                           {"laserOnTime", "scanAngle", "linearCodeTypeSecurityLevels",
                            "aimDurtion", "scanMode"});
            if (reader.ok) {
                writeSection(store, kReader1DLr, type, {&reader},
                             {{type == EngineType::LongRange1D ? "has1DLR" : "has1D_955", &one},
                              {"enableBarcode", &settings.enableBarcode}},
                             onSection);
            }
            saveLinks(channel, engine, store, laserSaveLinks(type), onSection);
            break;
        }
        case EngineType::Imager2D:
        case EngineType::Imager2D4507: {
            EngineValues reader =
                readEngine(channel, engine, pkt(P::Reader2D), {"laserOnTime", "scanMode"});
            EngineValues options =
                readEngine(channel, engine, pkt(P::ImagerOptions),
                           {"decodingIllumination", "decodeAimingPattern", "imgFocus"});
            if (options.ok) {
                writeSection(store, kReader2D, type, {&reader, &options},
                             {{type == EngineType::Imager2D ? "has2D" : "has2D_4507", &one},
                              {"enableBarcode", &settings.enableBarcode}},
                             onSection);
            }
            saveLinks(channel, engine, store, imagerSaveLinks(), onSection);
            if (type == EngineType::Imager2D) {
                saveLinks(channel, engine, store, {{&kSecurity2D, pkt(P::SecurityLevel)}},
                          onSection);
                saveImage2D(channel, engine, store, settings, onSection);
            } else {
                saveImage2D(channel, engine, store, settings, onSection);
                saveLinks(channel, engine, store, imager4507Links(), onSection);
            }
            break;
        }
        default:
            break;
    }
}

// RFID keys in section order: hasRfid, enableRfid, rfidRW, rfidReadStartByte, rfidReadLength,
// displayUserDataByHex, rfidWriteStartByte, rfidWriteContent, isHexContent, mifareLoginKeyA,
// m_rfidSecurityKeyType, timeOfPowerOn.
constexpr std::size_t kHasRfid = 0;
constexpr std::size_t kMifareKey = 9;
constexpr std::size_t kMifareKeyType = 10;
constexpr std::size_t kPowerOn = 11;

std::array<FieldRef, kRfidKeyCount> rfidRefs(AppSettings& settings, EngineType type) {
    std::array<FieldRef, kRfidKeyCount> refs = settings.rfidFields();
    refs[kHasRfid] = nullptr;
    if (type == EngineType::RfidHex) {
        refs[kMifareKey] = nullptr;
        refs[kMifareKeyType] = nullptr;
    } else {
        refs[kPowerOn] = nullptr;
    }
    return refs;
}

bool exchangesRfidKeys(EngineType type) {
    return type == EngineType::RfidAscii || type == EngineType::RfidHex ||
           type == EngineType::RfidBinaryLink;
}

}  // namespace

ReaderHints readerHints(const IniStore& constStore) {
    ReaderHints hints;
    if (constStore.isEmpty()) {
        return hints;
    }
    // The accessors take the store for both directions; reading leaves it as it is.
    IniStore& store = const_cast<IniStore&>(constStore);
    std::int32_t hasCCD = 0, has2D = 0, has2D_4507 = 0, has1D_955 = 0, has1DLR = 0, hasRfid = 0;
    accessSection<kReaderCcd>(store, kDirectionRead, &hasCCD);
    accessSection<kReader2D>(store, kDirectionRead, &has2D, &has2D_4507);
    accessSection<kReader1DLr>(store, kDirectionRead, &has1D_955, &has1DLR);
    accessSection<kRfid>(store, kDirectionRead, &hasRfid);
    hints.barcode = hasCCD != 0       ? EngineType::CcdLaser
                    : has2D != 0      ? EngineType::Imager2D
                    : has2D_4507 != 0 ? EngineType::Imager2D4507
                    : has1DLR != 0    ? EngineType::LongRange1D
                    : has1D_955 != 0  ? EngineType::Laser1D955
                                      : EngineType::None;
    hints.rfid = engineTypeFromNumber(hasRfid);
    return hints;
}

void loadAll(ReaderManager& manager, EngineSettings& engine, IniStore& store, AppSettings& settings,
             const SectionCallback& onSection) {
    auto general = settings.generalFields();
    accessSection(store, kGeneral, kDirectionRead, std::span<const FieldRef>(general));
    loadBarcode(manager, engine, store, settings, onSection);
    EngineType rfidType = manager.rfid.engineType;
    if (exchangesRfidKeys(rfidType)) {
        auto refs = rfidRefs(settings, rfidType);
        accessSection(store, kRfid, kDirectionRead, std::span<const FieldRef>(refs));
    } else {
        settings.enableRfid = 0;
    }
}

void saveAll(ReaderManager& manager, EngineSettings& engine, IniStore& store, AppSettings& settings,
             const SectionCallback& onSection) {
    auto general = settings.generalFields();
    accessSection(store, kGeneral, kDirectionWrite, std::span<const FieldRef>(general));
    notify(onSection, kGeneral);
    saveBarcode(manager, engine, store, settings, onSection);
    EngineType rfidType = manager.rfid.engineType;
    if (exchangesRfidKeys(rfidType)) {
        auto refs = rfidRefs(settings, rfidType);
        settings.hasRfid = toNumber(rfidType);
        refs[kHasRfid] = &settings.hasRfid;
        accessSection(store, kRfid, kDirectionWrite, std::span<const FieldRef>(refs));
        notify(onSection, kRfid);
    }
}

std::vector<SymbologyEnable> restoreDefaults(ReaderManager& manager, EngineSettings& engine,
                                             IniStore& store, AppSettings& settings) {
    engine.applyDefaults(manager, kBarcodePort);
    engine.applyDefaults(manager, kRfidPort);
    settings.resetToDefaults();
    ReaderChannel& channel = manager.barcode;
    std::vector<Link> links;
    switch (channel.engineType) {
        case EngineType::CcdLaser:
            links = ccdLoadLinks();
            break;
        case EngineType::LongRange1D:
        case EngineType::Laser1D955:
            links = laserLoadLinks(channel.engineType);
            break;
        case EngineType::Imager2D:
        case EngineType::Imager2D4507:
            links = imagerLoadLinks();
            if (channel.engineType == EngineType::Imager2D4507) {
                std::vector<Link> own = imager4507Links();
                links.insert(links.end(), own.begin(), own.end());
            }
            break;
        default:
            break;
    }
    std::vector<SymbologyEnable> enables;
    for (const Link& link : links) {
        if (argIndex(link.command, "enable") != 0) {
            continue;
        }
        EngineValues values = readEngine(channel, engine, link.command, {"enable"});
        if (!values.ok) {
            continue;
        }
        std::int32_t enable = values.values[0];
        accessSection(store, *link.section, kDirectionWrite,
                      std::span<std::int32_t* const>(std::array<std::int32_t*, 1>{&enable}));
        enables.push_back({link.section, enable});
    }
    return enables;
}

}  // namespace vandora
