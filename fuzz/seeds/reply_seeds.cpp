// Writes the seed corpus of fuzz_reply: the answers of the engine models of every type to real
// commands, decodes and pictures, as the host read them. The host runs its own exchanges and
// readers against a model; the port between them notes what the host read after each of its
// writes, and that becomes one answer of the seed. Each seed is then run as the fuzzer runs it and
// must give the host the same result and bytes as the model did.
//
// Usage: reply_seeds DIR (the files are replaced; run from the fuzz build, see fuzz/README.md).
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ReplyInput.h"
#include "engines/EngineModels.h"
#include "platform/RfidLinkApi.h"
#include "reader/engines/EngineTable.h"

namespace {

using namespace vandora;
using Bytes = std::vector<std::uint8_t>;

// The bytes the host read after each of its writes, while recording.
struct Tape {
    bool recording = false;
    std::vector<Bytes> answers;
    // Forgets what the host has read of the current answer: bytes that a step before the reader
    // under test took (the fuzzer's run starts the reader right after its write).
    void dropReadSoFar() {
        if (!answers.empty()) {
            answers.back().clear();
        }
    }
};

class TapedPort final : public SerialPort {
  public:
    TapedPort(std::unique_ptr<SerialPort> port, Tape& tape) : port_(std::move(port)), tape_(tape) {}
    int open() override { return port_->open(); }
    void close() override { port_->close(); }
    bool isOpen() const override { return port_->isOpen(); }
    int setBufferSizes(std::size_t input, std::size_t output) override {
        return port_->setBufferSizes(input, output);
    }
    int purge(unsigned flags) override { return port_->purge(flags); }
    int getSettings(PortSettings& out) override { return port_->getSettings(out); }
    int setSettings(const PortSettings& settings) override { return port_->setSettings(settings); }
    int getTimeouts(PortTimeouts& out) override { return port_->getTimeouts(out); }
    int setTimeouts(const PortTimeouts& timeouts) override { return port_->setTimeouts(timeouts); }
    int read(std::uint8_t* buffer, std::size_t n, std::size_t& got) override {
        int error = port_->read(buffer, n, got);
        if (error == 0 && tape_.recording && !tape_.answers.empty()) {
            tape_.answers.back().insert(tape_.answers.back().end(), buffer, buffer + got);
        }
        return error;
    }
    int write(const std::uint8_t* data, std::size_t n, std::size_t& written) override {
        if (tape_.recording) {
            tape_.answers.emplace_back();
        }
        return port_->write(data, n, written);
    }
    int getModemStatus(std::uint32_t& bits) override { return port_->getModemStatus(bits); }

  private:
    std::unique_ptr<SerialPort> port_;
    Tape& tape_;
};

class TapedProvider final : public SerialPortProvider {
  public:
    TapedProvider(sim::SimulatedPortProvider& ports, Tape& tape) : ports_(ports), tape_(tape) {}
    std::unique_ptr<SerialPort> create(int portNumber) override {
        std::unique_ptr<SerialPort> port = ports_.create(portNumber);
        return port ? std::make_unique<TapedPort>(std::move(port), tape_) : nullptr;
    }

  private:
    sim::SimulatedPortProvider& ports_;
    Tape& tape_;
};

// One engine model behind a taped port, opened at the engine's working rate.
struct Host {
    Host(int engineType, sim::SimOptions options)
        : model(sim::makeEngineModel(engineType, std::move(options))), taped(ports, tape) {
        ports.attach(1, model);
        ports.faultsFor(1).noModemLines = true;
        platform.clock = &clock;
        platform.ports = &taped;
        platform.rfidLink = &link;
        platform.registryPath = "/nonexistent";
        manager = std::make_unique<ReaderManager>(platform);
        channel().port = 1;
        channel().engineType = EngineType(engineType);
        channel().scanTimeout = 3000;
        ok = openPort(channel()) == 1 &&
             setBaudRate(channel(), engineInfo(EngineType(engineType)).workingBaud) == 1;
    }
    ReaderChannel& channel() { return manager->barcode; }
    std::int32_t command(const Bytes& bytes, ByteString* reply = nullptr) {
        ByteString sent = ByteString::fromBytes(bytes.data(), bytes.size());
        ByteString ignored;
        return exchange(channel(), sent, 1000, reply != nullptr ? reply : &ignored, 1);
    }
    std::int32_t command(const std::string& text) {
        return command(Bytes(text.begin(), text.end()));
    }

    VirtualClock clock;
    std::shared_ptr<sim::EngineSim> model;
    sim::SimulatedPortProvider ports{clock};
    Tape tape;
    TapedProvider taped;
    UnavailableRfidLink link;
    ReaderPlatform platform;
    std::unique_ptr<ReaderManager> manager;
    bool ok = false;
};

struct Seed {
    std::string name;
    int engineType = 0;
    int reader = fuzz::kReadReply;
    std::vector<Bytes> answers;
    std::int32_t result = 0;
    ByteString out;
    // The firmware exchange writes without clearing the line first, so the fuzzer's run, which
    // also answers the write before it, reads the answers back to back: only the bytes are the
    // engine's, the run is not the host's.
    bool replayed = true;
};

std::size_t typeIndex(int engineType) {
    for (std::size_t i = 0; i < fuzz::kReplyTypeCount; ++i) {
        if (fuzz::kReplyTypes[i] == engineType) {
            return i;
        }
    }
    return 0;
}

// The fuzzer's input for a seed; empty when an answer cannot be written in its format.
Bytes encode(const Seed& seed) {
    std::vector<Bytes> answers = seed.answers;
    // Writes the engine left unanswered at the end need no answer of their own.
    while (!answers.empty() && answers.back().empty()) {
        answers.pop_back();
    }
    Bytes input = {static_cast<std::uint8_t>(typeIndex(seed.engineType) +
                                             fuzz::kReplyTypeCount * seed.reader)};
    for (const Bytes& answer : answers) {
        if (answer.empty() || answer.size() > fuzz::kMaxAnswer) {
            return {};
        }
        input.push_back(static_cast<std::uint8_t>(answer.size() % fuzz::kMaxAnswer));
        input.insert(input.end(), answer.begin(), answer.end());
    }
    return input;
}

std::vector<Seed> seeds;
int failures = 0;

void fail(const std::string& name, const char* why) {
    std::fprintf(stderr, "reply_seeds: %s: %s\n", name.c_str(), why);
    ++failures;
}

// Runs `steps` on a fresh host and keeps what the host read after each write from the moment
// `record` is called.
template <typename Steps>
void take(const std::string& name, int engineType, int reader, sim::SimOptions options,
          Steps steps) {
    Host host(engineType, std::move(options));
    if (!host.ok) {
        fail(name, "port did not open");
        return;
    }
    Seed seed;
    seed.name = name;
    seed.engineType = engineType;
    seed.reader = reader;
    steps(host, seed);
    seed.answers = host.tape.answers;
    if (seed.answers.empty()) {
        fail(name, "nothing recorded");
        return;
    }
    seeds.push_back(std::move(seed));
}

Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes letters(std::size_t n) {
    Bytes out;
    for (std::size_t i = 0; i < n; ++i) {
        out.push_back(static_cast<std::uint8_t>('A' + i % 26));
    }
    return out;
}

sim::SimOptions withDecode(sim::SimDecode decode) {
    sim::SimOptions options;
    options.decodes.push_back(std::move(decode));
    return options;
}

// A reply to each command, read as the exchange reads it.
void replies(int engineType, const std::vector<std::pair<std::string, Bytes>>& commands) {
    for (const auto& entry : commands) {
        const std::string& what = entry.first;
        const Bytes& command = entry.second;
        take("reply-" + std::to_string(engineType) + "-" + what, engineType, fuzz::kReadReply, {},
             [&](Host& host, Seed& seed) {
                 host.tape.recording = true;
                 seed.result = host.command(command, &seed.out);
                 // A refusal is a whole reply to the reader; only the exchange turns it down.
                 if (isRefusal(seed.out) || seed.out == "NG") {
                     seed.result = 1;
                 }
             });
    }
}

// A decode after the trigger command, read by the decode reader.
void decode(const std::string& what, int engineType, sim::SimOptions options,
            const Bytes& trigger) {
    take("decode-" + std::to_string(engineType) + "-" + what, engineType, fuzz::kReadDecode,
         std::move(options), [&](Host& host, Seed& seed) {
             host.tape.recording = true;
             ByteString ack;
             if (isPacketEngine(EngineType(engineType))) {
                 // The trigger's acknowledgement is read by the exchange; its two checksum bytes
                 // stay, as in the service, in front of the decode.
                 host.command(trigger, &ack);
             } else {
                 ByteString sent = ByteString::fromBytes(trigger.data(), trigger.size());
                 exchange(host.channel(), sent, 1000, nullptr, 1);
             }
             host.tape.dropReadSoFar();
             seed.result = readReply(host.channel(), seed.out, 3000, 1);
         });
}

void picture(const std::string& what, int engineType, std::size_t size) {
    sim::SimOptions options;
    options.image = letters(size);
    take("image-" + std::to_string(engineType) + "-" + what, engineType, fuzz::kReadImage,
         std::move(options), [&](Host& host, Seed& seed) {
             host.command(Bytes{0x05, 0xF7, 0x04, 0x00, 0x01});
             host.tape.recording = true;
             host.command(Bytes{0x04, 0xE4, 0x04, 0x00});
             // The acknowledgement read whole, checksum included: the picture's first packet
             // alone fills an answer.
             std::uint8_t byte = 0;
             readByte(host.channel(), byte);
             readByte(host.channel(), byte);
             host.tape.dropReadSoFar();
             seed.result = receiveImage(host.channel(), nullptr);
             seed.out = host.channel().decodeData;
         });
}

void firmware(const std::string& what, int engineType, const Bytes& packet) {
    take("firmware-" + std::to_string(engineType) + "-" + what, engineType, fuzz::kReadFirmware, {},
         [&](Host& host, Seed& seed) {
             ByteString sent = ByteString::fromBytes(packet.data(), packet.size());
             appendChecksum(sent);
             host.tape.recording = true;
             seed.result = exchangeFirmware(host.channel(), sent, 500, &seed.out, 2);
             seed.replayed = false;
         });
}

void generate() {
    const Bytes revision = {0x04, 0xA3, 0x04, 0x00};
    const Bytes paramRequest = {0x08, 0xC7, 0x04, 0x00, 0x00, 0x8A, 0xF0, 0x12};
    const Bytes aimOn = {0x04, 0xC5, 0x04, 0x00};
    const Bytes unknown = {0x04, 0x77, 0x04, 0x00};
    const Bytes startDecoding = {0x04, 0xE4, 0x04, 0x00};
    for (int type : {3, 4, 8, 9}) {
        replies(type, {{"revision", revision},
                       {"parameters", paramRequest},
                       {"ack", aimOn},
                       {"refusal", unknown}});
        decode("plain", type, withDecode({0x1B, bytesOf("4006381333931")}), startDecoding);
        decode("packets", type, withDecode({0x1C, letters(25), sim::DecodeForm::Plain, 10}),
               startDecoding);
        decode("wrapped", type, withDecode({0x1C, letters(120), sim::DecodeForm::Wrapped, 50}),
               startDecoding);
    }
    replies(2, {{"version", bytesOf("VER")}, {"block", bytesOf("SET")}, {"ng", bytesOf("XYZ")}});
    decode("code39", 2, withDecode({'A', bytesOf("12345")}), bytesOf("ON"));
    decode("noread", 2, withDecode({'A', {}, sim::DecodeForm::NoRead}), bytesOf("ON"));
    replies(5, {{"version", bytesOf("v")},
                {"register", bytesOf("rp0C")},
                {"block", bytesOf("rb01")},
                {"unknown", bytesOf("x")}});
    decode("tag", 5, withDecode({'M', {0x04, 0xA1, 0xB2, 0xC3, 0x5D, 0x80}}), bytesOf("s"));
    decode("notag", 5, {}, bytesOf("s"));
    replies(6, {{"probe", bytesOf("0108000304FE0000")},
                {"detect", bytesOf("0109000304A0010000")},
                {"setup", bytesOf("0109000304F0000000")},
                {"block", bytesOf("010B000304180020050000")}});
    decode("tag", 6, withDecode({0, {0xE0, 0x04, 0x01, 0x00, 0x12, 0x34, 0x56, 0x78}}),
           bytesOf("0109000304B0040000"));
    for (int type : {3, 8}) {
        picture("small", type, 100);
        picture("three-packets", type, 700);
        firmware("start", type, {0x04, 0xEE, 0x04, 0x00});
        firmware("refusal", type, unknown);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: reply_seeds DIR\n");
        return 2;
    }
    generate();
    for (const Seed& seed : seeds) {
        Bytes input = encode(seed);
        if (input.empty()) {
            fail(seed.name, "an answer does not fit the input format");
            continue;
        }
        fuzz::ReplyRun run = fuzz::runReplyInput(input.data(), input.size());
        if (seed.replayed && (run.result != seed.result || !(run.out == seed.out))) {
            fail(seed.name, "the fuzzer's run reads something else than the host did");
            continue;
        }
        std::string path = std::string(argv[1]) + "/" + seed.name;
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(input.data()),
                   static_cast<std::streamsize>(input.size()));
        if (!file) {
            fail(seed.name, "cannot write the file");
            continue;
        }
        std::printf("%-32s %5zu bytes, result %d, %zu bytes read\n", seed.name.c_str(),
                    input.size(), seed.result, seed.out.length());
    }
    return failures == 0 ? 0 : 1;
}
