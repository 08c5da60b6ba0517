// INI store speed: load and save of a settings file of 500 sections with 20 keys each (the
// target is load plus save under 10 ms), the parse and the file text alone, and accessor reads
// in stores of growing size, which must not grow with the number of entries.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "config/IniStore.h"
#include "config/SettingSections.h"

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

void BM_IniLoadAndSave(benchmark::State& state) {
    ScratchFile file;
    makeStore(500).save(file.path());
    for (auto _ : state) {
        IniStore store;
        benchmark::DoNotOptimize(store.load(file.path()));
        benchmark::DoNotOptimize(store.save(file.path()));
    }
}
BENCHMARK(BM_IniLoadAndSave)->Unit(benchmark::kMillisecond);

void BM_IniLoad(benchmark::State& state) {
    ScratchFile file;
    makeStore(500).save(file.path());
    for (auto _ : state) {
        IniStore store;
        benchmark::DoNotOptimize(store.load(file.path()));
    }
}
BENCHMARK(BM_IniLoad)->Unit(benchmark::kMillisecond);

// Temporary file, write, flush to disk, rename.
void BM_IniSave(benchmark::State& state) {
    ScratchFile file;
    IniStore store = makeStore(500);
    for (auto _ : state) {
        benchmark::DoNotOptimize(store.save(file.path()));
    }
}
BENCHMARK(BM_IniSave)->Unit(benchmark::kMillisecond);

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
