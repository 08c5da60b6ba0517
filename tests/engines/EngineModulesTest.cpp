// The full engine table: the RFID kinds sit in the rows of the RFID types, and a row whose slot is
// empty behaves as a terminal without an RFID module instead of reaching a kind that is not there.
#include <gtest/gtest.h>

#include "reader/engines/EngineTable.h"
#include "rfid/RfidModule.h"
#include "rfid/TagOps.h"
#include "support/SimRig.h"

namespace vandora {
namespace {

using testing::SimRig;

TEST(EngineModules, EachRfidTypeHasItsKindAndNoOtherTypeHasOne) {
    struct Case {
        EngineType type;
        const RfidModule* kind;
        RfidCommandSet column;
    };
    const Case cases[] = {
        {EngineType::RfidAscii, &letterModule(), RfidCommandSet::Letters},
        {EngineType::RfidHex, &hexModule(), RfidCommandSet::HexFrames},
        {EngineType::RfidBinaryLink, &linkModule(), RfidCommandSet::Link},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(engineInfo(c.type).name);
        EXPECT_EQ(engineInfo(c.type).module, c.kind);
        EXPECT_EQ(c.kind->commandSet(), c.column);
    }
    for (const EngineInfo& row : engineRows()) {
        EXPECT_EQ(row.module != nullptr, row.port == kRfidPort) << row.name;
    }
}

// Puts a row's slot back however the test ends.
class EmptiedSlot {
  public:
    explicit EmptiedSlot(EngineType type) : type_(type), kept_(engineInfo(type).module) {
        setEngineModule(type, nullptr);
    }
    ~EmptiedSlot() { setEngineModule(type_, kept_); }
    EmptiedSlot(const EmptiedSlot&) = delete;
    EmptiedSlot& operator=(const EmptiedSlot&) = delete;

  private:
    EngineType type_;
    const EngineModule* kept_;
};

TEST(EngineModules, AnEmptySlotIsNoRfidModule) {
    SimRig rig;
    rig.engine(2, 6);
    ReaderManager& manager = *rig.manager;
    {
        EmptiedSlot empty(EngineType::RfidHex);
        EXPECT_EQ(manager.openReader(kRfidPort, EngineType::RfidHex), 0)
            << "identified, but nothing opens the channel";
        EXPECT_FALSE(manager.hasRfidListener());
        manager.rfid.engineType = EngineType::RfidHex;
        manager.rfidReady = 1;
        TagRead read;
        EXPECT_EQ(readTag(manager, -1, 4, "", 0, read), 0);
        EXPECT_EQ(writeTag(manager, 0, ByteString("AB"), "", 0), 0);
        EXPECT_EQ(manager.rfid.channelLock.count(), 1u);
    }
    manager.closeReader(kRfidPort);
    EXPECT_EQ(manager.openReader(kRfidPort, EngineType::RfidHex), 1);
    EXPECT_TRUE(manager.hasRfidListener());
}

}  // namespace
}  // namespace vandora
