// AddFrame and AddPic: pictures laid over a copy of another.
//
// A frame picture is stretched over the whole photo. Its centre pixel names
// the colour that lets the photo through (a frame is drawn around a hole of
// one flat colour); a frame picture with alpha lets the photo through by
// its alpha instead, interpolated with its colours (premultiplied), so
// that its soft edges blend into the photo. Whether a photo pixel shows through is decided by the
// frame pixel nearest to it, so the hole keeps sharp edges at any
// stretch; the frame's own colours are interpolated bilinearly from the
// frame pixels around, leaving out those of the hole's colour so that it
// does not bleed into the frame's edge.
//
// AddPic blends a picture into a rectangle of the base by a grey mask:
// out = (overlay * m + base * (255 - m) + 127) / 255 for mask level m,
// clipped to the base. A mask with alpha gives its alpha as m, so a
// transparent logo laid with itself as mask lands as it looks; without a
// mask, an overlay with alpha is laid by its own alpha. A base with alpha
// keeps it: the overlay is laid over it as one transparent picture over
// another, and the result has alpha too.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <span>
#include <stdexcept>
#include <vector>

#include "base/portable/work_pool.h"
#include "rastrum/portable/alpha.h"
#include "rastrum/portable/block_io.h"
#include "rastrum/portable/raster.h"

namespace rastrum {

namespace dib = qb::dib;

namespace {

// Opens an optional picture: an empty span is none.
int OpenOptional(std::span<const uint8_t> block, Source24& source, bool& present) {
  present = !block.empty();
  return present ? source.Open(block) : kOk;
}

// The pixels of `src` into `dst`, of `bytes` a pixel. Every loop over a
// large picture's rows here runs in bands on the pool: each band writes only
// its own rows.
void CopyPixels(const dib::ConstImageView& src, const dib::ImageView& dst, size_t bytes = 3) {
  qb::work::ForEachRowBand(src.width(), src.height(), [&](int32_t first, int32_t count) {
    for (int32_t y = first; y < first + count; ++y)
      std::memcpy(dst.Row(y), src.Row(y), static_cast<size_t>(src.width()) * bytes);
  });
}

// The source pixel whose area holds the centre of destination pixel i when
// `from` pixels are stretched over `to`.
int32_t NearestIndex(int64_t i, int64_t from, int64_t to) {
  return static_cast<int32_t>((2 * i + 1) * from / (2 * to));
}

// Where destination pixel i's centre falls between two source pixels when
// `from` pixels are stretched over `to`: the two pixels, the weight of the
// second in 1/256, and which of the two is nearest.
struct Taps {
  int32_t first = 0;
  int32_t second = 0;
  uint32_t fraction = 0;
  int32_t nearest = 0;
};

std::vector<Taps> StretchTaps(int32_t from, int32_t to) {
  std::vector<Taps> taps(static_cast<size_t>(to));
  // Positions in units of 1/(2 to) source pixels, pixel j's centre at j.
  const int64_t unit = 2 * static_cast<int64_t>(to);
  for (int32_t i = 0; i < to; ++i) {
    const int64_t position = (2 * static_cast<int64_t>(i) + 1) * from - to;
    Taps& t = taps[static_cast<size_t>(i)];
    bool secondNearer = false;
    if (position > 0) {  // before the first centre: the first pixel alone
      const int64_t past = position % unit;
      t.first = static_cast<int32_t>(position / unit);
      t.fraction = static_cast<uint32_t>(past * 256 / unit);
      secondNearer = past >= to;  // half a source pixel or more
    }
    t.second = std::min(t.first + 1, from - 1);
    t.nearest = secondNearer ? t.second : t.first;
  }
  return taps;
}

struct Bgr {
  uint8_t b = 0, g = 0, r = 0;
  bool operator==(const Bgr&) const = default;
};

Bgr PixelAt(const dib::ConstImageView& v, int32_t x, int32_t y) {
  const uint8_t* p = v.Row(y) + static_cast<size_t>(x) * 3;
  return {p[0], p[1], p[2]};
}

// A frame picture ready to lay over a photo of a given size: 24-bit rows
// with a hole colour, or 32-bit rows with alpha.
struct FrameLayer {
  dib::ConstImageView frame;
  Bgr hole;
  std::vector<Taps> columns;
  std::vector<Taps> rows;
  bool alpha = false;
};

FrameLayer PrepareFrame(const dib::ConstImageView& frame, int32_t width, int32_t height, bool alpha) {
  return {frame, alpha ? Bgr{} : PixelAt(frame, frame.width() / 2, frame.height() / 2),
          StretchTaps(frame.width(), width), StretchTaps(frame.height(), height), alpha};
}

// Calls pixel(tx, ty, out) for every pixel of `dst` (`step` bytes apart)
// with the frame's taps for its column and row, the rows in bands on the
// pool.
template <class Pixel>
void ForEachFramedPixel(const FrameLayer& layer, const dib::ImageView& dst, size_t step, Pixel pixel) {
  qb::work::ForEachRowBand(dst.width(), dst.height(), [&](int32_t first, int32_t count) {
    for (int32_t y = first; y < first + count; ++y) {
      const Taps& ty = layer.rows[static_cast<size_t>(y)];
      uint8_t* out = dst.Row(y);
      for (int32_t x = 0; x < dst.width(); ++x, out += step) pixel(layer.columns[static_cast<size_t>(x)], ty, out);
    }
  });
}

// A frame with alpha over 24-bit rows, or 32-bit rows with alpha (`step`
// 4): the frame laid over the photo as one transparent picture over
// another.
void LayAlphaFrame(const FrameLayer& layer, const dib::ImageView& dst, size_t step) {
  const dib::ConstImageView& frame = layer.frame;
  ForEachFramedPixel(layer, dst, step, [&](const Taps& tx, const Taps& ty, uint8_t* out) {
    const uint8_t* corner[4] = {frame.Row(ty.first) + 4 * static_cast<size_t>(tx.first),
                                frame.Row(ty.first) + 4 * static_cast<size_t>(tx.second),
                                frame.Row(ty.second) + 4 * static_cast<size_t>(tx.first),
                                frame.Row(ty.second) + 4 * static_cast<size_t>(tx.second)};
    const double weight[4] = {(256.0 - tx.fraction) * (256 - ty.fraction), tx.fraction * (256.0 - ty.fraction),
                              (256.0 - tx.fraction) * ty.fraction, double(tx.fraction) * ty.fraction};
    // Alpha and premultiplied colours, 0..1 and 0..255.
    double a = 0, c[3] = {0, 0, 0};
    for (int k = 0; k < 4; ++k) {
      const double ak = weight[k] * corner[k][3] / (65536.0 * 255);
      a += ak;
      for (int n = 0; n < 3; ++n) c[n] += ak * corner[k][n];
    }
    if (a <= 0) return;
    const double below = step == 4 ? out[3] / 255.0 * (1 - a) : 1 - a;
    const double cover = a + below;
    for (int n = 0; n < 3; ++n) out[n] = static_cast<uint8_t>(std::lround((c[n] + out[n] * below) / cover));
    if (step == 4) out[3] = static_cast<uint8_t>(std::lround(cover * 255));
  });
}

// Into 24-bit rows, or 32-bit rows with alpha (`step` 4), where what the
// frame covers becomes opaque.
void LayFrame(const FrameLayer& layer, const dib::ImageView& dst, size_t step) {
  const dib::ConstImageView& frame = layer.frame;
  ForEachFramedPixel(layer, dst, step, [&](const Taps& tx, const Taps& ty, uint8_t* out) {
    if (PixelAt(frame, tx.nearest, ty.nearest) == layer.hole) return;
    const Bgr corner[4] = {PixelAt(frame, tx.first, ty.first), PixelAt(frame, tx.second, ty.first),
                           PixelAt(frame, tx.first, ty.second), PixelAt(frame, tx.second, ty.second)};
    const uint32_t weight[4] = {(256 - tx.fraction) * (256 - ty.fraction), tx.fraction * (256 - ty.fraction),
                                (256 - tx.fraction) * ty.fraction, tx.fraction * ty.fraction};
    uint32_t total = 0, b = 0, g = 0, r = 0;
    for (int k = 0; k < 4; ++k) {
      if (corner[k] == layer.hole) continue;
      total += weight[k];
      b += weight[k] * corner[k].b;
      g += weight[k] * corner[k].g;
      r += weight[k] * corner[k].r;
    }
    // The nearest pixel is not the hole's colour and always has weight.
    out[0] = static_cast<uint8_t>((b + total / 2) / total);
    out[1] = static_cast<uint8_t>((g + total / 2) / total);
    out[2] = static_cast<uint8_t>((r + total / 2) / total);
    if (step == 4) out[3] = 255;
  });
}

}  // namespace

int AddFrame(std::span<const uint8_t> source, std::span<const uint8_t> frame1,
             std::span<const uint8_t> frame2, BlockAllocator& out) {
  return OutOfMemoryGuarded([&]() -> int {
    Source24 photo, frames[2];
    std::optional<AlphaRows> alphaFrames[2];
    const std::span<const uint8_t> blocks[2] = {frame1, frame2};
    if (int rc = photo.Open(source); rc != kOk) return rc;
    std::vector<FrameLayer> layers;
    for (int i = 0; i < 2; ++i) {
      bool present = false;
      alphaFrames[i] = OpenAlpha(blocks[i]);
      if (alphaFrames[i]) {
        layers.push_back(PrepareFrame(alphaFrames[i]->pixels, photo.width(), photo.height(), true));
        continue;
      }
      if (int rc = OpenOptional(blocks[i], frames[i], present); rc != kOk) return rc;
      if (present) layers.push_back(PrepareFrame(frames[i].pixels(), photo.width(), photo.height(), false));
    }

    // A photo with alpha keeps it where no frame covers it.
    const std::optional<AlphaRows> alpha = OpenAlpha(source);
    NewBlock result;
    const int made = alpha ? MakeBlock32(out, photo.width(), photo.height(), photo.xPelsPerMeter(),
                                         photo.yPelsPerMeter(), result)
                           : MakeBlock24(out, photo.width(), photo.height(), photo.xPelsPerMeter(),
                                         photo.yPelsPerMeter(), result);
    if (made != kOk) return made;
    if (alpha) {
      CopyPixels(alpha->pixels, result.pixels, 4);
    } else {
      CopyPixels(photo.pixels(), result.pixels);
    }
    for (const FrameLayer& layer : layers) {  // frame2 over frame1
      if (layer.alpha) LayAlphaFrame(layer, result.pixels, alpha ? 4 : 3);
      else LayFrame(layer, result.pixels, alpha ? 4 : 3);
    }
    return kOk;
  });
}

int AddPic(int32_t x, int32_t y, std::span<const uint8_t> base, std::span<const uint8_t> overlay,
           std::span<const uint8_t> mask, BlockAllocator& out) {
  return OutOfMemoryGuarded([&]() -> int {
    Source24 under, over, stencil;
    bool hasOverlay = false, hasMask = false;
    // Pictures with alpha are read with their colours as they are; the
    // alpha decides how they mix.
    const std::optional<AlphaRows> baseAlpha = OpenAlpha(base);
    const std::optional<AlphaRows> overAlpha = OpenAlpha(overlay);
    const std::optional<AlphaRows> maskAlpha = OpenAlpha(mask);
    if (int rc = under.Open(base, dib::AlphaRule::kDrop); rc != kOk) return rc;
    hasOverlay = !overlay.empty();
    if (hasOverlay) {
      if (int rc = over.Open(overlay, dib::AlphaRule::kDrop); rc != kOk) return rc;
      if (int rc = OpenOptional(mask, stencil, hasMask); rc != kOk) return rc;
    }

    // The rectangle of the overlay that lands on the base, in base coordinates;
    // 64-bit because x + width may pass INT32_MAX.
    int64_t left = 0, top = 0, right = 0, bottom = 0;
    if (hasOverlay) {
      left = std::max<int64_t>(x, 0);
      top = std::max<int64_t>(y, 0);
      right = std::min<int64_t>(static_cast<int64_t>(x) + over.width(), under.width());
      bottom = std::min<int64_t>(static_cast<int64_t>(y) + over.height(), under.height());
    }
    const bool visible = left < right && top < bottom;

    // The mask over the visible rectangle, stretched to the overlay's size by
    // nearest pixel and turned grey by ToGray: its blue channel is m.
    VectorAllocator greyStore;
    dib::ConstImageView grey;
    if (visible && hasMask) {
      NewBlock g;
      const auto w = static_cast<int32_t>(right - left), h = static_cast<int32_t>(bottom - top);
      if (int rc = MakeBlock24(greyStore, w, h, 0, 0, g); rc != kOk) return rc;
      const dib::ConstImageView& m = maskAlpha ? maskAlpha->pixels : stencil.pixels();
      const size_t bytes = maskAlpha ? 4 : 3;
      qb::work::ForEachRowBand(w, h, [&](int32_t first, int32_t count) {
        for (int32_t j = first; j < first + count; ++j) {
          const int32_t my = NearestIndex(top - y + j, m.height(), over.height());
          const uint8_t* in = m.Row(my);
          uint8_t* row = g.pixels.Row(j);
          for (int32_t i = 0; i < w; ++i, row += 3) {
            const uint8_t* p = in + static_cast<size_t>(NearestIndex(left - x + i, m.width(), over.width())) * bytes;
            if (maskAlpha) {
              row[0] = row[1] = row[2] = p[3];
            } else {
              row[0] = p[0];
              row[1] = p[1];
              row[2] = p[2];
            }
          }
        }
      });
      if (!maskAlpha) {
        if (int rc = ToGray(greyStore.block); rc != kOk) return rc;
      }
      grey = g.pixels;
    }

    NewBlock result;
    const int made = baseAlpha ? MakeBlock32(out, under.width(), under.height(), under.xPelsPerMeter(),
                                             under.yPelsPerMeter(), result)
                               : MakeBlock24(out, under.width(), under.height(), under.xPelsPerMeter(),
                                             under.yPelsPerMeter(), result);
    if (made != kOk) return made;
    if (baseAlpha) {
      CopyPixels(baseAlpha->pixels, result.pixels, 4);
    } else {
      CopyPixels(under.pixels(), result.pixels);
    }
    if (!visible) return kOk;

    const auto w = static_cast<size_t>(right - left);
    const size_t step = baseAlpha ? 4 : 3;
    qb::work::ForEachRowBand(static_cast<int32_t>(w), static_cast<int32_t>(bottom - top),
                             [&](int32_t first, int32_t count) {
      for (int64_t by = top + first; by < top + first + count; ++by) {
        const auto row = static_cast<int32_t>(by);
        uint8_t* dst = result.pixels.Row(row) + static_cast<size_t>(left) * step;
        const uint8_t* src = over.pixels().Row(static_cast<int32_t>(by - y)) + static_cast<size_t>(left - x) * 3;
        const uint8_t* m = hasMask ? grey.Row(static_cast<int32_t>(by - top)) : nullptr;
        const uint8_t* own =
            !hasMask && overAlpha
                ? overAlpha->pixels.Row(static_cast<int32_t>(by - y)) + static_cast<size_t>(left - x) * 4
                : nullptr;
        for (size_t i = 0; i < w; ++i, dst += step, src += 3) {
          // Blue of a grey mask pixel, the overlay's own alpha, or opaque.
          const uint32_t level = m ? m[i * 3] : own ? own[i * 4 + 3] : 255;
          if (!baseAlpha) {
            for (int c = 0; c < 3; ++c)
              dst[c] = static_cast<uint8_t>((src[c] * level + dst[c] * (255 - level) + 127) / 255);
            continue;
          }
          // Over a transparent base: what shows of the base is its alpha times
          // what the overlay leaves, all in 1/255 x 1/255.
          const uint32_t below = dst[3] * (255 - level);
          const uint32_t cover = level * 255 + below;  // the result's alpha x 255
          for (int c = 0; c < 3; ++c)
            dst[c] = cover ? static_cast<uint8_t>((src[c] * level * 255 + dst[c] * below + cover / 2) / cover) : 0;
          dst[3] = static_cast<uint8_t>((cover + 127) / 255);
        }
      }
    });
    return kOk;
  });
}

}  // namespace rastrum
