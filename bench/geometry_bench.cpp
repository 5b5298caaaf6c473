// Throughput of the imaging library's pixel operations on a 6000 x 4000
// photo-sized picture, in source megapixels per second.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "rastrum/portable/block_io.h"
#include "rastrum/portable/raster.h"

namespace {

constexpr int32_t kWidth = 6000;
constexpr int32_t kHeight = 4000;
constexpr double kMegapixels = kWidth * kHeight / 1e6;

// Something like a photograph: broad gradients, a few hard-edged shapes and
// sensor noise, so that no operation meets only flat runs.
std::vector<uint8_t> MakePhoto(int32_t width, int32_t height) {
  rastrum::VectorAllocator store;
  rastrum::NewBlock photo;
  if (rastrum::MakeBlock24(store, width, height, 2835, 2835, photo) != rastrum::kOk) return {};
  std::mt19937 noise(7);
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* p = photo.pixels.Row(y);
    for (int32_t x = 0; x < width; ++x, p += 3) {
      const double u = double(x) / width, v = double(y) / height;
      double b = 40 + 150 * v, g = 90 + 100 * u * (1 - v), r = 200 - 120 * u;
      if ((x / 700 + y / 500) % 5 == 0) b = g = r = 30 + 200 * ((x / 700) % 2);  // blocks
      const double dx = x - 0.6 * width, dy = y - 0.4 * height;
      if (dx * dx + dy * dy < 900.0 * 900.0) r = 240, g = 200, b = 60;  // a sun
      const int n = int(noise() % 17) - 8;
      p[0] = uint8_t(std::clamp(int(b) + n, 0, 255));
      p[1] = uint8_t(std::clamp(int(g) + n, 0, 255));
      p[2] = uint8_t(std::clamp(int(r) + n, 0, 255));
    }
  }
  return std::move(store.block);
}

const std::vector<uint8_t>& Photo() {
  static const std::vector<uint8_t> photo = MakePhoto(kWidth, kHeight);
  return photo;
}

void SetRate(benchmark::State& state) {
  state.counters["MP/s"] =
      benchmark::Counter(kMegapixels * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

template <class Op>
void Run(benchmark::State& state, Op op) {
  Photo();  // made once, outside every timing
  rastrum::VectorAllocator out;
  for (auto _ : state) {
    if (op(out) != rastrum::kOk) {
      state.SkipWithError("operation failed");
      break;
    }
    benchmark::DoNotOptimize(out.block.data());
  }
  SetRate(state);
}

// Arguments: mode, width, height.
void BM_Resize(benchmark::State& state) {
  const auto mode = static_cast<int32_t>(state.range(0));
  const auto w = static_cast<int32_t>(state.range(1)), h = static_cast<int32_t>(state.range(2));
  Run(state, [&](rastrum::VectorAllocator& out) { return rastrum::Resize(Photo(), w, h, mode, out); });
}
BENCHMARK(BM_Resize)
    ->Args({0, 3000, 2000})
    ->Args({1, 3000, 2000})
    ->Args({0, 9000, 6000})
    ->Args({1, 9000, 6000})
    ->Args({0, 160, 107})
    ->Args({1, 160, 107})
    ->Unit(benchmark::kMillisecond);

void BM_Rotate(benchmark::State& state) {
  const auto angle = static_cast<int32_t>(state.range(0));
  Run(state, [&](rastrum::VectorAllocator& out) { return rastrum::Rotate(Photo(), angle, out); });
}
BENCHMARK(BM_Rotate)->Arg(90)->Arg(180)->Arg(30)->Unit(benchmark::kMillisecond);

void BM_Blur(benchmark::State& state) {
  const auto level = static_cast<int32_t>(state.range(0));
  Run(state, [&](rastrum::VectorAllocator& out) { return rastrum::Blur(Photo(), level, out); });
}
BENCHMARK(BM_Blur)->Arg(1)->Arg(5)->Arg(50)->Arg(99)->Unit(benchmark::kMillisecond);

void BM_AddFrame(benchmark::State& state) {
  static const std::vector<uint8_t> frame = MakePhoto(600, 400);
  Run(state, [&](rastrum::VectorAllocator& out) { return rastrum::AddFrame(Photo(), frame, {}, out); });
}
BENCHMARK(BM_AddFrame)->Unit(benchmark::kMillisecond);

void BM_AddPic(benchmark::State& state) {
  // A whole-picture overlay with a mask at a quarter of its size.
  static const std::vector<uint8_t> mask = MakePhoto(kWidth / 4, kHeight / 4);
  Run(state, [&](rastrum::VectorAllocator& out) { return rastrum::AddPic(0, 0, Photo(), Photo(), mask, out); });
}
BENCHMARK(BM_AddPic)->Unit(benchmark::kMillisecond);

void BM_ToGray(benchmark::State& state) {
  std::vector<uint8_t> block = Photo();
  for (auto _ : state) {
    benchmark::DoNotOptimize(rastrum::ToGray(block));
    benchmark::ClobberMemory();
  }
  SetRate(state);
}
BENCHMARK(BM_ToGray)->Unit(benchmark::kMillisecond);

}  // namespace
