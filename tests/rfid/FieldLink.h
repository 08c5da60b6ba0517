// A binary link stand-in for the tag operations: answers the tag calls from the tags of a
// sim::TagField as a module would, and records the calls by name. The real link is tested on its
// own; this one lets the tag operations of the binary-link kind run against real tag memory.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "engines/SimTags.h"
#include "platform/RfidLinkApi.h"

namespace vandora::testing {

class FieldLink final : public RfidLinkApi {
  public:
    static constexpr std::uint8_t kNoTag = 1;

    sim::TagField field;
    std::vector<std::string> calls;
    // Status every ISO 15693 inventory gives for the data-format byte.
    std::uint8_t dsfid = 0x00;
    // Forced status of the SRIX4K write (0: the tag's own answer).
    std::uint8_t srix4kWriteStatus = 0;

    std::uint8_t linkOpen(int, std::uint32_t, const std::string&, int, std::uint32_t,
                          std::uint32_t&) override {
        return 0;
    }
    std::uint8_t linkClose(int) override { return 0; }
    std::uint8_t linkSetState(int, std::uint8_t) override { return 0; }
    std::uint8_t linkModuleInfo(int, std::uint8_t*, std::uint8_t*) override { return 0; }

    std::uint8_t linkSelectProtocol(int, std::uint8_t protocol) override {
        calls.push_back("select " + std::to_string(protocol));
        protocol_ = protocol;
        return 0;
    }
    std::uint8_t linkRequestA(int, std::uint8_t, std::span<std::uint8_t> uid, std::uint16_t& atqa,
                              std::uint8_t& sak) override {
        calls.push_back("requestA");
        const sim::SimTag* tag = protocol_ == 0x41 ? field.find(sim::kFamily14443A) : nullptr;
        if (tag == nullptr || uid.size() < tag->uid.size() + 1) {
            return kNoTag;
        }
        std::fill(uid.begin(), uid.begin() + std::min<std::size_t>(uid.size(), 11), 0);
        std::copy(tag->uid.begin(), tag->uid.end(), uid.begin());
        uid[tag->uid.size()] = 0x4D;
        atqa = tag->atqaLow();
        sak = 0x08;
        return 0;
    }
    std::uint8_t linkMifareRead(int, std::uint8_t keyType, std::uint8_t, std::uint8_t,
                                std::uint8_t block, std::span<const std::uint8_t, 6> key,
                                std::span<std::uint8_t, 16> data) override {
        calls.push_back("mifareRead " + std::to_string(block));
        sim::SimTag* tag = field.findKind(sim::TagKind::Mifare1K);
        auto bytes = tag ? tag->readMifare(block, keyType, toKey(key)) : std::nullopt;
        return copyOut(bytes, data);
    }
    std::uint8_t linkMifareWrite(int, std::uint8_t keyType, std::uint8_t, std::uint8_t,
                                 std::uint8_t block, std::span<const std::uint8_t, 6> key,
                                 std::span<const std::uint8_t, 16> data) override {
        calls.push_back("mifareWrite " + std::to_string(block));
        sim::SimTag* tag = field.findKind(sim::TagKind::Mifare1K);
        return tag && tag->writeMifare(block, keyType, toKey(key), {data.begin(), data.end()})
                   ? 0
                   : kNoTag;
    }
    std::uint8_t linkMifareWriteKeys(int, std::uint8_t keyType, std::uint8_t, std::uint8_t,
                                     std::uint8_t sector, std::span<const std::uint8_t, 6> key,
                                     std::span<const std::uint8_t, 16> trailer) override {
        calls.push_back("mifareWriteKeys " + std::to_string(sector));
        sim::SimTag* tag = field.findKind(sim::TagKind::Mifare1K);
        std::array<std::uint8_t, 16> t{};
        std::copy(trailer.begin(), trailer.end(), t.begin());
        return tag && tag->writeMifareKeys(sector, keyType, toKey(key), t) ? 0 : kNoTag;
    }
    std::uint8_t linkUltralightRead(int, std::uint8_t page,
                                    std::span<std::uint8_t, 16> data) override {
        calls.push_back("ultralightRead " + std::to_string(page));
        sim::SimTag* tag = field.findKind(sim::TagKind::Ultralight);
        if (tag == nullptr || page >= tag->blocks.size()) {
            return kNoTag;
        }
        for (std::size_t i = 0; i < 4; ++i) {
            const auto& p = tag->blocks[(page + i) % tag->blocks.size()];
            std::copy(p.begin(), p.end(), data.begin() + static_cast<std::ptrdiff_t>(4 * i));
        }
        return 0;
    }
    std::uint8_t linkUltralightWrite(int, std::uint8_t page,
                                     std::span<const std::uint8_t, 4> data) override {
        calls.push_back("ultralightWrite " + std::to_string(page));
        return write(sim::TagKind::Ultralight, page, data);
    }
    std::uint8_t linkSr176Select(int, std::uint8_t& chip) override {
        calls.push_back("sr176Select");
        chip = 1;
        return field.findKind(sim::TagKind::Sr176) ? 0 : kNoTag;
    }
    std::uint8_t linkSr176Read(int, std::uint8_t block, std::span<std::uint8_t, 2> data) override {
        calls.push_back("sr176Read " + std::to_string(block));
        sim::SimTag* tag = field.findKind(sim::TagKind::Sr176);
        if (tag != nullptr && block < 4) {
            // Blocks 3 down to 0 hold the UID, most significant part in block 3.
            std::size_t at = 2 * (3 - block);
            std::copy_n(tag->uid.begin() + static_cast<std::ptrdiff_t>(at), 2, data.begin());
            return 0;
        }
        return copyOut(tag ? tag->read(block) : std::nullopt, data);
    }
    std::uint8_t linkSr176Write(int, std::uint8_t block,
                                std::span<const std::uint8_t, 2> data) override {
        calls.push_back("sr176Write " + std::to_string(block));
        return write(sim::TagKind::Sr176, block, data);
    }
    std::uint8_t linkSrix4kRead(int, std::uint8_t block, std::span<std::uint8_t, 4> data) override {
        calls.push_back("srix4kRead " + std::to_string(block));
        sim::SimTag* tag = field.findKind(sim::TagKind::Srix4k);
        return copyOut(tag ? tag->read(block) : std::nullopt, data);
    }
    std::uint8_t linkSrix4kWrite(int, std::uint8_t block,
                                 std::span<const std::uint8_t, 4> data) override {
        calls.push_back("srix4kWrite " + std::to_string(block));
        if (srix4kWriteStatus != 0) {
            return srix4kWriteStatus;
        }
        return write(sim::TagKind::Srix4k, block, data);
    }
    std::uint8_t linkSrix4kUid(int, std::span<std::uint8_t, 8> uid) override {
        calls.push_back("srix4kUid");
        sim::SimTag* tag = field.findKind(sim::TagKind::Srix4k);
        if (tag == nullptr || tag->uid.size() != 8) {
            return kNoTag;
        }
        std::copy(tag->uid.begin(), tag->uid.end(), uid.begin());
        return 0;
    }
    std::uint8_t linkIso15693Inventory(int, std::uint8_t, std::uint8_t, std::uint8_t,
                                       std::span<const std::uint8_t>, std::uint8_t& format,
                                       std::span<std::uint8_t, 8> uid) override {
        calls.push_back("inventory");
        const sim::SimTag* tag = field.find(sim::kFamily15693);
        if (tag == nullptr || tag->uid.size() != 8) {
            return kNoTag;
        }
        format = dsfid;
        std::copy(tag->uid.rbegin(), tag->uid.rend(), uid.begin());
        return 0;
    }
    std::uint8_t linkIso15693Read(int, std::uint8_t, std::span<const std::uint8_t, 8> uid,
                                  std::uint8_t first, std::uint8_t count,
                                  std::span<std::uint8_t> data) override {
        calls.push_back("isoRead " + std::to_string(first));
        sim::SimTag* tag = isoTag(uid);
        for (std::uint8_t i = 0; i < count; ++i) {
            auto bytes = tag ? tag->read(first + i) : std::nullopt;
            if (!bytes || data.size() < 4u * (i + 1u)) {
                return i == 0 ? kNoTag : 35;
            }
            std::copy(bytes->begin(), bytes->end(), data.begin() + 4 * i);
        }
        return 0;
    }
    std::uint8_t linkIso15693Write(int, std::uint8_t flags, std::span<const std::uint8_t, 8> uid,
                                   std::uint8_t block,
                                   std::span<const std::uint8_t, 4> data) override {
        calls.push_back("isoWrite " + std::to_string(block) + " flags " + std::to_string(flags));
        sim::SimTag* tag = isoTag(uid);
        return tag && tag->write(block, {data.begin(), data.end()}, (flags & 0x40) != 0) ? 0
                                                                                         : kNoTag;
    }

  private:
    static sim::MifareKey toKey(std::span<const std::uint8_t, 6> key) {
        sim::MifareKey k{};
        std::copy(key.begin(), key.end(), k.begin());
        return k;
    }
    template <std::size_t N>
    static std::uint8_t copyOut(const std::optional<std::vector<std::uint8_t>>& bytes,
                                std::span<std::uint8_t, N> data) {
        if (!bytes || bytes->size() != N) {
            return kNoTag;
        }
        std::copy(bytes->begin(), bytes->end(), data.begin());
        return 0;
    }
    template <std::size_t N>
    std::uint8_t write(sim::TagKind kind, std::uint8_t block, std::span<const std::uint8_t, N> d) {
        sim::SimTag* tag = field.findKind(kind);
        return tag && tag->write(block, {d.begin(), d.end()}) ? 0 : kNoTag;
    }
    // The ISO 15693 tag the call addresses (UID least significant byte first).
    sim::SimTag* isoTag(std::span<const std::uint8_t, 8> uid) {
        sim::SimTag* tag = field.find(sim::kFamily15693);
        if (tag == nullptr || !std::equal(uid.begin(), uid.end(), tag->uid.rbegin())) {
            return nullptr;
        }
        return tag;
    }

    std::uint8_t protocol_ = 0;
};

}  // namespace vandora::testing
