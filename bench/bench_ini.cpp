// INI store speed: load and save of settings files of 10, 500 and 5,000 sections with 20 keys
// each (500 sections: load plus save under 3 ms of the store's own time, and time linear in the
// file's size), the parse and the file text alone, and accessor reads in stores of growing size,
// which must not grow with the number of entries. The two flushes of a save (file and folder)
// wait for the disk; their time is measured on each call and shown beside the rest. Loads also
// count the page faults they take.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "config/IniStore.h"
#include "config/SettingSections.h"
#include "platform/AtomicFile.h"

namespace {

using namespace vandora;

// A store of `sections` sections of 20 integer and text keys, like a well-filled settings file.
IniStore makeStore(int sections) {
    IniStore store;
    ByteString name;
    ByteString key;
    for (int s = 0; s < sections; ++s) {
        name.format("Symbology %d 2D/1D_LR", s);
        IniSection* section = store.findOrAddSection(name);
        for (int k = 0; k < 20; ++k) {
            key.format("settingNumber%d", k);
            if (k % 5 == 4) {
                store.setString(section, key, "some text value");
            } else {
                store.setInt(section, key, s * 20 + k);
            }
        }
    }
    return store;
}

class ScratchFile {
  public:
    ScratchFile() {
        char pattern[] = "/tmp/vandora-bench-ini-XXXXXX";
        folder_ = ::mkdtemp(pattern) != nullptr ? pattern : "/tmp";
        path_ = folder_ + "/VandoraINI.txt";
    }
    ~ScratchFile() {
        std::remove(path_.c_str());
        ::rmdir(folder_.c_str());
    }
    const std::string& path() const { return path_; }

  private:
    std::string folder_;
    std::string path_;
};

// Times every flush, so that the disk's share of a save can be shown apart.
class TimedFlushes : public AtomicFileSystem {
  public:
    int fsync(int fd) override {
        auto start = std::chrono::steady_clock::now();
        int rc = AtomicFileSystem::fsync(fd);
        flushSeconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ++flushes;
        return rc;
    }
    double flushSeconds = 0;
    long flushes = 0;
};

void reportFlushes(benchmark::State& state, const TimedFlushes& fs, const std::vector<double>& ms) {
    auto n = static_cast<double>(state.iterations());
    state.counters["flushes_per_save"] = static_cast<double>(fs.flushes) / n;
    state.counters["flush_ms"] = fs.flushSeconds * 1000.0 / n;
    std::vector<double> sorted = ms;
    std::sort(sorted.begin(), sorted.end());
    if (!sorted.empty()) {
        state.counters["without_flush_p50_ms"] = sorted[sorted.size() / 2];
        state.counters["without_flush_p99_ms"] = sorted[sorted.size() * 99 / 100];
        state.counters["without_flush_max_ms"] = sorted.back();
    }
}

// Argument: sections of 20 keys.
void BM_IniLoadAndSave(benchmark::State& state) {
    ScratchFile file;
    makeStore(static_cast<int>(state.range(0))).save(file.path());
    TimedFlushes fs;
    std::vector<double> ms;
    for (auto _ : state) {
        double flushedBefore = fs.flushSeconds;
        auto start = std::chrono::steady_clock::now();
        IniStore store;
        benchmark::DoNotOptimize(store.load(file.path()));
        benchmark::DoNotOptimize(store.save(file.path(), fs));
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() -
            (fs.flushSeconds - flushedBefore);
        ms.push_back(seconds * 1000.0);
    }
    reportFlushes(state, fs, ms);
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(std::filesystem::file_size(file.path())));
}
BENCHMARK(BM_IniLoadAndSave)->Arg(10)->Arg(500)->Arg(5000)->Unit(benchmark::kMillisecond);

// Page faults taken so far by this process: a count that, unlike a time, does not move with the
// machine's load. Each one is a page of memory the process got fresh from the system.
long minorFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

void BM_IniLoad(benchmark::State& state) {
    ScratchFile file;
    makeStore(static_cast<int>(state.range(0))).save(file.path());
    long faultsBefore = minorFaults();
    for (auto _ : state) {
        IniStore store;
        benchmark::DoNotOptimize(store.load(file.path()));
    }
    // Most of a large load's time goes to these on a virtual machine.
    state.counters["page_faults_per_load"] =
        static_cast<double>(minorFaults() - faultsBefore) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_IniLoad)->Arg(10)->Arg(500)->Arg(5000)->Unit(benchmark::kMillisecond);

// Temporary file, write, flush to disk, rename, flush of the folder.
void BM_IniSave(benchmark::State& state) {
    ScratchFile file;
    IniStore store = makeStore(static_cast<int>(state.range(0)));
    TimedFlushes fs;
    std::vector<double> ms;
    for (auto _ : state) {
        double flushedBefore = fs.flushSeconds;
        auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(store.save(file.path(), fs));
        ms.push_back(
            (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() -
             (fs.flushSeconds - flushedBefore)) *
            1000.0);
    }
    reportFlushes(state, fs, ms);
}
BENCHMARK(BM_IniSave)->Arg(10)->Arg(500)->Arg(5000)->Unit(benchmark::kMillisecond);

void BM_IniParseOnly(benchmark::State& state) {
    const std::vector<std::uint8_t> bytes = makeStore(500).fileBytes();
    for (auto _ : state) {
        IniStore store;
        benchmark::DoNotOptimize(store.loadBytes(bytes.data(), bytes.size()));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_IniParseOnly)->Unit(benchmark::kMillisecond);

void BM_IniFileTextOnly(benchmark::State& state) {
    IniStore store = makeStore(500);
    for (auto _ : state) {
        benchmark::DoNotOptimize(store.fileBytes());
    }
}
BENCHMARK(BM_IniFileTextOnly)->Unit(benchmark::kMillisecond);

// One read of a 16-key section that sits last in a store of N other sections.
void BM_AccessorRead(benchmark::State& state) {
    IniStore store = makeStore(static_cast<int>(state.range(0)));
    std::int32_t values[16] = {};
    std::int32_t* refs[16];
    for (int i = 0; i < 16; ++i) {
        refs[i] = &values[i];
    }
    accessSection(store, kUpcLr, 'w', refs);
    for (auto _ : state) {
        benchmark::DoNotOptimize(accessSection(store, kUpcLr, 'r', refs));
    }
}
BENCHMARK(BM_AccessorRead)->Arg(10)->Arg(500)->Arg(5000);

}  // namespace

BENCHMARK_MAIN();
