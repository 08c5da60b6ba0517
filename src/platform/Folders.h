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

// The user's state folder of the program, where settings that could not be written to the
// program folder are kept: $XDG_STATE_HOME/vandora/ when that is an absolute path, else
// ~/.local/state/vandora/ ($HOME, else the user's home in the password database). Always ends
// with "/"; it may not exist yet.
std::string stateFolder();

}  // namespace vandora
