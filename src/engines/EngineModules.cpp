#include "engines/EngineModules.h"

#include "reader/engines/EngineTable.h"
#include "rfid/RfidModule.h"

namespace vandora {

void installEngineModules() {
    setEngineModule(EngineType::RfidAscii, &letterModule());
    setEngineModule(EngineType::RfidHex, &hexModule());
    setEngineModule(EngineType::RfidBinaryLink, &linkModule());
}

namespace {

// Filled as the program loads: every program and test that links this file has the whole table
// before its first channel opens, without a call of its own.
[[maybe_unused]] const bool gInstalled = (installEngineModules(), true);

}  // namespace

}  // namespace vandora
