// Pictures and firmware against simulated engines in virtual time.
//
// - pictureReception: a 40 KB picture from the 2D imager at 115200 baud. link_share is the
//   picture's bytes over the virtual time the reception took, as a share of the line's byte rate
//   (the acknowledgements, packet headers, checksums and the wake line's turn are the rest). Arg:
//   the terminal model (5 wakes the engine by the request line alone, 4 waits on the kernel's
//   engine-ready line after every write).
// - rotateAndEncode: host CPU to turn a 640 x 480 picture upside down and encode it (Arg 0: JPEG
//   kept JPEG, without loss; 1: BMP to BMP; 2: JPEG to BMP; 3: BMP to JPEG).
// - firmwareUpload: 64 KB of firmware; link_share is the file's data bytes over the virtual time,
//   as a share of the line's byte rate (Arg 0: S-record lines into the CCD/Laser engine; 1: .dat
//   packets into the newer imager, whose fixed loader pauses of 7 s are included).
//
// Run with --benchmark_repetitions=N: the median, p99 and max are reported.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "engines/EngineModels.h"
#include "engines/SimPicture.h"
#include "platform/ImageCodec.h"
#include "reader/Exchange.h"
#include "reader/Firmware.h"
#include "reader/PortOps.h"
#include "reader/Scan.h"

namespace {

using namespace vandora;

double percentile(const std::vector<double>& values, double p) {
    std::vector<double> v = values;
    std::sort(v.begin(), v.end());
    if (v.empty()) {
        return 0;
    }
    auto at = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(at, v.size() - 1)];
}

struct Terminal {
    VirtualClock clock;
    sim::SimulatedPortProvider ports{clock};
    sim::SimEngineReadyLine ready{ports, 1};
    ReaderPlatform platform;
    std::unique_ptr<ReaderManager> manager;

    Terminal(std::int32_t model, int engineType, sim::SimOptions options) {
        platform.clock = &clock;
        platform.ports = &ports;
        platform.readyLine = &ready;
        platform.registryPath = "/nonexistent";
        manager = std::make_unique<ReaderManager>(platform);
        manager->setDeviceModel(model);
        ports.attach(1, sim::makeEngineModel(engineType, std::move(options)));
        ports.faultsFor(1).noModemLines = true;
        ReaderChannel& channel = manager->barcode;
        channel.port = 1;
        channel.engineType = EngineType(engineType);
        openPort(channel);
        setBaudRate(channel, 115200);
        manager->barcodeReady = 1;
    }
};

constexpr double kByteUs = 1e6 / 11520.0;  // 115200 baud, ten bits a byte

void pictureReception(benchmark::State& state) {
    sim::SimOptions options;
    options.decodeDelayUs = 0;
    options.image.resize(40 * 1024);
    for (std::size_t i = 0; i < options.image.size(); ++i) {
        options.image[i] = static_cast<std::uint8_t>(i * 31 + (i >> 8));
    }
    double share = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Terminal terminal(static_cast<std::int32_t>(state.range(0)), 3, options);
        ReaderChannel& channel = terminal.manager->barcode;
        ByteString snapshot = ByteString::fromBytes(std::string_view("\x05\xF7\x00\x00\x01", 5));
        ByteString reply;
        exchange(channel, snapshot, 1000, &reply, 5);
        setTrigger(channel, 1);
        channel.scanTimeout = 3000;
        std::uint64_t startUs = terminal.clock.nowUs();
        state.ResumeTiming();
        if (receiveImage(channel, nullptr) == 0 ||
            channel.decodeData.length() != options.image.size()) {
            state.SkipWithError("picture not received");
            return;
        }
        state.PauseTiming();
        double elapsedUs = static_cast<double>(terminal.clock.nowUs() - startUs);
        share = static_cast<double>(options.image.size()) * kByteUs / elapsedUs;
        state.ResumeTiming();
    }
    state.counters["link_share"] = share;
}

void rotateAndEncode(benchmark::State& state) {
    static const PictureFormat kFrom[] = {PictureFormat::Jpeg, PictureFormat::Bmp,
                                          PictureFormat::Jpeg, PictureFormat::Bmp};
    static const PictureFormat kTo[] = {PictureFormat::Jpeg, PictureFormat::Bmp, PictureFormat::Bmp,
                                        PictureFormat::Jpeg};
    auto arg = static_cast<std::size_t>(state.range(0));
    std::vector<std::uint8_t> picture = sim::simPicture(kFrom[arg] == PictureFormat::Bmp, 640, 480);
    std::vector<std::uint8_t> out;
    for (auto _ : state) {
        if (!rotatePicture180(picture.data(), picture.size(), kTo[arg], out)) {
            state.SkipWithError("turn failed");
            return;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["in_bytes"] = static_cast<double>(picture.size());
    state.counters["out_bytes"] = static_cast<double>(out.size());
}

std::string shxText(std::size_t bytes) {
    std::string text;
    char two[3];
    for (std::size_t at = 0; at < bytes; at += 32) {
        std::vector<std::uint8_t> body = {37, 0, static_cast<std::uint8_t>(at >> 16),
                                          static_cast<std::uint8_t>(at >> 8),
                                          static_cast<std::uint8_t>(at)};
        for (std::size_t i = 0; i < 32; ++i) {
            body.push_back(static_cast<std::uint8_t>(at + i * 7));
        }
        unsigned sum = 0;
        for (std::uint8_t b : body) {
            sum += b;
        }
        body.push_back(static_cast<std::uint8_t>(0xFF - (sum & 0xFF)));
        text += "S3";
        for (std::uint8_t b : body) {
            std::snprintf(two, sizeof two, "%02X", b);
            text += two;
        }
        text += "\r\n";
    }
    return text + "S70500000000FA\r\n";
}

std::string datBytes(std::size_t bytes) {
    std::string out("VDAT\x00\x01\x00\x00", 8);
    auto record = [&](std::uint32_t address, std::size_t n) {
        out.push_back(static_cast<char>(4 + n));
        out.append("\x01\x02\x03", 3);
        for (int shift : {24, 16, 8, 0}) {
            out.push_back(static_cast<char>((address >> shift) & 0xFF));
        }
        for (std::size_t i = 0; i < n; ++i) {
            out.push_back(static_cast<char>(i * 5));
        }
    };
    for (std::size_t at = 0; at < bytes; at += 250) {
        record(static_cast<std::uint32_t>(at), 250);
    }
    record(0xFFFFFFFF, 1);
    out.push_back('\0');
    return out;
}

void firmwareUpload(benchmark::State& state) {
    constexpr std::size_t kBytes = 64 * 1024;
    bool dat = state.range(0) == 1;
    std::string path = "/tmp/vandora-bench-firmware" + std::string(dat ? ".dat" : ".shx");
    std::ofstream(path, std::ios::binary) << (dat ? datBytes(kBytes) : shxText(kBytes));
    double share = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Terminal terminal(DeviceModel::HRT100CE, dat ? 8 : 2, {});
        std::uint64_t startUs = terminal.clock.nowUs();
        state.ResumeTiming();
        if (uploadDecoder(*terminal.manager, path, {}) == 0) {
            state.SkipWithError("upload failed");
            return;
        }
        state.PauseTiming();
        double elapsedUs = static_cast<double>(terminal.clock.nowUs() - startUs);
        share = static_cast<double>(kBytes) * kByteUs / elapsedUs;
        state.ResumeTiming();
    }
    state.counters["link_share"] = share;
    std::remove(path.c_str());
}

void withTails(benchmark::internal::Benchmark* b) {
    b->ComputeStatistics("p99", [](const std::vector<double>& v) {
         return percentile(v, 0.99);
     })->ComputeStatistics("max", [](const std::vector<double>& v) { return percentile(v, 1.0); });
}

}  // namespace

BENCHMARK(pictureReception)->Arg(5)->Arg(4)->Unit(benchmark::kMillisecond)->Apply(withTails);
BENCHMARK(rotateAndEncode)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->Apply(withTails);
BENCHMARK(firmwareUpload)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Apply(withTails);

BENCHMARK_MAIN();
