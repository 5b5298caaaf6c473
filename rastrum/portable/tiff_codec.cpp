// TIFF decoding and encoding on libtiff, from and into memory.
//
// Reading takes the first page, whatever its layout (strips or tiles, 1 to
// 16 bits a sample, grey, RGB, palette, CMYK or YCbCr, any compression the
// library was built with), through libtiff's RGBA reader, a band of rows at
// a time, into a 24-bit block, or a 32-bit one with straight alpha when the
// page has an alpha sample (associated alpha is divided out). Writing keeps
// the block's kind: a grey palette becomes a grey picture, another palette
// a palette picture of the same depth, a picture with alpha 8-bit RGBA with
// unassociated alpha, everything else 8-bit RGB; always Deflate-compressed.
//
// libtiff is C: the callbacks below never let an exception out, and its
// messages go to a handler of ours instead of the console.
#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <type_traits>

#include <tiffio.h>

#include "base/portable/dib_format.h"
#include "base/portable/work_pool.h"
#include "rastrum/portable/alpha.h"
#include "rastrum/portable/block_io.h"
#include "rastrum/portable/cmyk_profile.h"
#include "rastrum/portable/codecs.h"

namespace rastrum {

namespace {

namespace dib = qb::dib;

// The largest single allocation libtiff may make for a file of ours (a
// strip or tile buffer, a directory array).
constexpr tmsize_t kMaxLibraryAllocation = tmsize_t{256} << 20;
// Rows of RGBA pixels read at a time, at least.
constexpr uint32_t kBandRows = 64;

// The file libtiff reads or writes: a span being read, or a vector being
// written at any offset.
struct MemoryFile {
  const uint8_t* data = nullptr;
  uint64_t size = 0;
  uint64_t pos = 0;
  std::vector<uint8_t>* out = nullptr;
  bool outOfMemory = false;
};

MemoryFile& FileOf(thandle_t h) { return *static_cast<MemoryFile*>(h); }

tmsize_t ReadProc(thandle_t h, void* buffer, tmsize_t n) {
  MemoryFile& f = FileOf(h);
  if (n <= 0 || f.pos >= f.size) return 0;
  const uint64_t count = std::min<uint64_t>(static_cast<uint64_t>(n), f.size - f.pos);
  std::memcpy(buffer, f.data + f.pos, static_cast<size_t>(count));
  f.pos += count;
  return static_cast<tmsize_t>(count);
}

tmsize_t WriteProc(thandle_t h, void* buffer, tmsize_t n) {
  MemoryFile& f = FileOf(h);
  if (!f.out || n < 0) return -1;
  const uint64_t end = f.pos + static_cast<uint64_t>(n);
  if (end > 0x7FFFFFFF) return -1;  // no file of ours outgrows a 32-bit process
  try {
    if (end > f.out->size()) f.out->resize(static_cast<size_t>(end));
  } catch (const std::bad_alloc&) {
    f.outOfMemory = true;
    return -1;
  } catch (const std::length_error&) {
    f.outOfMemory = true;
    return -1;
  }
  std::memcpy(f.out->data() + f.pos, buffer, static_cast<size_t>(n));
  f.pos = end;
  f.size = f.out->size();
  return n;
}

// A read-only file refuses writes.
tmsize_t NoWriteProc(thandle_t, void*, tmsize_t) { return -1; }

toff_t SeekProc(thandle_t h, toff_t offset, int whence) {
  MemoryFile& f = FileOf(h);
  uint64_t base = 0;
  if (whence == SEEK_CUR) base = f.pos;
  else if (whence == SEEK_END) base = f.size;
  const uint64_t to = base + offset;
  if (to < base) return static_cast<toff_t>(-1);
  f.pos = to;
  return to;
}

int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t h) { return FileOf(h).size; }
int NoMapProc(thandle_t, void**, toff_t*) { return 0; }
void NoUnmapProc(thandle_t, void*, toff_t) {}

// libtiff's messages are for a console; a library has none.
int QuietHandler(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TiffCloser {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

struct OptionsFreer {
  void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

TiffHandle Open(MemoryFile& file, const char* mode) {
  std::unique_ptr<TIFFOpenOptions, OptionsFreer> options(TIFFOpenOptionsAlloc());
  if (!options) return nullptr;
  TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kMaxLibraryAllocation);
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), QuietHandler, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), QuietHandler, nullptr);
  // "m": no mapping, every read goes through ReadProc.
  return TiffHandle(TIFFClientOpenExt("memory", mode, &file, ReadProc, file.out ? WriteProc : NoWriteProc,
                                      SeekProc, CloseProc, SizeProc, NoMapProc, NoUnmapProc, options.get()));
}

int32_t PelsPerMeter(float resolution, uint16_t unit) {
  double perMeter = resolution;
  if (unit == RESUNIT_INCH) perMeter *= 10000.0 / 254.0;
  else if (unit == RESUNIT_CENTIMETER) perMeter *= 100.0;
  else return 0;
  if (!(perMeter > 0) || perMeter > 0x7FFFFFFF) return 0;
  return static_cast<int32_t>(perMeter + 0.5);
}

// Every strip or tile must lie inside the file: a directory that claims
// more than the file holds is refused before anything is allocated. PackBits
// cannot expand more than 64 to 1 (two bytes give at most 128), so strips
// that hold too few bytes for the page they claim are refused too.
bool StrilesInsideFile(TIFF* tif, uint64_t fileSize, uint32_t width, uint32_t height) {
  const uint32_t count = TIFFIsTiled(tif) ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
  if (count == 0 || count > fileSize) return false;
  uint64_t total = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t offset = TIFFGetStrileOffset(tif, i), bytes = TIFFGetStrileByteCount(tif, i);
    if (offset > fileSize || bytes > fileSize - offset) return false;
    total += bytes;
  }
  uint16_t compression = COMPRESSION_NONE, bits = 1, samples = 1;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  if (compression != COMPRESSION_PACKBITS) return true;
  const uint64_t pageBytes = uint64_t{width} * height * bits * samples / 8;
  return total * 64 >= pageBytes;
}

// libtiff's RGBA reader with the inks of 8-bit CMYK stored together sent
// through the file's CMYK profile instead of its plain formula. The reader
// comes first, so that its put routine finds the rest from its pointer.
struct ProfiledReader {
  TIFFRGBAImage image;
  CmykTransform transform;
  uint8_t* cmyk;  // a row of the width each, in the caller's vectors
  uint8_t* bgr;
};
static_assert(std::is_standard_layout_v<ProfiledReader>);

void PutProfiledCmyk(TIFFRGBAImage* image, uint32_t* cp, uint32_t, uint32_t, uint32_t w, uint32_t h,
                     int32_t fromskew, int32_t toskew, unsigned char* pp) {
  auto* reader = reinterpret_cast<ProfiledReader*>(image);
  const int samples = image->samplesperpixel;
  for (; h > 0; --h) {
    for (uint32_t x = 0; x < w; ++x) std::memcpy(reader->cmyk + 4 * x, pp + size_t{x} * samples, 4);
    CmykRowThroughProfile(reader->transform, reader->cmyk, reader->bgr, w);
    for (uint32_t x = 0; x < w; ++x) {
      const uint8_t* p = &reader->bgr[3 * x];
      *cp++ = uint32_t{p[2]} | uint32_t{p[1]} << 8 | uint32_t{p[0]} << 16 | 0xFF000000u;
    }
    cp += toskew;
    pp += (static_cast<int64_t>(w) + fromskew) * samples;
  }
}

// 8-bit RGB with unassociated alpha, its samples together, as they are:
// libtiff's own routine premultiplies them, and dividing again would not
// give back the colours a file saved.
void PutStraightRgba(TIFFRGBAImage* image, uint32_t* cp, uint32_t, uint32_t, uint32_t w, uint32_t h,
                     int32_t fromskew, int32_t toskew, unsigned char* pp) {
  const int samples = image->samplesperpixel;
  for (; h > 0; --h) {
    for (uint32_t x = 0; x < w; ++x, pp += samples)
      *cp++ = uint32_t{pp[0]} | uint32_t{pp[1]} << 8 | uint32_t{pp[2]} << 16 | uint32_t{pp[3]} << 24;
    cp += toskew;
    pp += static_cast<int64_t>(fromskew) * samples;
  }
}

// Whether the reader gives straight alpha: unassociated 8-bit RGBA through
// PutStraightRgba; libtiff premultiplies other RGB pages with unassociated
// alpha, and associated alpha is premultiplied in the file.
bool UseStraightAlpha(TIFF* tif, TIFFRGBAImage& image) {
  uint16_t photometric = 0;
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
  if (image.alpha == EXTRASAMPLE_UNASSALPHA && photometric == PHOTOMETRIC_RGB && image.bitspersample == 8 &&
      image.samplesperpixel >= 4 && image.isContig && image.put.contig) {
    image.put.contig = PutStraightRgba;
    return true;
  }
  return image.alpha == EXTRASAMPLE_UNASSALPHA && photometric != PHOTOMETRIC_RGB;
}

// Sends the reader's CMYK through the file's profile, or the press profile
// when it has none, when it is 8-bit CMYK with its inks together; `rows`
// holds its two rows.
void UseProfile(TIFF* tif, ProfiledReader& reader, uint32_t width, std::vector<uint8_t>& rows) {
  uint16_t photometric = 0, inkSet = INKSET_CMYK;
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
  TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &inkSet);
  uint32_t iccBytes = 0;
  void* icc = nullptr;
  if (photometric != PHOTOMETRIC_SEPARATED || inkSet != INKSET_CMYK || reader.image.bitspersample != 8 ||
      reader.image.samplesperpixel < 4 || !reader.image.isContig || !reader.image.put.contig)
    return;
  if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &iccBytes, &icc) && icc)
    reader.transform = OpenCmykTransform(std::span(static_cast<const uint8_t*>(icc), iccBytes), false);
  // No CMYK profile of its own: the inks of a standard press.
  if (!reader.transform) reader.transform = OpenPressTransform(false);
  if (!reader.transform) return;
  rows.resize(size_t{width} * 7);
  reader.cmyk = rows.data();
  reader.bgr = rows.data() + size_t{width} * 4;
  reader.image.put.contig = PutProfiledCmyk;
}

// Whether the page is one of the common layouts the direct reader takes:
// 8-bit RGB or black-is-zero grey in strips, samples together, no extra
// samples, compressed by a codec libtiff decodes strip by strip without
// colour conversion of its own; or JPEG-compressed YCbCr, which libjpeg
// turns into RGB as it decodes (as the general reader has it do).
bool ReadsDirectly(TIFF* tif) {
  uint16_t bits = 0, samples = 0, photometric = 0, planar = PLANARCONFIG_CONTIG, compression = 0, extras = 0;
  uint16_t* extraTypes = nullptr;
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extras, &extraTypes);
  if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) || TIFFIsTiled(tif) || bits != 8 || extras != 0) return false;
  if (photometric == PHOTOMETRIC_YCBCR && samples == 3 && planar == PLANARCONFIG_CONTIG &&
      compression == COMPRESSION_JPEG)
    return true;
  if (!((photometric == PHOTOMETRIC_RGB && samples == 3 && planar == PLANARCONFIG_CONTIG) ||
        (photometric == PHOTOMETRIC_MINISBLACK && samples == 1)))
    return false;
  switch (compression) {
    case COMPRESSION_NONE:
    case COMPRESSION_LZW:
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
    case COMPRESSION_PACKBITS:
    case COMPRESSION_JPEG:
      return true;
    default:
      return false;
  }
}

// The direct reader: each strip decoded by libtiff straight from the file
// and its samples put into the block's rows (rows as stored, as the general
// reader gives them). The strips are shared among the workers, each with a
// handle of its own on the same bytes; the pixels are the general reader's.
int DecodeStrips(std::span<const uint8_t> file, TIFF* first, uint32_t width, uint32_t height, int32_t xPels,
                 int32_t yPels, BlockAllocator& out) {
  uint16_t samples = 1, photometric = 0;
  uint32_t rowsPerStrip = height;
  TIFFGetFieldDefaulted(first, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetField(first, TIFFTAG_PHOTOMETRIC, &photometric);
  // JPEG-compressed YCbCr comes out of libjpeg as RGB, each handle asked.
  const bool toRgb = photometric == PHOTOMETRIC_YCBCR;
  if (toRgb && !TIFFSetField(first, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB)) return kCorruptData;
  TIFFGetFieldDefaulted(first, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
  rowsPerStrip = std::clamp<uint32_t>(rowsPerStrip, 1, height);
  const uint32_t strips = (height + rowsPerStrip - 1) / rowsPerStrip;
  if (TIFFNumberOfStrips(first) < strips) return kCorruptData;
  const size_t stripBytes = size_t{rowsPerStrip} * width * samples;
  NewBlock block;
  if (const int made = MakeBlock24(out, static_cast<int32_t>(width), static_cast<int32_t>(height), xPels, yPels, block);
      made != kOk)
    return made;
  std::atomic<bool> failed{false};
  // About a megapixel's worth of rows a range, so that small pictures stay
  // on the caller's thread with the handle already open.
  const int64_t grain = std::max<int64_t>(1, qb::work::RowGrain(width, height) / rowsPerStrip);
  qb::work::ForEachRange(strips, grain, [&](int64_t begin, int64_t end) {
    MemoryFile memory;
    memory.data = file.data();
    memory.size = file.size();
    TiffHandle own;
    TIFF* tif = first;
    if (begin != 0) {
      own = Open(memory, "rm");
      tif = own.get();
      if (tif && toRgb && !TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB)) tif = nullptr;
    }
    std::vector<uint8_t> strip(stripBytes);
    for (int64_t s = begin; s < end && tif && !failed; ++s) {
      const uint32_t top = static_cast<uint32_t>(s) * rowsPerStrip;
      const uint32_t rows = std::min(rowsPerStrip, height - top);
      const tmsize_t want = static_cast<tmsize_t>(size_t{rows} * width * samples);
      if (TIFFReadEncodedStrip(tif, static_cast<uint32_t>(s), strip.data(), want) != want) {
        failed = true;
        break;
      }
      for (uint32_t r = 0; r < rows; ++r) {
        const uint8_t* from = strip.data() + size_t{r} * width * samples;
        uint8_t* to = block.pixels.Row(static_cast<int32_t>(top + r));
        if (samples == 3) {
          for (uint32_t x = 0; x < width; ++x, from += 3, to += 3) {
            to[0] = from[2];
            to[1] = from[1];
            to[2] = from[0];
          }
        } else {
          for (uint32_t x = 0; x < width; ++x, to += 3) to[0] = to[1] = to[2] = from[x];
        }
      }
    }
    if (!tif) failed = true;
  });
  if (!failed) return kOk;
  // A block that did not get its whole picture must not pass for one.
  std::fill_n(block.block, dib::kInfoHeaderSize, uint8_t{0});
  return kCorruptData;
}

int DecodeFirstPage(std::span<const uint8_t> file, TIFF* tif, BlockAllocator& out) {
  const uint64_t fileSize = file.size();
  uint32_t width = 0, height = 0;
  if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height) ||
      width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF)
    return kCorruptData;
  // A band covers whole strips or tiles, so each is decoded once.
  uint32_t unit = 1;
  if (TIFFIsTiled(tif)) TIFFGetField(tif, TIFFTAG_TILELENGTH, &unit);
  else TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &unit);
  unit = std::clamp<uint32_t>(unit, 1, height);
  const uint32_t band = std::min(height, unit * ((kBandRows + unit - 1) / unit));
  const uint64_t chunk = TIFFIsTiled(tif) ? TIFFTileSize64(tif) : TIFFStripSize64(tif);
  const uint64_t working = uint64_t{band} * width * 4 + chunk;
  if (const int peak = CheckDecodePeak(static_cast<int32_t>(width), static_cast<int32_t>(height), working, working);
      peak != kOk)
    return peak;
  if (!StrilesInsideFile(tif, fileSize, width, height)) return kCorruptData;

  float xRes = 0, yRes = 0;
  uint16_t resUnit = RESUNIT_INCH;
  TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &resUnit);
  const int32_t xPels = TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xRes) ? PelsPerMeter(xRes, resUnit) : 0;
  const int32_t yPels = TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yRes) ? PelsPerMeter(yRes, resUnit) : 0;
  if (ReadsDirectly(tif)) return DecodeStrips(file, tif, width, height, xPels, yPels, out);

  char message[1024];
  ProfiledReader reader{};
  std::vector<uint8_t> profiledRows;
  struct Closer {
    ProfiledReader* reader;
    ~Closer() { CloseCmykTransform(reader->transform); }
  } closer{&reader};
  TIFFRGBAImage& image = reader.image;
  if (!TIFFRGBAImageOK(tif, message) || !TIFFRGBAImageBegin(&image, tif, 0, message)) return kCorruptData;
  struct Ender {
    TIFFRGBAImage* image;
    ~Ender() { TIFFRGBAImageEnd(image); }
  } ender{&image};
  // The rows as stored, as every other decoder gives them: the file's
  // Orientation tag is the picture's EXIF orientation, which AutoOrient
  // applies whole (libtiff's own handling only flips, even for the four
  // orientations that turn the picture).
  image.req_orientation = image.orientation;
  UseProfile(tif, reader, width, profiledRows);
  const bool alpha = image.alpha != 0;
  const bool straight = alpha && UseStraightAlpha(tif, image);

  std::vector<uint32_t> raster(static_cast<size_t>(band) * width);
  NewBlock block;
  const int made = alpha ? MakeBlock32(out, static_cast<int32_t>(width), static_cast<int32_t>(height), xPels, yPels, block)
                         : MakeBlock24(out, static_cast<int32_t>(width), static_cast<int32_t>(height), xPels, yPels, block);
  if (made != kOk) return made;
  for (uint32_t top = 0; top < height; top += band) {
    const uint32_t rows = std::min(band, height - top);
    image.row_offset = static_cast<int>(top);
    image.col_offset = 0;
    if (!TIFFRGBAImageGet(&image, raster.data(), width, rows)) {
      // A block that did not get its whole picture must not pass for one.
      std::fill_n(block.block, dib::kInfoHeaderSize, uint8_t{0});
      return kCorruptData;
    }
    for (uint32_t r = 0; r < rows; ++r) {
      const uint32_t* from = raster.data() + static_cast<size_t>(r) * width;
      uint8_t* to = block.pixels.Row(static_cast<int32_t>(top + r));
      if (!alpha) {
        for (uint32_t x = 0; x < width; ++x, to += 3) {
          to[0] = static_cast<uint8_t>(TIFFGetB(from[x]));
          to[1] = static_cast<uint8_t>(TIFFGetG(from[x]));
          to[2] = static_cast<uint8_t>(TIFFGetR(from[x]));
        }
        continue;
      }
      for (uint32_t x = 0; x < width; ++x, to += 4) {
        const uint32_t a = TIFFGetA(from[x]);
        const uint32_t c[3] = {TIFFGetB(from[x]), TIFFGetG(from[x]), TIFFGetR(from[x])};
        for (int k = 0; k < 3; ++k)
          to[k] = static_cast<uint8_t>(straight ? c[k] : a == 0 ? 0 : (std::min(c[k], a) * 255 + a / 2) / a);
        to[3] = static_cast<uint8_t>(a);
      }
    }
  }
  return kOk;
}

// Whether a colour table (blue, green, red entries of entrySize bytes) is
// the grey ramp of its depth: entry i is i * 255 / (2^bits - 1) in every
// channel, for every one of 2^bits entries.
bool IsGreyRamp(std::span<const uint8_t> table, uint32_t entrySize, uint16_t bits) {
  const uint32_t entries = 1u << bits;
  if (table.size() != entries * entrySize) return false;
  for (uint32_t i = 0; i < entries; ++i) {
    const uint8_t level = static_cast<uint8_t>(i * 255 / (entries - 1));
    const uint8_t* e = table.data() + i * entrySize;
    if (e[0] != level || e[1] != level || e[2] != level) return false;
  }
  return true;
}

void SetResolution(TIFF* tif, int32_t xPels, int32_t yPels) {
  if (xPels <= 0 || yPels <= 0) return;
  TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER);
  TIFFSetField(tif, TIFFTAG_XRESOLUTION, static_cast<float>(xPels / 100.0));
  TIFFSetField(tif, TIFFTAG_YRESOLUTION, static_cast<float>(yPels / 100.0));
}

// The size and resolution of what is written.
struct PageSize {
  int32_t width, height, xPels, yPels;
};

void SetCommonFields(TIFF* tif, const PageSize& page, uint16_t bits, uint16_t samples, uint16_t photometric) {
  const int32_t width = page.width, height = page.height;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
  // Byte-wise differences help Deflate on photographs and grey ramps.
  if (bits == 8 && photometric != PHOTOMETRIC_PALETTE) TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
  SetResolution(tif, page.xPels, page.yPels);
}

// A 1-, 4- or 8-bit uncompressed palette block: its indices as they are
// (DIB and TIFF both pack pixels from the high bit), as grey levels when
// the table is the grey ramp, otherwise with the table as colour map.
int WritePalette(TIFF* tif, std::span<const uint8_t> block, const dib::DibLayout& layout, const PageSize& page) {
  const uint16_t bits = layout.bitCount;
  const uint32_t entrySize = layout.colorEntrySize;
  const std::span<const uint8_t> table =
      block.subspan(layout.colorTableOffset, layout.colorTableEntries * entrySize);
  const bool grey = IsGreyRamp(table, entrySize, bits);
  SetCommonFields(tif, page, bits, 1, grey ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_PALETTE);
  if (!grey) {
    const uint32_t entries = 1u << bits;
    std::vector<uint16_t> red(entries), green(entries), blue(entries);
    for (uint32_t i = 0; i < layout.colorTableEntries && i < entries; ++i) {
      const uint8_t* e = table.data() + i * entrySize;
      blue[i] = static_cast<uint16_t>(e[0] * 257);
      green[i] = static_cast<uint16_t>(e[1] * 257);
      red[i] = static_cast<uint16_t>(e[2] * 257);
    }
    TIFFSetField(tif, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
  }
  const dib::ConstImageView pixels = dib::PixelsOf(block.data(), layout);
  const size_t rowBytes = (static_cast<size_t>(layout.width) * bits + 7) / 8;
  std::vector<uint8_t> row(rowBytes);
  for (int32_t y = 0; y < pixels.height(); ++y) {
    std::memcpy(row.data(), pixels.Row(y), rowBytes);
    if (TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0) < 0) return kCorruptData;
  }
  return kOk;
}

// Blue, green, red (and alpha) rows as RGB (RGBA) samples.
int WriteRgb(TIFF* tif, const dib::ConstImageView& pixels, bool alpha, const PageSize& page) {
  const unsigned samples = alpha ? 4 : 3;
  SetCommonFields(tif, page, 8, static_cast<uint16_t>(samples), PHOTOMETRIC_RGB);
  if (alpha) {
    const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
  }
  std::vector<uint8_t> row(static_cast<size_t>(pixels.width()) * samples);
  for (int32_t y = 0; y < pixels.height(); ++y) {
    const uint8_t* from = pixels.Row(y);
    for (size_t i = 0; i < row.size(); i += samples) {
      row[i] = from[i + 2];
      row[i + 1] = from[i + 1];
      row[i + 2] = from[i];
      if (alpha) row[i + 3] = from[i + 3];
    }
    if (TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0) < 0) return kCorruptData;
  }
  return kOk;
}

}  // namespace

int DecodeTiff(std::span<const uint8_t> file, BlockAllocator& out) {
  if (file.size() < 8) return kCorruptData;
  MemoryFile memory;
  memory.data = file.data();
  memory.size = file.size();
  TiffHandle tif = Open(memory, "rm");
  if (!tif) return kCorruptData;
  return DecodeFirstPage(file, tif.get(), out);
}

int EncodeTiff(std::span<const uint8_t> block, std::vector<uint8_t>& file) {
  const std::optional<AlphaRows> withAlpha = OpenAlpha(block);
  Source24 source;
  if (!withAlpha) {
    if (const int opened = source.Open(block); opened != kOk) return opened;
  }
  const PageSize page = withAlpha ? PageSize{withAlpha->pixels.width(), withAlpha->pixels.height(),
                                             withAlpha->xPelsPerMeter, withAlpha->yPelsPerMeter}
                                  : PageSize{source.width(), source.height(), source.xPelsPerMeter(),
                                             source.yPelsPerMeter()};
  dib::DibLayout layout;
  const bool palette = dib::Validate(block, dib::kAllDepths, layout) == dib::DibStatus::kOk &&
                       layout.bitCount <= 8 && layout.compression == dib::kBiRgb;
  MemoryFile memory;
  memory.out = &file;
  TiffHandle tif = Open(memory, "wm");
  if (!tif) return kOutOfMemory;
  int rc = palette ? WritePalette(tif.get(), block, layout, page)
                   : WriteRgb(tif.get(), withAlpha ? withAlpha->pixels : source.pixels(), withAlpha.has_value(), page);
  if (rc == kOk && !TIFFWriteDirectory(tif.get())) rc = kCorruptData;
  tif.reset();
  if (memory.outOfMemory) return kOutOfMemory;
  return rc;
}

}  // namespace rastrum
