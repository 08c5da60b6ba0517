// The MQTT outbox on disk: what a later start finds after appends, acknowledgements, a torn last
// line, a damaged mark and a compaction. Each case opens a second outbox on the same folder, as
// the service does after a kill or a power cut.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/MqttOutbox.h"
#include "support/FileText.h"

namespace vandora {
namespace {

namespace fs = std::filesystem;
using vandora::testing::fileText;

class MqttOutboxFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/vandora-outbox-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root = pattern;
        // A folder the outbox has to make, two levels down.
        folder = (root / "state" / "vandora").string() + "/";
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    // What a fresh start finds: the sequence numbers waiting, in order.
    std::vector<std::uint64_t> reopen(std::uint64_t* lastSeq = nullptr,
                                      std::size_t* torn = nullptr) {
        MqttOutbox outbox(folder);
        std::vector<MqttOutbox::Entry> waiting;
        std::size_t cut = 0;
        EXPECT_EQ(outbox.open(waiting, cut), 1) << outbox.message();
        std::vector<std::uint64_t> seqs;
        for (const auto& entry : waiting) {
            EXPECT_EQ(entry.payload, payload(entry.seq));
            seqs.push_back(entry.seq);
        }
        if (lastSeq != nullptr) {
            *lastSeq = outbox.lastSeq();
        }
        if (torn != nullptr) {
            *torn = cut;
        }
        return seqs;
    }
    static std::string payload(std::uint64_t seq) {
        return "{\"seq\":" + std::to_string(seq) + ",\"text\":\"a b \\\"c\\\"\"}";
    }
    void appendRaw(const std::string& bytes) {
        std::ofstream(folder + "mqtt-outbox", std::ios::binary | std::ios::app) << bytes;
    }

    fs::path root;
    std::string folder;
};

TEST_F(MqttOutboxFiles, AppendedDecodesComeBackInOrderUntilAcknowledged) {
    {
        MqttOutbox outbox(folder);
        std::vector<MqttOutbox::Entry> waiting;
        std::size_t torn = 0;
        ASSERT_EQ(outbox.open(waiting, torn), 1) << outbox.message();
        EXPECT_TRUE(waiting.empty());
        EXPECT_EQ(outbox.lastSeq(), 0u);
        for (std::uint64_t seq = 1; seq <= 5; ++seq) {
            ASSERT_EQ(outbox.append(seq, payload(seq)), 1);
        }
        ASSERT_EQ(outbox.sync(), 1);
        ASSERT_EQ(outbox.acknowledge(2), 1);
    }
    std::uint64_t last = 0;
    EXPECT_EQ(reopen(&last), (std::vector<std::uint64_t>{3, 4, 5}));
    EXPECT_EQ(last, 5u);
    // The folder is the user's alone.
    EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST_F(MqttOutboxFiles, ATornLastLineIsCutAndTheNextAppendFollowsTheLastWholeOne) {
    const std::string whole = MqttOutbox::line(3, payload(3));
    std::string badCrc = whole;
    badCrc[badCrc.size() - 3] ^= 0x01;
    struct Case {
        const char* what;
        std::string tail;
    };
    const Case cases[] = {
        {"cut inside the line", whole.substr(0, whole.size() / 2)},
        {"cut before the newline", whole.substr(0, whole.size() - 1)},
        {"whole length, a byte changed", badCrc},
        {"garbage", std::string("\x00\x00\x00\x7f", 4)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(root / "state");
        {
            MqttOutbox outbox(folder);
            std::vector<MqttOutbox::Entry> waiting;
            std::size_t torn = 0;
            ASSERT_EQ(outbox.open(waiting, torn), 1);
            outbox.append(1, payload(1));
            outbox.append(2, payload(2));
        }
        appendRaw(c.tail);
        std::uint64_t last = 0;
        std::size_t torn = 0;
        EXPECT_EQ(reopen(&last, &torn), (std::vector<std::uint64_t>{1, 2}));
        EXPECT_EQ(last, 2u);
        EXPECT_EQ(torn, c.tail.size());
        {
            MqttOutbox outbox(folder);
            std::vector<MqttOutbox::Entry> waiting;
            ASSERT_EQ(outbox.open(waiting, torn), 1);
            EXPECT_EQ(torn, 0u);
            outbox.append(3, payload(3));
        }
        EXPECT_EQ(reopen(), (std::vector<std::uint64_t>{1, 2, 3}));
    }
}

TEST_F(MqttOutboxFiles, ADamagedMarkSendsAgainButLosesNothing) {
    {
        MqttOutbox outbox(folder);
        std::vector<MqttOutbox::Entry> waiting;
        std::size_t torn = 0;
        ASSERT_EQ(outbox.open(waiting, torn), 1);
        for (std::uint64_t seq = 1; seq <= 3; ++seq) {
            outbox.append(seq, payload(seq));
        }
        outbox.acknowledge(2);
    }
    std::ofstream(folder + "mqtt-acked", std::ios::binary | std::ios::trunc) << "00000x";
    std::uint64_t last = 0;
    EXPECT_EQ(reopen(&last), (std::vector<std::uint64_t>{1, 2, 3}));
    EXPECT_EQ(last, 3u);
}

TEST_F(MqttOutboxFiles, CompactionKeepsWhatWaitsWhatCameMeanwhileAndTheSequence) {
    MqttOutbox outbox(folder);
    std::vector<MqttOutbox::Entry> waiting;
    std::size_t torn = 0;
    ASSERT_EQ(outbox.open(waiting, torn), 1);
    const std::string big(400, 'x');
    std::uint64_t seq = 0;
    while (outbox.fileBytes() <= 1024 * 1024) {
        ++seq;
        outbox.append(seq, big);
    }
    outbox.acknowledge(seq - 2);
    const std::uint64_t waitingBytes = 2 * big.size();
    ASSERT_TRUE(outbox.worthCompacting(waitingBytes));
    ASSERT_EQ(outbox.beginCompaction({{seq - 1, big}, {seq, big}}), 1) << outbox.message();
    // Appended while the new file was written: into the old one, and copied over.
    outbox.append(seq + 1, big);
    ASSERT_EQ(outbox.finishCompaction({{seq + 1, big}}), 1) << outbox.message();
    ASSERT_EQ(outbox.settleCompaction(), 1);
    EXPECT_LT(outbox.fileBytes(), 4 * 1024u);
    outbox.append(seq + 2, big);
    EXPECT_EQ(fs::file_size(folder + "mqtt-outbox"), outbox.fileBytes());

    MqttOutbox again(folder);
    ASSERT_EQ(again.open(waiting, torn), 1);
    std::vector<std::uint64_t> seqs;
    for (const auto& entry : waiting) {
        seqs.push_back(entry.seq);
    }
    EXPECT_EQ(seqs, (std::vector<std::uint64_t>{seq - 1, seq, seq + 1, seq + 2}));

    // Everything acknowledged and compacted away: the header still knows the last number.
    again.acknowledge(seq + 2);
    ASSERT_EQ(again.beginCompaction({}), 1);
    ASSERT_EQ(again.finishCompaction({}), 1);
    fs::remove(folder + "mqtt-acked");
    std::uint64_t last = 0;
    EXPECT_TRUE(reopen(&last).empty());
    EXPECT_EQ(last, seq + 2);
    EXPECT_EQ(fileText(folder + "mqtt-outbox"),
              "vandora-outbox 1 " + std::to_string(seq + 2) + "\n");
}

}  // namespace
}  // namespace vandora
