// Scan control and decode reception: start and stop an engine, wait for one decode, and the
// complete barcode read of one trigger press.
//
// Locking: channelLock is not re-entrant. setTrigger of the barcode engines takes it itself, so
// callers must not hold it around those calls; the RFID types leave it to their caller (the RFID
// read holds it), and stopScanning takes it for them without waiting, so a trigger release never
// blocks behind a running RFID read.
//
// The trigger forms and the release handling are in Trigger.cpp (Trigger.h); the reads in
// Scan.cpp.
#pragma once

#include <cstdint>

#include <functional>

#include "common/ByteString.h"
#include "reader/Decode.h"
#include "reader/ReaderManager.h"

namespace vandora {

// Starts (1) or stops (0) scanning. Nothing is sent when triggerOn already equals on.
std::int32_t setTrigger(ReaderChannel& channel, std::int32_t on);
// Waits for one decode and fills the decode record of the channel, naming it with options.
std::int32_t awaitDecode(ReaderChannel& channel, const CcdHostOptions& options);
// Told of a decode as soon as it is complete, before the engine that the read turned on is turned
// off again, so that delivery does not wait for that exchange.
using DecodeReady = std::function<void(Decode& decode)>;

// One barcode read with a first-byte wait of timeoutMs; 1 with decodeOut filled when it read one.
// With ready given, ready gets decodeOut as soon as it is filled.
std::int32_t scanBarcode(ReaderManager& manager, Decode& decodeOut, std::uint32_t timeoutMs,
                         const DecodeReady& ready = {});
// Stops scanning on the channels asked for; nonzero when a requested stop succeeded.
std::int32_t stopScanning(ReaderManager& manager, std::int32_t barcode, std::int32_t rfid);
// CCD/Laser scan mode 3: on starts scanning, off resets the link.
std::int32_t toggleCcdScan(ReaderManager& manager, std::int32_t on);

// The long-range laser's aim alternation flag, shared by the whole process (starts at 1).
std::int32_t aimAlternationFlag();
void setAimAlternationFlag(std::int32_t value);

// The CCD/Laser engine's scan mode as its configuration block says (0 when not valid).
std::int32_t ccdScanMode(const ReaderChannel& channel);

}  // namespace vandora
