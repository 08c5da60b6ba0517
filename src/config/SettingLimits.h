// SettingLimits: what a value must be before a management tool may store it, key by key. The
// limits are those the settings pages let a user choose; a key without a row of its own takes its
// section's kind of value (a switch, a byte, or any text). The same rows say which keys are
// secrets (the Mifare login key): those are given out only to callers who may change settings,
// shown masked on screen, and never echoed back in a refusal.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "config/IniStore.h"
#include "config/SectionDef.h"

namespace vandora {

// Checks value (as text) for the key of section. Numbers are decimal, optionally signed; the
// reason for a refusal goes into why.
bool settingValueValid(const SectionDef& section, const SectionKey& key, std::string_view value,
                       std::string& why);

// What the key accepts, for people: "0 to 2", "text of up to 255 characters", "12 hexadecimal
// digits".
std::string settingAllowed(const SectionDef& section, const SectionKey& key);

// Every value of the store's known sections that settingValueValid refuses, one text each in
// file order: "[General] keyboardEmu=99: outside 0 to 2 (allowed: 0 to 2)". A secret's value is
// not repeated: "[RFID] mifareLoginKeyA=(hidden): ...".
std::vector<std::string> invalidStoredValues(const IniStore& store);

// Whether the key (any case) of section holds a secret.
bool settingIsSecret(const SectionDef& section, std::string_view key);

}  // namespace vandora
