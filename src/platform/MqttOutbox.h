// MqttOutbox: the decodes on their way to the broker, on disk, so that neither a killed service
// nor a power cut loses one.
//
// Two files in the state folder. "mqtt-outbox" is append-only: a header line
// "vandora-outbox 1 <base>" and then one line per decode, "<seq> <crc32> <payload>", where the
// CRC-32 (8 hex digits) covers "<seq> <payload>" and the payload is one JSON line. "mqtt-acked"
// holds the mark: every decode up to that sequence number is done with (acknowledged by the
// broker, or dropped over the limit). A decode is safe from a killed process once append has
// returned (the bytes are in the kernel), and from a power cut once sync has returned; the
// caller sends nothing before that. The mark is written without waiting for the disk: a mark
// lost to a power cut only sends some decodes again. Opening drops a torn last line (a cut in
// the middle of an append) and cuts it off the file.
//
// Compaction rewrites the file with only the decodes still waiting, in two steps so that
// appends go on meanwhile: beginCompaction writes and syncs a new file beside the old one,
// finishCompaction adds what was appended since and puts the new file in place. The header's
// base keeps the highest sequence number ever given when the file is left without records.
//
// Results are 1 for success, 0 for failure with the errno in lastError() and words in
// message(). Not thread-safe: the caller keeps append, the compaction steps and acknowledge
// apart; sync may run on another thread while append runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vandora {

class MqttOutbox {
  public:
    struct Entry {
        std::uint64_t seq = 0;
        std::string payload;
    };

    // folder ends with "/"; it is made (mode 0700) when missing.
    explicit MqttOutbox(std::string folder);
    ~MqttOutbox();
    MqttOutbox(const MqttOutbox&) = delete;
    MqttOutbox& operator=(const MqttOutbox&) = delete;

    // Reads both files and gives the decodes not yet done with, in order. tornBytes says how
    // many bytes of a torn tail were cut (0 normally).
    std::int32_t open(std::vector<Entry>& waiting, std::size_t& tornBytes);
    // The highest sequence number given so far (0 for a terminal without state).
    std::uint64_t lastSeq() const { return lastSeq_; }
    std::uint64_t acknowledged() const { return acknowledged_; }

    // Writes one decode's line with one write call; seq must be above lastSeq().
    std::int32_t append(std::uint64_t seq, const std::string& payload);
    // Makes every line appended so far durable.
    std::int32_t sync();
    // Every decode up to seq is done with.
    std::int32_t acknowledge(std::uint64_t seq);

    // The size of the file, and whether a compaction would pay (the acknowledged part is more
    // than half of a file over 1 MiB).
    std::uint64_t fileBytes() const { return fileBytes_; }
    bool worthCompacting(std::uint64_t waitingBytes) const;
    // Writes and syncs a new file with the header and these entries (all above the mark).
    std::int32_t beginCompaction(const std::vector<Entry>& waiting);
    // Adds the entries appended since beginCompaction (write only: the caller syncs them as any
    // append), and puts the new file in place of the old.
    std::int32_t finishCompaction(const std::vector<Entry>& since);
    // Syncs the folder after the replacement (until then a power cut may bring the old file
    // back, which holds the same decodes and more); may run while appends go on.
    std::int32_t settleCompaction();
    // Gives up a begun compaction.
    void abandonCompaction();

    // The bytes of one entry's line.
    static std::string line(std::uint64_t seq, const std::string& payload);
    std::string outboxPath() const { return folder_ + "mqtt-outbox"; }
    std::string markPath() const { return folder_ + "mqtt-acked"; }
    int lastError() const { return lastError_; }
    const std::string& message() const { return message_; }

  private:
    std::int32_t fail(const std::string& what, int error);
    std::string tempPath() const { return folder_ + ".mqtt-outbox.tmp"; }
    std::string header(std::uint64_t base) const;

    std::string folder_;
    int fd_ = -1;
    int markFd_ = -1;
    int tempFd_ = -1;
    std::uint64_t tempBytes_ = 0;
    std::uint64_t lastSeq_ = 0;
    std::uint64_t acknowledged_ = 0;
    std::uint64_t fileBytes_ = 0;
    int lastError_ = 0;
    std::string message_;
};

}  // namespace vandora
