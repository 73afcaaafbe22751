// Open, configure and close a pseudo-terminal through the serial library and the native module
// 10 000 times: the cycle rate, and whether descriptors or heap are left behind (mallinfo; under
// AddressSanitizer its leak check at exit does the heap part).
// Run from the build folder: bench/SerialSoakBench (the native module is taken from bin/).
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <malloc.h>
#include <pty.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "base/SystemProperties.h"
#include "serial/NativeLibrary.h"
#include "serial/SerialPortLocal.h"

namespace {

using Zivaraze::SerialConfig;
using Zivaraze::SerialPortLocal;

void loadNativeModule() {
    rszorvik::base::SystemProperties::set("ZSP_OSNAME", "Windows");
    rszorvik::base::SystemProperties::set("ZSP_OSARCH", "x86");
    if (SerialPortLocal::isLibraryLoaded()) return;
    const auto bin = std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "bin";
    const std::string error = Zivaraze::NativeLibrary::loadFile((bin / "libzspWin.so").string());
    if (!error.empty()) throw std::runtime_error("the native module: " + error);
}

int openDescriptors() {
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    while (const dirent* entry = readdir(dir))
        count += entry->d_name[0] != '.';
    closedir(dir);
    return count - 1;  // the directory stream itself
}

// Every rate and parity in turn, so each cycle really reconfigures the line.
void cycle(const std::string& path, int times) {
    for (int i = 0; i < times; ++i) {
        auto config = std::make_shared<SerialConfig>(path);
        config->setBitRate(i % 15);
        config->setParity(i % 5);
        SerialPortLocal port(config);
        port.configure();
        port.close();
    }
}

void BM_OpenConfigureCloseCycles(benchmark::State& state) {
    loadNativeModule();
    int master = -1, slave = -1;
    char name[256] = {0};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        state.SkipWithError("openpty failed");
        return;
    }
    ::close(slave);  // the port under test is the only user of the slave side
    const int cycles = static_cast<int>(state.range(0));
    cycle(name, 100);  // first-use allocations (library tables, streams) are not a leak
    const int descriptorsBefore = openDescriptors();
    const auto heapBefore = mallinfo2().uordblks;
    for (auto _ : state)
        cycle(name, cycles);
    const int descriptorsAfter = openDescriptors();
    const auto heapAfter = mallinfo2().uordblks;
    ::close(master);

    state.SetItemsProcessed(state.iterations() * cycles);
    state.counters["descriptors_before"] = descriptorsBefore;
    state.counters["descriptors_after"] = descriptorsAfter;
    state.counters["heap_before"] = static_cast<double>(heapBefore);
    state.counters["heap_after"] = static_cast<double>(heapAfter);
    if (descriptorsAfter != descriptorsBefore) {
        state.SkipWithError("descriptors left open");
        return;
    }
#if !defined(__SANITIZE_ADDRESS__)
    if (heapAfter >= heapBefore + 16 * 1024) state.SkipWithError("heap grew by more than 16 KiB");
#endif
}

}  // namespace

BENCHMARK(BM_OpenConfigureCloseCycles)
    ->Arg(10000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
