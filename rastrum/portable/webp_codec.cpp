// WebP decoding and encoding on libwebp.
//
// A still picture (lossy, lossless, with or without alpha) is decoded
// straight into the block's rows; an animated one through the animation
// decoder, which composes its first frame on the canvas. A file with alpha
// gives a 32-bit block with its straight alpha (WebP's own form), any other
// a 24-bit block. The encoder writes lossy WebP at the quality asked for,
// lossless WebP at quality 100, with the alpha of a picture that has it
// (kept losslessly in either form; the colour of a wholly transparent pixel
// may change).
#include <algorithm>
#include <cstdint>
#include <cstring>

#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>

#include "base/portable/dib_format.h"
#include "rastrum/portable/alpha.h"
#include "rastrum/portable/block_io.h"
#include "rastrum/portable/codecs.h"

namespace rastrum {

namespace {

namespace dib = qb::dib;

// The format's own limit on either side.
constexpr int kMaxSide = 16383;

// The distance from one row of a block to the next in memory, as libwebp
// takes it: negative for a bottom-up block.
int RowStep(const dib::ConstImageView& pixels) {
  if (pixels.height() < 2) return static_cast<int>(pixels.stride());
  return static_cast<int>(pixels.Row(1) - pixels.Row(0));
}

// The first frame of an animated file, composed on its canvas. The decoder
// holds the canvas as RGBA (4 bytes a pixel) beside its own previous one.
int DecodeFirstFrame(std::span<const uint8_t> file, int width, int height, bool alpha, BlockAllocator& out) {
  if (const int peak = CheckDecodePeak(width, height, 8ull * width * height, 8ull * width * height);
      peak != kOk)
    return peak;
  WebPAnimDecoderOptions options;
  if (!WebPAnimDecoderOptionsInit(&options)) return kCorruptData;
  options.color_mode = MODE_BGRA;
  options.use_threads = 0;
  const WebPData data = {file.data(), file.size()};
  WebPAnimDecoder* decoder = WebPAnimDecoderNew(&data, &options);
  if (!decoder) return kCorruptData;
  WebPAnimInfo info;
  uint8_t* canvas = nullptr;
  int timestamp = 0;
  int rc = kCorruptData;
  if (WebPAnimDecoderGetInfo(decoder, &info) && static_cast<int>(info.canvas_width) == width &&
      static_cast<int>(info.canvas_height) == height && WebPAnimDecoderGetNext(decoder, &canvas, &timestamp)) {
    NewBlock block;
    rc = alpha ? MakeBlock32(out, width, height, 0, 0, block) : MakeBlock24(out, width, height, 0, 0, block);
    if (rc == kOk) {
      const int bytes = alpha ? 4 : 3;
      for (int32_t y = 0; y < height; ++y) {
        const uint8_t* from = canvas + static_cast<size_t>(y) * width * 4;
        uint8_t* to = block.pixels.Row(y);
        for (int x = 0; x < width; ++x, from += 4, to += bytes) std::memcpy(to, from, bytes);
      }
    }
  }
  WebPAnimDecoderDelete(decoder);
  return rc;
}

}  // namespace

int DecodeWebp(std::span<const uint8_t> file, BlockAllocator& out) {
  WebPBitstreamFeatures features;
  switch (WebPGetFeatures(file.data(), file.size(), &features)) {
    case VP8_STATUS_OK: break;
    case VP8_STATUS_OUT_OF_MEMORY: return kOutOfMemory;
    default: return kCorruptData;
  }
  const int width = features.width, height = features.height;
  if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) return kCorruptData;
  const bool alpha = features.has_alpha != 0;
  if (features.has_animation) return DecodeFirstFrame(file, width, height, alpha, out);
  // A lossy picture costs at least a bit for each 16 x 16 macroblock (a
  // flat grey one costs over three): a file too short for the size it
  // claims is refused before its block is made.
  const uint64_t macroblocks = uint64_t{(width + 15u) / 16} * ((height + 15u) / 16);
  if (features.format == 1 && macroblocks > 8 * uint64_t{file.size()}) return kCorruptData;
  // libwebp decodes into the block; a picture with alpha keeps one row of
  // its alpha plane besides (a lossless one its whole ARGB picture).
  const uint64_t working = features.format == 2 ? 4ull * width * height : 4ull * width;
  if (const int peak = CheckDecodePeak(width, height, working, working); peak != kOk) return peak;

  WebPDecoderConfig config;
  if (!WebPInitDecoderConfig(&config)) return kCorruptData;
  NewBlock block;
  const int made = alpha ? MakeBlock32(out, width, height, 0, 0, block) : MakeBlock24(out, width, height, 0, 0, block);
  if (made != kOk) return made;
  // A lossy picture's rows are filtered and put into the block on a thread
  // of libwebp's own while the next rows are decoded.
  config.options.use_threads = 1;
  config.output.colorspace = alpha ? MODE_BGRA : MODE_BGR;
  config.output.is_external_memory = 1;
  config.output.u.RGBA.rgba = block.pixels.Row(0);
  config.output.u.RGBA.stride = RowStep(block.pixels);
  config.output.u.RGBA.size = static_cast<size_t>(block.pixels.stride()) * height;
  const VP8StatusCode status = WebPDecode(file.data(), file.size(), &config);
  WebPFreeDecBuffer(&config.output);
  if (status == VP8_STATUS_OK) return kOk;
  // A block that did not get its whole picture must not pass for one.
  std::fill_n(block.block, dib::kInfoHeaderSize, uint8_t{0});
  return status == VP8_STATUS_OUT_OF_MEMORY ? kOutOfMemory : kCorruptData;
}

int EncodeWebp(std::span<const uint8_t> block, int quality, std::vector<uint8_t>& file) {
  const std::optional<AlphaRows> withAlpha = OpenAlpha(block);
  Source24 source;
  if (!withAlpha) {
    if (const int opened = source.Open(block); opened != kOk) return opened;
  }
  const dib::ConstImageView pixels = withAlpha ? withAlpha->pixels : source.pixels();
  if (pixels.width() > kMaxSide || pixels.height() > kMaxSide) return kTooLarge;
  uint8_t* encoded = nullptr;
  const int w = pixels.width(), h = pixels.height(), step = RowStep(pixels);
  const auto q = static_cast<float>(quality);
  size_t bytes = 0;
  if (withAlpha) {
    bytes = quality >= 100 ? WebPEncodeLosslessBGRA(pixels.Row(0), w, h, step, &encoded)
                           : WebPEncodeBGRA(pixels.Row(0), w, h, step, q, &encoded);
  } else {
    bytes = quality >= 100 ? WebPEncodeLosslessBGR(pixels.Row(0), w, h, step, &encoded)
                           : WebPEncodeBGR(pixels.Row(0), w, h, step, q, &encoded);
  }
  if (bytes == 0) {
    WebPFree(encoded);
    // The simple interface reports no reason; the sides were checked, so
    // what is left is memory.
    return kOutOfMemory;
  }
  struct Freed {
    uint8_t* p;
    ~Freed() { WebPFree(p); }
  } freed{encoded};
  file.insert(file.end(), encoded, encoded + bytes);
  return kOk;
}

}  // namespace rastrum
