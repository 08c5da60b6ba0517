// The full engine table: the rows of the reader core with the module slots filled by the code of
// the module kinds above it (rfid/). Like a driver list above a kernel, this is the one place that
// says which kind serves which engine type. A program gets the filled table by linking
// vandora_engines: the slots are filled as it loads, before main.
#pragma once

namespace vandora {

// Fills the module slots of the engine table; calling it again changes nothing.
void installEngineModules();

}  // namespace vandora
