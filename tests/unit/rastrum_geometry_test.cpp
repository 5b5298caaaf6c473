// The imaging library's pixel operations: Resize, Rotate, Blur, AddFrame,
// AddPic and ToGray, on blocks of every depth.

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "base/portable/dib_format.h"
#include "rastrum/portable/block_io.h"
#include "rastrum/portable/raster.h"

namespace rastrum {
namespace {

namespace dib = qb::dib;
using Bytes = std::vector<uint8_t>;

struct Bgr {
  uint8_t b = 0, g = 0, r = 0;
  bool operator==(const Bgr&) const = default;
  bool operator<(const Bgr& o) const { return std::tie(b, g, r) < std::tie(o.b, o.g, o.r); }
  uint8_t& channel(int i) { return i == 0 ? b : i == 1 ? g : r; }
  uint8_t channel(int i) const { return i == 0 ? b : i == 1 ? g : r; }
};
void PrintTo(const Bgr& c, std::ostream* os) { *os << "(b" << +c.b << " g" << +c.g << " r" << +c.r << ")"; }

const Bgr kWhite{255, 255, 255};

// A picture as seen: row 0 at the top.
struct Picture {
  int32_t width = 0, height = 0;
  std::vector<Bgr> pixels;
  Picture() = default;
  Picture(int32_t w, int32_t h, Bgr fill = {}) : width(w), height(h), pixels(size_t(w) * h, fill) {}
  Bgr& at(int32_t x, int32_t y) { return pixels[size_t(y) * width + x]; }
  Bgr at(int32_t x, int32_t y) const { return pixels[size_t(y) * width + x]; }
  bool operator==(const Picture&) const = default;
};

// Channel values that a 5-bit field repeats back exactly, so that one
// picture can be written at every depth.
Picture RandomPicture(int32_t w, int32_t h, uint32_t seed, int colours = 200) {
  std::mt19937 rng(seed);
  auto level = [&] { const int v = int(rng() % 32); return uint8_t(v << 3 | v >> 2); };
  std::vector<Bgr> palette(static_cast<size_t>(colours));
  for (auto& c : palette) c = {level(), level(), level()};
  Picture p(w, h);
  for (auto& px : p.pixels) px = palette[rng() % palette.size()];
  return p;
}

enum class Depth { k24, k24TopDown, k32, k16, k8 };

void Put32(Bytes& b, size_t at, uint32_t v) { dib::StoreU32(b.data() + at, v); }

// A block holding `p` at the given depth, resolution 2835 x 1234.
Bytes Encode(const Picture& p, Depth depth = Depth::k24) {
  const uint16_t bits = depth == Depth::k32 ? 32 : depth == Depth::k16 ? 16 : depth == Depth::k8 ? 8 : 24;
  std::vector<Bgr> table;
  if (depth == Depth::k8) {
    table = p.pixels;
    std::sort(table.begin(), table.end());
    table.erase(std::unique(table.begin(), table.end()), table.end());
  }
  const uint32_t stride = *dib::RowStride(bits, p.width);
  const uint32_t offset = 40 + uint32_t(table.size()) * 4;
  Bytes b(offset + stride * p.height, 0);
  dib::InfoHeaderFields f{p.width, depth == Depth::k24TopDown ? -p.height : p.height, bits, 0, 2835, 1234};
  dib::WriteInfoHeader(std::span<uint8_t, 40>(b.data(), 40), f);
  Put32(b, 32, uint32_t(table.size()));
  for (size_t i = 0; i < table.size(); ++i) {
    b[40 + 4 * i] = table[i].b, b[41 + 4 * i] = table[i].g, b[42 + 4 * i] = table[i].r;
  }
  for (int32_t y = 0; y < p.height; ++y) {
    uint8_t* row = b.data() + offset + size_t(depth == Depth::k24TopDown ? y : p.height - 1 - y) * stride;
    for (int32_t x = 0; x < p.width; ++x) {
      const Bgr c = p.at(x, y);
      switch (depth) {
        case Depth::k8: row[x] = uint8_t(std::lower_bound(table.begin(), table.end(), c) - table.begin()); break;
        case Depth::k16: dib::StoreU16(row + 2 * x, uint16_t((c.r >> 3) << 10 | (c.g >> 3) << 5 | c.b >> 3)); break;
        case Depth::k32: Put32(b, size_t(row - b.data()) + 4 * x, 0x7F000000u | c.r << 16 | c.g << 8 | c.b); break;
        default: row[3 * x] = c.b, row[3 * x + 1] = c.g, row[3 * x + 2] = c.r;
      }
    }
  }
  return b;
}

// Reads a block an operation made, which must be the library's plain form.
Picture Decode(const Bytes& block) {
  dib::DibLayout layout;
  EXPECT_EQ(dib::Validate(block, dib::kDepth24, layout), dib::DibStatus::kOk);
  EXPECT_TRUE(dib::IsPlain24(layout));
  EXPECT_EQ(block.size(), dib::PackedDibSize(layout.width, layout.height, 24));
  EXPECT_EQ(dib::LoadI32(block.data() + 24), 2835);
  EXPECT_EQ(dib::LoadI32(block.data() + 28), 1234);
  Picture p(layout.width, layout.height);
  const auto view = dib::PixelsOf(block.data(), layout);
  for (int32_t y = 0; y < p.height; ++y) {
    for (int32_t x = 0; x < p.width; ++x) {
      const uint8_t* q = view.Row(y) + 3 * x;
      p.at(x, y) = {q[0], q[1], q[2]};
    }
  }
  return p;
}

using Op = std::function<int(const Bytes& source, BlockAllocator& out)>;

Picture Run(const Op& op, const Picture& in) {
  VectorAllocator out;
  EXPECT_EQ(op(Encode(in), out), kOk);
  return out.block.empty() ? Picture() : Decode(out.block);
}
Picture Resized(const Picture& p, int32_t w, int32_t h, int32_t mode) {
  return Run([&](const Bytes& b, BlockAllocator& out) { return Resize(b, w, h, mode, out); }, p);
}
Picture Rotated(const Picture& p, int32_t angle) {
  return Run([&](const Bytes& b, BlockAllocator& out) { return Rotate(b, angle, out); }, p);
}
Picture Blurred(const Picture& p, int32_t level) {
  return Run([&](const Bytes& b, BlockAllocator& out) { return Blur(b, level, out); }, p);
}

// ---------------------------------------------------------------- Resize

struct ResizeCase { int32_t w, h, toW, toH; };
std::ostream& operator<<(std::ostream& os, const ResizeCase& c) {
  return os << c.w << "x" << c.h << " to " << c.toW << "x" << c.toH;
}
class ResizeSizes : public testing::TestWithParam<std::tuple<ResizeCase, int32_t>> {};

TEST_P(ResizeSizes, GivesTheExactSizeAndKeepsAFlatColourExactly) {
  const auto [c, mode] = GetParam();
  const Bgr colour{17, 200, 93};
  const Picture out = Resized(Picture(c.w, c.h, colour), c.toW, c.toH, mode);
  EXPECT_EQ(out.width, c.toW);
  EXPECT_EQ(out.height, c.toH);
  EXPECT_EQ(out, Picture(c.toW, c.toH, colour));
}
INSTANTIATE_TEST_SUITE_P(Shapes, ResizeSizes, testing::Combine(testing::Values(
    ResizeCase{40, 30, 13, 7},    // shrink, uneven factors
    ResizeCase{5, 4, 17, 11},     // enlarge
    ResizeCase{30, 5, 7, 20},     // narrower and taller
    ResizeCase{1, 1, 9, 6},       // from one pixel
    ResizeCase{23, 17, 1, 1},     // to one pixel
    ResizeCase{900, 2, 3, 2},     // a shrink by 300
    ResizeCase{8, 8, 8, 8}), testing::Values(0, 1)));

TEST(Resize, TwoByTwoToOnePixelIsTheirMean) {
  Picture p(2, 2);
  p.at(0, 0) = {10, 100, 200}, p.at(1, 0) = {30, 0, 50}, p.at(0, 1) = {50, 60, 70}, p.at(1, 1) = {70, 40, 0};
  EXPECT_EQ(Resized(p, 1, 1, 0).at(0, 0), (Bgr{40, 50, 80}));
  Picture checker(2, 2);
  checker.at(0, 0) = checker.at(1, 1) = kWhite;
  EXPECT_EQ(Resized(checker, 1, 1, 0).at(0, 0), (Bgr{128, 128, 128}));  // 127.5 rounds up
}

// Lanczos-3 as the textbook states it, in two plain stages per axis: a
// reduction by more than 2 first takes the means of blocks of k = floor(ratio
// / 2) pixels (the last block padded with the edge pixel); then each output
// pixel is the normalised sum of L3((t - c) / s) * v[clamp(t)] over every
// integer t, c its centre in the blocks (i + 0.5) * n / d - 0.5 and s the
// remaining reduction (1 when enlarging).
std::vector<double> LanczosAxis(const std::vector<double>& in, int32_t d) {
  const auto n0 = static_cast<int32_t>(in.size());
  const int32_t k = std::max(1, n0 / (2 * d));
  std::vector<double> v;
  for (int32_t b = 0; b * k < n0; ++b) {
    double sum = 0;
    for (int32_t j = b * k; j < b * k + k; ++j) sum += in[size_t(std::min(j, n0 - 1))];
    v.push_back(sum / k);
  }
  const auto n = static_cast<int32_t>(v.size());
  const double f = double(n0) / (double(d) * k), s = std::max(1.0, f);
  auto l3 = [](double t) {
    const double pi = 3.14159265358979323846;
    return t == 0 ? 1.0 : std::fabs(t) >= 3 ? 0.0 : 3 * std::sin(pi * t) * std::sin(pi * t / 3) / (pi * pi * t * t);
  };
  std::vector<double> out(size_t(d), 0.0);
  for (int32_t i = 0; i < d; ++i) {
    const double c = (i + 0.5) * f - 0.5;
    double sum = 0, total = 0;
    for (int32_t t = int32_t(std::floor(c - 3 * s)) - 1; t <= int32_t(std::ceil(c + 3 * s)) + 1; ++t) {
      const double w = l3((t - c) / s);
      sum += w * v[size_t(std::clamp(t, 0, n - 1))], total += w;
    }
    out[size_t(i)] = sum / total;
  }
  return out;
}

Picture Lanczos3Reference(const Picture& p, int32_t w, int32_t h) {
  Picture out(w, h);
  for (int ch = 0; ch < 3; ++ch) {
    std::vector<std::vector<double>> columns(size_t(p.width));  // each column resampled to h
    for (int32_t x = 0; x < p.width; ++x) {
      std::vector<double> col;
      for (int32_t y = 0; y < p.height; ++y) col.push_back(p.at(x, y).channel(ch));
      columns[size_t(x)] = LanczosAxis(col, h);
    }
    for (int32_t y = 0; y < h; ++y) {
      std::vector<double> row;
      for (int32_t x = 0; x < p.width; ++x) row.push_back(columns[size_t(x)][size_t(y)]);
      const std::vector<double> r = LanczosAxis(row, w);
      for (int32_t x = 0; x < w; ++x) out.at(x, y).channel(ch) = uint8_t(std::clamp(std::floor(r[size_t(x)] + 0.5), 0.0, 255.0));
    }
  }
  return out;
}

int MaxDifference(const Picture& a, const Picture& b) {
  EXPECT_EQ(a.width, b.width);
  EXPECT_EQ(a.height, b.height);
  int worst = 0;
  for (size_t i = 0; i < std::min(a.pixels.size(), b.pixels.size()); ++i) {
    worst = std::max({worst, std::abs(a.pixels[i].b - b.pixels[i].b), std::abs(a.pixels[i].g - b.pixels[i].g),
                      std::abs(a.pixels[i].r - b.pixels[i].r)});
  }
  return worst;
}

TEST(Resize, HighQualityShrinkMatchesLanczos3Reference) {
  // Reductions below 4 (one stage), by 4 and more (block means first, 37 to
  // 4 in blocks of 4, 29 to 7 in blocks of 2), to one pixel, and row widths
  // that leave a tail after the vector loops.
  const Picture p = RandomPicture(37, 29, 5);
  for (auto [w, h] : {std::pair{11, 8}, {16, 16}, {36, 28}, {37, 1}, {1, 29}, {12, 29}, {4, 7}, {9, 3}}) {
    EXPECT_LE(MaxDifference(Resized(p, w, h, 0), Lanczos3Reference(p, w, h)), 1) << w << "x" << h;
  }
}

TEST(Resize, HighQualityEnlargeInterpolatesWithLanczos3) {
  const Picture p = RandomPicture(13, 9, 8);
  for (auto [w, h] : {std::pair{40, 31}, {13, 20}, {50, 5}}) {
    EXPECT_LE(MaxDifference(Resized(p, w, h, 0), Lanczos3Reference(p, w, h)), 1) << w << "x" << h;
  }
  // Overshoot at a hard edge is clamped, not wrapped: the dark side stays
  // dark and the bright side bright.
  Picture edge(8, 1);
  for (int x = 4; x < 8; ++x) edge.at(x, 0) = kWhite;
  const Picture up = Resized(edge, 32, 1, 0);
  for (int x = 0; x < 32; ++x) EXPECT_EQ(up.at(x, 0).r >= 128, x >= 16) << x << ": " << +up.at(x, 0).r;
  EXPECT_EQ(up.at(15, 0).r + up.at(16, 0).r, 255);  // symmetric about the edge
}

TEST(Resize, HighQualityShrinkOfAFineGratingIsFlatGrey) {
  // One-pixel stripes, across and along, are finer than the smaller picture
  // can hold: they become an even grey, not false stripes (area averaging
  // gives columns of 170 and 85 at a third). Only the 3 pixels at each end,
  // whose kernels reach past the edge, weigh the edge stripe more.
  for (bool across : {true, false}) {
    Picture grating(300, 300);
    for (int32_t y = 0; y < 300; ++y)
      for (int32_t x = 0; x < 300; ++x)
        if ((across ? x : y) % 2 == 0) grating.at(x, y) = kWhite;
    for (int32_t size : {100, 120}) {
      const Picture out = Resized(grating, size, size, 0);
      int lowest = 255, highest = 0;
      for (int32_t i = 3; i < size - 3; ++i) {
        const int v = across ? out.at(i, size / 2).g : out.at(size / 2, i).g;
        lowest = std::min(lowest, v), highest = std::max(highest, v);
      }
      EXPECT_GE(lowest, 127) << (across ? "across " : "along ") << size;
      EXPECT_LE(highest, 128) << (across ? "across " : "along ") << size;
    }
  }
}

TEST(Resize, RefusesBadSizesAndModes) {
  const Bytes b = Encode(Picture(4, 4));
  for (auto [w, h, mode, rc] : {std::tuple{0, 4, 0, kBadArgument}, {4, 0, 0, kBadArgument}, {-3, 4, 1, kBadArgument},
                                {4, 4, 2, kBadArgument}, {4, 4, -1, kBadArgument}, {40000, 40000, 0, kTooLarge},
                                {INT32_MAX, 1, 1, kTooLarge}}) {
    VectorAllocator out;
    EXPECT_EQ(Resize(b, w, h, mode, out), rc) << w << "x" << h << " mode " << mode;
    EXPECT_TRUE(out.block.empty());
  }
}

// ---------------------------------------------------------------- Rotate

TEST(Rotate, FourQuarterTurnsGiveThePictureBackBitForBit) {
  for (auto [w, h] : {std::pair{7, 5}, {1, 9}, {13, 1}, {33, 17}, {1, 1}, {70, 65}, {300, 263}}) {
    const Picture p = RandomPicture(w, h, uint32_t(w * 100 + h));
    // Each turn as its definition has it: a row of the turned picture is a
    // column of the source.
    const Picture q90 = Rotated(p, 90), q180 = Rotated(p, 180), q270 = Rotated(p, 270);
    int wrong = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        wrong += !(q90.at(h - 1 - y, x) == p.at(x, y)) + !(q270.at(y, w - 1 - x) == p.at(x, y)) +
                 !(q180.at(w - 1 - x, h - 1 - y) == p.at(x, y));
    EXPECT_EQ(wrong, 0) << w << "x" << h;
    Picture q = p;
    for (int turn = 0; turn < 4; ++turn) {
      q = Rotated(q, 90);
      EXPECT_EQ(q.width, turn % 2 ? w : h);
    }
    EXPECT_EQ(q, p) << w << "x" << h;
    EXPECT_EQ(Rotated(p, 180), Rotated(Rotated(p, 90), 90));
    EXPECT_EQ(Rotated(p, 270), Rotated(Rotated(p, 180), 90));
  }
}

TEST(Rotate, NinetyMovesTheTopLeftPixelToTheTopRight) {
  Picture p(5, 3, {1, 2, 3});
  p.at(0, 0) = {9, 9, 9};
  p.at(4, 0) = {7, 7, 7};
  const Picture q = Rotated(p, 90);
  ASSERT_EQ(q.width, 3);
  ASSERT_EQ(q.height, 5);
  EXPECT_EQ(q.at(2, 0), (Bgr{9, 9, 9}));
  EXPECT_EQ(q.at(2, 4), (Bgr{7, 7, 7}));  // the top-right corner goes to the bottom right
}

TEST(Rotate, AnglesAreTakenModulo360) {
  const Picture p = RandomPicture(9, 4, 3);
  EXPECT_EQ(Rotated(p, 0), p);
  EXPECT_EQ(Rotated(p, 360), p);
  EXPECT_EQ(Rotated(p, -720), p);
  EXPECT_EQ(Rotated(p, -90), Rotated(p, 270));
  EXPECT_EQ(Rotated(p, 450), Rotated(p, 90));
  EXPECT_EQ(Rotated(p, -330), Rotated(p, 30));
  EXPECT_EQ(Rotated(p, INT32_MIN), Rotated(p, INT32_MIN % 360 + 360));
}

// Canvas sizes: ceil(w |cos| + h |sin|) by ceil(w |sin| + h |cos|). Near a
// quarter turn the picture's edges pass within a pixel of the canvas
// corners, which then are not wholly white.
struct CanvasCase { int32_t w, h, angle, outW, outH; bool clearCorners = true; };
std::ostream& operator<<(std::ostream& os, const CanvasCase& c) {
  return os << c.w << "x" << c.h << " by " << c.angle;
}
class RotateCanvas : public testing::TestWithParam<CanvasCase> {};

TEST_P(RotateCanvas, HoldsTheWholePictureWithWhiteCorners) {
  const CanvasCase c = GetParam();
  const Bgr inside{40, 80, 120};
  Picture p(c.w, c.h, inside);
  const Picture q = Rotated(p, c.angle);
  ASSERT_EQ(q.width, c.outW);
  ASSERT_EQ(q.height, c.outH);
  for (auto [x, y] : {std::pair{0, 0}, {q.width - 1, 0}, {0, q.height - 1}, {q.width - 1, q.height - 1}}) {
    if (c.clearCorners) {
      EXPECT_EQ(q.at(x, y), kWhite) << x << "," << y;
    }
  }
  EXPECT_EQ(q.at(q.width / 2, q.height / 2), inside);
  // The covered area is the picture's: each pixel counts by how far it is
  // from white, so a blended edge pixel counts by its share.
  double covered = 0;
  for (const Bgr& px : q.pixels) covered += (255.0 - px.b) / (255.0 - inside.b);
  EXPECT_NEAR(covered, double(c.w) * c.h, 0.02 * c.w * c.h + 2);
}
INSTANTIATE_TEST_SUITE_P(Angles, RotateCanvas, testing::Values(
    CanvasCase{100, 50, 30, 112, 94},   // 86.60 + 25, 50 + 43.30
    CanvasCase{60, 40, 30, 72, 65},     // 51.96 + 20, 30 + 34.64
    CanvasCase{60, 40, -30, 72, 65},
    CanvasCase{60, 40, 150, 72, 65},
    CanvasCase{60, 40, 60, 65, 72},
    CanvasCase{10, 10, 45, 15, 15},     // 14.14
    CanvasCase{200, 30, 10, 203, 65},   // 196.96 + 5.21, 34.73 + 29.54
    CanvasCase{200, 3, 1, 201, 7, false},  // 199.97 + 0.05, 3.49 + 3.00
    CanvasCase{31, 17, 329, 36, 31}));  // 26.57 + 8.76, 15.97 + 14.57

TEST(Rotate, ThirtyDegreesTurnsClockwise) {
  // The top-left corner of a turned picture is its highest point, about
  // h sin 30 from the left.
  Picture p(60, 40, {200, 0, 0});
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x) p.at(x, y) = {0, 0, 200};
  const Picture q = Rotated(p, 30);
  double sx = 0, sy = 0, n = 0;
  for (int32_t y = 0; y < q.height; ++y) {
    for (int32_t x = 0; x < q.width; ++x) {
      if (q.at(x, y).r > 150 && q.at(x, y).b < 50) sx += x, sy += y, ++n;
    }
  }
  ASSERT_GT(n, 10);
  EXPECT_NEAR(sx / n, 20 + 3 * (0.866 - 0.5), 1.5);
  EXPECT_NEAR(sy / n, 3 * (0.5 + 0.866), 1.5);
}

// ---------------------------------------------------------------- Blur

TEST(Blur, KeepsAFlatColourExactlyAtEveryLevel) {
  for (int32_t level : {1, 2, 5, 17, 50, 99}) {
    for (auto [w, h] : {std::pair{37, 23}, {1, 1}, {300, 2}, {3, 200}}) {
      const Picture flat(w, h, {3, 128, 254});
      EXPECT_EQ(Blurred(flat, level), flat) << "level " << level << ", " << w << "x" << h;
    }
  }
}

// A black-to-white step along x (or y) blurred: the differences across the
// edge are the blur's kernel, and their spread its sigma, 0.5 L^1.125.
double EdgeWidth(int32_t level, bool vertical) {
  const int n = 1200;
  Picture step(vertical ? 3 : n, vertical ? n : 3);
  for (int i = n / 2; i < n; ++i)
    for (int j = 0; j < 3; ++j) (vertical ? step.at(j, i) : step.at(i, j)) = kWhite;
  const Picture out = Blurred(step, level);
  double total = 0, mean = 0, spread = 0;
  std::vector<double> d(n - 1);
  for (int i = 0; i + 1 < n; ++i) {
    d[i] = vertical ? out.at(1, i + 1).g - out.at(1, i).g : out.at(i + 1, 1).g - out.at(i, 1).g;
    total += d[i], mean += d[i] * i;
  }
  mean /= total;
  for (int i = 0; i + 1 < n; ++i) spread += d[i] * (i - mean) * (i - mean);
  return std::sqrt(spread / total);
}

TEST(Blur, AnEdgeSoftensMoreAsTheLevelRises) {
  for (bool vertical : {false, true}) {
    double previous = 0;
    for (int32_t level : {1, 2, 3, 6, 10, 25, 50, 75, 99}) {
      const double width = EdgeWidth(level, vertical);
      EXPECT_GT(width, previous) << "level " << level;
      const double sigma = 0.5 * std::pow(level, 1.125);
      EXPECT_NEAR(width, sigma, 0.03 * sigma + 0.1) << "level " << level << (vertical ? " vertical" : "");
      previous = width;
    }
  }
}

// One lit channel of one pixel spreads into that channel alone, evenly
// around the pixel: whichever row of a group of 8 and whichever strip it
// lies in, nothing lands in another lane.
struct Impulse { int32_t x, y, channel; };
std::ostream& operator<<(std::ostream& os, const Impulse& i) {
  return os << "channel " << i.channel << " at " << i.x << "," << i.y;
}
class BlurImpulse : public testing::TestWithParam<Impulse> {};

TEST_P(BlurImpulse, StaysInItsChannelAndCentred) {
  const Impulse im = GetParam();
  Picture p(75, 21);
  p.at(im.x, im.y).channel(im.channel) = 255;
  const Picture q = Blurred(p, 3);
  int total = 0, peak = 0;
  for (int32_t y = 0; y < q.height; ++y) {
    for (int32_t x = 0; x < q.width; ++x) {
      const Bgr c = q.at(x, y);
      for (int ch = 0; ch < 3; ++ch) {
        if (ch != im.channel) {
          ASSERT_EQ(c.channel(ch), 0) << x << "," << y;
        }
      }
      total += c.channel(im.channel);
      peak = std::max<int>(peak, c.channel(im.channel));
      const int mx = 2 * im.x - x, my = 2 * im.y - y;  // the mirror image
      if (mx >= 0 && mx < q.width && my >= 0 && my < q.height) {
        ASSERT_EQ(c.channel(im.channel), q.at(mx, my).channel(im.channel)) << x << "," << y;
      }
    }
  }
  EXPECT_NEAR(total, 255, 30);
  EXPECT_EQ(q.at(im.x, im.y).channel(im.channel), peak);
}
INSTANTIATE_TEST_SUITE_P(Lanes, BlurImpulse, testing::Values(
    Impulse{10, 9, 2}, Impulse{37, 10, 0}, Impulse{69, 12, 1}, Impulse{63, 16, 2}, Impulse{7, 11, 1}));

TEST(Blur, RefusesLevelsOutside1To99) {
  const Bytes b = Encode(Picture(4, 4));
  for (int32_t level : {0, 100, -1, INT32_MIN, INT32_MAX}) {
    VectorAllocator out;
    EXPECT_EQ(Blur(b, level, out), kBadArgument) << level;
    EXPECT_TRUE(out.block.empty());
  }
}

// ---------------------------------------------------------------- AddFrame

const Bgr kHole{255, 0, 255};
const Bgr kRed{0, 0, 255};

// A frame picture: a border `border` pixels wide around a hole.
Picture Frame(int32_t w, int32_t h, int32_t border, Bgr colour) {
  Picture f(w, h, kHole);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      if (x < border || y < border || x >= w - border || y >= h - border) f.at(x, y) = colour;
  return f;
}

Picture Framed(const Picture& photo, const std::optional<Picture>& f1, const std::optional<Picture>& f2) {
  const Bytes b1 = f1 ? Encode(*f1, Depth::k8) : Bytes(), b2 = f2 ? Encode(*f2, Depth::k32) : Bytes();
  return Run([&](const Bytes& b, BlockAllocator& out) { return AddFrame(b, b1, b2, out); }, photo);
}

TEST(AddFrame, TheCentreColourLetsThePhotoThrough) {
  const Picture photo = RandomPicture(20, 16, 11);
  const Picture out = Framed(photo, Frame(20, 16, 3, kRed), std::nullopt);
  for (int32_t y = 0; y < 16; ++y)
    for (int32_t x = 0; x < 20; ++x)
      EXPECT_EQ(out.at(x, y), (x < 3 || y < 3 || x >= 17 || y >= 13) ? kRed : photo.at(x, y)) << x << "," << y;
}

TEST(AddFrame, StretchesTheFrameAndKeepsTheHoleEdgeSharp) {
  const Picture photo(40, 30, {10, 20, 30});
  const Picture out = Framed(photo, Frame(8, 6, 1, kRed), std::nullopt);
  // Frame pixel (i, j) covers photo pixels 5i..5i+4, 5j..5j+4; no pixel is a
  // blend of the frame and the hole's colour.
  for (int32_t y = 0; y < 30; ++y)
    for (int32_t x = 0; x < 40; ++x)
      EXPECT_EQ(out.at(x, y), (x < 5 || y < 5 || x >= 35 || y >= 25) ? kRed : photo.at(x, y)) << x << "," << y;
}

TEST(AddFrame, InterpolatesTheFrameColours) {
  Picture f(3, 3, kHole);
  f.at(0, 0) = {0, 0, 0};
  f.at(1, 0) = {200, 200, 200};
  const Picture out = Framed(Picture(12, 12, {1, 1, 1}), f, std::nullopt);
  // Between the centres of the two frame pixels (x 2 and x 6), a ramp.
  for (int32_t x = 2; x < 6; ++x) EXPECT_LT(out.at(x, 0).g, out.at(x + 1, 0).g) << x;
  EXPECT_EQ(out.at(6, 0).g, 200);
}

TEST(AddFrame, LaysTheSecondFrameAfterTheFirst) {
  const Picture photo(10, 10, {5, 5, 5});
  const Picture out = Framed(photo, Frame(10, 10, 2, kRed), Frame(10, 10, 1, {0, 255, 0}));
  EXPECT_EQ(out.at(0, 0), (Bgr{0, 255, 0}));
  EXPECT_EQ(out.at(1, 5), kRed);
  EXPECT_EQ(out.at(5, 5), photo.at(5, 5));
  EXPECT_EQ(Framed(photo, std::nullopt, std::nullopt), photo);
}

// ---------------------------------------------------------------- AddPic

Picture Laid(int32_t x, int32_t y, const Picture& base, const Picture* over, const Picture* mask,
             Depth depth = Depth::k24) {
  const Bytes o = over ? Encode(*over, depth) : Bytes(), m = mask ? Encode(*mask, depth) : Bytes();
  return Run([&](const Bytes& b, BlockAllocator& out) { return AddPic(x, y, b, o, m, out); }, base);
}

TEST(AddPic, BlendsByTheMaskLevel) {
  const Picture base(3, 1, {10, 100, 200});
  const Picture over(3, 1, {250, 50, 0});
  Picture mask(3, 1);
  mask.at(1, 0) = kWhite;
  mask.at(2, 0) = {128, 128, 128};
  const Picture out = Laid(0, 0, base, &over, &mask);
  EXPECT_EQ(out.at(0, 0), base.at(0, 0));
  EXPECT_EQ(out.at(1, 0), over.at(1, 0));
  // (250 * 128 + 10 * 127 + 127) / 255 = 130, (50 * 128 + 100 * 127 + 127) / 255 = 75, 25527 / 255 = 100
  EXPECT_EQ(out.at(2, 0), (Bgr{130, 75, 100}));
}

TEST(AddPic, AColourMaskBlendsByItsLuma) {
  const Picture base(1, 1), over(1, 1, kWhite), mask(1, 1, kRed);
  EXPECT_EQ(Laid(0, 0, base, &over, &mask).at(0, 0), (Bgr{76, 76, 76}));  // 0.299 * 255
}

TEST(AddPic, StretchesTheMaskToTheOverlay) {
  const Picture base(4, 4), over(4, 4, kWhite);
  Picture mask(2, 2);
  mask.at(1, 0) = mask.at(0, 1) = kWhite;
  const Picture out = Laid(0, 0, base, &over, &mask, Depth::k8);
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 4; ++x) EXPECT_EQ(out.at(x, y), ((x < 2) != (y < 2)) ? kWhite : Bgr{}) << x << "," << y;
}

class AddPicClip : public testing::TestWithParam<std::pair<int32_t, int32_t>> {};

TEST_P(AddPicClip, LaysOnlyWhatFallsOnTheBase) {
  const auto [x0, y0] = GetParam();
  const Picture base = RandomPicture(9, 7, 1), over = RandomPicture(4, 5, 2);
  const Picture out = Laid(x0, y0, base, &over, nullptr);
  for (int32_t y = 0; y < base.height; ++y) {
    for (int32_t x = 0; x < base.width; ++x) {
      const int64_t ox = int64_t(x) - x0, oy = int64_t(y) - y0;
      const bool covered = ox >= 0 && ox < over.width && oy >= 0 && oy < over.height;
      EXPECT_EQ(out.at(x, y), covered ? over.at(int32_t(ox), int32_t(oy)) : base.at(x, y)) << x << "," << y;
    }
  }
}
INSTANTIATE_TEST_SUITE_P(Edges, AddPicClip, testing::Values(
    std::pair{0, 0}, std::pair{2, 1}, std::pair{-2, -3}, std::pair{-1, 4}, std::pair{7, 5}, std::pair{6, -4},
    std::pair{-4, 0}, std::pair{9, 0}, std::pair{0, 7}, std::pair{INT32_MIN, INT32_MAX},
    std::pair{INT32_MAX, -2}));

TEST(AddFrame, RefusesADamagedFrame) {
  VectorAllocator out;
  EXPECT_EQ(AddFrame(Encode(Picture(4, 4)), {}, Bytes(20, 0), out), kCorruptData);
  EXPECT_TRUE(out.block.empty());
}

TEST(AddPic, RefusesADamagedOverlayOrMask) {
  const Bytes good = Encode(Picture(4, 4)), bad(20, 0);
  VectorAllocator out;
  EXPECT_EQ(AddPic(0, 0, good, bad, {}, out), kCorruptData);
  EXPECT_EQ(AddPic(0, 0, good, good, bad, out), kCorruptData);
  EXPECT_TRUE(out.block.empty());
}

TEST(AddPic, WithoutAnOverlayGivesACopy) {
  const Picture base = RandomPicture(5, 5, 4);
  EXPECT_EQ(Laid(1, 1, base, nullptr, nullptr), base);
  const Picture mask(2, 2, kWhite);
  EXPECT_EQ(Laid(1, 1, base, nullptr, &mask), base);
}

// ---------------------------------------------------------------- ToGray

struct GreyCase { Bgr in; uint8_t y; };
std::ostream& operator<<(std::ostream& os, const GreyCase& c) {
  return os << "r" << +c.in.r << " g" << +c.in.g << " b" << +c.in.b;
}
class ToGrayLuma : public testing::TestWithParam<GreyCase> {};

TEST_P(ToGrayLuma, PutsRoundedBt601LumaInEveryChannel) {
  for (Depth depth : {Depth::k24, Depth::k24TopDown, Depth::k32}) {
    Bytes block = Encode(Picture(3, 2, GetParam().in), depth);
    const uint8_t alpha = block.back();
    ASSERT_EQ(ToGray(block), kOk);
    Source24 s;
    ASSERT_EQ(s.Open(block), kOk);
    const uint8_t* px = s.pixels().Row(1) + 3;
    EXPECT_EQ(px[0], GetParam().y);
    EXPECT_EQ(px[1], GetParam().y);
    EXPECT_EQ(px[2], GetParam().y);
    EXPECT_EQ(block.back(), alpha);  // a 32-bit pixel keeps its fourth byte
  }
}
INSTANTIATE_TEST_SUITE_P(Colours, ToGrayLuma, testing::Values(
    GreyCase{{0, 0, 0}, 0}, GreyCase{kWhite, 255}, GreyCase{{0, 0, 255}, 76}, GreyCase{{0, 255, 0}, 150},
    GreyCase{{255, 0, 0}, 29}, GreyCase{{200, 150, 100}, 141}, GreyCase{{1, 0, 1}, 0}, GreyCase{{0, 1, 1}, 1}));

TEST(ToGray, TurnsThePaletteGreyAndKeepsTheIndices) {
  Picture p(2, 1);
  p.at(0, 0) = kRed;
  p.at(1, 0) = {200, 150, 100};
  Bytes block = Encode(p, Depth::k8);  // table sorted: (0,0,255), (200,150,100)
  const Bytes rows(block.begin() + 48, block.end());
  ASSERT_EQ(ToGray(block), kOk);
  EXPECT_EQ(Bytes(block.begin() + 40, block.begin() + 48), (Bytes{76, 76, 76, 0, 141, 141, 141, 0}));
  EXPECT_EQ(Bytes(block.begin() + 48, block.end()), rows);
}

TEST(ToGray, WritesSixteenBitPixelsBackAtTheirOwnWidth) {
  Picture p(1, 1, kRed);
  Bytes block = Encode(p, Depth::k16);
  ASSERT_EQ(ToGray(block), kOk);
  EXPECT_EQ(dib::LoadU16(block.data() + 40), 9 << 10 | 9 << 5 | 9);  // 76 * 31 / 255 = 9.2
  // 5-6-5 through bit masks: green keeps six bits.
  Bytes masked = block;
  masked[16] = dib::kBiBitfields;
  masked.insert(masked.begin() + 40, {0, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0});
  dib::StoreU16(masked.data() + 52, 0xF800);
  ASSERT_EQ(ToGray(masked), kOk);
  EXPECT_EQ(dib::LoadU16(masked.data() + 52), 9 << 11 | 19 << 5 | 9);  // 76 * 63 / 255 = 18.8
}

TEST(ToGray, LeavesADamagedBlockAlone) {
  Bytes damaged(12, 0xFF);
  EXPECT_EQ(ToGray(damaged), kCorruptData);
  EXPECT_EQ(damaged, Bytes(12, 0xFF));
  Bytes cut = Encode(Picture(3, 3, kRed));
  cut.pop_back();
  const Bytes before = cut;
  EXPECT_EQ(ToGray(cut), kCorruptData);
  EXPECT_EQ(cut, before);
  EXPECT_EQ(ToGray({}), kBadArgument);
}

// ---------------------------------------------------------------- every op

struct Operation { std::string name; Op op; };
std::vector<Operation> Operations() {
  static const Bytes frame = Encode(Frame(5, 4, 1, kRed), Depth::k16);
  static const Bytes over = Encode(RandomPicture(6, 5, 8), Depth::k8);
  static const Bytes mask = Encode(RandomPicture(3, 3, 9), Depth::k32);
  return {
      {"Resize0", [](const Bytes& b, BlockAllocator& o) { return Resize(b, 13, 9, 0, o); }},
      {"Resize1", [](const Bytes& b, BlockAllocator& o) { return Resize(b, 5, 30, 1, o); }},
      {"Rotate90", [](const Bytes& b, BlockAllocator& o) { return Rotate(b, 90, o); }},
      {"Rotate30", [](const Bytes& b, BlockAllocator& o) { return Rotate(b, 30, o); }},
      {"Blur", [](const Bytes& b, BlockAllocator& o) { return Blur(b, 7, o); }},
      {"AddFrame", [](const Bytes& b, BlockAllocator& o) { return AddFrame(b, frame, {}, o); }},
      {"AddPic", [](const Bytes& b, BlockAllocator& o) { return AddPic(2, -1, b, over, mask, o); }},
  };
}

class EveryOperation : public testing::TestWithParam<size_t> {
 protected:
  const Operation& operation() const {
    static const std::vector<Operation> all = Operations();
    return all[GetParam()];
  }
};

TEST_P(EveryOperation, TakesEveryDepthAlikeAndLeavesItsInputAlone) {
  const Picture p = RandomPicture(17, 12, 21, 60);
  VectorAllocator reference;
  ASSERT_EQ(operation().op(Encode(p), reference), kOk);
  for (Depth depth : {Depth::k24TopDown, Depth::k32, Depth::k16, Depth::k8}) {
    const Bytes in = Encode(p, depth), before = in;
    VectorAllocator out;
    ASSERT_EQ(operation().op(in, out), kOk) << int(depth);
    EXPECT_EQ(Decode(out.block), Decode(reference.block)) << int(depth);
    EXPECT_EQ(in, before);
  }
}

TEST_P(EveryOperation, RefusesEmptyAndDamagedBlocks) {
  Bytes cut = Encode(RandomPicture(5, 5, 1));
  cut.resize(cut.size() - 1);
  Bytes badDepth = Encode(Picture(2, 2));
  dib::StoreU16(badDepth.data() + 14, 7);
  for (auto [block, rc] : {std::pair{Bytes(), kBadArgument}, {cut, kCorruptData}, {badDepth, kCorruptData},
                           {Bytes(39, 0), kCorruptData}}) {
    VectorAllocator out;
    EXPECT_EQ(operation().op(block, out), rc);
    EXPECT_TRUE(out.block.empty());
  }
}
INSTANTIATE_TEST_SUITE_P(Ops, EveryOperation, testing::Range<size_t>(0, 7),
                         [](const auto& info) { return Operations()[info.param].name; });

}  // namespace
}  // namespace rastrum
