// Folders the program reads from and writes to.
#pragma once

#include <string>

namespace vandora {

// The program folder (INI file, default picture folder): $VANDORA_HOME, else the folder of the
// running executable. Always ends with "/".
std::string programFolder();

// The terminal's system folder (system libraries, sounds): $VANDORA_SYSTEM_DIR, else
// /usr/lib/vandora/system/. Always ends with "/".
std::string systemFolder();

}  // namespace vandora
