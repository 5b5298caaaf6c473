// GIF, TGA and PNM through stb_image, and our own TGA writer.
//
// stb_image trusts more than we do: it reads past a truncated TGA or PNM as
// zeros (or leaves the buffer unwritten), and it allocates what a header
// claims. So each decoder first reads the format's header itself, checks
// that stb's peak beside the block fits a 32-bit process (kTooLarge), proves
// that the file holds the data the header announces (or, for GIF, data
// that can cover the screen), and only then hands the bytes to stb. stb returns rows top
// first as R,G,B (req_comp 3: alpha dropped); they become a bottom-up 24-bit
// block. None of these formats carries a resolution.
#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "base/portable/dib_format.h"
#include "rastrum/portable/block_io.h"
#include "rastrum/portable/codecs.h"

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_GIF
#define STBI_ONLY_TGA
#define STBI_ONLY_PNM
#define STBI_NO_STDIO
#define STBI_MAX_DIMENSIONS (1 << 24)
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#endif
#include <stb_image.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace rastrum {
namespace {

namespace dib = qb::dib;

// n bytes at offset lie inside `size` bytes.
constexpr bool Fits(uint64_t offset, uint64_t n, uint64_t size) {
  return offset <= size && n <= size - offset;
}

struct StbFree {
  void operator()(void* p) const { stbi_image_free(p); }
};
using StbPixels = std::unique_ptr<stbi_uc, StbFree>;
using StbPixels16 = std::unique_ptr<stbi_us, StbFree>;

int StbFailure() {
  const char* reason = stbi_failure_reason();
  return reason && std::strcmp(reason, "outofmem") == 0 ? kOutOfMemory : kCorruptData;
}

// The size guard for a picture that stb decodes into `stbBytes` a pixel
// (`stbPeak` a pixel at its peak): stb's buffer stays while the block is
// made. kOk, or kTooLarge when the peak would not fit.
int CheckStbPeak(uint64_t width, uint64_t height, uint64_t stbPeak, uint64_t stbBytes) {
  if (width > STBI_MAX_DIMENSIONS || height > STBI_MAX_DIMENSIONS) return kTooLarge;
  const uint64_t pixels = width * height;
  return CheckDecodePeak(static_cast<int32_t>(width), static_cast<int32_t>(height), pixels * stbPeak,
                         pixels * stbBytes);
}

// Copies width x height samples, three a pixel in R,G,B order with the top
// row first, into a new 24-bit block. sample(i) gives the i-th sample.
template <class Sample>
int MakeFromRgb(int32_t width, int32_t height, Sample sample, BlockAllocator& out) {
  NewBlock made;
  if (const int rc = MakeBlock24(out, width, height, 0, 0, made); rc != kOk) return rc;
  size_t i = 0;
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* dst = made.pixels.Row(y);
    for (int32_t x = 0; x < width; ++x, i += 3, dst += 3) {
      dst[2] = sample(i);
      dst[1] = sample(i + 1);
      dst[0] = sample(i + 2);
    }
  }
  return kOk;
}

// A sample of 0..maxValue as 0..255, rounded; values past the maximum are
// clamped (stb passes samples through unscaled).
uint8_t ScaleSample(uint32_t v, uint32_t maxValue) {
  if (v >= maxValue) return 255;
  return static_cast<uint8_t>((v * 255 + maxValue / 2) / maxValue);
}

// Decodes 8-bit samples of 0..maxValue through stb and checks that stb saw
// the picture the header check saw.
int DecodeWithStb(std::span<const uint8_t> bytes, int32_t width, int32_t height, BlockAllocator& out,
                  uint32_t maxValue = 255) {
  const int len = bytes.size() > INT_MAX ? INT_MAX : static_cast<int>(bytes.size());
  int x = 0, y = 0, channels = 0;
  StbPixels rgb(stbi_load_from_memory(bytes.data(), len, &x, &y, &channels, 3));
  if (!rgb) return StbFailure();
  if (x != width || y != height) return kCorruptData;
  const stbi_uc* s = rgb.get();
  if (maxValue == 255) return MakeFromRgb(width, height, [s](size_t i) { return s[i]; }, out);
  return MakeFromRgb(width, height, [s, maxValue](size_t i) { return ScaleSample(s[i], maxValue); }, out);
}

// ---- PNM ---------------------------------------------------------------
// "P5" (grey) or "P6" (RGB), whitespace, then width, height and the maximum
// sample value in ASCII decimal separated by whitespace or '#' comments,
// one whitespace byte, then the raw samples: one byte each up to a maximum
// of 255, else two bytes, most significant first.

struct PnmHeader {
  uint64_t width = 0;
  uint64_t height = 0;
  uint32_t maxValue = 0;
  uint32_t channels = 0;
  uint64_t dataOffset = 0;
};

bool IsPnmSpace(uint8_t c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int ReadPnmHeader(std::span<const uint8_t> file, PnmHeader& header) {
  const uint8_t* p = file.data();
  const size_t size = file.size();
  if (size < 3 || p[0] != 'P' || p[1] < '1' || p[1] > '6') return kUnknownFormat;
  // P1..P4 (the ASCII forms and bitmaps) are not decoded.
  if (p[1] != '5' && p[1] != '6') return kUnknownFormat;
  if (!IsPnmSpace(p[2])) return kCorruptData;
  header.channels = p[1] == '6' ? 3 : 1;

  size_t pos = 2;
  auto skipSpace = [&] {
    while (pos < size && (IsPnmSpace(p[pos]) || p[pos] == '#')) {
      if (p[pos] == '#') {
        while (pos < size && p[pos] != '\n' && p[pos] != '\r') ++pos;
      } else {
        ++pos;
      }
    }
  };
  // A decimal number; false when there is none or it passes 2^32.
  auto number = [&](uint64_t& value) {
    const size_t start = pos;
    value = 0;
    while (pos < size && p[pos] >= '0' && p[pos] <= '9') {
      value = value * 10 + (p[pos] - '0');
      if (value > UINT32_MAX) return false;
      ++pos;
    }
    return pos > start;
  };
  // Each number must end at whitespace or a comment.
  auto separated = [&] { return pos < size && (IsPnmSpace(p[pos]) || p[pos] == '#'); };

  uint64_t maxValue = 0;
  skipSpace();
  if (!number(header.width) || !separated()) return kCorruptData;
  skipSpace();
  if (!number(header.height) || !separated()) return kCorruptData;
  skipSpace();
  if (!number(maxValue) || pos >= size || !IsPnmSpace(p[pos])) return kCorruptData;
  if (header.width == 0 || header.height == 0 || maxValue == 0 || maxValue > 65535) return kCorruptData;
  header.maxValue = static_cast<uint32_t>(maxValue);
  header.dataOffset = pos + 1;
  return kOk;
}

// ---- TGA ---------------------------------------------------------------
// An 18-byte header: u8 id length, u8 colour-map type, u8 image type (1
// colour-mapped, 2 true colour, 3 grey; +8 run-length encoded), u16 first
// map entry, u16 map length, u8 map entry bits, u16 x and y origin, u16
// width, u16 height, u8 bits per pixel, u8 descriptor (bit 5: top row
// first). Then the id, the colour map and the pixels. An RLE packet is one
// byte, (count - 1) in the low 7 bits and the top bit set for a run of one
// pixel value, clear for `count` literal pixels.

struct TgaHeader {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t pixelBytes = 0;
  uint32_t stbChannels = 0;  // channels of stb's buffer: 1 to 4
  bool rle = false;
  uint64_t dataOffset = 0;
};

bool IsTgaDepth(uint8_t bits) {
  return bits == 8 || bits == 15 || bits == 16 || bits == 24 || bits == 32;
}

// The forms stb decodes, and where the pixels start as stb reads them (it
// skips the first-entry index as bytes before the map).
int ReadTgaHeader(std::span<const uint8_t> file, TgaHeader& header) {
  const uint8_t* p = file.data();
  if (file.size() < 18) return kCorruptData;
  const uint8_t mapType = p[1], imageType = p[2], mapBits = p[7], bits = p[16];
  const uint16_t mapFirst = dib::LoadU16(p + 3), mapLength = dib::LoadU16(p + 5);
  header.width = dib::LoadU16(p + 12);
  header.height = dib::LoadU16(p + 14);
  if (mapType == 1) {
    if ((imageType != 1 && imageType != 9) || !IsTgaDepth(mapBits) || (bits != 8 && bits != 16) ||
        mapLength == 0) {
      return kCorruptData;
    }
  } else if (mapType != 0 || (imageType != 2 && imageType != 3 && imageType != 10 && imageType != 11) ||
             !IsTgaDepth(bits)) {
    return kCorruptData;
  }
  if (header.width == 0 || header.height == 0) return kCorruptData;
  header.pixelBytes = (bits + 7u) / 8;
  // Grey and 8-bit colour maps give one channel (two with alpha), 15- and
  // 16-bit colour three, 32-bit four: what stb keeps a pixel.
  const uint8_t colourBits = mapType == 1 ? mapBits : bits;
  const bool grey = imageType == 3 || imageType == 11 || colourBits == 8;
  header.stbChannels = grey ? (bits == 16 && mapType == 0 ? 2 : 1) : colourBits == 32 ? 4 : 3;
  header.rle = imageType >= 9;
  header.dataOffset = 18u + p[0];
  if (mapType == 1) header.dataOffset += mapFirst + uint64_t{mapLength} * ((mapBits + 7u) / 8);
  return kOk;
}

// Whether the file holds every pixel the header announces.
bool TgaDataComplete(std::span<const uint8_t> file, const TgaHeader& header) {
  const uint64_t size = file.size();
  const uint64_t pixels = uint64_t{header.width} * header.height;
  if (!header.rle) return Fits(header.dataOffset, pixels * header.pixelBytes, size);
  uint64_t pos = header.dataOffset, done = 0;
  while (done < pixels) {
    if (!Fits(pos, 1, size)) return false;
    const uint8_t packet = file[pos++];
    const uint64_t count = std::min<uint64_t>((packet & 0x7F) + 1u, pixels - done);
    const uint64_t bytes = (packet & 0x80) ? header.pixelBytes : count * header.pixelBytes;
    if (!Fits(pos, bytes, size)) return false;
    pos += bytes;
    done += count;
  }
  return true;
}

// ---- GIF ---------------------------------------------------------------
// "GIF87a" or "GIF89a", the logical screen (u16 width, u16 height, u8
// flags: bit 7 a global colour table of 2^(bits 0-2 + 1) entries follows,
// u8 background, u8 aspect), then blocks: 0x21 an extension (a label, then
// sub-blocks), 0x2C an image (u16 left, top, width, height, u8 flags with a
// local table like the screen's, the LZW code size, then sub-blocks of LZW
// data), 0x3B the end. A sub-block is a length byte and that many bytes; a
// zero length ends the chain.

// One LZW code (at most 12 bits) stands for at most 4096 pixels.
constexpr uint64_t kGifPixelsPerDataByte = 4096;

// The bytes of LZW data of the first image that the file holds (a chain cut
// short counts what is there); nullopt when no image descriptor comes
// before the end, a trailer or an unknown block.
std::optional<uint64_t> GifFirstImageData(std::span<const uint8_t> file) {
  const uint8_t* p = file.data();
  const uint64_t size = file.size();
  auto tableBytes = [](uint8_t flags) -> uint64_t { return flags & 0x80 ? 3u << ((flags & 7) + 1) : 0; };
  // Skips a chain of sub-blocks from pos, adding their bytes to `data`;
  // false when the file ends first.
  auto skipChain = [&](uint64_t& pos, uint64_t& data) {
    while (pos < size) {
      const uint8_t n = p[pos++];
      if (n == 0) return true;
      data += std::min<uint64_t>(n, size - pos);
      pos += n;
    }
    return false;
  };
  uint64_t pos = 13 + tableBytes(p[10]);
  for (;;) {
    if (pos >= size) return std::nullopt;
    const uint8_t introducer = p[pos++];
    if (introducer == 0x21) {
      uint64_t ignored = 0;
      if (++pos > size || !skipChain(pos, ignored)) return std::nullopt;
    } else if (introducer == 0x2C) {
      if (!Fits(pos, 10, size)) return std::nullopt;
      pos += 9 + tableBytes(p[pos + 8]) + 1;
      uint64_t data = 0;
      skipChain(pos, data);
      return data;
    } else {
      return std::nullopt;
    }
  }
}

}  // namespace

// stb gives the first frame on the logical screen, which it keeps three
// times over while it decodes (the frame and the background as RGBA, one
// byte of history a pixel) and once more while it converts the frame to
// RGB: 12 bytes a pixel, all allocated and cleared before the first pixel
// is read. So the screen must fit that peak, and the first image's data
// must be able to cover it.
int DecodeGif(std::span<const uint8_t> file, BlockAllocator& out) {
  const uint8_t* p = file.data();
  if (file.size() < 6 || std::memcmp(p, "GIF8", 4) != 0 || (p[4] != '7' && p[4] != '9') || p[5] != 'a') {
    return kUnknownFormat;
  }
  if (file.size() < 13) return kCorruptData;
  const uint32_t width = dib::LoadU16(p + 6), height = dib::LoadU16(p + 8);
  if (width == 0 || height == 0) return kCorruptData;
  if (const int rc = CheckStbPeak(width, height, 12, 3); rc != kOk) return rc;
  const std::optional<uint64_t> data = GifFirstImageData(file);
  if (!data || uint64_t{width} * height > kGifPixelsPerDataByte * *data) return kCorruptData;
  return DecodeWithStb(file, static_cast<int32_t>(width), static_cast<int32_t>(height), out);
}

int DecodeTga(std::span<const uint8_t> file, BlockAllocator& out) {
  TgaHeader header;
  if (const int rc = ReadTgaHeader(file, header); rc != kOk) return rc;
  // stb reads the pixels as 1 to 4 bytes each and converts them to RGB
  // beside that buffer unless they are RGB already.
  if (!TgaDataComplete(file, header)) return kCorruptData;
  const uint64_t comp = header.stbChannels;
  if (const int rc = CheckStbPeak(header.width, header.height, comp == 3 ? 3 : comp + 3, 3); rc != kOk)
    return rc;
  return DecodeWithStb(file, static_cast<int32_t>(header.width), static_cast<int32_t>(header.height), out);
}

int DecodePnm(std::span<const uint8_t> file, BlockAllocator& out) {
  PnmHeader header;
  if (const int rc = ReadPnmHeader(file, header); rc != kOk) return rc;
  if (header.width > STBI_MAX_DIMENSIONS || header.height > STBI_MAX_DIMENSIONS) return kTooLarge;
  const uint32_t sampleBytes = header.maxValue > 255 ? 2 : 1;
  // stb holds the samples as the file has them; 8-bit grey is widened to
  // RGB beside them.
  const uint64_t stbBytes = uint64_t{header.channels} * sampleBytes;
  const uint64_t stbPeak = sampleBytes == 1 && header.channels == 1 ? stbBytes + 3 : stbBytes;
  const uint64_t dataBytes = header.width * header.height * stbBytes;
  if (!Fits(header.dataOffset, dataBytes, file.size())) return kCorruptData;
  if (const int rc = CheckStbPeak(header.width, header.height, stbPeak, sampleBytes == 1 ? 3 : stbBytes);
      rc != kOk)
    return rc;
  const auto width = static_cast<int32_t>(header.width), height = static_cast<int32_t>(header.height);
  // stb needs the header and the samples only, and takes an int length.
  const uint64_t needed = header.dataOffset + dataBytes;
  if (needed > INT_MAX) return kTooLarge;
  const std::span<const uint8_t> bytes = file.first(static_cast<size_t>(needed));
  const uint32_t maxValue = header.maxValue;

  if (sampleBytes == 1) return DecodeWithStb(bytes, width, height, out, maxValue);

  // stb copies 16-bit samples into its buffer byte for byte as the file
  // stores them, most significant byte first, so they are read back as
  // bytes. It widens grey to RGB only at 8 bits, so the file's own channels
  // are asked for and a grey sample serves all three.
  int x = 0, y = 0, channels = 0;
  StbPixels16 samples(stbi_load_16_from_memory(bytes.data(), static_cast<int>(needed), &x, &y, &channels, 0));
  if (!samples) return StbFailure();
  if (x != width || y != height || channels != static_cast<int>(header.channels)) return kCorruptData;
  const auto* s = reinterpret_cast<const uint8_t*>(samples.get());
  const bool grey = channels == 1;
  return MakeFromRgb(
      width, height,
      [s, maxValue, grey](size_t i) {
        const size_t at = 2 * (grey ? i / 3 : i);
        return ScaleSample(uint32_t{s[at]} << 8 | s[at + 1], maxValue);
      },
      out);
}

int EncodeTga(std::span<const uint8_t> block, std::vector<uint8_t>& file) {
  Source24 source;
  if (const int rc = source.Open(block); rc != kOk) return rc;
  const int32_t width = source.width(), height = source.height();
  // The header keeps sizes in 16 bits.
  if (width > 0xFFFF || height > 0xFFFF) return kTooLarge;
  uint8_t header[18] = {};
  header[2] = 2;  // uncompressed true colour
  dib::StoreU16(header + 12, static_cast<uint16_t>(width));
  dib::StoreU16(header + 14, static_cast<uint16_t>(height));
  header[16] = 24;
  header[17] = 0;  // no alpha bits, bottom row first
  const size_t rowBytes = static_cast<size_t>(width) * 3;
  file.reserve(file.size() + sizeof header + rowBytes * static_cast<size_t>(height));
  file.insert(file.end(), header, header + sizeof header);
  // TGA pixels are B,G,R like a DIB's, so each row goes out as it is.
  for (int32_t y = height - 1; y >= 0; --y) {
    const uint8_t* row = source.pixels().Row(y);
    file.insert(file.end(), row, row + rowBytes);
  }
  return kOk;
}

}  // namespace rastrum
