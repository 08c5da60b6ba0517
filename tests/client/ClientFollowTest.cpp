// Readers that opened the queue and the event before the service started: the service makes
// both anew, and every such reader moves to the new pair by itself.
#include <mqueue.h>
#include <semaphore.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/DecodeChannel.h"
#include "runtime/DecodeFormat.h"
#include "vandora_client.h"

namespace vandora {
namespace {

TEST(ClientFollowThreaded, EveryReaderOpenedBeforeTheServiceGetsDecodesOfTheNewPair) {
    setenv("VANDORA_IPC_SUFFIX", (".follow" + std::to_string(getpid())).c_str(), 1);
    constexpr int kReaders = 3;
    std::vector<vandora_client*> clients;
    for (int i = 0; i < kReaders; ++i) {
        clients.push_back(vandora_client_open());
        ASSERT_NE(clients.back(), nullptr);
    }
    std::atomic<int> waiting{0};
    std::vector<std::string> got(kReaders);
    std::vector<std::thread> readers;
    for (int i = 0; i < kReaders; ++i) {
        readers.emplace_back([&, i] {
            vandora_decode decode;
            ++waiting;
            // Each reader waits once; a wake that only moves it to the new pair does not end
            // the call.
            if (vandora_client_wait(clients[i], 10000, &decode) == 1) {
                got[i].assign(reinterpret_cast<char*>(decode.data), decode.data_length);
            }
        });
    }
    while (waiting < kReaders) {
        std::this_thread::yield();
    }
    DecodeChannelWriter writer;
    ASSERT_TRUE(writer.ready()) << writer.error();
    // One record per reader, each published once the one before was taken.
    for (int i = 0; i < kReaders; ++i) {
        DecodeQueueRecord record = barcodeRecord(0x1B, ByteString("R"));
        writer.discardUnread();
        ASSERT_TRUE(writer.write(record.data(), record.size()));
        writer.setEvent();
        mqd_t probe = mq_open(decodeQueueName().c_str(), O_RDONLY | O_NONBLOCK);
        mq_attr attr{};
        for (int spin = 0; spin < 10000; ++spin) {
            mq_getattr(probe, &attr);
            if (attr.mq_curmsgs == 0) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        mq_close(probe);
    }
    for (std::thread& t : readers) {
        t.join();
    }
    EXPECT_EQ(got, std::vector<std::string>(kReaders, "R"));
    for (vandora_client* c : clients) {
        vandora_client_close(c);
    }
    mq_unlink(decodeQueueName().c_str());
    sem_unlink(decodeEventName().c_str());
    unsetenv("VANDORA_IPC_SUFFIX");
}

}  // namespace
}  // namespace vandora
