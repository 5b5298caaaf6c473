// The JPEG and PNG codecs on a 6000 x 4000 photograph-like picture, in
// megapixels per second, beside libjpeg-turbo driven directly with the same
// settings: the block handling around the codec should cost next to
// nothing.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

#include "base/portable/dib_format.h"
#include "rastrum/portable/block_io.h"
#include "rastrum/portable/codecs.h"

namespace {

namespace dib = qb::dib;
using Bytes = std::vector<uint8_t>;

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;
constexpr double kMegapixels = kWidth * double(kHeight) / 1e6;
constexpr JDIMENSION kRowsPerCall = 16;

struct Photo {
  Bytes block;  // 24-bit bottom-up
  dib::ConstImageView pixels;
  Bytes jpeg;  // quality 90
  Bytes png;
};

// Slow gradients per row and per column, a diagonal wave and a little
// pixel noise: what a compressor sees in a photograph, more or less.
const Photo& ThePhoto() {
  static const Photo photo = [] {
    Photo p;
    rastrum::VectorAllocator out;
    rastrum::NewBlock nb;
    if (rastrum::MakeBlock24(out, kWidth, kHeight, 2835, 2835, nb) != rastrum::kOk) std::abort();
    std::vector<float> across(size_t(kWidth) * 3), down(size_t(kHeight) * 3);
    for (int x = 0; x < kWidth; ++x)
      for (int c = 0; c < 3; ++c) across[size_t(x) * 3 + c] = 60 * std::sin(x * 0.0021f + c);
    for (int y = 0; y < kHeight; ++y)
      for (int c = 0; c < 3; ++c) down[size_t(y) * 3 + c] = 128 + 50 * std::cos(y * 0.0017f - c);
    uint32_t seed = 1;
    for (int y = 0; y < kHeight; ++y) {
      uint8_t* row = nb.pixels.Row(y);
      for (int x = 0; x < kWidth; ++x)
        for (int c = 0; c < 3; ++c) {
          seed = seed * 1664525u + 1013904223u;
          const float wave = 12 * std::sin((x + y) * 0.05f + c);
          const float v = across[size_t(x) * 3 + c] + down[size_t(y) * 3 + c] + wave +
                          float(int(seed >> 28) - 8);
          row[x * 3 + c] = uint8_t(std::fmin(255.f, std::fmax(0.f, v)));
        }
    }
    p.block = std::move(out.block);
    dib::DibLayout layout;
    if (dib::Validate(p.block, dib::kDepth24, layout) != dib::DibStatus::kOk) std::abort();
    p.pixels = dib::PixelsOf(p.block.data(), layout);
    if (rastrum::EncodeJpeg(p.block, 90, p.jpeg) != rastrum::kOk) std::abort();
    if (rastrum::EncodePng(p.block, p.png) != rastrum::kOk) std::abort();
    return p;
  }();
  return photo;
}

void CountMegapixels(benchmark::State& state) {
  state.counters["MP/s"] =
      benchmark::Counter(double(state.iterations()) * kMegapixels, benchmark::Counter::kIsRate);
}

void BM_DecodeJpeg(benchmark::State& state) {
  const Photo& photo = ThePhoto();
  // Reused, as by a caller decoding a series; sized by one decode first, as
  // the plain buffer of the libjpeg run is.
  rastrum::VectorAllocator out;
  if (rastrum::DecodeJpeg(photo.jpeg, out) != rastrum::kOk) state.SkipWithError("decode failed");
  for (auto _ : state) {
    if (rastrum::DecodeJpeg(photo.jpeg, out) != rastrum::kOk) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(out.block.data());
  }
  CountMegapixels(state);
}

// libjpeg-turbo alone: the same file into a plain top-down buffer, blue
// first, rows handed over as many at a time.
void BM_DecodeJpegLibjpeg(benchmark::State& state) {
  const Photo& photo = ThePhoto();
  Bytes buffer(size_t(kWidth) * 3 * kHeight);
  for (auto _ : state) {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, photo.jpeg.data(), photo.jpeg.size());
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);
    JSAMPROW rows[kRowsPerCall];
    while (cinfo.output_scanline < cinfo.output_height) {
      const JDIMENSION first = cinfo.output_scanline;
      const JDIMENSION count = std::min(kRowsPerCall, cinfo.output_height - first);
      for (JDIMENSION i = 0; i < count; ++i) rows[i] = &buffer[size_t(first + i) * kWidth * 3];
      jpeg_read_scanlines(&cinfo, rows, count);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    benchmark::DoNotOptimize(buffer.data());
  }
  CountMegapixels(state);
}

void BM_EncodeJpeg(benchmark::State& state) {
  const Photo& photo = ThePhoto();
  Bytes file;
  for (auto _ : state) {
    file.clear();
    if (rastrum::EncodeJpeg(photo.block, 90, file) != rastrum::kOk)
      state.SkipWithError("encode failed");
    benchmark::DoNotOptimize(file.data());
  }
  state.counters["bytes"] = double(file.size());
  CountMegapixels(state);
}

// libjpeg-turbo alone: the same rows, quality and density, into its own
// memory destination (a buffer kept from one run to the next).
void BM_EncodeJpegLibjpeg(benchmark::State& state) {
  const Photo& photo = ThePhoto();
  unsigned long capacity = photo.jpeg.size() * 2;
  unsigned char* buffer = static_cast<unsigned char*>(std::malloc(capacity));
  unsigned long size = 0;
  for (auto _ : state) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    size = capacity;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = kWidth;
    cinfo.image_height = kHeight;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    cinfo.density_unit = 1;
    cinfo.X_density = cinfo.Y_density = 72;
    jpeg_start_compress(&cinfo, TRUE);
    JSAMPROW rows[kRowsPerCall];
    while (cinfo.next_scanline < cinfo.image_height) {
      const JDIMENSION first = cinfo.next_scanline;
      const JDIMENSION count = std::min(kRowsPerCall, cinfo.image_height - first);
      for (JDIMENSION i = 0; i < count; ++i)
        rows[i] = const_cast<JSAMPROW>(photo.pixels.Row(int32_t(first + i)));
      jpeg_write_scanlines(&cinfo, rows, count);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    capacity = std::max(capacity, size);
    benchmark::DoNotOptimize(buffer);
  }
  std::free(buffer);
  state.counters["bytes"] = double(size);
  CountMegapixels(state);
}

void BM_DecodePng(benchmark::State& state) {
  const Photo& photo = ThePhoto();
  rastrum::VectorAllocator out;
  if (rastrum::DecodePng(photo.png, out) != rastrum::kOk) state.SkipWithError("decode failed");
  for (auto _ : state) {
    if (rastrum::DecodePng(photo.png, out) != rastrum::kOk) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(out.block.data());
  }
  CountMegapixels(state);
}

void BM_EncodePng(benchmark::State& state) {
  const Photo& photo = ThePhoto();
  Bytes file;
  for (auto _ : state) {
    file.clear();
    if (rastrum::EncodePng(photo.block, file) != rastrum::kOk) state.SkipWithError("encode failed");
    benchmark::DoNotOptimize(file.data());
  }
  state.counters["bytes"] = double(file.size());
  CountMegapixels(state);
}

BENCHMARK(BM_DecodeJpeg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeJpegLibjpeg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeJpeg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeJpegLibjpeg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodePng)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodePng)->Unit(benchmark::kMillisecond);

}  // namespace
