// The pseudo-terminals the simulators stand behind: the host opens the slave side as its serial
// port, the simulator serves the master side.
#pragma once

#include <cstdint>
#include <string>

namespace vandora::sim {

// Opens a pseudo-terminal whose slave side starts raw; master non-blocking. 0 or errno.
int openRawPseudoTerminal(int& master, std::string& slavePath);
// The rate the slave side of a pseudo-terminal is set to (read through its master); 0 unknown.
std::uint32_t pseudoTerminalBaud(int master);

}  // namespace vandora::sim
