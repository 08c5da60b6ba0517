// The RFID tag operations: find the tag in the field, name it, read its UID and a range of its
// user data, write a range of user data, change the keys of a Mifare sector. They work on the RFID
// channel of the manager, whichever of the three module kinds it holds, and take its channel lock
// themselves.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "common/ByteString.h"
#include "reader/ReaderManager.h"

namespace vandora {

// What one tag read gives.
struct TagRead {
    std::int32_t codeTypeId = 0;  // tag type code
    ByteString codeTypeName;      // tag type name
    ByteString uid;               // UID as uppercase hexadecimal text
    ByteString userData;          // raw bytes; empty when none were asked for or readable
    std::uint32_t blockSize = 0;
};

// Finds one tag and reads readLength bytes from readStart (-1: byte 0 of the tag type's default
// page). keyText: the Mifare login key (12 hexadecimal digits, or on the letter module also the
// 14-character "AA"/"BB" form); keyType 0 key A, 1 key B. Nonzero on success (a tag whose UID was
// read but whose data was not still counts, with empty user data); the cause of a failure is in
// the RFID channel's lastError.
std::int32_t readTag(ReaderManager& manager, std::int32_t readStart, std::int32_t readLength,
                     const ByteString& keyText, std::int32_t keyType, TagRead& out);

// Writes data at startByte (-1: byte 0 of the default page) of the tag in the field. Returns the
// number of bytes written; 0 is failure.
std::int32_t writeTag(ReaderManager& manager, std::int32_t startByte, const ByteString& data,
                      const ByteString& keyText, std::int32_t keyType);

// Gives Mifare sector `sector` new keys (access bytes FF 07 80 69), logging in with loginKey of
// loginKeyType. Binary link only. Nonzero on success.
std::int32_t writeMifareKeys(ReaderManager& manager, std::int32_t loginKeyType, std::int32_t sector,
                             std::span<const std::uint8_t, 6> loginKey,
                             std::span<const std::uint8_t, 6> newKeyA,
                             std::span<const std::uint8_t, 6> newKeyB);

// New keys for a Mifare sector (access bytes FF 07 80 69), and the key to log in with.
struct SectorKeys {
    std::int32_t keyType = 0;  // of the login key: 0 key A, 1 key B
    std::int32_t sector = 0;
    ByteString keyText;  // the login key as readTag and writeTag take it
    std::array<std::uint8_t, 6> loginKey{};
    std::array<std::uint8_t, 6> newKeyA{};
    std::array<std::uint8_t, 6> newKeyB{};
};

// Gives a Mifare sector new keys on whichever module the RFID channel holds: the binary link's own
// call (writeMifareKeys), or on the letter module the sector trailer written as a block. Nonzero
// on success.
std::int32_t changeSectorKeys(ReaderManager& manager, const SectorKeys& keys);

}  // namespace vandora
