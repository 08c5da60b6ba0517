// One row of facts per engine type: how its commands are framed, how it is identified, at which
// rates it may talk, how it is triggered, in which scan modes it reads by itself, whether it takes
// pictures, and what the window does around it. Identification, exchange, scanning, the settings
// and the window look the differences up here instead of switching on the type in many places:
// a new engine type is a new row (plus its settings plan and its simulator).
//
// The RFID modules are driven from above the reader core: their rows here hold what the core
// itself does with them (framing, identification, rates), and a module slot that the RFID code
// fills once at start (setEngineModule) with how the module is triggered, how its answer is awaited
// and named, and what opening its channel does. A row with an empty slot has no such module.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

#include "common/ByteString.h"
#include "reader/ReaderTypes.h"

namespace vandora {

class ReaderManager;
struct ReaderChannel;

enum class Framing : std::uint8_t {
    None,       // no traffic of its own (none, detect)
    CcdText,    // thirty 0xFF, ESC, text, CR; reply text ended by CR
    AsciiText,  // plain text; reply ended by LF
    HexText,    // plain text; reply ends when the line goes quiet
    Packet,     // length, opcode, source, status, data, 16-bit checksum
    Link,       // only through the RFID binary link
};

// How a wrapped (0x99) decode packet is laid out.
enum class WrappedDecode : std::uint8_t { None, Imager, Laser };

// How the engine is moved from 9600 to its working rate.
enum class BaudCommand : std::uint8_t { Unsupported, NotNeeded, AsciiWp, PacketParameter };

// What the identification answer must show. The checks themselves live in Identify.cpp.
enum class IdentifyRule : std::uint8_t {
    None,
    AnyButNg,         // any reply other than "NG"
    RevisionSpaces,   // the character before the third space names the type (revisionLetters)
    RfidAsciiBanner,  // "MultiISO 1." or "ISO 0.9v"
    AnyReply,
    LinkModuleInfo,  // the binary link's module information succeeds
    Paaaa,           // "PAAAA" at or after the fifth byte
    Byte16Is98or99,  // at least 17 bytes, the sixteenth 0x98 or 0x99
};

// What a start-up hint of this type asks identification to do.
enum class HintRole : std::uint8_t {
    Engine,    // probe this type (on its own port; on the other port, detect)
    NoEngine,  // the barcode port stays empty; the RFID port detects
    Detect,    // walk the terminal model's detection order
};

// How a trigger press and release reach a barcode engine (the modules of the slot trigger
// themselves).
enum class TriggerStyle : std::uint8_t {
    None,
    CcdOnOff,         // "ON" / "OFF" under the channel lock
    PacketStartStop,  // start / stop decoding packets under the channel lock
    PacketAiming,     // aim first on every other press, then start decoding
};

// Where the engine's scan mode is read when choosing between a triggered and a waiting read.
enum class ScanModeSource : std::uint8_t { Setting, CcdBlock };

// What the core asks of a module it does not drive itself (an RFID module kind), without knowing
// which kind it is. The module's code lives above the core and fills the slot of its row.
class EngineModule {
  public:
    // A trigger press (on 1) or release (0). The module manages its port itself: called without
    // the channel lock. Nothing is sent when triggerOn already equals on.
    virtual std::int32_t trigger(ReaderChannel& channel, std::int32_t on) const = 0;
    // Waits for the answer to a press, names it and reads what the press asked for; nonzero when
    // an answer came, else the cause in lastError.
    virtual std::int32_t awaitAnswer(ReaderChannel& channel) const = 0;
    // Names the answer in decodeData: codeTypeId and codeTypeName, the answer's lead stripped.
    virtual void nameAnswer(ReaderChannel& channel) const = 0;
    // Once the module is identified on its freshly opened channel: sends its settings and leaves
    // the port as the module needs it between reads. Nonzero when the channel is ready.
    virtual std::int32_t open(ReaderManager& manager, ReaderChannel& channel) const = 0;

  protected:
    constexpr EngineModule() = default;
    ~EngineModule() = default;
    EngineModule(const EngineModule&) = default;
    EngineModule& operator=(const EngineModule&) = default;
};

// The decoder firmware file an engine takes.
enum class FirmwareFile : std::uint8_t {
    None,
    Shx,  // S-record text, sent as raw download lines with the CCD/Laser framing
    Dat,  // length-led records, sent as packets after a loader hand-shake
};

// Where the engine's firmware version text is found.
enum class VersionText : std::uint8_t {
    None,
    Reply,          // the whole answer to the identification query
    RevisionWord,   // the revision answer from its data up to the first space
    RevisionCells,  // versionCells bytes of the revision answer's data
};

// Which of the window's settings the engine shows: the reader page's table and the Symbologies
// tab's lines.
enum class PageFamily : std::uint8_t { None, CcdLaser, Imager2D, Laser1D };

// A set of scan-mode values, one bit per value.
struct ModeSet {
    std::uint16_t bits = 0;

    constexpr ModeSet() = default;
    constexpr ModeSet(std::initializer_list<unsigned> values) {
        for (unsigned v : values) {
            bits = static_cast<std::uint16_t>(bits | (1u << v));
        }
    }
    constexpr bool has(std::int32_t mode) const {
        return mode >= 0 && mode < 16 && (bits & (1u << static_cast<unsigned>(mode))) != 0;
    }
};

// The pause between two reads of the continuous-scan thread: inModesMs in the listed scan
// modes, otherwiseMs in the others.
struct ContinuousPause {
    ModeSet modes;
    std::uint32_t inModesMs = 0;
    std::uint32_t otherwiseMs = 200;

    constexpr std::uint32_t forMode(std::int32_t mode) const {
        return modes.has(mode) ? inModesMs : otherwiseMs;
    }
};

struct EngineInfo {
    EngineType type = EngineType::None;
    const char* name = "";
    // Channel the engine sits on (kBarcodePort, kRfidPort; 0 for none and detect).
    std::int32_t port = 0;
    HintRole hint = HintRole::Engine;
    // Wait before a hinted type is probed: an engine that powers up slowly.
    std::uint32_t hintWaitMs = 0;
    // Type tried when a hinted type does not answer (None: no second try).
    EngineType hintFallback = EngineType::None;
    Framing framing = Framing::None;
    // Identification query: text, or packet bytes without checksum.
    std::string_view query{};
    std::int32_t queryAttempts = 0;
    IdentifyRule rule = IdentifyRule::None;
    // RevisionSpaces: the characters before the third space that name this type.
    std::string_view revisionLetters{};
    // The rate the engine works at, and whether it may also be found at 9600 and moved.
    std::uint32_t workingBaud = 0;
    bool alsoAt9600 = false;
    BaudCommand baudCommand = BaudCommand::Unsupported;
    // Wait for every reply byte after the first.
    std::uint32_t laterByteMs = 20;
    WrappedDecode wrapped = WrappedDecode::None;
    TriggerStyle trigger = TriggerStyle::None;
    ScanModeSource modeSource = ScanModeSource::Setting;
    // Scan modes in which the engine reads by itself: the host only waits for decodes and a
    // press does nothing.
    ModeSet selfScanModes{};
    // Scan modes in which a press toggles reading by itself on and off.
    ModeSet toggleScanModes{};
    // Waiting reads that keep only decodes of a known code type.
    ModeSet knownTypesOnlyModes{};
    // Scan modes in which a release leaves the engine reading.
    ModeSet releaseKeepsScanning{};
    // The host keeps a copy of the engine's parameter block: code-type checks, host-side
    // EAN/UPC options written back on close, the port purged after a waiting read.
    bool ccdBlock = false;
    // A 2D imager: takes pictures, takes decoder firmware, its text decodes use the code page.
    bool imager = false;
    // The continuous-scan thread runs, pausing this long between reads.
    bool continuousScan = false;
    ContinuousPause continuousPause{};
    // The settings are sent again after a pause when the engine re-initialises.
    bool reinitThread = false;
    // The module code above the core that triggers, awaits, names and opens this type; null for
    // the engines the core drives itself, and until the module code is installed.
    const EngineModule* module = nullptr;
    VersionText version = VersionText::None;
    std::uint8_t versionCells = 0;
    FirmwareFile firmware = FirmwareFile::None;
    // The file dialog's filter and the text after a successful upload (firmware engines).
    const char* firmwareFilter = "";
    const char* uploadDoneText = "";
    // Configuration key of the reader section that names it ("" for RFID types).
    const char* configKey = "";
    // Name in the tray menu ("" when not shown).
    const char* trayName = "";
    // The window's settings for this engine (barcode engines).
    PageFamily pages = PageFamily::None;
    // The module keeps Mifare keys the window can change (the "Mifare Keys" page).
    bool mifareKeysPage = false;
    // The "RFID Reader" button opens the module's page even while RFID reading is off.
    bool rfidPageWhileOff = false;
};

// The row of a type; a number that names no type gets the detect row (no engine of its own,
// and as a hint it asks for detection).
const EngineInfo& engineInfo(EngineType type);
// Every row, in type order.
std::span<const EngineInfo> engineRows();
// Fills the module slot of a type's row. Called once at start, before any channel opens.
void setEngineModule(EngineType type, const EngineModule* module);

inline bool isPacketEngine(EngineType type) {
    return engineInfo(type).framing == Framing::Packet;
}

// Whether the engine reads by itself in a scan mode: the host then only waits for its decodes,
// a press does nothing, and the continuous-scan thread must keep reading.
inline bool readsBySelf(EngineType type, std::int32_t scanMode) {
    return engineInfo(type).selfScanModes.has(scanMode);
}

// One step of a detection order: try a type, after a pause that gives an engine still powering up
// time to answer the later candidates.
struct DetectStep {
    EngineType type;
    std::uint32_t sleepBeforeMs;
};

}  // namespace vandora
