// Setting commands of the CCD/Laser engine. The engine keeps all its settings in one
// configuration block; each command reads or changes a few bits of the program's copy
// (the barcode channel's parameterImage) and, when something changed, sends the whole block back
// with "SAVE".
//
// Every command takes the direction ('r' reads from the copy, 'w' writes to the engine) and one
// optional argument per setting, in the command's order (null: leave that setting alone). The
// arguments are bound to the keys of the command's section (CcdCommandTable.h). Results are 1 or 0.
//
// Locking: a write holds the channel's channelLock from its first look at the block to its end,
// so a block is never sent half changed; the scan thread and the settings pages may both send.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "config/engines/CommandSet.h"
#include "reader/ReaderManager.h"

namespace vandora {

enum class CcdCommand : std::uint8_t {
    Reader,
    Codabar,
    Industrial25,
    Interleaved25,
    Matrix25,
    Code39,
    Code93,
    Ean128,
    Isbt128,
    Code128,
    Pharmacode,
    Msi,
    Negative,
    Plessey,
    Rss,
    Telepen,
    Ean8,
    Ean13UpcA,
    Gtin,
    UpcE,
    CheckDigitRestore,
    Count,
};

// The arguments of a command, in order, with the section keys they mirror.
std::span<const ArgBinding> ccdArguments(CcdCommand command);
// The argument names of a command, in order.
std::vector<std::string_view> ccdArgumentNames(CcdCommand command);
// Index of a named argument; -1 when the command has none of that name.
int ccdArgumentIndex(CcdCommand command, std::string_view name);

// Runs a command on channel, one of manager's. args holds one pointer per argument (fewer: the
// rest are absent).
std::int32_t ccdCommand(ReaderManager& manager, ReaderChannel& channel, CcdCommand command,
                        int direction, std::span<std::int32_t* const> args);

// Fills parameterImage from the engine with the configuration query "SET".
std::int32_t ccdQueryBlock(ReaderChannel& channel);

// The commands above behind the interface the settings transfer uses (the parameter cache is not
// used: the block is the host's own copy).
const CommandSet& ccdCommandSet();

}  // namespace vandora
