// HEIC and AVIF decoding on libheif (libde265 decodes the HEVC, dav1d the
// AV1 inside), through the table of heif_library.h.
//
// The primary image is decoded as libheif gives it by default: a grid
// assembled from its tiles, the clean-aperture crop, rotation and mirror
// applied, so the block is upright. Samples of more than 8 bits (10- and
// 12-bit files) are scaled to 8 with rounding. A picture with an alpha
// channel becomes a 32-bit BI_RGB block whose fourth byte is straight alpha
// (blue, green, red, alpha; colours stored premultiplied are divided back);
// every other picture a 24-bit block.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "base/portable/dib_format.h"
#include "base/portable/work_pool.h"
#include "rastrum/portable/block_io.h"
#include "rastrum/portable/codecs.h"
#include "rastrum/portable/heif_library.h"

namespace rastrum {

namespace {

namespace dib = qb::dib;

// What a failed libheif call means for the caller: libheif reports a
// picture past its size limit, like one it cannot allocate, as a memory
// error.
int FailureOf(const heif_error& error) {
  if (error.code == heif_error_Ok) return kOk;
  if (error.subcode == heif_suberror_Security_limit_exceeded) return kTooLarge;
  if (error.code == heif_error_Memory_allocation_error) return kOutOfMemory;
  return kCorruptData;
}

// One sample of `bits` bits (above 8, stored in 16 bits little-endian) as
// 8 bits, rounded: v * 255 / max.
uint8_t To8(const uint8_t* sample, int bits) {
  const uint32_t max = (1u << bits) - 1;
  const uint32_t v = std::min<uint32_t>(dib::LoadU16(sample), max);
  return static_cast<uint8_t>((v * 255 + max / 2) / max);
}

// Straight colour from a premultiplied one.
uint8_t Unpremultiply(uint8_t colour, uint8_t alpha) {
  if (alpha == 0) return 0;
  return static_cast<uint8_t>(std::min<uint32_t>(255, (colour * 255u + alpha / 2) / alpha));
}

struct ContextDeleter {
  const HeifLibrary* heif;
  void operator()(heif_context* p) const { heif->context_free(p); }
};
struct HandleDeleter {
  const HeifLibrary* heif;
  void operator()(heif_image_handle* p) const { heif->image_handle_release(p); }
};
struct ImageDeleter {
  const HeifLibrary* heif;
  void operator()(heif_image* p) const { heif->image_release(p); }
};
struct OptionsDeleter {
  const HeifLibrary* heif;
  void operator()(heif_decoding_options* p) const { heif->decoding_options_free(p); }
};

// The largest side libheif accepts: a declared size past it is refused
// while the file is read, before any plane is allocated. A 24-bit block of
// that side would not fit a 32-bit process either.
constexpr int kMaxSide = 30000;
// The largest tile a grid's canvas may overhang the picture by.
constexpr int kMaxTile = 2048;

}  // namespace

int DecodeHeif(std::span<const uint8_t> file, BlockAllocator& out) {
  const HeifLibrary* heif = LoadHeifLibrary();
  if (!heif) return kDecoderMissing;

  std::unique_ptr<heif_context, ContextDeleter> context(heif->context_alloc(), {heif});
  if (!context) return kOutOfMemory;
  heif->context_set_maximum_image_size_limit(context.get(), kMaxSide);
  if (const int read = FailureOf(
          heif->context_read_from_memory_without_copy(context.get(), file.data(), file.size(), nullptr));
      read != kOk)
    return read;
  heif_image_handle* rawHandle = nullptr;
  if (const int primary = FailureOf(heif->context_get_primary_image_handle(context.get(), &rawHandle));
      primary != kOk)
    return primary;
  std::unique_ptr<heif_image_handle, HandleDeleter> handle(rawHandle, {heif});

  // The size guard, before anything is decoded: the width and height are
  // those after rotation, a grid's its whole canvas.
  const int width = heif->image_handle_get_width(handle.get());
  const int height = heif->image_handle_get_height(handle.get());
  if (width < 1 || height < 1) return kCorruptData;
  if (width > kMaxSide || height > kMaxSide) return kTooLarge;
  // A grid's canvas is made at the size the grid itself declares, which
  // libheif checks only against the side limit: a damaged grid under a
  // small picture would have it fill a canvas of 30000 x 30000. The canvas
  // may exceed the picture by the cropped edge of its last tiles, never by
  // more than a tile.
  heif->context_set_maximum_image_size_limit(context.get(), std::min(kMaxSide, std::max(width, height) + kMaxTile));
  const bool alpha = heif->image_handle_has_alpha_channel(handle.get()) != 0;
  const int luma = heif->image_handle_get_luma_bits_per_pixel(handle.get());
  const bool deep = luma > 8;
  const unsigned channels = alpha ? 4 : 3;
  const uint64_t pixels = uint64_t(width) * uint64_t(height);
  // libheif holds the decoded planes (up to 4:4:4, with alpha) and the
  // planar RGB picture it converts them to; only the latter is still held
  // while the block is made.
  const uint64_t planar = pixels * channels * (deep ? 2 : 1);
  const uint16_t bitCount = alpha ? 32 : 24;
  if (const int peak = CheckDecodePeak(width, height, 2 * planar, planar, bitCount); peak != kOk)
    return peak;

  std::unique_ptr<heif_decoding_options, OptionsDeleter> options(heif->decoding_options_alloc(), {heif});
  if (!options) return kOutOfMemory;
  options->ignore_transformations = 0;
  options->convert_hdr_to_8bit = 0;
  // libheif turns a colour picture into planar RGB (a grey one stays one
  // plane) before it applies the transformations; asked for the picture as
  // it has it, it stops there, and the interleaving into the block is ours,
  // on the workers. Grey is its one plane in all three colours.
  heif_image* rawImage = nullptr;
  if (const int decoded = FailureOf(heif->decode_image(handle.get(), &rawImage, heif_colorspace_undefined,
                                                       heif_chroma_undefined, options.get()));
      decoded != kOk)
    return decoded;
  std::unique_ptr<heif_image, ImageDeleter> image(rawImage, {heif});

  // The planes as decoded, checked against what the handle promised: the
  // loops below read width samples of each of height rows of every plane.
  int stride = 0;
  const bool grey = !heif->image_get_plane_readonly(image.get(), heif_channel_R, &stride);
  const heif_channel kinds[4] = {grey ? heif_channel_Y : heif_channel_R, grey ? heif_channel_Y : heif_channel_G,
                                 grey ? heif_channel_Y : heif_channel_B, heif_channel_Alpha};
  const uint8_t* planes[4] = {};
  int strides[4] = {};
  int bits[4] = {};
  bool allBytes = true;  // every plane 8-bit
  for (unsigned c = 0; c < channels; ++c) {
    planes[c] = heif->image_get_plane_readonly(image.get(), kinds[c], &strides[c]);
    bits[c] = heif->image_get_bits_per_pixel_range(image.get(), kinds[c]);
    if (!planes[c] || heif->image_get_width(image.get(), kinds[c]) != width ||
        heif->image_get_height(image.get(), kinds[c]) != height || strides[c] < 0 ||
        bits[c] < 8 || bits[c] > 16 || uint64_t(strides[c]) < uint64_t(width) * (bits[c] > 8 ? 2 : 1))
      return kCorruptData;
    allBytes = allBytes && bits[c] == 8;
  }

  NewBlock block;
  const int made = alpha ? MakeBlock32(out, width, height, 0, 0, block) : MakeBlock24(out, width, height, 0, 0, block);
  if (made != kOk) return made;
  const bool premultiplied = alpha && heif->image_handle_is_premultiplied_alpha(handle.get()) != 0;
  qb::work::ForEachRange(height, qb::work::RowGrain(width, height), [&](int64_t begin, int64_t end) {
    for (int64_t y = begin; y < end; ++y) {
      const uint8_t* from[4];
      for (unsigned c = 0; c < channels; ++c) from[c] = planes[c] + size_t(y) * size_t(strides[c]);
      uint8_t* to = block.pixels.Row(static_cast<int32_t>(y));
      if (allBytes && !alpha) {
        for (int x = 0; x < width; ++x, to += 3) {
          to[0] = from[2][x];
          to[1] = from[1][x];
          to[2] = from[0][x];
        }
        continue;
      }
      for (int x = 0; x < width; ++x, to += channels) {
        uint8_t rgba[4];
        for (unsigned c = 0; c < channels; ++c) rgba[c] = bits[c] > 8 ? To8(from[c] + 2 * x, bits[c]) : from[c][x];
        if (premultiplied) {
          for (unsigned c = 0; c < 3; ++c) rgba[c] = Unpremultiply(rgba[c], rgba[3]);
        }
        to[0] = rgba[2];
        to[1] = rgba[1];
        to[2] = rgba[0];
        if (alpha) to[3] = rgba[3];
      }
    }
  });
  return kOk;
}

}  // namespace rastrum
