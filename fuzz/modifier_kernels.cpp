// The modifiers' block operations on any block: colour adjustment,
// red-eye, sharpen, mirror and crop, with their parameters in front; the
// tone curves on the rows of a block the validator accepts.
#include <vector>

#include "fuzz/fuzz_target.h"
#include "modifiers/portable/color_adjust.h"
#include "modifiers/portable/crop.h"
#include "modifiers/portable/mirror.h"
#include "modifiers/portable/red_eye.h"
#include "modifiers/portable/sharpen.h"
#include "modifiers/portable/tone.h"

namespace dib = qb::dib;

QB_FUZZ_TARGET(modifier_kernels) {
  qb::fuzz::Input in(data, size);
  const auto a = static_cast<std::int32_t>(in.U32()), b = static_cast<std::int32_t>(in.U32());
  const auto c = static_cast<std::int32_t>(in.U32()), d = static_cast<std::int32_t>(in.U32());
  const auto source = in.Rest();
  const std::vector<std::uint8_t> original(source.begin(), source.end());

  // Each operation either works or leaves every byte as it was.
  std::vector<std::uint8_t> block = original;
  if (qb::color::AdjustColors(block, qb::color::MakeShifts(a, b, c)) != dib::DibStatus::kOk)
    QB_FUZZ_CHECK(block == original);
  block = original;
  if (qb::redeye::RemoveRedEyeDib(block, {a, b, c, d}) != dib::DibStatus::kOk) QB_FUZZ_CHECK(block == original);
  std::vector<std::uint8_t> result(original.size(), 0xEE);
  if (qb::sharpen::SharpenDib(original, result, a) != dib::DibStatus::kOk)
    QB_FUZZ_CHECK(result == std::vector<std::uint8_t>(original.size(), 0xEE));
  for (std::int32_t direction : {qb::mirror::kLeftRight, qb::mirror::kTopBottom, b}) {
    std::vector<std::uint8_t> mirrored(original.size(), 0xEE);
    if (qb::mirror::MirrorDib(original, mirrored, direction) != dib::DibStatus::kOk)
      QB_FUZZ_CHECK(mirrored == std::vector<std::uint8_t>(original.size(), 0xEE));
  }
  std::vector<std::uint8_t> cropped(std::size_t(d & 0xFFFF), 0xEE);
  if (qb::crop::CropDib(original, {a % 4096, b % 4096, c % 4096, d % 4096}, cropped) != dib::DibStatus::kOk)
    QB_FUZZ_CHECK(cropped == std::vector<std::uint8_t>(std::size_t(d & 0xFFFF), 0xEE));
  block = original;
  dib::DibLayout layout;
  if (dib::Validate(block, dib::DepthFlag(24), layout) == dib::DibStatus::kOk) {
    qb::tone::ShiftChannels(dib::PixelsOf(block.data(), layout), a);
    qb::tone::StretchChannels(dib::PixelsOf(block.data(), layout), b);
  }
  return 0;
}
