// The RFID module kinds as the tag operations see them. Each kind (the letter-command module, the
// hexadecimal-frame module, the binary link) is one file that implements this interface: how it
// is triggered and how its answer is awaited and named (the reader core asks that through the
// slot of its engine row), how it finds a tag, reads and writes blocks and user data. The tag
// operations (TagOps.h, TagChannel.h) call the kind of the channel without knowing which it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "common/ByteString.h"
#include "reader/ReaderManager.h"
#include "reader/engines/EngineTable.h"
#include "rfid/RfidTag.h"
#include "rfid/TagChannel.h"
#include "rfid/TagOps.h"

namespace vandora {

// The columns of the tag type table by module kind (block sizes, readable and writable types).
enum class RfidCommandSet : std::uint8_t {
    None,       // no RFID module
    Letters,    // letter commands ("s", "l", "r"/"rb", "w"/"wb")
    HexFrames,  // frames written as hexadecimal text
    Link,       // the binary link's tag calls
};
constexpr std::size_t kRfidCommandSets = 4;

// Block commands of the text modules: the wait for an answer and the attempts.
constexpr std::uint32_t kBlockCommandMs = 1000;
constexpr std::int32_t kBlockReadAttempts = 2;
constexpr std::int32_t kBlockWriteAttempts = 3;

class RfidModule : public EngineModule {
  public:
    // The module's column in the tag type table.
    constexpr RfidCommandSet commandSet() const { return set_; }

    // Finds one tag and copies it to out; the channel lock is held and the read range set.
    virtual std::int32_t readTag(ReaderManager& manager, ReaderChannel& channel,
                                 const ByteString& keyText, std::int32_t keyType,
                                 TagRead& out) const = 0;
    // Writes data at startByte of the tag in the field; the bytes written (0: failure). Takes the
    // channel lock itself.
    virtual std::int32_t writeTag(ReaderManager& manager, ReaderChannel& channel,
                                  std::int32_t startByte, const ByteString& data,
                                  const ByteString& keyText, std::int32_t keyType) const = 0;
    // One block of the named tag (a checked block number).
    virtual std::int32_t readBlock(ReaderChannel& channel, std::int32_t block,
                                   ByteString& out) const = 0;
    virtual std::int32_t writeBlock(ReaderChannel& channel, std::int32_t block,
                                    const ByteString& content) const = 0;
    // The user data of range into the tag state's userData; nonzero when any was read.
    virtual std::int32_t readRange(ReaderChannel& channel, const BlockRange& range) const = 0;
    // New keys for a Mifare sector through a call of the module's own; none by default.
    virtual std::int32_t writeMifareKeys(ReaderManager& /*manager*/, std::int32_t /*loginKeyType*/,
                                         std::int32_t /*sector*/,
                                         std::span<const std::uint8_t, 6> /*loginKey*/,
                                         std::span<const std::uint8_t, 6> /*newKeyA*/,
                                         std::span<const std::uint8_t, 6> /*newKeyB*/) const {
        return 0;
    }
    // New keys for a Mifare sector, whichever way the module takes them: by default its own call.
    virtual std::int32_t changeSectorKeys(ReaderManager& manager, const SectorKeys& keys) const {
        return writeMifareKeys(manager, keys.keyType, keys.sector, keys.loginKey, keys.newKeyA,
                               keys.newKeyB);
    }

  protected:
    explicit constexpr RfidModule(RfidCommandSet set) : set_(set) {}
    ~RfidModule() = default;
    RfidModule(const RfidModule&) = default;
    RfidModule& operator=(const RfidModule&) = default;

  private:
    RfidCommandSet set_;
};

// The module kind of the channel's engine type; null when it has none.
const RfidModule* rfidModuleOf(const ReaderChannel& channel);

// The three kinds, one file each; the engine modules installed at start put them in their rows.
const RfidModule& letterModule();
const RfidModule& hexModule();
const RfidModule& linkModule();

// --- shared by the kinds (TagOps.cpp, TagChannel.cpp) ----------------------------------------

// Sets codeTypeId and codeTypeName (name null: the tag type table's name of the code).
void setTagCode(ReaderChannel& channel, std::int32_t code, const char* name = nullptr);
// ISO 15693 answers carry the maker byte at characters 3 and 4 of decodeData (after the lead and
// "E0"); false when the answer is too short to hold it.
bool nameByMaker(ReaderChannel& channel);
// Reads the blocks of range one by one into the tag state's userData, logging in to each Mifare
// sector first when login is set; nonzero when any data was read.
std::int32_t readRangeByBlocks(ReaderChannel& channel, const BlockRange& range, bool login);
// One detection: trigger on, the answer, trigger off.
std::int32_t detectOnce(ReaderManager& manager, ReaderChannel& channel);
void copyTagOut(ReaderChannel& channel, TagRead& out);
// The letter module takes the whole key part of its login command: "AA" or "BB" and 12 digits.
void setLetterKey(RfidTagState& tag, const ByteString& keyText, std::int32_t keyType);
void setTagRange(RfidTagState& tag, std::int32_t readStart, std::int32_t readLength);
// With the tag found and its block size known: cuts data into the blocks from startByte and
// writes them (logging in to each Mifare sector when login is set), then releases the trigger.
// The bytes written.
std::int32_t writeFoundTag(ReaderChannel& channel, const RfidModule& module, std::int32_t startByte,
                           const ByteString& data, bool login);
// Cuts data into block pieces from range.firstOffset and writes them; the first and last blocks
// (every block when mergeAll) merge with what the tag holds. Ends at the first failed block and
// returns the bytes written.
std::int32_t writePieces(ReaderChannel& channel, const BlockRange& range, std::int32_t startByte,
                         const ByteString& data, bool mergeAll, bool login);

}  // namespace vandora
