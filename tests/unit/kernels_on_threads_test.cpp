// Every kernel that shares a large picture among the pool's threads gives
// the bytes it gives on one thread: each kernel of the table runs at 1, 2
// and 3 threads on pictures just under and over the size that is split,
// with odd widths and both row orders, and the blocks are compared whole.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "base/portable/work_pool.h"
#include "core/portable/orientation.h"
#include "modifiers/portable/crop.h"
#include "modifiers/portable/mirror.h"
#include "modifiers/portable/red_eye.h"
#include "modifiers/portable/sharpen.h"
#include "modifiers/portable/tone.h"
#include "rastrum/portable/raster.h"
#include "tests/unit/modifier_blocks.h"

namespace {

using Bytes = std::vector<uint8_t>;
namespace dib = qb::dib;
using qb::test_blocks::LayoutOf;
using qb::test_blocks::MakeBlock;

// The block a kernel makes from a picture of w x h (top-down when h < 0).
struct Kernel {
  const char* name;
  std::function<Bytes(int32_t w, int32_t h)> run;
};

// Runs a library operation; a failure gives an empty block.
template <class Operation>
Bytes Made(Operation operation) {
  rastrum::VectorAllocator out;
  return operation(out) == rastrum::kOk ? out.block : Bytes{};
}

// An in-place modifier on a copy of the picture.
template <class Change>
Bytes Changed(Bytes block, Change change) {
  change(block);
  return block;
}

Bytes Picture(int32_t w, int32_t h, uint16_t bits = 24) { return MakeBlock(w, h, bits, static_cast<uint32_t>(w * 7 + h)); }

const Kernel kKernels[] = {
    {"brighten", [](int32_t w, int32_t h) {
       return Changed(Picture(w, h), [](Bytes& b) { qb::tone::ShiftChannels(dib::PixelsOf(b.data(), LayoutOf(b)), 37); });
     }},
    {"contrast", [](int32_t w, int32_t h) {
       return Changed(Picture(w, h), [](Bytes& b) { qb::tone::StretchChannels(dib::PixelsOf(b.data(), LayoutOf(b)), -23); });
     }},
    {"sharpen", [](int32_t w, int32_t h) {
       const Bytes in = Picture(w, h);
       Bytes out = in;  // the result block has the source's layout
       return qb::sharpen::SharpenDib(in, out, 7) == dib::DibStatus::kOk ? out : Bytes{};
     }},
    {"red eye", [](int32_t w, int32_t h) {
       return Changed(Picture(w, h), [&](Bytes& b) { qb::redeye::RemoveRedEyeDib(b, {3, 5, w, std::abs(h)}); });
     }},
    {"mirror", [](int32_t w, int32_t h) {
       Bytes both;
       for (uint16_t bits : {24, 4}) {
         for (int32_t direction : {qb::mirror::kLeftRight, qb::mirror::kTopBottom}) {
           const Bytes in = Picture(w, h, bits);
           Bytes out(in.size());
           if (qb::mirror::MirrorDib(in, out, direction) != dib::DibStatus::kOk) return Bytes{};
           both.insert(both.end(), out.begin(), out.end());
         }
       }
       return both;
     }},
    {"crop", [](int32_t w, int32_t h) {
       const Bytes in = Picture(w, h);
       const qb::PixelRect rect{-9, 11, w - 3, std::abs(h)};  // past the left and bottom edges
       Bytes out(qb::crop::CropSize(rect.width, rect.height)->blockBytes);
       return qb::crop::CropDib(in, rect, out) == dib::DibStatus::kOk ? out : Bytes{};
     }},
    {"blur", [](int32_t w, int32_t h) { return Made([&](auto& out) { return rastrum::Blur(Picture(w, h), 4, out); }); }},
    {"blur with alpha", [](int32_t w, int32_t h) {
       return Made([&](auto& out) { return rastrum::Blur(Picture(w, h, 32), 2, out); });
     }},
    {"rotate", [](int32_t w, int32_t h) {
       Bytes all;
       for (int32_t angle : {0, 90, 270, 30}) {
         const Bytes one = Made([&](auto& out) { return rastrum::Rotate(Picture(w, h), angle, out); });
         all.insert(all.end(), one.begin(), one.end());
       }
       return all;
     }},
    {"palette converted", [](int32_t w, int32_t h) {
       return Made([&](auto& out) { return rastrum::Rotate(Picture(w, h, 8), 180, out); });
     }},
    {"frame", [](int32_t w, int32_t h) {
       const Bytes plain = Picture(97, 61), withAlpha = Picture(45, 33, 32);
       return Made([&](auto& out) { return rastrum::AddFrame(Picture(w, h), plain, withAlpha, out); });
     }},
    {"overlay", [](int32_t w, int32_t h) {
       const Bytes over = Picture(w - 20, h - 4), mask = Picture(301, 203);
       return Made([&](auto& out) { return rastrum::AddPic(-5, 9, Picture(w, h, 32), over, mask, out); });
     }},
    {"orientation", [](int32_t w, int32_t h) {
       const Bytes in = Picture(w, h);
       Bytes all;
       for (int orientation : {3, 6}) {
         const bool swap = orientation == 6;
         Bytes out = Picture(swap ? std::abs(h) : w, swap ? w : h);
         qb::orient::OrientPixels(dib::PixelsOf(in.data(), LayoutOf(in)), dib::PixelsOf(out.data(), LayoutOf(out)), 3,
                                  orientation);
         all.insert(all.end(), out.begin(), out.end());
       }
       return all;
     }},
    {"grey", [](int32_t w, int32_t h) {
       Bytes all;
       for (uint16_t bits : {24, 16}) {
         const Bytes one = Changed(Picture(w, h, bits), [](Bytes& b) { rastrum::ToGray(b); });
         all.insert(all.end(), one.begin(), one.end());
       }
       return all;
     }},
};

void PrintTo(const Kernel& kernel, std::ostream* os) { *os << kernel.name; }

class KernelsOnThreads : public ::testing::TestWithParam<Kernel> {
 protected:
  void TearDown() override { qb::work::SetThreadCount(0); }
};

TEST_P(KernelsOnThreads, GiveTheBytesOfOneThread) {
  const Kernel& kernel = GetParam();
  // Just under a megapixel (one range), just over, and well over; odd
  // widths, and one top-down picture.
  for (auto [w, h] : {std::pair{1023, 1025}, std::pair{1025, -1027}, std::pair{1531, 997}}) {
    qb::work::SetThreadCount(1);
    const Bytes single = kernel.run(w, h);
    ASSERT_FALSE(single.empty()) << kernel.name << " " << w << "x" << h;
    // And the bytes of the baseline vector level (the kernels with AVX2
    // forms choose them on a processor that has it).
    qb::test_blocks::ForEachSimdLevel([&](const char* level) {
      EXPECT_TRUE(single == kernel.run(w, h)) << kernel.name << " " << w << "x" << h << " at " << level;
    });
    for (int threads : {2, 3}) {
      qb::work::SetThreadCount(threads);
      const Bytes shared = kernel.run(w, h);
      ASSERT_EQ(single.size(), shared.size()) << kernel.name;
      EXPECT_TRUE(single == shared) << kernel.name << " " << w << "x" << h << " on " << threads << " threads";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Table, KernelsOnThreads, ::testing::ValuesIn(kKernels), [](const auto& info) {
  std::string name = info.param.name;
  for (char& c : name) c = c == ' ' ? '_' : c;
  return name;
});

}  // namespace
