// FoldedIndex: a hash index of positions in a list the caller keeps, looked up by text with the
// letters A to Z folded to lowercase. It stores positions only, so copying or moving the list and
// the index together keeps it valid, and an empty index allocates nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace vandora {

class FoldedIndex {
  public:
    static constexpr char16_t fold(char16_t unit) {
        return (unit >= u'A' && unit <= u'Z') ? static_cast<char16_t>(unit + 32) : unit;
    }

    static std::uint64_t hash(std::u16string_view text) {
        std::uint64_t h = 14695981039346656037ull;  // FNV-1a
        for (char16_t unit : text) {
            h = (h ^ fold(unit)) * 1099511628211ull;
        }
        // The multiplications only carry upwards, so the low bits that pick a slot would depend
        // on the low bits of each unit alone: names that differ in a number cluster, and probing
        // turns quadratic. Folding the high half down spreads them.
        h ^= h >> 33;
        h *= 0xff51afd7ed558ccdull;
        h ^= h >> 33;
        return h;
    }

    static bool equal(std::u16string_view a, std::u16string_view b) {
        if (a.size() != b.size()) {
            return false;
        }
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (fold(a[i]) != fold(b[i])) {
                return false;
            }
        }
        return true;
    }

    // keyOf(position) gives the text of a listed item.
    template <typename KeyOf>
    std::optional<std::size_t> find(std::u16string_view key, const KeyOf& keyOf) const {
        if (slots_.empty()) {
            return std::nullopt;
        }
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = hash(key) & mask;; i = (i + 1) & mask) {
            if (slots_[i] == kEmpty) {
                return std::nullopt;
            }
            if (equal(keyOf(slots_[i]), key)) {
                return slots_[i];
            }
        }
    }

    // Indexes the item at position under its text. When an equal text is already indexed, the
    // new position takes its place if `replace`, else the old one stays.
    template <typename KeyOf>
    void insert(std::size_t position, bool replace, const KeyOf& keyOf) {
        if ((count_ + 1) * 2 > slots_.size()) {
            grow(keyOf);
        }
        place(position, replace, keyOf);
    }

    void clear() {
        slots_.clear();
        count_ = 0;
    }

  private:
    static constexpr std::size_t kEmpty = static_cast<std::size_t>(-1);

    template <typename KeyOf>
    void place(std::size_t position, bool replace, const KeyOf& keyOf) {
        const std::u16string_view key = keyOf(position);
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = hash(key) & mask;; i = (i + 1) & mask) {
            if (slots_[i] == kEmpty) {
                slots_[i] = position;
                ++count_;
                return;
            }
            if (equal(keyOf(slots_[i]), key)) {
                if (replace) {
                    slots_[i] = position;
                }
                return;
            }
        }
    }

    template <typename KeyOf>
    void grow(const KeyOf& keyOf) {
        std::vector<std::size_t> old = std::move(slots_);
        slots_.assign(old.empty() ? 8 : old.size() * 2, kEmpty);
        count_ = 0;
        for (std::size_t position : old) {
            if (position != kEmpty) {
                place(position, false, keyOf);
            }
        }
    }

    std::vector<std::size_t> slots_;  // positions; a power of two long, at most half full
    std::size_t count_ = 0;
};

}  // namespace vandora
