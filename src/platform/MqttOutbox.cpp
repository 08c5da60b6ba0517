#include "platform/MqttOutbox.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "platform/FileContents.h"

namespace vandora {

namespace {

constexpr const char* kHeaderWord = "vandora-outbox 1 ";
constexpr std::uint64_t kCompactFrom = std::uint64_t{1024} * 1024;
// The mark's fixed width, so that each write replaces the whole of it in place.
constexpr int kMarkDigits = 20;

std::uint32_t crc32(const std::string& a, const std::string& b) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1U) != 0 ? 0xEDB88320U ^ (c >> 1) : c >> 1;
            }
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t crc = 0xFFFFFFFFU;
    for (const std::string* part : {&a, &b}) {
        for (char ch : *part) {
            crc = table[(crc ^ static_cast<unsigned char>(ch)) & 0xFFU] ^ (crc >> 8);
        }
    }
    return crc ^ 0xFFFFFFFFU;
}

bool parseUnsigned(std::string_view text, std::uint64_t& out, int base = 10) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, base);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

bool writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

int syncFolder(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    int rc = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return rc;
}

}  // namespace

MqttOutbox::MqttOutbox(std::string folder) : folder_(std::move(folder)) {}

MqttOutbox::~MqttOutbox() {
    abandonCompaction();
    if (fd_ >= 0) {
        ::close(fd_);
    }
    if (markFd_ >= 0) {
        ::close(markFd_);
    }
}

std::int32_t MqttOutbox::fail(const std::string& what, int error) {
    lastError_ = error;
    message_ = what + ": " + std::strerror(error);
    return 0;
}

std::string MqttOutbox::header(std::uint64_t base) const {
    return kHeaderWord + std::to_string(base) + "\n";
}

std::string MqttOutbox::line(std::uint64_t seq, const std::string& payload) {
    std::string number = std::to_string(seq);
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08X", crc32(number + " ", payload));
    return number + " " + crc + " " + payload + "\n";
}

std::int32_t MqttOutbox::open(std::vector<Entry>& waiting, std::size_t& tornBytes) {
    waiting.clear();
    tornBytes = 0;
    // The state folder and everything above it, for this user only where they are new.
    for (std::size_t slash = folder_.find('/', 1); slash != std::string::npos;
         slash = folder_.find('/', slash + 1)) {
        std::string part = folder_.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            return fail("cannot make the state folder " + part, errno);
        }
    }
    ::unlink(tempPath().c_str());

    // The mark first: records at or below it are done with.
    std::vector<std::uint8_t> bytes;
    acknowledged_ = 0;
    if (readWholeFile(markPath(), bytes, 4096)) {
        std::string text(bytes.begin(), bytes.end());
        std::size_t end = text.find('\n');
        std::uint64_t mark = 0;
        if (end != std::string::npos && parseUnsigned(text.substr(0, end), mark)) {
            acknowledged_ = mark;
        }
    }
    markFd_ = ::open(markPath().c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (markFd_ < 0) {
        return fail("cannot open " + markPath(), errno);
    }

    std::uint64_t base = 0;
    std::size_t good = 0;
    bytes.clear();
    bool exists = readWholeFile(outboxPath(), bytes);
    std::string text(bytes.begin(), bytes.end());
    std::size_t headerEnd = text.find('\n');
    bool headerGood =
        exists && headerEnd != std::string::npos &&
        text.compare(0, std::strlen(kHeaderWord), kHeaderWord) == 0 &&
        parseUnsigned(std::string_view(text).substr(std::strlen(kHeaderWord),
                                                    headerEnd - std::strlen(kHeaderWord)),
                      base);
    lastSeq_ = acknowledged_;
    if (headerGood) {
        lastSeq_ = std::max(lastSeq_, base);
        good = headerEnd + 1;
        std::uint64_t previous = base;
        while (good < text.size()) {
            std::size_t end = text.find('\n', good);
            if (end == std::string::npos) {
                break;
            }
            std::string_view record(text.data() + good, end - good);
            std::size_t space1 = record.find(' ');
            std::size_t space2 =
                space1 == std::string_view::npos ? space1 : record.find(' ', space1 + 1);
            std::uint64_t seq = 0;
            std::uint64_t crc = 0;
            if (space2 == std::string_view::npos || !parseUnsigned(record.substr(0, space1), seq) ||
                !parseUnsigned(record.substr(space1 + 1, space2 - space1 - 1), crc, 16) ||
                seq <= previous) {
                break;
            }
            std::string payload(record.substr(space2 + 1));
            if (crc != crc32(std::string(record.substr(0, space1)) + " ", payload)) {
                break;
            }
            previous = seq;
            lastSeq_ = std::max(lastSeq_, seq);
            if (seq > acknowledged_) {
                waiting.push_back({seq, std::move(payload)});
            }
            good = end + 1;
        }
    }
    if (!headerGood) {
        // No file yet, or one cut before its header was whole: a fresh one, synced, so that
        // the appends that follow always land after a whole header.
        std::string fresh = header(lastSeq_);
        int fd = ::open(tempPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0) {
            return fail("cannot write " + tempPath(), errno);
        }
        bool ok = writeAll(fd, fresh) && ::fsync(fd) == 0;
        int error = errno;
        ::close(fd);
        if (!ok || ::rename(tempPath().c_str(), outboxPath().c_str()) != 0) {
            ::unlink(tempPath().c_str());
            return fail("cannot write " + outboxPath(), ok ? errno : error);
        }
        syncFolder(folder_);
        good = fresh.size();
        text = fresh;
    }
    fd_ = ::open(outboxPath().c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd_ < 0) {
        return fail("cannot open " + outboxPath(), errno);
    }
    if (good < text.size()) {
        // A torn last line: cut off, so that the next append starts a whole line.
        tornBytes = text.size() - good;
        if (::ftruncate(fd_, static_cast<off_t>(good)) != 0 || ::fsync(fd_) != 0) {
            return fail("cannot cut the torn end of " + outboxPath(), errno);
        }
    }
    fileBytes_ = good;
    return 1;
}

std::int32_t MqttOutbox::append(std::uint64_t seq, const std::string& payload) {
    if (fd_ < 0) {
        return fail("the outbox is not open", EBADF);
    }
    std::string bytes = line(seq, payload);
    if (!writeAll(fd_, bytes)) {
        return fail("cannot append to " + outboxPath(), errno != 0 ? errno : EIO);
    }
    lastSeq_ = seq;
    fileBytes_ += bytes.size();
    return 1;
}

std::int32_t MqttOutbox::sync() {
    if (fd_ < 0) {
        return fail("the outbox is not open", EBADF);
    }
    if (::fdatasync(fd_) != 0) {
        return fail("cannot sync " + outboxPath(), errno);
    }
    return 1;
}

std::int32_t MqttOutbox::acknowledge(std::uint64_t seq) {
    if (seq <= acknowledged_) {
        return 1;
    }
    char text[kMarkDigits + 2];
    std::snprintf(text, sizeof text, "%0*llu\n", kMarkDigits, static_cast<unsigned long long>(seq));
    if (::pwrite(markFd_, text, kMarkDigits + 1, 0) != kMarkDigits + 1) {
        return fail("cannot write " + markPath(), errno != 0 ? errno : EIO);
    }
    acknowledged_ = seq;
    return 1;
}

bool MqttOutbox::worthCompacting(std::uint64_t waitingBytes) const {
    return fileBytes_ > kCompactFrom && waitingBytes < fileBytes_ / 2;
}

std::int32_t MqttOutbox::beginCompaction(const std::vector<Entry>& waiting) {
    abandonCompaction();
    tempFd_ = ::open(tempPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (tempFd_ < 0) {
        return fail("cannot write " + tempPath(), errno);
    }
    std::string bytes = header(acknowledged_);
    for (const Entry& entry : waiting) {
        bytes += line(entry.seq, entry.payload);
    }
    if (!writeAll(tempFd_, bytes) || ::fsync(tempFd_) != 0) {
        int error = errno;
        abandonCompaction();
        return fail("cannot write " + tempPath(), error);
    }
    tempBytes_ = bytes.size();
    return 1;
}

std::int32_t MqttOutbox::finishCompaction(const std::vector<Entry>& since) {
    if (tempFd_ < 0) {
        return fail("no compaction under way", EINVAL);
    }
    std::string bytes;
    for (const Entry& entry : since) {
        bytes += line(entry.seq, entry.payload);
    }
    if (!writeAll(tempFd_, bytes)) {
        int error = errno;
        abandonCompaction();
        return fail("cannot write " + tempPath(), error);
    }
    int appendFd = ::open(tempPath().c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (appendFd < 0 || ::rename(tempPath().c_str(), outboxPath().c_str()) != 0) {
        int error = errno;
        if (appendFd >= 0) {
            ::close(appendFd);
        }
        abandonCompaction();
        return fail("cannot replace " + outboxPath(), error);
    }
    ::close(tempFd_);
    tempFd_ = -1;
    ::close(fd_);
    fd_ = appendFd;
    fileBytes_ = tempBytes_ + bytes.size();
    tempBytes_ = 0;
    return 1;
}

std::int32_t MqttOutbox::settleCompaction() {
    int error = syncFolder(folder_);
    return error == 0 ? 1 : fail("cannot sync " + folder_, error);
}

void MqttOutbox::abandonCompaction() {
    if (tempFd_ >= 0) {
        ::close(tempFd_);
        tempFd_ = -1;
        ::unlink(tempPath().c_str());
    }
    tempBytes_ = 0;
}

}  // namespace vandora
