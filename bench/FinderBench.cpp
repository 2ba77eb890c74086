// The run finder on single 4096-byte windows of the kinds a scan meets, at the window's
// starting minimum of 10: by itself, and on masks classified once as the scan does.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "Scan.h"
#include "TextRunFinder.h"

namespace {

constexpr size_t kWindow = 4096;
constexpr int kMinLength = 10;

std::vector<BYTE> RandomBytes() {
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<BYTE> w(kWindow);
    for (BYTE& b : w)
        b = static_cast<BYTE>(byte(rng));
    return w;
}

// Bytes drawn with the weights of common x86-64 code: many zeros and REX prefixes, moves,
// calls and jumps. Several of them are printable, so short runs abound and long ones are rare.
std::vector<BYTE> CodeBytes() {
    static const BYTE common[] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x48, 0x48, 0x48, 0x89,
                                  0x89, 0x8B, 0x8B, 0x0F, 0xE8, 0xFF, 0xFF, 0x24, 0x44, 0x45,
                                  0x83, 0xC3, 0xC7, 0x90, 0xCC, 0x41, 0x4C, 0x74, 0x75, 0xEB,
                                  0x85, 0xC0, 0x31, 0x5D, 0x55, 0x53, 0x08, 0x10, 0x01, 0xF8};
    std::mt19937 rng(54321);
    std::uniform_int_distribution<size_t> pick(0, sizeof common - 1);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<BYTE> w(kWindow);
    for (BYTE& b : w)
        b = (rng() % 4 == 0) ? static_cast<BYTE>(byte(rng)) : common[pick(rng)];
    return w;
}

// Lines of prose: every run is a whole line, ended by its newline.
std::vector<BYTE> TextBytes() {
    static const char line[] =
        "The quick brown fox jumps over the lazy dog; pack my box with five dozen jugs.\n";
    std::vector<BYTE> w(kWindow);
    const size_t len = sizeof line - 1;
    for (size_t i = 0; i < kWindow; ++i)
        w[i] = static_cast<BYTE>(line[i % len]);
    return w;
}

std::vector<BYTE> NulBytes() {
    return std::vector<BYTE>(kWindow, 0);
}

// One call from the window's start, as the scan makes for each window it reads.
void FirstRun(benchmark::State& state, std::vector<BYTE> (*make)()) {
    const std::vector<BYTE> w = make();
    const BYTE* begin = w.data();
    const BYTE* end = begin + w.size();
    for (auto _ : state) {
        int length = 0;
        const BYTE* run = FindTextRun(begin, end, kMinLength, &length);
        benchmark::DoNotOptimize(run);
        benchmark::DoNotOptimize(length);
    }
}

// Every run of the window in turn, each search starting past the byte that ended the last.
void AllRuns(benchmark::State& state, std::vector<BYTE> (*make)()) {
    const std::vector<BYTE> w = make();
    const BYTE* begin = w.data();
    const BYTE* end = begin + w.size();
    int64_t runs = 0;
    for (auto _ : state) {
        const BYTE* p = begin;
        int length = 0;
        while (const BYTE* run = FindTextRun(p, end, kMinLength, &length)) {
            ++runs;
            p = run + length;
            if (p < end)
                ++p;
        }
        benchmark::DoNotOptimize(p);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(kWindow));
    state.counters["runs"] =
        benchmark::Counter(static_cast<double>(runs) / static_cast<double>(state.iterations()));
}

// What the scan does with each block: classify it once, then take every run from the masks.
void AllRunsFromMasks(benchmark::State& state, std::vector<BYTE> (*make)()) {
    const std::vector<BYTE> w = make();
    textrun::BlockMasks masks(w.size());
    int64_t runs = 0;
    for (auto _ : state) {
        masks.Classify<TARNWICK_HAVE_SSE2 != 0>(w.data(), w.size());
        size_t from = 0;
        int length = 0;
        for (size_t at; (at = masks.FindRun(from, kMinLength, &length)) < w.size();) {
            ++runs;
            from = at + static_cast<size_t>(length) + 1;
        }
        benchmark::DoNotOptimize(from);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(kWindow));
    state.counters["runs"] =
        benchmark::Counter(static_cast<double>(runs) / static_cast<double>(state.iterations()));
}

BENCHMARK_CAPTURE(FirstRun, random, RandomBytes);
BENCHMARK_CAPTURE(FirstRun, code, CodeBytes);
BENCHMARK_CAPTURE(FirstRun, text, TextBytes);
BENCHMARK_CAPTURE(FirstRun, nul, NulBytes);
BENCHMARK_CAPTURE(AllRuns, random, RandomBytes);
BENCHMARK_CAPTURE(AllRuns, code, CodeBytes);
BENCHMARK_CAPTURE(AllRuns, text, TextBytes);
BENCHMARK_CAPTURE(AllRuns, nul, NulBytes);
BENCHMARK_CAPTURE(AllRunsFromMasks, random, RandomBytes);
BENCHMARK_CAPTURE(AllRunsFromMasks, code, CodeBytes);
BENCHMARK_CAPTURE(AllRunsFromMasks, text, TextBytes);
BENCHMARK_CAPTURE(AllRunsFromMasks, nul, NulBytes);

} // namespace

BENCHMARK_MAIN();
