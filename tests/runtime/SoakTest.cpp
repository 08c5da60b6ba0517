// Soak: many trigger presses in bursts against an engine that now and then stays silent,
// answers garbage or loses its link, and presses released at once. Short in CI;
// VANDORA_SOAK_PRESSES sets a longer run (10000 for the full one).
#include <gtest/gtest.h>
#include <mqueue.h>
#include <semaphore.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

#include "engines/EngineModels.h"
#include "platform/DecodeChannel.h"
#include "runtime/DecodePublish.h"
#include "runtime/ReaderService.h"
#include "vandora_client.h"

namespace vandora {
namespace {

namespace fs = std::filesystem;

class NullView final : public MainView {
  public:
    void setStatusText(const ByteString&) override {}
    int messageBox(const std::string&, const std::string&) override { return kOk; }
};

// The records the queue reader took, in order.
class TakenRecords {
  public:
    void add(std::string record) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            records_.push_back(std::move(record));
        }
        changed_.notify_all();
    }
    // Waits until count records were taken, at most limit; whether they were.
    bool waitFor(std::size_t count, std::chrono::milliseconds limit) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return records_.size() >= count; });
    }
    std::size_t size() {
        std::lock_guard<std::mutex> lock(mutex_);
        return records_.size();
    }
    std::vector<std::string> records() {
        std::lock_guard<std::mutex> lock(mutex_);
        return records_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> records_;
};

// Publishes each decode on the real queue and event, and remembers what it published. The queue
// holds one record and a newer one replaces it, so a reader slowed down by a loaded machine
// would lose records through no fault of the service: each record waits (at most 2 s) until the
// reader has taken the one before.
class QueueOutput final : public DecodeSink {
  public:
    explicit QueueOutput(TakenRecords& taken) : taken_(taken) {}
    void deliver(const Delivery& delivery, const AppSettings&) override {
        taken_.waitFor(published.size(), std::chrono::seconds(2));
        const Decode& decode = delivery.decode;
        PublishTargets targets;
        targets.channel = &channel;
        targets.windowEvent = true;
        if (publishDecode(barcodeRecord(decode.codeTypeId, decode.data), targets) != 0) {
            published.push_back(decode.data.narrow());
        }
    }
    DecodeChannelWriter channel;
    std::vector<std::string> published;

  private:
    TakenRecords& taken_;
};

long residentKiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

int pressesWanted() {
    const char* env = std::getenv("VANDORA_SOAK_PRESSES");
    int presses = env != nullptr ? std::atoi(env) : 0;
    return presses > 0 ? presses : 150;
}

TEST(ServiceSoakThreaded, BurstsOfPressesAgainstAFlakyEngine) {
    const int presses = pressesWanted();
    const int burst = 5;
    fs::path dir = fs::temp_directory_path() / ("vandora-soak-" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "VandoraINI.txt", std::ios::binary)
        << "[Barcode Reader 2D]\r\nhas2D=1\r\n[General]\r\nwindowEvent=1\r\n";

    sim::SimOptions options;
    options.decodeDelayUs = 2000;
    for (int i = 0; i < presses + 10; ++i) {
        char text[16];
        std::snprintf(text, sizeof text, "D%06d", i);
        options.decodes.push_back({0x1B, std::vector<std::uint8_t>(text, text + 7)});
    }
    auto model = sim::makeEngineModel(toNumber(EngineType::Imager2D), options);
    sim::SimulatedPortProvider ports(RealClock::instance());
    ports.attach(1, model);
    ports.faultsFor(1).noModemLines = true;

    setenv("VANDORA_IPC_SUFFIX", (".soak" + std::to_string(getpid())).c_str(), 1);
    NullView view;
    TakenRecords taken;
    QueueOutput output(taken);
    // The queue reader: another party taking each record as the event comes.
    vandora_client* client = vandora_client_open();
    ASSERT_NE(client, nullptr);
    // Once the service is gone it says how many records it published; the reader stops when it
    // has taken that many and the queue stays empty for one more wait (or, should records be
    // missing, after 100 empty waits).
    std::atomic<long> publishedCount{-1};
    std::thread reader([&] {
        int emptyWaits = 0;
        for (;;) {
            vandora_decode decode;
            if (vandora_client_wait(client, 50, &decode) == 1) {
                taken.add(std::string(reinterpret_cast<char*>(decode.data), decode.data_length));
                continue;
            }
            long wanted = publishedCount.load();
            if (wanted >= 0 && (static_cast<long>(taken.size()) >= wanted || ++emptyWaits >= 100)) {
                break;
            }
        }
    });
    // However the test ends, the reader is let go and joined.
    struct JoinReader {
        std::atomic<long>& count;
        std::thread& thread;
        ~JoinReader() {
            if (thread.joinable()) {
                long unset = -1;
                count.compare_exchange_strong(unset, 0);
                thread.join();
            }
        }
    } joinReader{publishedCount, reader};
    ReaderServiceParts parts;
    parts.platform.clock = &RealClock::instance();
    parts.platform.ports = &ports;
    parts.platform.registryPath = (dir / "none.ini").string();
    parts.view = &view;
    parts.iniPath = (dir / "VandoraINI.txt").string();

    long startKiB = 0;
    {
        ReaderService service(parts);
        service.addSink(output);
        service.setDecodeTimeoutSeconds(1);
        service.startUp();
        ASSERT_EQ(service.readers().barcodeReady, 1);
        auto settle = [&](std::chrono::milliseconds limit) {
            auto deadline = std::chrono::steady_clock::now() + limit;
            while (std::chrono::steady_clock::now() < deadline) {
                service.loop().dispatchPending();
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        };
        unsigned seed = 12345;
        for (int done = 0; done < presses; done += burst) {
            seed = seed * 1103515245u + 12345u;
            int mode = static_cast<int>((seed >> 16) % 10);
            sim::SimulatedPort* port = ports.lastPort(1);
            ASSERT_NE(port, nullptr);
            port->withLock([&](sim::SimPortFaults& faults) {
                model->faults.silent = mode == 0;
                model->faults.garbage = mode == 1;
                // A read error that does not last; a device that goes away is a loss with
                // tests of its own.
                faults.readError = mode == 2 ? EAGAIN : 0;
            });
            if (mode >= 7) {
                // Quick releases: each press let go at once, while its read is starting.
                for (int i = 0; i < burst; ++i) {
                    service.handle({Msg::User1Down, 0, 0});
                    service.handle({Msg::User1Up, 0, 0});
                    settle(std::chrono::milliseconds(mode * 2 - 14));
                }
                continue;
            }
            for (int i = 0; i < burst; ++i) {
                service.handle({Msg::User1Down, 0, 0});
            }
            settle(std::chrono::milliseconds(mode <= 2 ? 60 : 25));
            service.handle({Msg::User1Up, 0, 0});
            if (startKiB == 0 && done >= presses / 4) {
                startKiB = residentKiB();
            }
        }
        ports.lastPort(1)->withLock([&](sim::SimPortFaults& faults) {
            model->faults = {};
            faults.readError = 0;
        });
        settle(std::chrono::milliseconds(1500));
        service.quitNow();
    }
    publishedCount = static_cast<long>(output.published.size());
    reader.join();
    vandora_client_close(client);
    mq_unlink(decodeQueueName().c_str());
    sem_unlink(decodeEventName().c_str());
    unsetenv("VANDORA_IPC_SUFFIX");
    // The reader got every record the service published, once each.
    EXPECT_EQ(taken.records(), output.published);
    // Every good read reached the reader once, in the engine's order, undamaged.
    ASSERT_FALSE(output.published.empty());
    std::set<std::string> seen;
    std::string previous;
    for (const std::string& data : output.published) {
        EXPECT_EQ(data.size(), 7u) << data;
        EXPECT_EQ(data[0], 'D') << data;
        EXPECT_TRUE(seen.insert(data).second) << "delivered twice: " << data;
        EXPECT_LT(previous, data) << "out of order";
        previous = data;
    }
    long endKiB = residentKiB();
    EXPECT_LT(endKiB - startKiB, 64 * 1024) << "resident memory grew from " << startKiB << " KiB";
    std::printf("soak: %d presses, %zu decodes delivered, resident %ld -> %ld KiB\n", presses,
                output.published.size(), startKiB, endKiB);
    fs::remove_all(dir);
}

// The RFID part: presses against a letter-command module whose tag comes and goes and that now and
// then answers garbage. A clean read of a tag in the field is delivered once, with that tag's
// UID; an empty field delivers nothing; the channel lock is free at the end and the service stops.
TEST(ServiceSoakThreaded, PressesAgainstAnRfidModuleWhoseTagComesAndGoes) {
    const int presses = std::max(60, pressesWanted() / 3);
    fs::path dir = fs::temp_directory_path() / ("vandora-soak-rfid-" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "VandoraINI.txt", std::ios::binary)
        << "[RFID]\r\nhasRfid=5\r\nrfidReadLength=4\r\n";
    auto module = sim::makeEngineModel(toNumber(EngineType::RfidAscii), {});
    sim::TagField& field = *module->tagField();
    field.clear();
    sim::SimulatedPortProvider ports(RealClock::instance());
    ports.faultsFor(1).openError = ENOENT;
    ports.faultsFor(2).noModemLines = true;
    ports.attach(2, module);

    // Every decode the service delivers, by UID.
    class Uids final : public DecodeSink {
      public:
        void deliver(const Delivery& delivery, const AppSettings&) override {
            std::lock_guard<std::mutex> lock(mutex);
            uids.push_back(delivery.decode.data.narrow());
        }
        std::size_t count() {
            std::lock_guard<std::mutex> lock(mutex);
            return uids.size();
        }
        std::mutex mutex;
        std::vector<std::string> uids;
    } delivered;

    NullView view;
    ReaderServiceParts parts;
    parts.platform.clock = &RealClock::instance();
    parts.platform.ports = &ports;
    parts.platform.registryPath = (dir / "none.ini").string();
    parts.view = &view;
    parts.iniPath = (dir / "VandoraINI.txt").string();
    std::vector<std::string> expected;
    int garbled = 0;
    {
        ReaderService service(parts);
        service.addSink(delivered);
        service.startUp();
        ASSERT_EQ(service.readers().rfidReady, 1) << service.readers().statusText.narrow();
        // The reads the service has finished: each press's read ends in a delivery or a failed
        // read, both counted on the loop thread.
        auto readsDone = [&] { return service.goodReads() + service.failedReads(); };
        // Runs the loop until the read of a press is over (a bound for a hang only).
        auto settle = [&](std::uint64_t before) {
            auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (std::chrono::steady_clock::now() < deadline && readsDone() <= before) {
                service.loop().dispatchPending();
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            return readsDone() > before;
        };
        unsigned seed = 4242;
        for (int i = 0; i < presses; ++i) {
            seed = seed * 1103515245u + 12345u;
            int mode = static_cast<int>((seed >> 16) % 10);
            bool garbage = mode == 0;
            bool present = mode >= 4;
            // A new tag each time one is placed, so that each delivery names its press.
            char uid[16];
            std::snprintf(uid, sizeof uid, "5A%06X", static_cast<unsigned>(i) & 0xFFFFFFu);
            auto change = [&](sim::SimPortFaults&) {
                module->faults.garbage = garbage;
                field.clear();
                if (present) {
                    std::vector<std::uint8_t> bytes;
                    for (int b = 0; b < 8; b += 2) {
                        bytes.push_back(static_cast<std::uint8_t>(
                            std::stoi(std::string(uid + b, 2), nullptr, 16)));
                    }
                    sim::MifareKey key = sim::defaultSampleKey();
                    field.place(sim::mifare1k(bytes, key, key));
                }
            };
            if (sim::SimulatedPort* port = ports.lastPort(2)) {
                port->withLock(change);
            } else {
                sim::SimPortFaults unused;
                change(unused);
            }
            std::size_t before = delivered.count();
            std::uint64_t readsBefore = readsDone();
            service.handle({Msg::User1Down, 0, 0});
            ASSERT_TRUE(settle(readsBefore)) << "press " << i << ": its read never ended";
            service.handle({Msg::User1Up, 0, 0});
            if (garbage) {
                ++garbled;
                // Whatever garbage gave, the next press starts clean.
                std::lock_guard<std::mutex> lock(delivered.mutex);
                delivered.uids.resize(before);
                continue;
            }
            ASSERT_EQ(delivered.count(), before + (present ? 1 : 0)) << "press " << i;
            if (present) {
                expected.push_back(uid);
            }
        }
        // Every press's read is over (each was waited for), so nothing holds the lock now.
        ReaderChannel& channel = service.readers().rfid;
        EXPECT_TRUE(channel.channelLock.tryWait()) << "the RFID channel lock was left held";
        channel.channelLock.release();
        service.quitNow();
    }
    EXPECT_EQ(delivered.uids, expected);
    std::printf("rfid soak: %d presses, %zu tags delivered, %d garbled answers\n", presses,
                expected.size(), garbled);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace vandora
