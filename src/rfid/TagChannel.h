// The tag operations on the RFID channel itself, below readTag and writeTag: naming the tag
// answer, detection through the binary link, the range of blocks a read or write touches, and
// single block reads, writes and Mifare logins in the channel's module kind (RfidModule.h; the
// kind-bound calls are defined in the kind's file). The caller holds the channel lock. Results are
// nonzero on success; a module's error answer is in lastError.
#pragma once

#include <cstdint>

#include "common/ByteString.h"
#include "reader/ReaderManager.h"

namespace vandora {

// Sets codeTypeId and codeTypeName from the tag answer in decodeData and strips the answer's
// lead (the family letter, or the link's raw byte); nothing is named on a channel without an RFID
// module.
void nameTag(ReaderChannel& channel);

// Binary link: detects a tag of the channel's tagType (3, 5 or 16) and leaves its answer in
// decodeData (a raw byte, then the UID in hexadecimal).
std::int32_t detectTagOnLink(ReaderChannel& channel);

// Hexadecimal module: takes the detection reply into decodeData (the UID) and the Tag-it fields;
// 0 when the reply holds no answer field of the channel's tagType.
std::int32_t takeHexTagAnswer(ReaderChannel& channel, const ByteString& reply);

struct BlockRange {
    std::int32_t firstBlock = 0;
    std::int32_t lastBlock = 0;
    std::int32_t firstOffset = 0;
    std::int32_t lastOffset = 0;
};

// The blocks holding length bytes from start (-1: byte 0 of the default page) of a tag type; the
// last block is cut at the type's highest block. Fails for a block size or length below 1 and for
// a first block above the highest.
std::int32_t blockRange(std::int32_t code, std::int32_t blockSize, std::int32_t start,
                        std::int64_t length, BlockRange& out);

// Reads readLength bytes from readStart of the named tag into tag.userData; nonzero when any
// data was read.
std::int32_t readUserData(ReaderChannel& channel);
std::int32_t tagBlockSize(ReaderChannel& channel);
std::int32_t readBlock(ReaderChannel& channel, std::int32_t block, ByteString& out);
// Writes bytes at offset of a block; with merge the rest of the block is kept as read.
std::int32_t writeBlock(ReaderChannel& channel, std::int32_t block, std::int32_t blockSize,
                        std::int32_t offset, const ByteString& bytes, bool merge);
// Letter module: logs in to a Mifare sector with the tag state's loginKey.
std::int32_t loginSector(ReaderChannel& channel, std::int32_t sector);

}  // namespace vandora
