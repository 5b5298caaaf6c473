// Blocks whose headers lie about their size, shape or depth: every block
// operation of the modifier kernels refuses them and leaves every byte as
// it was (run under ASan, an overread fails here too).
#include <gtest/gtest.h>

#include <climits>

#include "modifiers/portable/color_adjust.h"
#include "modifiers/portable/crop.h"
#include "modifiers/portable/mirror.h"
#include "modifiers/portable/red_eye.h"
#include "modifiers/portable/sharpen.h"
#include "tests/unit/modifier_blocks.h"

namespace qb {
namespace {

using test_blocks::Bytes;

struct Hostile {
  const char* name;
  Bytes block;
};

Bytes With(Bytes b, std::size_t offset, std::uint32_t value) {
  dib::StoreU32(b.data() + offset, value);
  return b;
}

std::vector<Hostile> HostileBlocks() {
  const Bytes good24 = test_blocks::MakeBlock(4, 3, 24, 1);
  const Bytes good8 = test_blocks::MakeBlock(4, 3, 8, 2);
  return {
      {"Empty", {}},
      {"ShorterThanItsSizeField", Bytes(good24.begin(), good24.begin() + 3)},
      {"CutInsideTheHeader", Bytes(good24.begin(), good24.begin() + 30)},
      {"HeaderSizeZero", With(good24, 0, 0)},
      {"HeaderSizeOdd", With(good24, 0, 41)},
      {"HeaderLongerThanBlock", With(Bytes(good24.begin(), good24.begin() + 60), 0, 124)},
      {"MoreRowsThanHeld", With(good24, 8, 1000)},
      {"MoreTopDownRowsThanHeld", With(good24, 8, static_cast<std::uint32_t>(-1000))},
      {"RowsCutShort", Bytes(good24.begin(), good24.end() - 1)},
      {"WidthZero", With(good24, 4, 0)},
      {"WidthNegative", With(good24, 4, static_cast<std::uint32_t>(-4))},
      {"WidthHuge", With(good24, 4, INT_MAX)},
      {"WidthWrapsTheBlockSize", With(With(good24, 4, 0x10000), 8, 0x10000)},
      {"HeightZero", With(good24, 8, 0)},
      {"HeightIntMin", With(good24, 8, static_cast<std::uint32_t>(INT_MIN))},
      {"DepthSeven", With(good24, 12, 0x00070001)},
      {"Compressed", With(good24, 16, 1)},
      {"PaletteTablePastBlock", Bytes(good8.begin(), good8.begin() + 40 + 4 * 100)},
      {"PaletteRowsPastBlock", With(good8, 8, 50)},
      {"PaletteMoreColoursThanHeld", With(Bytes(good8.begin(), good8.begin() + 40 + 4 * 256), 32, 256)},
  };
}

void ExpectUntouched(const Bytes& before, const Bytes& after, const char* name, const char* what) {
  EXPECT_EQ(before, after) << name << ": " << what;
}

TEST(ModifierHostileBlocks, AreRefusedAndLeftAsTheyWere) {
  for (const Hostile& h : HostileBlocks()) {
    Bytes block = h.block;
    EXPECT_NE(dib::DibStatus::kOk, color::AdjustColors(block, color::MakeShifts(90, 10, 10))) << h.name;
    ExpectUntouched(h.block, block, h.name, "colour");

    EXPECT_NE(dib::DibStatus::kOk, redeye::RemoveRedEyeDib(block, {0, 0, 1000, 1000})) << h.name;
    ExpectUntouched(h.block, block, h.name, "red-eye");

    Bytes working = h.block;
    EXPECT_NE(dib::DibStatus::kOk, sharpen::SharpenDib(h.block, working, 5)) << h.name;
    ExpectUntouched(h.block, working, h.name, "sharpen");

    for (std::int32_t direction : {mirror::kLeftRight, mirror::kTopBottom}) {
      Bytes result(h.block.size(), 0xEE);
      EXPECT_NE(dib::DibStatus::kOk, mirror::MirrorDib(h.block, result, direction)) << h.name;
      ExpectUntouched(Bytes(h.block.size(), 0xEE), result, h.name, "mirror");
    }

    Bytes out(4096, 0xEE);
    EXPECT_NE(dib::DibStatus::kOk, crop::CropDib(h.block, {0, 0, 2, 2}, out)) << h.name;
    ExpectUntouched(Bytes(4096, 0xEE), out, h.name, "crop");
  }
}

}  // namespace
}  // namespace qb
