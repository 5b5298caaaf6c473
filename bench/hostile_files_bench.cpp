// What crafted files cost the decoders: progressive arithmetic-coded JPEGs
// of 1000 scans with a few bytes each (8000 x 8000 in 105 KB and 140 KB,
// 16000 x 16000 in 360 KB and 530 KB: the smaller ones have less than a bit
// a block, the larger ones are stopped by the scans' work) and a 30-byte GIF that claims a 19778 x 11774 screen. Each must
// be refused (or decoded) in a small fraction of a second; the counter
// `result` is the decoder's return value.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "rastrum/portable/codecs.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// One DC scan, then AC scans over and over, each carrying `fill` zero bytes
// of arithmetic-coded data (a flat picture).
Bytes ScanHeavyJpeg(int side, int scans, size_t fill) {
  auto segment = [](uint8_t marker, const Bytes& body) {
    const size_t n = body.size() + 2;
    return Bytes{0xFF, marker, uint8_t(n >> 8), uint8_t(n)} + body;
  };
  const auto s0 = uint8_t(side >> 8), s1 = uint8_t(side);
  Bytes file = Bytes{0xFF, 0xD8} + segment(0xDB, Bytes{0} + Bytes(64, 1)) +
               segment(0xCA, {8, s0, s1, s0, s1, 1, 1, 0x11, 0});
  for (int i = 0; i < scans; ++i)
    file = file + segment(0xDA, {1, 1, 0, uint8_t(i ? 1 : 0), uint8_t(i ? 63 : 0), 0}) + Bytes(fill, 0);
  return file + Bytes{0xFF, 0xD9};
}

void Run(benchmark::State& state, const Bytes& file, int (*decode)(std::span<const uint8_t>, rastrum::BlockAllocator&)) {
  int result = 0;
  for (auto _ : state) {
    rastrum::VectorAllocator out;
    result = decode(file, out);
    benchmark::DoNotOptimize(out.block.data());
  }
  state.counters["result"] = result;
  state.counters["file_bytes"] = double(file.size());
}

void BM_JpegThousandScans(benchmark::State& state) {
  const int side = int(state.range(0));
  const size_t fill = size_t(state.range(1));
  Run(state, ScanHeavyJpeg(side, 1000, fill), rastrum::DecodeJpeg);
}
BENCHMARK(BM_JpegThousandScans)
    ->Args({8000, 95})->Args({8000, 135})->Args({16000, 350})->Args({16000, 530})
    ->Unit(benchmark::kMillisecond);

void BM_GifHugeScreen(benchmark::State& state) {
  static const Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 0x42, 0x4D, 0xFE, 0x2D, 0, 0, 0,  // 19778 x 11774
                            0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x4C, 0x01, 0, 0x3B};
  Run(state, gif, rastrum::DecodeGif);
}
BENCHMARK(BM_GifHugeScreen)->Unit(benchmark::kMicrosecond);

}  // namespace
