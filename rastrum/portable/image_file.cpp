// The codec table, and choosing a row of it: by content when reading, by
// file name when writing.
#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string_view>

#include "base/portable/dib_format.h"
#include "rastrum/portable/codecs.h"
#include "rastrum/portable/raster.h"

namespace rastrum {
namespace {

namespace dib = qb::dib;

bool StartsWith(std::span<const uint8_t> file, std::string_view prefix) {
  return file.size() >= prefix.size() && std::memcmp(file.data(), prefix.data(), prefix.size()) == 0;
}

bool IsPnmSpace(uint8_t c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// TGA has no signature, so a file is taken for one only when its 18-byte
// header reads as a sensible picture: a colour map present or not, a known
// image type, the depth that type allows, a size, no interleaving bits in
// the descriptor, and room for the id and colour map.
bool IsPlausibleTga(std::span<const uint8_t> file) {
  if (file.size() < 18) return false;
  const uint8_t* p = file.data();
  const uint8_t mapType = p[1], imageType = p[2], mapBits = p[7], bits = p[16], descriptor = p[17];
  if (mapType > 1 || (descriptor & 0xC0) != 0) return false;
  if (dib::LoadU16(p + 12) == 0 || dib::LoadU16(p + 14) == 0) return false;
  switch (imageType & ~8u) {  // 1, 2, 3 and their run-length forms 9, 10, 11
    case 1:  // colour-mapped: 8- or 16-bit indices into a map that is there
      if (mapType != 1 || (bits != 8 && bits != 16)) return false;
      break;
    case 2:  // true colour
      if (bits != 15 && bits != 16 && bits != 24 && bits != 32) return false;
      break;
    case 3:  // grey, possibly with alpha
      if (bits != 8 && bits != 16) return false;
      break;
    default:
      return false;
  }
  uint64_t mapBytes = 0;
  if (mapType == 1) {
    if (mapBits != 8 && mapBits != 15 && mapBits != 16 && mapBits != 24 && mapBits != 32) return false;
    mapBytes = uint64_t{dib::LoadU16(p + 5)} * ((mapBits + 7u) / 8);
  }
  return 18u + p[0] + mapBytes <= file.size();
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool IsJpeg(std::span<const uint8_t> file) {
  return file.size() >= 3 && file[0] == 0xFF && file[1] == 0xD8 && file[2] == 0xFF;
}

bool IsPng(std::span<const uint8_t> file) { return StartsWith(file, "\x89PNG\r\n\x1A\n"); }

bool IsBmp(std::span<const uint8_t> file) { return StartsWith(file, "BM"); }

bool IsGif(std::span<const uint8_t> file) { return StartsWith(file, "GIF87a") || StartsWith(file, "GIF89a"); }

bool IsPnm(std::span<const uint8_t> file) {
  return file.size() >= 3 && file[0] == 'P' && file[1] >= '1' && file[1] <= '6' && IsPnmSpace(file[2]);
}

// RIFF, a 32-bit size, then the WEBP form type.
bool IsWebp(std::span<const uint8_t> file) {
  return file.size() >= 12 && StartsWith(file, "RIFF") && std::memcmp(file.data() + 8, "WEBP", 4) == 0;
}

// Classic and BigTIFF, either byte order.
bool IsTiff(std::span<const uint8_t> file) {
  return StartsWith(file, std::string_view("II*\0", 4)) || StartsWith(file, std::string_view("MM\0*", 4)) ||
         StartsWith(file, std::string_view("II+\0", 4)) || StartsWith(file, std::string_view("MM\0+", 4));
}

// An ISO base media file whose leading ftyp box names, as its major or
// one of its compatible brands, one of `brands`.
bool HasBrand(std::span<const uint8_t> file, std::initializer_list<std::string_view> brands) {
  if (file.size() < 16 || std::memcmp(file.data() + 4, "ftyp", 4) != 0) return false;
  const uint32_t box = uint32_t{file[0]} << 24 | uint32_t{file[1]} << 16 | uint32_t{file[2]} << 8 | file[3];
  if (box < 16) return false;
  const size_t end = std::min<size_t>(box, file.size());
  auto named = [&](size_t at) {
    for (std::string_view brand : brands) {
      if (std::memcmp(file.data() + at, brand.data(), 4) == 0) return true;
    }
    return false;
  };
  if (named(8)) return true;  // the major brand; 12..15 is the minor version
  for (size_t at = 16; at <= end - 4; at += 4) {
    if (named(at)) return true;
  }
  return false;
}

// AV1 pictures and sequences. Tried before HEIC, as an AVIF file also
// names the general HEIF brands.
bool IsAvif(std::span<const uint8_t> file) { return HasBrand(file, {"avif", "avis"}); }

// HEVC pictures and sequences, and the general HEIF brands.
bool IsHeic(std::span<const uint8_t> file) {
  return HasBrand(file, {"heic", "heix", "heim", "heis", "hevc", "hevx", "hevm", "hevs", "mif1", "msf1"});
}

constexpr std::string_view kJpegExtensions[] = {"jpg", "jpeg", "jpe", "jfif"};
constexpr std::string_view kPngExtensions[] = {"png"};
constexpr std::string_view kBmpExtensions[] = {"bmp"};
constexpr std::string_view kTgaExtensions[] = {"tga"};
constexpr std::string_view kWebpExtensions[] = {"webp"};
constexpr std::string_view kTiffExtensions[] = {"tif", "tiff"};

// The lossless encoders have no use for the quality.
template <int (*Encode)(std::span<const uint8_t>, std::vector<uint8_t>&)>
int IgnoringQuality(std::span<const uint8_t> block, int, std::vector<uint8_t>& file) {
  return Encode(block, file);
}

constexpr Codec kCodecs[] = {
    {FileFormat::kJpeg, "JPEG", IsJpeg, kJpegExtensions, DecodeJpeg, EncodeJpeg, 101},
    {FileFormat::kPng, "PNG", IsPng, kPngExtensions, DecodePng, IgnoringQuality<EncodePng>, 1},
    {FileFormat::kBmp, "BMP", IsBmp, kBmpExtensions, DecodeBmp, IgnoringQuality<EncodeBmp>, 1},
    {FileFormat::kGif, "GIF", IsGif, {}, DecodeGif, nullptr, 1},
    {FileFormat::kPnm, "PNM", IsPnm, {}, DecodePnm, nullptr, 1},
    {FileFormat::kWebp, "WebP", IsWebp, kWebpExtensions, DecodeWebp, EncodeWebp, 100},
    {FileFormat::kTiff, "TIFF", IsTiff, kTiffExtensions, DecodeTiff, IgnoringQuality<EncodeTiff>, 1},
    // Read only: no encoder, so no extension to save by.
    {FileFormat::kAvif, "AVIF", IsAvif, {}, DecodeHeif, nullptr, 101},
    {FileFormat::kHeic, "HEIC", IsHeic, {}, DecodeHeif, nullptr, 101},
    // Last: without a signature, a TGA header could match almost anything.
    {FileFormat::kTga, "TGA", IsPlausibleTga, kTgaExtensions, DecodeTga, IgnoringQuality<EncodeTga>, 1},
};

}  // namespace

std::span<const Codec> Codecs() { return kCodecs; }

const Codec* CodecOf(FileFormat format) {
  for (const Codec& codec : kCodecs) {
    if (codec.format == format) return &codec;
  }
  return nullptr;
}

FileFormat DetectFormat(std::span<const uint8_t> file) {
  for (const Codec& codec : kCodecs) {
    if (codec.matches(file)) return codec.format;
  }
  return FileFormat::kUnknown;
}

FileFormat FormatForSaving(std::string_view path) {
  // The extension belongs to the last path component; a dot in a folder's
  // name says nothing about the file.
  const size_t separator = path.find_last_of("/\\");
  const std::string_view name = separator == std::string_view::npos ? path : path.substr(separator + 1);
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return FileFormat::kUnknown;
  const std::string_view ext = name.substr(dot + 1);
  for (const Codec& codec : kCodecs) {
    if (!codec.encode) continue;
    for (std::string_view known : codec.extensions) {
      if (EqualsNoCase(ext, known)) return codec.format;
    }
  }
  return FileFormat::kUnknown;
}

int DecodeImage(std::span<const uint8_t> file, BlockAllocator& out) {
  if (file.empty()) return kCorruptData;
  for (const Codec& codec : kCodecs) {
    if (codec.matches(file)) return codec.decode(file, out);
  }
  return kUnknownFormat;
}

int EncodeImage(std::span<const uint8_t> block, FileFormat format, int quality, std::vector<uint8_t>& file) {
  if (!file.empty() || quality < 1 || quality > 100) return kBadArgument;
  const Codec* codec = CodecOf(format);
  if (!codec || !codec->encode) return kUnknownFormat;
  const int rc = codec->encode(block, quality, file);
  // A failed encoder may have begun the file: leave nothing behind.
  if (rc != kOk) file.clear();
  return rc;
}

}  // namespace rastrum
