// Engine setting commands name their arguments after the INI keys; this finds one by name.
#pragma once

#include <span>
#include <string_view>

namespace vandora {

// Index of name among names; -1 when absent.
inline int indexOfName(std::span<const std::string_view> names, std::string_view name) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

}  // namespace vandora
