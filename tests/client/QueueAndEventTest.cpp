// The queue and the event with the real POSIX objects: what a reader process gets of the records
// left there, through the client library and through vandoractl listen.
#include <gtest/gtest.h>
#include <mqueue.h>
#include <semaphore.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/DecodeChannel.h"
#include "runtime/DecodeFormat.h"
#include "support/Blocked.h"
#include "support/IpcNames.h"
#include "vandora_client.h"

namespace vandora {
namespace {

void publish(DecodeChannelWriter& writer, const DecodeQueueRecord& record) {
    writer.discardUnread();
    ASSERT_TRUE(writer.write(record.data(), record.size()));
    writer.setEvent();
}

TEST(DecodeChannel, TwoDecodesWithoutReaderLeaveOnlyTheSecond) {
    IpcNames names;
    DecodeChannelWriter writer;
    ASSERT_TRUE(writer.ready());
    publish(writer, barcodeRecord(1, ByteString("first")));
    publish(writer, barcodeRecord(2, ByteString("second")));
    vandora_client* client = vandora_client_open();
    ASSERT_NE(client, nullptr);
    vandora_decode decode;
    ASSERT_EQ(vandora_client_wait(client, 1000, &decode), 1);
    EXPECT_EQ(decode.kind, 7);
    EXPECT_EQ(decode.code_type, 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(decode.data), decode.data_length), "second");
    // Both decodes were published before the client looked: a second event would be set
    // already, so the client looks again without waiting.
    EXPECT_EQ(vandora_client_wait(client, 0, &decode), 0) << "one event for two decodes";
    vandora_client_close(client);
}

TEST(DecodeChannel, ObjectsAreOnlyForTheirOwner) {
    IpcNames names;
    DecodeChannelWriter writer;
    struct stat st {};
    std::string path = "/dev/mqueue" + decodeQueueName();
    if (stat(path.c_str(), &st) == 0) {
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
    sem_t* event = sem_open(decodeEventName().c_str(), 0);
    ASSERT_NE(event, SEM_FAILED);
    writer.setEvent();
    writer.setEvent();
    int value = -1;
    sem_getvalue(event, &value);
    EXPECT_EQ(value, 1) << "set only while unset";
    sem_close(event);
    std::string semPath = "/dev/shm/sem." + decodeEventName().substr(1);
    if (stat(semPath.c_str(), &st) == 0) {
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
}

TEST(DecodeChannel, ClientParsesRfidRecords) {
    ByteString user = ByteString::fromBytes(std::string_view("\x01\x02\x00\x05", 4));
    DecodeQueueRecord record = rfidRecord(5, ByteString("04A1B2"), &user);
    vandora_decode decode;
    ASSERT_EQ(vandora_parse_record(record.data(), record.size(), &decode), 0);
    EXPECT_EQ(decode.kind, 0x20);
    EXPECT_EQ(decode.code_type, 'Z');
    EXPECT_EQ(decode.length, 6u);
    EXPECT_STREQ(decode.uid, "04A1B2");
    EXPECT_EQ(decode.data_length, 2u) << "user data ends at the first zero byte";
    EXPECT_EQ(vandora_parse_record(record.data(), 100, &decode), -1);

    DecodeQueueRecord longUid =
        rfidRecord(1, ByteString("0123456789ABCDEFGHIJKLMNOPQRST"), nullptr);
    ASSERT_EQ(vandora_parse_record(longUid.data(), longUid.size(), &decode), 0);
    EXPECT_EQ(decode.length, 30u);
    EXPECT_STREQ(decode.uid, "0123456789ABCDEFGHIJ");
    EXPECT_EQ(decode.data_length, 0u);

    DecodeQueueRecord big = barcodeRecord(3, ByteString::fromBytes(std::string(5000, 'z')));
    ASSERT_EQ(vandora_parse_record(big.data(), big.size(), &decode), 0);
    EXPECT_EQ(decode.length, 5000u);
    EXPECT_EQ(decode.data_length, 4095u) << "only what the record holds";
    EXPECT_EQ(decode.data[4094], 'z');
}

TEST(DecodeChannel, TheQueueHoldsOneRecord) {
    IpcNames names;
    DecodeChannelWriter writer;
    ASSERT_TRUE(writer.ready());
    DecodeQueueRecord first = barcodeRecord(1, ByteString("a"));
    DecodeQueueRecord second = barcodeRecord(1, ByteString("b"));
    ASSERT_TRUE(writer.write(first.data(), first.size()));
    // No event is set, as if a reader had been woken for the first record and never took it:
    // the second write waits for it, then takes its place.
    EXPECT_TRUE(writer.write(second.data(), second.size()));
    mqd_t queue = mq_open(decodeQueueName().c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_NE(queue, static_cast<mqd_t>(-1));
    std::vector<char> buffer(kDecodeRecordSize);
    ASSERT_EQ(mq_receive(queue, buffer.data(), buffer.size(), nullptr),
              static_cast<ssize_t>(kDecodeRecordSize));
    EXPECT_EQ(buffer[133], 'b');
    EXPECT_LT(mq_receive(queue, buffer.data(), buffer.size(), nullptr), 0) << "one record";
    mq_close(queue);
}

// vandoractl listen, as an application would run it, prints each record it takes.
TEST(DecodeChannel, VandoractlListenPrintsPublishedRecords) {
    IpcNames names;
    DecodeChannelWriter writer;
    ASSERT_TRUE(writer.ready());
    std::string command =
        std::string("timeout 20 ") + VANDORA_BIN_DIR + "/vandoractl listen --raw --count 2";
    FILE* out = popen(command.c_str(), "r");
    ASSERT_NE(out, nullptr);
    auto nextLine = [&] {
        char line[512] = {};
        return std::fgets(line, sizeof line, out) != nullptr ? std::string(line) : std::string();
    };
    publish(writer, barcodeRecord(0x1B, ByteString::fromBytes(std::string_view("A\0\xFF", 3))));
    EXPECT_EQ(nextLine(), "kind=7 type=27 length=3 data=4100FF\n");
    ByteString user = ByteString::fromBytes(std::string_view("\x01\xAB", 2));
    publish(writer, rfidRecord(6, ByteString("E0040100"), &user));
    EXPECT_EQ(nextLine(), "kind=32 type=83 length=8 data=01AB uid=E0040100\n");
    EXPECT_EQ(pclose(out), 0) << "listen --count 2 ends after two records";
}

TEST(DecodeChannelThreaded, ReaderWaitingBeforeTheDecodeGetsIt) {
    IpcNames names;
    vandora_client* client = vandora_client_open();
    ASSERT_NE(client, nullptr);
    std::atomic<int> result{-2};
    vandora_decode decode;
    std::atomic<pid_t> readerThread{0};
    std::thread reader([&] {
        readerThread = testing::threadId();
        result = vandora_client_wait(client, 10000, &decode);
    });
    // Published once the reader waits on the event, not before.
    while (readerThread == 0) {
        std::this_thread::yield();
    }
    EXPECT_TRUE(testing::waitUntilBlockedIn(readerThread, SYS_futex));
    DecodeChannelWriter writer;
    publish(writer, barcodeRecord(0x1B, ByteString("late")));
    reader.join();
    EXPECT_EQ(result.load(), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(decode.data), decode.data_length), "late");
    vandora_client_close(client);
}

}  // namespace
}  // namespace vandora
