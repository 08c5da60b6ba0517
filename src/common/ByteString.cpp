#include "common/ByteString.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace vandora {

namespace {
constexpr std::size_t kInitialUnits = 32;
constexpr std::size_t kDoublingLimit = 65536;
constexpr std::size_t kLinearStep = 1000;

std::size_t grownCapacity(std::size_t current, std::size_t needed) {
    std::size_t cap = current == 0 ? kInitialUnits : current;
    while (cap < needed && cap < kDoublingLimit) {
        cap *= 2;
    }
    if (cap < needed) {
        cap += ((needed - cap + kLinearStep - 1) / kLinearStep) * kLinearStep;
    }
    return cap;
}
}  // namespace

ByteString::UnitBuffer::UnitBuffer(const UnitBuffer& other) {
    assign(other.size_, u'\0');
    std::copy(other.data(), other.data() + other.size_, data());
}

ByteString::UnitBuffer::UnitBuffer(UnitBuffer&& other) noexcept {
    *this = std::move(other);
}

ByteString::UnitBuffer& ByteString::UnitBuffer::operator=(UnitBuffer&& other) noexcept {
    if (this == &other) {
        return *this;
    }
    release();
    if (other.heap_ != nullptr) {
        heap_ = other.heap_;
        heapUnits_ = other.heapUnits_;
        other.heap_ = nullptr;
        other.heapUnits_ = 0;
    } else {
        std::copy(other.inline_, other.inline_ + other.size_, inline_);
    }
    size_ = other.size_;
    other.size_ = 0;
    return *this;
}

void ByteString::UnitBuffer::release() {
    delete[] heap_;
    heap_ = nullptr;
    heapUnits_ = 0;
}

void ByteString::UnitBuffer::resize(std::size_t count, char16_t fill) {
    if (count > room()) {
        auto* grown = new char16_t[count];
        const char16_t* old = data();
        std::copy(old, old + std::min(size_, count), grown);
        release();
        heap_ = grown;
        heapUnits_ = count;
    }
    if (count > size_) {
        std::fill(data() + size_, data() + count, fill);
    }
    size_ = count;
}

void ByteString::UnitBuffer::assign(std::size_t count, char16_t fill) {
    if (count > room()) {
        release();
        heap_ = new char16_t[count];
        heapUnits_ = count;
    }
    std::fill(data(), data() + count, fill);
    size_ = count;
}

ByteString::ByteString() : units_(kInitialUnits, u'\0') {}

ByteString::ByteString(std::size_t reserveUnits) : units_(reserveUnits + 1, u'\0') {}

ByteString::ByteString(const char* text) : ByteString() {
    append(text);
}

ByteString::ByteString(const char16_t* text) : ByteString() {
    if (text != nullptr) {
        std::size_t n = 0;
        while (text[n] != 0) {
            ++n;
        }
        ensure(n);
        std::copy(text, text + n, units_.begin());
        setSize(n);
    }
}

ByteString::ByteString(std::u16string_view units) : ByteString() {
    ensure(units.size());
    std::copy(units.begin(), units.end(), units_.begin());
    setSize(units.size());
}

ByteString ByteString::fromBytes(const std::uint8_t* data, std::size_t size) {
    ByteString s;
    s.appendBytes(data, size);
    return s;
}

ByteString ByteString::fromBytes(std::string_view bytes) {
    return fromBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

ByteString::ByteString(const ByteString& other) = default;

ByteString::ByteString(ByteString&& other) noexcept
    : units_(std::move(other.units_)), size_(other.size_) {
    other.units_.assign(kInitialUnits, u'\0');
    other.size_ = 0;
}

ByteString& ByteString::operator=(const ByteString& other) {
    if (this != &other) {
        ensure(other.size_);
        std::copy(other.units_.begin(), other.units_.begin() + static_cast<long>(other.size_),
                  units_.begin());
        setSize(other.size_);
    }
    return *this;
}

ByteString& ByteString::operator=(ByteString&& other) noexcept {
    if (this != &other) {
        units_ = std::move(other.units_);
        size_ = other.size_;
        other.units_.assign(kInitialUnits, u'\0');
        other.size_ = 0;
    }
    return *this;
}

ByteString& ByteString::operator=(const char* text) {
    ByteString tmp(text);
    return *this = std::move(tmp);
}

ByteString& ByteString::operator=(const char16_t* text) {
    ByteString tmp(text);
    return *this = std::move(tmp);
}

void ByteString::ensure(std::size_t units) {
    if (units + 1 > units_.size()) {
        units_.resize(grownCapacity(units_.size(), units + 1), u'\0');
    }
}

void ByteString::setSize(std::size_t size) {
    size_ = size;
    units_[size_] = u'\0';
}

void ByteString::setAt(std::size_t index, char16_t unit) {
    if (index < size_) {
        units_[index] = unit;
    }
}

std::string ByteString::narrow() const {
    std::string out(size_, '\0');
    for (std::size_t i = 0; i < size_; ++i) {
        out[i] = static_cast<char>(static_cast<std::uint8_t>(units_[i]));
    }
    return out;
}

std::vector<std::uint8_t> ByteString::bytes() const {
    std::vector<std::uint8_t> out(size_);
    for (std::size_t i = 0; i < size_; ++i) {
        out[i] = static_cast<std::uint8_t>(units_[i]);
    }
    return out;
}

void ByteString::append(char16_t unit) {
    ensure(size_ + 1);
    units_[size_] = unit;
    setSize(size_ + 1);
}

void ByteString::append(const char* text) {
    if (text != nullptr) {
        appendBytes(reinterpret_cast<const std::uint8_t*>(text), std::strlen(text));
    }
}

void ByteString::append(const ByteString& other) {
    if (&other == this) {
        // Growing this string would move the bytes being appended, hence a copy first.
        // NOLINTNEXTLINE(performance-unnecessary-copy-initialization)
        ByteString copy(other);
        append(copy);
        return;
    }
    ensure(size_ + other.size_);
    std::copy(other.units_.begin(), other.units_.begin() + static_cast<long>(other.size_),
              units_.begin() + static_cast<long>(size_));
    setSize(size_ + other.size_);
}

void ByteString::appendBytes(const std::uint8_t* data, std::size_t size) {
    ensure(size_ + size);
    for (std::size_t i = 0; i < size; ++i) {
        units_[size_ + i] = data[i];
    }
    setSize(size_ + size);
}

void ByteString::format(const char* fmt, ...) {
    char small[256];
    va_list args;
    va_start(args, fmt);
    va_list again;
    va_copy(again, args);
    int n = std::vsnprintf(small, sizeof small, fmt, args);
    va_end(args);
    clear();
    if (n < 0) {
        va_end(again);
        return;
    }
    if (static_cast<std::size_t>(n) < sizeof small) {
        appendBytes(reinterpret_cast<const std::uint8_t*>(small), static_cast<std::size_t>(n));
    } else {
        std::string big(static_cast<std::size_t>(n) + 1, '\0');
        std::vsnprintf(big.data(), big.size(), fmt, again);
        appendBytes(reinterpret_cast<const std::uint8_t*>(big.data()), static_cast<std::size_t>(n));
    }
    va_end(again);
}

bool ByteString::operator==(const char* text) const {
    if (text == nullptr) {
        return size_ == 0;
    }
    std::size_t i = 0;
    for (; i < size_; ++i) {
        if (text[i] == '\0' || units_[i] != static_cast<std::uint8_t>(text[i])) {
            return false;
        }
    }
    return text[i] == '\0';
}

bool ByteString::operator==(const ByteString& other) const {
    return view() == other.view();
}

std::size_t ByteString::find(char16_t unit, std::size_t from) const {
    auto pos = view().find(unit, from);
    return pos == std::u16string_view::npos ? npos : pos;
}

std::size_t ByteString::find(const ByteString& needle, std::size_t from) const {
    auto pos = view().find(needle.view(), from);
    return pos == std::u16string_view::npos ? npos : pos;
}

std::size_t ByteString::rfind(char16_t unit) const {
    auto pos = view().rfind(unit);
    return pos == std::u16string_view::npos ? npos : pos;
}

std::size_t ByteString::rfind(const ByteString& needle) const {
    auto pos = view().rfind(needle.view());
    return pos == std::u16string_view::npos ? npos : pos;
}

ByteString ByteString::mid(std::size_t start, std::size_t count) const {
    if (start >= size_) {
        return {};
    }
    count = std::min(count, size_ - start);
    return ByteString(std::u16string_view(units_.data() + start, count));
}

bool ByteString::splitAt(char16_t unit, ByteString& before, ByteString& after) const {
    std::size_t pos = find(unit);
    if (pos == npos) {
        return false;
    }
    ByteString head = mid(0, pos);
    ByteString tail = mid(pos + 1);
    before = std::move(head);
    after = std::move(tail);
    return true;
}

void ByteString::remove(std::size_t start, std::size_t count) {
    if (start >= size_) {
        return;
    }
    count = std::min(count, size_ - start);
    std::copy(units_.begin() + static_cast<long>(start + count),
              units_.begin() + static_cast<long>(size_), units_.begin() + static_cast<long>(start));
    setSize(size_ - count);
}

namespace {
bool isTrimmed(char16_t unit) {
    auto value = static_cast<std::int16_t>(unit);
    return value >= 0 && value <= 32;
}
}  // namespace

void ByteString::trim() {
    std::size_t end = size_;
    while (end > 0 && isTrimmed(units_[end - 1])) {
        --end;
    }
    std::size_t begin = 0;
    while (begin < end && isTrimmed(units_[begin])) {
        ++begin;
    }
    setSize(end);
    remove(0, begin);
}

void ByteString::toLower() {
    for (std::size_t i = 0; i < size_; ++i) {
        if (units_[i] >= u'A' && units_[i] <= u'Z') {
            units_[i] = static_cast<char16_t>(units_[i] + 32);
        }
    }
}

void ByteString::replace(char16_t from, char16_t to) {
    std::replace(units_.begin(), units_.begin() + static_cast<long>(size_), from, to);
}

void ByteString::clear() {
    setSize(0);
}

void ByteString::truncate(std::size_t newLength) {
    if (newLength < size_) {
        setSize(newLength);
    }
}

namespace {
int hexValue(char16_t c) {
    if (c <= u'9') {
        return static_cast<int>(c) - 48;
    }
    if (c <= u'F') {
        return static_cast<int>(c) - 55;
    }
    return static_cast<int>(c) - 87;
}
}  // namespace

void hexToBytes(const ByteString& text, ByteString& out) {
    ByteString result;
    std::size_t n = text.length();
    for (std::size_t i = 0; i < n; i += 2) {
        int high = hexValue(text.at(i));
        int low = i + 1 < n ? hexValue(text.at(i + 1)) : 0;
        result.append(static_cast<char16_t>(static_cast<std::uint8_t>(high * 16 + low)));
    }
    out = std::move(result);
}

}  // namespace vandora
