// ProgramModule: the program's own optional parts built as loadable modules (the X session's
// keystrokes, the windows), so that a service that does not use them never maps their libraries.
//
// A module "name.so" is looked for next to the running program, then in ../lib/vandora/ from
// there (the installed layout).
#pragma once

#include <string>

namespace vandora {

// The address of symbol in the module; null when the module or the symbol is missing (the reason
// goes to lastError). The module stays loaded for the life of the process.
void* programModuleSymbol(const std::string& module, const char* symbol,
                          std::string* lastError = nullptr);

}  // namespace vandora
