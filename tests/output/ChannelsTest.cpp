// The queue, the event and the bus, with the real POSIX objects and a real dbus-daemon (the
// tests run inside dbus-run-session; without a session bus the bus tests say so and skip).
#include <gtest/gtest.h>
#include <mqueue.h>
#include <poll.h>
#include <semaphore.h>
#include <sys/stat.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/Bus.h"
#include "platform/DecodeChannel.h"
#include "platform/KeyboardSink.h"
#include "runtime/DecodeFormat.h"
#include "runtime/DecodePublish.h"
#include "vandora_client.h"

namespace vandora {
namespace {

// A private suffix for the IPC names of one test, removed afterwards.
class IpcNames {
  public:
    IpcNames() {
        static int counter = 0;
        suffix_ = ".t" + std::to_string(getpid()) + "-" + std::to_string(counter++);
        setenv("VANDORA_IPC_SUFFIX", suffix_.c_str(), 1);
    }
    ~IpcNames() {
        mq_unlink(decodeQueueName().c_str());
        sem_unlink(decodeEventName().c_str());
        unsetenv("VANDORA_IPC_SUFFIX");
    }

  private:
    std::string suffix_;
};

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
    EXPECT_EQ(vandora_client_wait(client, 50, &decode), 0) << "one event for two decodes";
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
    std::vector<char> buffer(kDecodeMessageSize);
    ASSERT_EQ(mq_receive(queue, buffer.data(), buffer.size(), nullptr),
              static_cast<ssize_t>(kDecodeMessageSize));
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
        std::string("timeout 20 ") + VANDORA_BIN_DIR + "/vandoractl listen --count 2";
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
    std::thread reader([&] { result = vandora_client_wait(client, 10000, &decode); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    DecodeChannelWriter writer;
    publish(writer, barcodeRecord(0x1B, ByteString("late")));
    reader.join();
    EXPECT_EQ(result.load(), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(decode.data), decode.data_length), "late");
    vandora_client_close(client);
}

bool haveSessionBus() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    return address != nullptr && *address != '\0';
}

// The service's object on a real bus, served from its own thread; a second connection calls it
// and receives its signals.
TEST(BusThreaded, MethodsAndSignalsOnARealBus) {
    if (!haveSessionBus()) {
        GTEST_SKIP() << "no session bus: run inside dbus-run-session";
    }
    Bus service;
    ASSERT_EQ(service.open(false), 0);
    std::atomic<int> posted{0};
    std::atomic<int> shown{0};
    ASSERT_EQ(service.serve(
                  [&](const std::string& name, std::uint32_t wParam, std::int64_t lParam) {
                      if (name != "WM_USER1DOWN") {
                          return false;
                      }
                      posted = static_cast<int>(wParam + lParam);
                      return true;
                  },
                  [&] { ++shown; }),
              0);
    ASSERT_EQ(service.requestName(), 1);
    std::atomic<bool> stop{false};
    std::thread serving([&] {
        while (!stop) {
            pollfd p{service.fd(), POLLIN, 0};
            poll(&p, 1, 20);
            service.process();
        }
    });

    Bus client;
    ASSERT_EQ(client.open(false), 0);
    std::string error;
    EXPECT_EQ(client.callPostMessage("WM_USER1DOWN", 3, 4, error), 0) << error;
    EXPECT_EQ(posted.load(), 7);
    EXPECT_LT(client.callPostMessage("WM_NOTHING", 0, 0, error), 0);
    EXPECT_EQ(error, kUnknownMessageError);
    EXPECT_EQ(client.callShow(error), 0);
    EXPECT_EQ(shown.load(), 1);

    // A second owner of the name is refused.
    Bus second;
    ASSERT_EQ(second.open(false), 0);
    EXPECT_EQ(second.requestName(), -EEXIST);

    // Signals, received by a plain connection with a match.
    sd_bus* listener = nullptr;
    ASSERT_GE(sd_bus_open_user(&listener), 0);
    std::vector<std::string> received;
    auto onSignal = [](sd_bus_message* m, void* user, sd_bus_error*) -> int {
        auto* list = static_cast<std::vector<std::string>*>(user);
        const char* name = nullptr;
        sd_bus_message_read(m, "s", &name);
        list->push_back(std::string(sd_bus_message_get_member(m)) + ":" + (name ? name : ""));
        return 0;
    };
    ASSERT_GE(sd_bus_add_match(listener, nullptr, "type='signal',interface='org.vandora.Reader1'",
                               onSignal, &received),
              0);
    DecodeQueueRecord record = barcodeRecord(1, ByteString("x"));
    stop = true;
    serving.join();
    EXPECT_EQ(service.emitCopyData("DECODE_MSG", record.data(), record.size()), 0);
    EXPECT_EQ(service.emitMessage("DECODE_MSG", 7, 0), 0);
    service.flush();
    for (int i = 0; i < 100 && received.size() < 2; ++i) {
        while (sd_bus_process(listener, nullptr) > 0) {
        }
        sd_bus_wait(listener, 20000);
    }
    EXPECT_EQ(received, (std::vector<std::string>{"CopyData:DECODE_MSG", "Message:DECODE_MSG"}));
    sd_bus_flush_close_unref(listener);
}

}  // namespace
}  // namespace vandora

namespace vandora {
namespace {

TEST(UinputSink, TypesWhereTheDeviceCanBeOpened) {
    UinputKeyboardSink sink;
    if (!sink.ready()) {
        GTEST_SKIP() << "/dev/uinput cannot be opened here: the uinput sink was not tested";
    }
    sink.postCharacters({'a', 'B', '1', '!'});
    sink.keyEvent(13, 0, 0);
    sink.keyEvent(13, 0, KeyboardSink::kKeyUp);
}

TEST(KeyboardSinks, AFifoNobodyReadsDoesNotBlock) {
    std::string path = "/tmp/vandora-keys-fifo-" + std::to_string(getpid());
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    auto sink = makeKeyboardSink("log:" + path);
    sink->postCharacters({'x'});
    sink->keyEvent(9, 0, 0);
    unlink(path.c_str());
}

TEST(KeyboardSinks, ChoiceAndQuietFailure) {
    auto log = makeKeyboardSink("log:/nonexistent/dir/keys.log");
    log->postCharacters({'x'});  // an unwritable log drops the call quietly
    log->keyEvent(9, 0, 0);
    auto none = makeKeyboardSink("none");
    none->postCharacters({'x'});
    SUCCEED();
}

}  // namespace
}  // namespace vandora

namespace vandora {
namespace {

// What a program on the bus sees of one signal of the service's object.
struct SeenSignal {
    std::string member;
    std::string path;
    std::string name;
    std::vector<std::uint8_t> data;  // CopyData
    std::uint32_t wParam = 0;        // Message
    std::int64_t lParam = -1;        // Message
};

int onServiceSignal(sd_bus_message* m, void* user, sd_bus_error*) {
    SeenSignal seen;
    seen.member = sd_bus_message_get_member(m);
    seen.path = sd_bus_message_get_path(m);
    const char* name = nullptr;
    sd_bus_message_read(m, "s", &name);
    seen.name = name != nullptr ? name : "";
    if (seen.member == "CopyData") {
        const void* bytes = nullptr;
        std::size_t size = 0;
        sd_bus_message_read_array(m, 'y', &bytes, &size);
        const auto* first = static_cast<const std::uint8_t*>(bytes);
        seen.data.assign(first, first + size);
    } else {
        sd_bus_message_read(m, "ux", &seen.wParam, &seen.lParam);
    }
    static_cast<std::vector<SeenSignal>*>(user)->push_back(seen);
    return 0;
}

// One RFID decode published on the real queue, event and bus: a client waiting on the event
// and a second bus connection both get the record itself.
TEST(PublishOnRealObjects, QueueEventAndBothSignalsCarryTheRecord) {
    if (!haveSessionBus()) {
        GTEST_SKIP() << "no session bus: run inside dbus-run-session";
    }
    IpcNames names;
    DecodeChannelWriter channel;
    ASSERT_TRUE(channel.ready());
    Bus service;
    ASSERT_EQ(service.open(false), 0);
    sd_bus* listener = nullptr;
    ASSERT_GE(sd_bus_open_user(&listener), 0);
    std::vector<SeenSignal> seen;
    ASSERT_GE(sd_bus_add_match(listener, nullptr,
                               "type='signal',interface='org.vandora.Reader1',path='/org/vandora/"
                               "Reader'",
                               onServiceSignal, &seen),
              0);
    // The match is in place once the bus has answered a call made after it.
    ASSERT_GE(sd_bus_call_method(listener, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                 "org.freedesktop.DBus.Peer", "Ping", nullptr, nullptr, ""),
              0);

    ByteString user = ByteString::fromBytes(std::string_view("\x10\x20\x30", 3));
    DecodeQueueRecord record = rfidRecord(9, ByteString("E00401001234567A"), &user);
    ASSERT_EQ(publishDecode(record, {&channel, &service, true, true}), 1);

    vandora_client* client = vandora_client_open();
    ASSERT_NE(client, nullptr);
    vandora_decode decode;
    ASSERT_EQ(vandora_client_wait(client, 1000, &decode), 1);
    EXPECT_EQ(decode.code_type, 'V');
    EXPECT_STREQ(decode.uid, "E00401001234567A");
    EXPECT_EQ(decode.data_length, 3u);
    vandora_client_close(client);

    for (int i = 0; i < 100 && seen.size() < 2; ++i) {
        while (sd_bus_process(listener, nullptr) > 0) {
        }
        sd_bus_wait(listener, 20000);
    }
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].member, "CopyData");
    EXPECT_EQ(seen[0].path, "/org/vandora/Reader");
    EXPECT_EQ(seen[0].name, "DECODE_MSG");
    EXPECT_TRUE(std::equal(record.begin(), record.end(), seen[0].data.begin(), seen[0].data.end()));
    EXPECT_EQ(seen[1].member, "Message");
    EXPECT_EQ(seen[1].name, "DECODE_MSG");
    EXPECT_EQ(seen[1].wParam, 0x20u);
    EXPECT_EQ(seen[1].lParam, 0);
    sd_bus_flush_close_unref(listener);
}

}  // namespace
}  // namespace vandora
