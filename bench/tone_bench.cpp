// Brightness and contrast on a 6000 x 4000 picture: megapixels per second
// of the in-place walks, of a copy followed by the walk (what Apply does
// with the block), and of a plain memcpy of the same bytes for comparison.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <random>
#include <vector>

#include "modifiers/portable/tone.h"

namespace {

constexpr int32_t kWidth = 6000;
constexpr int32_t kHeight = 4000;
constexpr uint32_t kStride = kWidth * 3;

std::vector<uint8_t>& Picture() {
  static std::vector<uint8_t> bytes = [] {
    std::vector<uint8_t> b(static_cast<size_t>(kStride) * kHeight);
    std::mt19937 random(1);
    for (auto& v : b) v = static_cast<uint8_t>(random());
    return b;
  }();
  return bytes;
}

qb::dib::ImageView View(std::vector<uint8_t>& b) {
  return qb::dib::ImageView(b.data(), kWidth, kHeight, kStride, true);
}

// Megapixels per second of a plain memcpy of the picture's bytes, timed
// once over several runs.
double MemcpyRate() {
  static double rate = [] {
    std::vector<uint8_t>& src = Picture();
    std::vector<uint8_t> dst(src.size());
    std::memcpy(dst.data(), src.data(), src.size());  // touch the pages first
    constexpr int kRuns = 30;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRuns; ++i) {
      std::memcpy(dst.data(), src.data(), src.size());
      benchmark::DoNotOptimize(dst.data());
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return kRuns * static_cast<double>(kWidth) * kHeight / 1e6 / seconds;
  }();
  return rate;
}

// MP/s of the benchmark and its ratio to memcpy of the same bytes.
void Rate(benchmark::State& state) {
  const double megapixels = static_cast<double>(kWidth) * kHeight * state.iterations() / 1e6;
  state.counters["MP/s"] = benchmark::Counter(megapixels, benchmark::Counter::kIsRate);
  state.counters["x_memcpy"] = benchmark::Counter(megapixels / MemcpyRate(),
                                                  benchmark::Counter::kIsRate);
}

void BM_Memcpy(benchmark::State& state) {
  std::vector<uint8_t>& src = Picture();
  std::vector<uint8_t> dst(src.size());
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), src.size());
    benchmark::ClobberMemory();
  }
  Rate(state);
}

void BM_Bright(benchmark::State& state) {
  std::vector<uint8_t> work = Picture();
  int level = 1;
  for (auto _ : state) {
    qb::tone::ShiftChannels(View(work), level);
    level = -level;
    benchmark::ClobberMemory();
  }
  Rate(state);
}

void BM_Contrast(benchmark::State& state) {
  std::vector<uint8_t> work = Picture();
  for (auto _ : state) {
    qb::tone::StretchChannels(View(work), static_cast<int>(state.range(0)));
    benchmark::ClobberMemory();
  }
  Rate(state);
}

// The pixel work of Apply: the source copied, then walked in place.
void BM_BrightCopyAndWalk(benchmark::State& state) {
  std::vector<uint8_t>& src = Picture();
  std::vector<uint8_t> dst(src.size());
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), src.size());
    qb::tone::ShiftChannels(View(dst), 20);
    benchmark::ClobberMemory();
  }
  Rate(state);
}

void BM_ContrastCopyAndWalk(benchmark::State& state) {
  std::vector<uint8_t>& src = Picture();
  std::vector<uint8_t> dst(src.size());
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), src.size());
    qb::tone::StretchChannels(View(dst), 10);
    benchmark::ClobberMemory();
  }
  Rate(state);
}

}  // namespace

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Bright)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Contrast)->Arg(50)->Arg(10)->Arg(-48)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BrightCopyAndWalk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ContrastCopyAndWalk)->Unit(benchmark::kMillisecond);
