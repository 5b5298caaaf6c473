#include "rastrum/portable/alpha.h"

#include <algorithm>

#include "base/portable/work_pool.h"
#include "rastrum/portable/block_io.h"

namespace rastrum {

namespace dib = qb::dib;

std::optional<AlphaRows> OpenAlpha(std::span<const uint8_t> block) {
  dib::DibLayout layout;
  if (block.empty() || dib::Validate(block, dib::kDepth32, layout) != dib::DibStatus::kOk ||
      !dib::CarriesAlpha(block, layout)) {
    return std::nullopt;
  }
  return AlphaRows{dib::PixelsOf(block.data(), layout), dib::LoadI32(block.data() + 24),
                   dib::LoadI32(block.data() + 28)};
}

namespace {

// Level c of a pixel of alpha a, premultiplied ((c * a + 127) / 255) and
// held inverted.
uint8_t Premultiply(uint32_t c, uint32_t a) { return static_cast<uint8_t>(255 - (c * a + 127) / 255); }

int SplitPlanes(const AlphaRows& source, ColourPlane colour, VectorAllocator& colours, VectorAllocator& cover) {
  const dib::ConstImageView& from = source.pixels;
  NewBlock c, k;
  if (int rc = MakeBlock24(colours, from.width(), from.height(), source.xPelsPerMeter, source.yPelsPerMeter, c);
      rc != kOk)
    return rc;
  if (int rc = MakeBlock24(cover, from.width(), from.height(), source.xPelsPerMeter, source.yPelsPerMeter, k);
      rc != kOk)
    return rc;
  const bool premultiply = colour == ColourPlane::kPremultiplied;
  qb::work::ForEachRowBand(from.width(), from.height(), [&](int32_t first, int32_t count) {
    for (int32_t y = first; y < first + count; ++y) {
      const uint8_t* p = from.Row(y);
      uint8_t* pc = c.pixels.Row(y);
      uint8_t* pk = k.pixels.Row(y);
      for (int32_t x = 0; x < from.width(); ++x, p += 4, pc += 3, pk += 3) {
        const uint8_t a = p[3];
        for (int n = 0; n < 3; ++n) {
          pc[n] = premultiply ? Premultiply(p[n], a) : p[n];
          pk[n] = static_cast<uint8_t>(255 - a);
        }
      }
    }
  });
  return kOk;
}

}  // namespace

int ThroughAlphaPlanes(const AlphaRows& source, ColourPlane colour, const BlockOperation& operation,
                       BlockAllocator& out) {
  VectorAllocator colours, cover, doneColours, doneCover;
  if (int rc = SplitPlanes(source, colour, colours, cover); rc != kOk) return rc;
  if (int rc = operation(colours.block, doneColours); rc != kOk) return rc;
  // The source planes are not needed any more: give their memory back
  // before the second plane is made.
  colours.block = {};
  if (int rc = operation(cover.block, doneCover); rc != kOk) return rc;
  cover.block = {};

  dib::DibLayout lc, lk;
  if (dib::Validate(doneColours.block, dib::kDepth24, lc) != dib::DibStatus::kOk ||
      dib::Validate(doneCover.block, dib::kDepth24, lk) != dib::DibStatus::kOk || lc.width != lk.width ||
      lc.height != lk.height)
    return kCorruptData;
  const dib::ConstImageView pc = dib::PixelsOf(doneColours.block.data(), lc);
  const dib::ConstImageView pk = dib::PixelsOf(doneCover.block.data(), lk);
  NewBlock result;
  if (int rc = MakeBlock32(out, lc.width, lc.height, dib::LoadI32(doneColours.block.data() + 24),
                           dib::LoadI32(doneColours.block.data() + 28), result);
      rc != kOk)
    return rc;
  const bool premultiplied = colour == ColourPlane::kPremultiplied;
  qb::work::ForEachRowBand(lc.width, lc.height, [&](int32_t first, int32_t count) {
    for (int32_t y = first; y < first + count; ++y) {
      const uint8_t* c = pc.Row(y);
      const uint8_t* k = pk.Row(y);
      uint8_t* d = result.pixels.Row(y);
      for (int32_t x = 0; x < lc.width; ++x, c += 3, k += 3, d += 4) {
        // The three cover channels went through the same arithmetic; green
        // stands for them.
        const uint32_t a = 255u - k[1];
        d[3] = static_cast<uint8_t>(a);
        for (int n = 0; n < 3; ++n) {
          if (!premultiplied) {
            d[n] = c[n];
          } else if (a == 0) {
            d[n] = 0;
          } else {
            // A filter may overshoot: a premultiplied level is at most alpha.
            const uint32_t level = std::min<uint32_t>(255u - c[n], a);
            d[n] = static_cast<uint8_t>((level * 255 + a / 2) / a);
          }
        }
      }
    }
  });
  return kOk;
}

}  // namespace rastrum
