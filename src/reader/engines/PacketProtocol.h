// The packet engines' wire protocol in one place: opcodes, the packet builder, the checksum and the
// refusal check. A packet is length, opcode, source, status, data, then a 16-bit checksum; the
// length counts every byte before the checksum, itself included.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "common/ByteString.h"

namespace vandora {

namespace packet {
constexpr std::uint8_t kRevision = 0xA3;
constexpr std::uint8_t kImage = 0xB1;
constexpr std::uint8_t kAimOff = 0xC4;
constexpr std::uint8_t kAimOn = 0xC5;
constexpr std::uint8_t kParamSend = 0xC6;
constexpr std::uint8_t kParamRequest = 0xC7;
constexpr std::uint8_t kParamDefaults = 0xC8;
constexpr std::uint8_t kAck = 0xD0;
constexpr std::uint8_t kNak = 0xD1;
constexpr std::uint8_t kStartDecode = 0xE4;
constexpr std::uint8_t kStopDecode = 0xE5;
constexpr std::uint8_t kDecode = 0xF3;
// Source byte of every packet the host sends.
constexpr std::uint8_t kFromHost = 0x04;
// First data byte of a decode whose real code type follows.
constexpr std::uint8_t kWrappedDecode = 0x99;
// Decode status: more packets follow.
constexpr std::uint8_t kMoreFollows = 2;
// Acknowledgement status of the decode and image hand-over.
constexpr std::uint8_t kAckContinue = 0x03;
// Parameter send status: keep the values across power cycles.
constexpr std::uint8_t kParamPermanent = 0x08;
}  // namespace packet

// A host packet without its checksum: the length byte, opcode, the host's source byte, status and
// data.
ByteString hostPacket(std::uint8_t opcode, std::uint8_t status = 0,
                      std::initializer_list<std::uint8_t> data = {});

// Two's complement of the 16-bit sum of the bytes, high byte first.
std::uint16_t packetChecksum(const ByteString& bytes);
void appendChecksum(ByteString& bytes);
// A reply of at least five bytes starting 05 D1 00 00 is the engine's refusal.
bool isRefusal(const ByteString& reply);

}  // namespace vandora
