// The file formats of the imaging library, one decoder and (where the
// library writes the format) one encoder each, and the table that lists
// them. Each decoder makes one block in `out` and returns kOk or a failure
// value; each encoder appends a whole file to an empty `file` from a block
// it reads through Source24 or the validator.
//
// Codecs let std::bad_alloc through (the library's exports turn it into
// kOutOfMemory); only callbacks that run inside a C library's frames catch
// it, because an exception must not unwind through them.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "rastrum/portable/raster.h"

namespace rastrum {

// One format the library reads. DetectFormat, FormatForSaving, DecodeImage
// and EncodeImage read these rows; a new format is a row and its codec.
struct Codec {
  FileFormat format;
  const char* name;
  // Whether a file's first bytes are this format's. Rows are tried in
  // table order, so a format without a signature comes last.
  bool (*matches)(std::span<const uint8_t> file);
  // The extensions (lower case, without the dot) a save by name maps to
  // this format; only rows with an encoder have them.
  std::span<const std::string_view> extensions;
  int (*decode)(std::span<const uint8_t> file, BlockAllocator& out);
  // Null for a format the library does not write. Quality is 1..100; the
  // lossless formats ignore it.
  int (*encode)(std::span<const uint8_t> block, int quality, std::vector<uint8_t>& file);
  // The lowest quality at which a saved file gives back exactly the pixels
  // saved: 1 for a lossless format, above 100 for one that always loses.
  int losslessFrom;
};

// Every row, in the order detection tries them.
std::span<const Codec> Codecs();

// The row of a format, or null.
const Codec* CodecOf(FileFormat format);

// JPEG through libjpeg-turbo: baseline and progressive, grey, colour and
// CMYK/YCCK files give 24-bit blocks (CMYK through the file's own ICC
// profile with Little CMS when it has one); JFIF density becomes resolution.
int DecodeJpeg(std::span<const uint8_t> file, BlockAllocator& out);
int EncodeJpeg(std::span<const uint8_t> block, int quality, std::vector<uint8_t>& file);
// A large file decodes on the workers: one with restart markers at whole
// MCU rows in bands, another single-scan one with its entropy decoding on
// one thread and the rest on another. This is how many pieces a file's
// decode is split into at the current thread count (bands, 2 for the two
// sides, 1 for one piece; 0 for a file whose headers do not read). For
// tests and benchmarks.
int JpegDecodePieces(std::span<const uint8_t> file);
// A single-scan file without restart markers whose entropy decoding is
// most of the work has that decoding cut in two instead: a second decoder
// starts inside the data, and the first takes its MCUs from where the two
// meet. For tests: where the second starts, in hundredths of the data
// (0, the default: as each file's make-up suggests, or not at all), and
// whether the first waits for the second to finish (so that they surely
// meet); how many decodes so far met.
void SetJpegSplitPoint(int percent, bool bottomFirst = false);
uint64_t JpegSplitMeetings();

// PNG through libpng: every bit depth and colour type (16-bit channels
// reduced to 8; an alpha channel or tRNS gives a 32-bit block with alpha);
// pHYs in metres becomes resolution. A picture with alpha is saved RGBA.
int DecodePng(std::span<const uint8_t> file, BlockAllocator& out);
int EncodePng(std::span<const uint8_t> block, std::vector<uint8_t>& file);

// BMP: every header form and depth, RLE4 and RLE8; 1/4/8-bit files keep
// their palette. The encoder writes the block as it is behind a file header.
int DecodeBmp(std::span<const uint8_t> file, BlockAllocator& out);
int EncodeBmp(std::span<const uint8_t> block, std::vector<uint8_t>& file);

// GIF (first frame), TGA and PNM.
int DecodeGif(std::span<const uint8_t> file, BlockAllocator& out);
int DecodeTga(std::span<const uint8_t> file, BlockAllocator& out);
int DecodePnm(std::span<const uint8_t> file, BlockAllocator& out);
int EncodeTga(std::span<const uint8_t> block, std::vector<uint8_t>& file);

// WebP through libwebp: lossy, lossless, with alpha (a 32-bit block with
// alpha), the first frame of an animated file; saved lossy at the quality
// given, lossless at quality 100, with its alpha.
int DecodeWebp(std::span<const uint8_t> file, BlockAllocator& out);
int EncodeWebp(std::span<const uint8_t> block, int quality, std::vector<uint8_t>& file);

// TIFF through libtiff: the first page, strips or tiles, 1 to 16 bits a
// sample, grey, RGB, palette, CMYK (8-bit CMYK through its own ICC
// profile when it has one), YCbCr; no compression, LZW, Deflate, PackBits,
// JPEG or CCITT; a page with an alpha sample gives a 32-bit block with
// straight alpha. Saved Deflate-compressed as grey, palette, RGB or RGBA
// (unassociated alpha) as the block is.
int DecodeTiff(std::span<const uint8_t> file, BlockAllocator& out);
int EncodeTiff(std::span<const uint8_t> block, std::vector<uint8_t>& file);

// HEIC and AVIF through libheif (see heif_library.h for where it comes
// from): the primary image, upright (rotation and mirror applied), grids
// assembled, 10- and 12-bit samples scaled to 8; a picture with alpha
// gives a 32-bit block with straight alpha. kDecoderMissing when libheif
// cannot be loaded. Not written: the encoders are not ours to ship.
int DecodeHeif(std::span<const uint8_t> file, BlockAllocator& out);

// From now on the HEIC and AVIF decoder loads no library (one loaded
// already stays in use). For a program whose own folder is no place to
// load code from: the card player runs from wherever a card was put, where
// anyone could have put a libheif.dll beside it.
void ForbidLoadingHeifLibrary();

}  // namespace rastrum
