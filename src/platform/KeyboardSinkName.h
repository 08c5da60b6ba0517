// Whether a keystroke sink name is one the programs know, so that a misspelt --keyboard is
// refused on the command line instead of quietly typing nowhere.
#pragma once

#include <string_view>

namespace vandora {

// "uinput", "xtest", "none" or "log:PATH" with a path.
inline bool isKeyboardSinkName(std::string_view name) {
    return name == "uinput" || name == "xtest" || name == "none" ||
           (name.substr(0, 4) == "log:" && name.size() > 4);
}

}  // namespace vandora
