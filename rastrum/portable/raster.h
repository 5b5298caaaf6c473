// The imaging library's portable core: decoding, encoding and pixel work
// on packed DIBs held in plain memory. No Windows headers; the DLL shell
// moves global blocks in and out and calls these functions.
//
// A packed DIB here is what the server calls a block: a BITMAPINFOHEADER,
// the colour table if any, then the pixel rows (bottom-up unless the height
// is negative), each row padded to 4 bytes. Input blocks are read through
// the validator of base/portable/dib_format.h against the span's size, so a
// header that claims more than the span holds is refused, never overread.
//
// Every function that makes a picture writes one new block into a
// BlockAllocator and returns kOk (0), or one of the negative failure values
// of rastrum_errors.h; on failure nothing usable is left in the allocator.
// Unless a function says otherwise, a new block is a 24-bit bottom-up
// packed DIB with a 40-byte header and no colour table, its resolution
// fields copied from the source.
//
// Transparency. A picture with alpha is a 32-bit BI_RGB bottom-up block
// with a 40-byte header whose pixels are blue, green, red, alpha, the
// alpha straight (not premultiplied): dib::CarriesAlpha in
// base/portable/dib_format.h, which also states the rule that keeps
// Windows' own 32-bit blocks opaque (a block whose fourth bytes are all 0
// has no alpha). The decoders make one only for a file with an alpha
// channel or a transparent colour (PNG, WebP, TIFF); a 32-bit BMP file
// still gives 24 bits. Operations that know transparency keep it (Resize,
// Rotate, Blur, AddFrame, AddPic, and the PNG, WebP and TIFF encoders, as
// each says); everything else reads such a picture flattened onto white,
// as it looks on a white page (Source24), and so do the JPEG, BMP and TGA
// encoders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "rastrum/portable/rastrum_errors.h"

namespace rastrum {

constexpr int kOk = 0;

// Storage for the one block an operation makes. Allocate is called at most
// once per operation with the block's full size; it returns that many
// writable bytes (contents unspecified) or null when out of memory.
class BlockAllocator {
 public:
  virtual ~BlockAllocator() = default;
  virtual uint8_t* Allocate(size_t bytes) = 0;
};

// An allocator over a std::vector, for tests, benchmarks and temporaries.
class VectorAllocator final : public BlockAllocator {
 public:
  uint8_t* Allocate(size_t bytes) override;
  std::vector<uint8_t> block;
};

enum class FileFormat { kUnknown, kJpeg, kPng, kBmp, kGif, kTga, kPnm, kWebp, kTiff, kHeic, kAvif };

// The format of a file's content, whatever its name says.
FileFormat DetectFormat(std::span<const uint8_t> file);

// The format a file name asks for when saving, by its extension in any
// case: .jpg .jpeg .jpe .jfif, .png, .bmp, .tga, .webp, .tif .tiff;
// kUnknown otherwise.
FileFormat FormatForSaving(std::string_view path);

// Decodes a whole file held in memory. JPEG (baseline and progressive),
// PNG (every depth; alpha or a transparent colour gives a 32-bit block
// with alpha, as WebP and TIFF with alpha do), BMP (1, 4, 8, 16, 24, 32 bits, RLE4 and
// RLE8: 1/4/8-bit files give palette blocks with their colour table), GIF
// (first frame), TGA, PNM, WebP (the first frame of an animation) and TIFF
// (the first page). The file's resolution goes into
// biXPelsPerMeter/biYPelsPerMeter where the format carries it. A picture
// whose block would not fit a 32-bit process gives kTooLarge.
int DecodeImage(std::span<const uint8_t> file, BlockAllocator& out);

// Encodes a block as a whole file in the given format; quality (1..100)
// is used by the lossy formats (JPEG; WebP, lossless at 100), kBadArgument
// outside that range.
// BMP keeps the block as it is, palette included (a picture with alpha
// flattened onto white, 24 bits); PNG, WebP and TIFF keep a picture's
// alpha; the other formats take palette, 16- and 32-bit blocks converted
// to 24 bits, a picture with alpha flattened onto white. The file bytes are
// appended to an empty `file`.
int EncodeImage(std::span<const uint8_t> block, FileFormat format, int quality, std::vector<uint8_t>& file);

// Resize to width x height (each 1 or more). Mode 0: high quality
// (Lanczos-3, stretched when shrinking so that fine detail turns grey
// rather than into false patterns); mode 1: fast (for thumbnails). The
// same bytes on any number of threads. Any source depth. A picture with alpha gives one with
// alpha, filtered premultiplied so that the colours of transparent pixels
// do not bleed into the edges.
int Resize(std::span<const uint8_t> block, int32_t width, int32_t height, int32_t mode,
           BlockAllocator& out);

// Rotates clockwise as seen by angle degrees. Multiples of 90 are exact;
// other angles interpolate onto a canvas enlarged to hold the whole
// picture, the uncovered corners white; a picture with alpha gives one
// with alpha, its uncovered corners transparent.
int Rotate(std::span<const uint8_t> block, int32_t angle, BlockAllocator& out);

// Blurs with a level from 1 (barely visible) to 99 (strong); the cost does
// not grow with the level. A picture with alpha gives one with alpha,
// blurred premultiplied (its edges fade into transparency).
int Blur(std::span<const uint8_t> block, int32_t level, BlockAllocator& out);

// Lays each given frame picture (an empty span: none), stretched to the
// source's size, over a copy of the source; in a frame picture the colour
// of its centre pixel is transparent. frame2 is laid after frame1. A source
// with alpha keeps it where no frame covers it; what a frame covers is
// opaque. A frame picture with alpha lets the photo through by its alpha
// (bilinear, premultiplied) instead of by its centre colour.
int AddFrame(std::span<const uint8_t> source, std::span<const uint8_t> frame1,
             std::span<const uint8_t> frame2, BlockAllocator& out);

// Lays overlay with its top-left at (x, y), counted from the base's
// top-left as seen, over a copy of base, each pixel blended by the grey
// value of mask at the same place (the mask stretched to the overlay's size
// when they differ; 255 all overlay, 0 all base, rounded), clipped to the
// base. A mask with alpha gives its alpha as the grey value. An empty
// overlay gives an unchanged copy; an empty mask lays the overlay opaque,
// or by its own alpha when it has alpha. A base with alpha gives a result
// with alpha: the overlay laid over it as over a transparent page.
int AddPic(int32_t x, int32_t y, std::span<const uint8_t> base, std::span<const uint8_t> overlay,
           std::span<const uint8_t> mask, BlockAllocator& out);

// Turns a block into grey in place (ITU-R BT.601 luma in every channel;
// palette blocks have their table turned grey). Returns kOk or a failure.
int ToGray(std::span<uint8_t> block);

}  // namespace rastrum
