// VirtualKeys: the one table from the virtual-key codes that key events carry (Windows
// numbering) to Linux input key codes.
//
// The keys are positions, not characters: a remote-desktop client forwards the position of a key
// and the far side types whatever its own layout has there, just as a physical keyboard would.
// Both keystroke sinks read this table; the XTest sink adds the X server's offset of 8.
#pragma once

#include <cstdint>

namespace vandora {

struct VirtualKeyRow {
    std::uint32_t vk;
    std::uint16_t linuxKey;  // linux/input-event-codes.h
};

// clang-format off
inline constexpr VirtualKeyRow kVirtualKeys[] = {
    {9, 15},     // tab: KEY_TAB
    // Local mode presses a line feed as a key of its own; the key that types character 10.
    {10, 101},   // KEY_LINEFEED
    {13, 28},    // KEY_ENTER
    {16, 42},    // shift: KEY_LEFTSHIFT
    {17, 29},    // control: KEY_LEFTCTRL
    {0x20, 57},  // KEY_SPACE
    {'0', 11}, {'1', 2}, {'2', 3}, {'3', 4}, {'4', 5},
    {'5', 6}, {'6', 7}, {'7', 8}, {'8', 9}, {'9', 10},
    {'A', 30}, {'B', 48}, {'C', 46}, {'D', 32}, {'E', 18}, {'F', 33}, {'G', 34}, {'H', 35},
    {'I', 23}, {'J', 36}, {'K', 37}, {'L', 38}, {'M', 50}, {'N', 49}, {'O', 24}, {'P', 25},
    {'Q', 16}, {'R', 19}, {'S', 31}, {'T', 20}, {'U', 22}, {'V', 47}, {'W', 17}, {'X', 45},
    {'Y', 21}, {'Z', 44},
    {0x6A, 55},  // multiply: KEY_KPASTERISK
    {0x6B, 78},  // add: KEY_KPPLUS
    {0xBA, 39},  // ;: KEY_SEMICOLON
    {0xBB, 13},  // =: KEY_EQUAL
    {0xBC, 51},  // ,: KEY_COMMA
    {0xBD, 12},  // -: KEY_MINUS
    {0xBE, 52},  // .: KEY_DOT
    {0xBF, 53},  // /: KEY_SLASH
    {0xC0, 41},  // `: KEY_GRAVE
    {0xDB, 26},  // [: KEY_LEFTBRACE
    {0xDC, 43},  // \: KEY_BACKSLASH
    {0xDD, 27},  // ]: KEY_RIGHTBRACE
    {0xDE, 40},  // ': KEY_APOSTROPHE
};
// clang-format on

// The Linux key code of a virtual key; 0 when the table has none.
constexpr std::uint16_t linuxKeyOfVirtualKey(std::uint32_t vk) {
    for (const VirtualKeyRow& row : kVirtualKeys) {
        if (row.vk == vk) {
            return row.linuxKey;
        }
    }
    return 0;
}

}  // namespace vandora
