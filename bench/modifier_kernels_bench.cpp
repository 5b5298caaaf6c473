// The pixel kernels of colour adjustment, sharpen and mirror on a 6000 x
// 4000 picture of random pixels: megapixels per second, and the ratio to
// an anchor timed right after each benchmark: OpenCV (one thread) doing
// the nearest job where the build found it, memcpy of the same bytes
// otherwise.
//
//   colour adjust (copy, then adjust in place: the pixel work of Apply)
//       against BGR -> HLS -> BGR with cv::cvtColor twice
//   sharpen (source rows to result rows) against cv::filter2D, 3x3, 8UC3
//   mirror left to right against cv::flip around the vertical axis
//   mirror top to bottom against memcpy
//
// Argument 0 runs the SSE2 forms (all the 32-bit Windows build has),
// 1 the AVX2 forms.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#ifdef QB_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

#include "modifiers/portable/color_adjust.h"
#include "modifiers/portable/mirror.h"
#include "modifiers/portable/sharpen.h"
#include "base/portable/simd_level.h"

namespace {

constexpr int32_t kWidth = 6000;
constexpr int32_t kHeight = 4000;
constexpr uint32_t kStride = kWidth * 3;
constexpr double kMegapixels = static_cast<double>(kWidth) * kHeight / 1e6;

std::vector<uint8_t>& Picture() {
  static std::vector<uint8_t> bytes = [] {
    std::vector<uint8_t> b(static_cast<size_t>(kStride) * kHeight);
    std::mt19937 random(1);
    for (auto& v : b) v = static_cast<uint8_t>(random());
    return b;
  }();
  return bytes;
}

qb::dib::ImageView View(std::vector<uint8_t>& b) { return {b.data(), kWidth, kHeight, kStride, true}; }
qb::dib::ConstImageView ConstView(const std::vector<uint8_t>& b) { return {b.data(), kWidth, kHeight, kStride, true}; }

// Megapixels per second of `job`, the best of three runs.
double TimeRate(const std::function<void()>& job) {
  job();  // touch the pages first
  double best = 1e30;
  for (int i = 0; i < 3; ++i) {
    const auto start = std::chrono::steady_clock::now();
    job();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return kMegapixels / best;
}

double MemcpyRate() {
  std::vector<uint8_t> dst(Picture().size());
  return TimeRate([&] {
    std::memcpy(dst.data(), Picture().data(), dst.size());
    benchmark::DoNotOptimize(dst.data());
  });
}

// MP/s of the benchmark, and its ratio to the rate of the anchor, timed
// right after it so that both see the same load on the machine.
void Rate(benchmark::State& state, double (*anchorRate)(), const char* anchorName) {
  const double megapixels = kMegapixels * static_cast<double>(state.iterations());
  state.counters["MP/s"] = benchmark::Counter(megapixels, benchmark::Counter::kIsRate);
  state.counters[anchorName] = benchmark::Counter(megapixels / anchorRate(), benchmark::Counter::kIsRate);
}

// Sets the kernels' vector level from the benchmark's argument; false
// (and the benchmark skipped) when the machine lacks it.
bool UseLevel(benchmark::State& state) {
  const auto level = state.range(0) == 0 ? qb::simd::Level::kSse2 : qb::simd::Level::kAvx2;
  if (level > qb::simd::Available()) {
    state.SkipWithError("this processor has no AVX2");
    return false;
  }
  qb::simd::Limit(level);
  state.SetLabel(state.range(0) == 0 ? "sse2" : "avx2");
  return true;
}

#ifdef QB_HAVE_OPENCV
cv::Mat PictureMat() { return cv::Mat(kHeight, kWidth, CV_8UC3, Picture().data(), kStride); }

double OpenCvRate(const std::function<void(const cv::Mat&, cv::Mat&)>& job) {
  cv::setNumThreads(1);
  const cv::Mat source = PictureMat();
  cv::Mat result;
  return TimeRate([&] { job(source, result); });
}

// Both conversions into buffers allocated once, as the kernels' are.
void HlsRoundTrip(const cv::Mat& source, cv::Mat& result) {
  static cv::Mat hls;
  cv::cvtColor(source, hls, cv::COLOR_BGR2HLS);
  cv::cvtColor(hls, result, cv::COLOR_HLS2BGR);
}

const cv::Mat& SharpenWeights() {
  static const cv::Mat k = (cv::Mat_<float>(3, 3) << -1, -1, -1, -1, 9, -1, -1, -1, -1);
  return k;
}
void Filter2D(const cv::Mat& source, cv::Mat& result) { cv::filter2D(source, result, -1, SharpenWeights()); }
void FlipHorizontal(const cv::Mat& source, cv::Mat& result) { cv::flip(source, result, 1); }

double HlsRate() { return OpenCvRate(HlsRoundTrip); }
double Filter2DRate() { return OpenCvRate(Filter2D); }
double FlipRate() { return OpenCvRate(FlipHorizontal); }
#define QB_ANCHOR(opencvRate) opencvRate, "x_opencv"
#else
#define QB_ANCHOR(opencvRate) MemcpyRate, "x_memcpy"
#endif

void BM_ColorAdjust(benchmark::State& state) {
  if (!UseLevel(state)) return;
  std::vector<uint8_t> work(Picture().size());
  const qb::color::Shifts shifts = qb::color::MakeShifts(30, 10, -20);
  for (auto _ : state) {
    std::memcpy(work.data(), Picture().data(), work.size());
    qb::color::AdjustPixels(View(work), shifts);
    benchmark::ClobberMemory();
  }
  Rate(state, QB_ANCHOR(HlsRate));
}

void BM_Sharpen(benchmark::State& state) {
  if (!UseLevel(state)) return;
  std::vector<uint8_t> result(Picture().size());
  for (auto _ : state) {
    qb::sharpen::Sharpen(ConstView(Picture()), View(result), 5);
    benchmark::ClobberMemory();
  }
  Rate(state, QB_ANCHOR(Filter2DRate));
}

void BM_MirrorLeftRight(benchmark::State& state) {
  std::vector<uint8_t> result(Picture().size());
  for (auto _ : state) {
    qb::mirror::MirrorLeftRight(ConstView(Picture()), View(result), 24);
    benchmark::ClobberMemory();
  }
  Rate(state, QB_ANCHOR(FlipRate));
}

void BM_MirrorTopBottom(benchmark::State& state) {
  if (!UseLevel(state)) return;
  std::vector<uint8_t> result(Picture().size());
  for (auto _ : state) {
    qb::mirror::MirrorTopBottom(ConstView(Picture()), View(result));
    benchmark::ClobberMemory();
  }
  Rate(state, MemcpyRate, "x_memcpy");
}

// The plain per-pixel forms, for what the vector forms gain.
void BM_ColorAdjustScalar(benchmark::State& state) {
  std::vector<uint8_t> work(Picture().size());
  const qb::color::Shifts shifts = qb::color::MakeShifts(30, 10, -20);
  for (auto _ : state) {
    std::memcpy(work.data(), Picture().data(), work.size());
    qb::color::AdjustPixelsScalar(View(work), shifts);
    benchmark::ClobberMemory();
  }
  Rate(state, QB_ANCHOR(HlsRate));
}

void BM_SharpenReference(benchmark::State& state) {
  std::vector<uint8_t> result(Picture().size());
  for (auto _ : state) {
    qb::sharpen::SharpenReference(ConstView(Picture()), View(result), 5);
    benchmark::ClobberMemory();
  }
  Rate(state, QB_ANCHOR(Filter2DRate));
}

}  // namespace

BENCHMARK(BM_ColorAdjust)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ColorAdjustScalar)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sharpen)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SharpenReference)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MirrorLeftRight)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MirrorTopBottom)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
