// The packed-DIB validator, the header fields and the conversion to 24
// bits, alpha dropped and flattened onto white.
#include "base/portable/dib_format.h"
#include "fuzz/fuzz_target.h"

namespace dib = qb::dib;

QB_FUZZ_TARGET(dib) {
  const std::span<const std::uint8_t> block(data, size);
  dib::WidthField(block);
  dib::HeightField(block);
  dib::BitCountField(block);
  dib::DibLayout layout;
  if (dib::Validate(block, dib::kAllDepths, layout) != dib::DibStatus::kOk) return 0;
  QB_FUZZ_CHECK(layout.pixelOffset + uint64_t{layout.imageBytes} <= size);
  const auto converted = dib::Converted24Size(layout);
  if (!converted || *converted > (1u << 26)) return 0;
  std::vector<std::uint8_t> out(*converted);
  QB_FUZZ_CHECK(dib::ConvertTo24(block, layout, out));
  dib::DibLayout plain;
  QB_FUZZ_CHECK(dib::Validate(out, dib::DepthFlag(24), plain) == dib::DibStatus::kOk && dib::IsPlain24(plain));
  // Flattening onto white touches nothing but what dropping the alpha wrote,
  // and only a block that carries alpha changes.
  std::vector<std::uint8_t> flat(*converted);
  QB_FUZZ_CHECK(dib::ConvertTo24(block, layout, flat, dib::AlphaRule::kFlattenOntoWhite));
  QB_FUZZ_CHECK(dib::CarriesAlpha(block, layout) || flat == out);
  return 0;
}
