// AppSettings: the settings the program itself owns (how decodes are formatted and delivered,
// good-read signals, RFID read and write options, the reader switches), with their defaults.
// The engines hold everything else; their sections only pass through the INI store.
#pragma once

#include <array>
#include <cstdint>

#include "common/ByteString.h"
#include "config/SettingSections.h"

namespace vandora {

struct AppSettings {
    // "General", in accessor order.
    std::int32_t goodReadBeepFileIdx = 1;
    std::int32_t warningBeepFileIdx = 2;
    std::int32_t vibrationTime = 0;  // units of 500 ms; 0: no vibration
    std::int32_t keyboardEmu = 1;    // 0 none, 1 posted characters, 2 virtual-key presses
    std::int32_t windowMessage = 0;
    std::int32_t windowEvent = 0;
    std::int32_t autoEnter = 1;      // 0 none, 1 terminator after the output, 2 before it
    std::int32_t autoEnterChar = 1;  // 1 CR, 2 tab, 3 space, 4 comma, 5 semicolon
    ByteString prefixStr;
    ByteString suffixStr;
    std::int32_t displayCodeType = 0;
    std::int32_t displayCodeLength = 0;
    std::int32_t displayUid = 1;
    std::int32_t displayUserData = 0;
    std::int32_t delimiter = 44;  // character between output fields; 0: none
    std::int32_t wantMaxWindow = 1;
    std::int32_t enableLed = 0;
    std::int32_t buzzerDuration = 0;  // units of 100 ms; 0: no buzzer
    std::int32_t buzzerFreq = 1;      // passed unchanged to the terminal's system library
    // Empty until start-up sets the program folder's "images/" for a 2D imager.
    ByteString imagePath;
    // Keystroke pace and reach, after the keys above so that existing files keep their order.
    std::int32_t interKeyDelay = 0;    // ms between two keys
    std::int32_t terminatorDelay = 0;  // ms after the terminator character
    std::int32_t unicodeEntry = 0;     // 1: the virtual keyboard types characters its layout
                                       // lacks as Ctrl+Shift+U hex entry; 0: drops them

    // "RFID", in accessor order.
    std::int32_t hasRfid = 0;     // written by save-all only; read only as the start-up hint
    std::int32_t enableRfid = 0;  // start-up sets 1 when the RFID module opened
    std::int32_t rfidRW = 0;      // 1: a trigger writes rfidWriteContent, then reads back
    std::int32_t rfidReadStartByte = -1;  // -1: byte 0 of the tag type's default page
    std::int32_t rfidReadLength = 10;
    std::int32_t displayUserDataByHex = 0;
    std::int32_t rfidWriteStartByte = -1;
    ByteString rfidWriteContent;
    std::int32_t isHexContent = 0;
    ByteString mifareLoginKeyA = "3C5A9E71B2D4";
    std::int32_t m_rfidSecurityKeyType = 0;  // 0 key A, 1 key B
    std::int32_t timeOfPowerOn = 0;          // RFID module type 6 only

    // Kept in the reader section of the engine present; start-up sets 1 when it opened.
    std::int32_t enableBarcode = 0;
    // "enable" of "Image 2D": while nonzero a 2D imager's trigger captures a picture.
    std::int32_t imageEnable = 0;

    // "Restore Defaults": every field back to its default except the texts prefixStr,
    // suffixStr, rfidWriteContent and imagePath, and timeOfPowerOn, enableBarcode, enableRfid.
    void resetToDefaults();

    // References to every field of "General" and "RFID", in accessor order.
    std::array<FieldRef, kGeneralKeyCount> generalFields();
    std::array<FieldRef, kRfidKeyCount> rfidFields();
};

}  // namespace vandora
