#include "metadata/portable/jpeg_splice.h"

#include <cstring>
#include <new>
#include <optional>

namespace qb::exif {

namespace {

size_t DeclaredLength(std::span<const uint8_t> bytes) {
  return bytes.size() < 2 ? 0 : (static_cast<size_t>(bytes[0]) << 8) | bytes[1];
}

constexpr uint16_t kTagExifIfd = 0x8769;
constexpr uint16_t kTagPixelX = 0xA002;
constexpr uint16_t kTagPixelY = 0xA003;
constexpr uint16_t kTagThumbnailOffset = 0x0201;
constexpr uint16_t kTagThumbnailLength = 0x0202;
constexpr uint16_t kFormatShort = 3;
constexpr uint16_t kFormatLong = 4;

// Writes a 16- or 32-bit value in the block's byte order; false outside it.
bool PutValue(const ExifBytes& tiff, uint64_t offset, uint32_t value, int bytes) {
  if (!tiff.Holds(offset, static_cast<uint64_t>(bytes))) return false;
  for (int i = 0; i < bytes; ++i) {
    const int shift = 8 * (tiff.bigEndian() ? bytes - 1 - i : i);
    tiff.Put(offset + static_cast<uint64_t>(i), static_cast<uint8_t>(value >> shift));
  }
  return true;
}

// The entry count of the directory at `dir` when all its entries and its
// next-directory link lie inside the block.
std::optional<uint16_t> DirectoryEntries(const ExifBytes& tiff, uint32_t dir) {
  const std::optional<uint16_t> count = tiff.U16(dir);
  if (!count || !tiff.Holds(uint64_t{dir} + 2, uint64_t{12} * *count + 4)) return std::nullopt;
  return count;
}

// The value of a one-element SHORT or LONG entry.
std::optional<uint32_t> WholeValue(const ExifBytes& tiff, uint64_t entry) {
  const uint16_t format = tiff.U16(entry + 2).value_or(0);
  if (tiff.U32(entry + 4) != std::optional<uint32_t>(1)) return std::nullopt;
  if (format == kFormatShort) return tiff.U16(entry + 8);
  if (format == kFormatLong) return tiff.U32(entry + 8);
  return std::nullopt;
}

}  // namespace

bool SpliceExifSegment(std::span<const uint8_t> segment, std::span<const uint8_t> jpeg,
                       std::vector<uint8_t>& out) {
  return SpliceExifSegment(segment, std::span<const JpegSegment>(), jpeg, out);
}

bool SpliceExifSegment(std::span<const uint8_t> segment, std::span<const JpegSegment> carried,
                       std::span<const uint8_t> jpeg, std::vector<uint8_t>& out) {
  out.clear();
  size_t carriedBytes = 0;
  for (const JpegSegment& extra : carried) {
    const size_t length = DeclaredLength(extra.data);
    if (length < 2 || length > extra.data.size() || extra.marker < 0xC0 || extra.marker > 0xFE) return false;
    carriedBytes += 2 + length;
  }
  if (segment.size() < 2) return false;
  const size_t declared = (static_cast<size_t>(segment[0]) << 8) | segment[1];
  if (declared < 2 || declared > segment.size()) return false;
  if (jpeg.size() < 2 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return false;

  // Skip the writer's leading APP0 and APP1 segments.
  size_t at = 2;
  while (at + 1 < jpeg.size() && jpeg[at] == 0xFF && (jpeg[at + 1] == 0xE0 || jpeg[at + 1] == 0xE1)) {
    if (4 > jpeg.size() - at) return false;
    const size_t length = (static_cast<size_t>(jpeg[at + 2]) << 8) | jpeg[at + 3];
    if (length < 2 || length > jpeg.size() - at - 2) return false;
    at += 2 + length;
  }
  if (at + 1 >= jpeg.size() || jpeg[at] != 0xFF) return false;

  const size_t rest = jpeg.size() - at;
  try {
    out.resize(4 + declared + carriedBytes + rest);
  } catch (const std::bad_alloc&) {
    out.clear();
    return false;
  }
  static constexpr uint8_t kHead[4] = {0xFF, 0xD8, 0xFF, 0xE1};
  std::memcpy(out.data(), kHead, 4);
  std::memcpy(out.data() + 4, segment.data(), declared);
  size_t put = 4 + declared;
  for (const JpegSegment& extra : carried) {
    const size_t length = DeclaredLength(extra.data);
    out[put] = 0xFF;
    out[put + 1] = static_cast<uint8_t>(extra.marker);
    std::memcpy(out.data() + put + 2, extra.data.data(), length);
    put += 2 + length;
  }
  std::memcpy(out.data() + put, jpeg.data() + at, rest);
  return true;
}

ExifFit FitExifToPicture(std::vector<uint8_t>& segment, uint32_t width, uint32_t height,
                         std::span<const uint8_t> thumbnail) {
  ExifFit fit;
  static constexpr uint8_t kHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
  const size_t declared = DeclaredLength(segment);
  if (declared < 8 + 8 || declared > segment.size() || std::memcmp(segment.data() + 2, kHeader, 6) != 0)
    return fit;
  const std::span<uint8_t> block = std::span<uint8_t>(segment).subspan(8, declared - 8);
  bool bigEndian;
  if (block[0] == 'I' && block[1] == 'I') {
    bigEndian = false;
  } else if (block[0] == 'M' && block[1] == 'M') {
    bigEndian = true;
  } else {
    return fit;
  }
  const ExifBytes tiff(block, bigEndian);
  if (tiff.U16(2) != std::optional<uint16_t>(42)) return fit;
  const uint32_t ifd0 = tiff.U32(4).value_or(0);
  const std::optional<uint16_t> count0 = DirectoryEntries(tiff, ifd0);
  if (ifd0 < 8 || !count0) return fit;

  // The pixel dimensions in the EXIF directory.
  for (uint32_t i = 0; i < *count0; ++i) {
    const uint64_t entry = uint64_t{ifd0} + 2 + uint64_t{12} * i;
    if (tiff.U16(entry) != std::optional<uint16_t>(kTagExifIfd)) continue;
    const std::optional<uint32_t> exifIfd = WholeValue(tiff, entry);
    const std::optional<uint16_t> count = exifIfd ? DirectoryEntries(tiff, *exifIfd) : std::nullopt;
    if (!count || *exifIfd < 8) break;
    for (uint32_t j = 0; j < *count; ++j) {
      const uint64_t sub = uint64_t{*exifIfd} + 2 + uint64_t{12} * j;
      const uint16_t tag = tiff.U16(sub).value_or(0);
      if ((tag != kTagPixelX && tag != kTagPixelY) || !WholeValue(tiff, sub)) continue;
      const uint32_t value = tag == kTagPixelX ? width : height;
      const bool isShort = tiff.U16(sub + 2) == std::optional<uint16_t>(kFormatShort);
      if (isShort && value > 0xFFFF) continue;
      if (PutValue(tiff, sub + 8, value, isShort ? 2 : 4)) ++fit.dimensionsSet;
    }
    break;
  }

  // The thumbnail: replaced when its JPEG ends the block, otherwise IFD1 is
  // unlinked and its JPEG goes when it ends the block.
  const uint64_t link0 = uint64_t{ifd0} + 2 + uint64_t{12} * *count0;
  const uint32_t ifd1 = tiff.U32(link0).value_or(0);
  if (ifd1 == 0) return fit;
  const std::optional<uint16_t> count1 = DirectoryEntries(tiff, ifd1);
  std::optional<uint32_t> offset, length;
  uint64_t lengthEntry = 0;
  for (uint32_t i = 0; count1 && i < *count1; ++i) {
    const uint64_t entry = uint64_t{ifd1} + 2 + uint64_t{12} * i;
    const uint16_t tag = tiff.U16(entry).value_or(0);
    if (tag == kTagThumbnailOffset) offset = WholeValue(tiff, entry);
    if (tag == kTagThumbnailLength) {
      length = WholeValue(tiff, entry);
      lengthEntry = entry;
    }
  }
  // The bytes must end the block and must not reach back over the
  // directories just walked.
  const bool endsBlock = count1 && offset && length && *length != 0 && *offset < block.size() &&
                         uint64_t{*offset} + *length >= block.size() && *offset >= link0 + 4 &&
                         *offset >= uint64_t{ifd1} + 2 + uint64_t{12} * *count1 + 4;
  if (endsBlock && !thumbnail.empty() && 8 + uint64_t{*offset} + thumbnail.size() <= 0xFFFF &&
      (tiff.U16(lengthEntry + 2) == std::optional<uint16_t>(kFormatLong) || thumbnail.size() <= 0xFFFF)) {
    const bool isShort = tiff.U16(lengthEntry + 2) == std::optional<uint16_t>(kFormatShort);
    PutValue(tiff, lengthEntry + 8, static_cast<uint32_t>(thumbnail.size()), isShort ? 2 : 4);
    const size_t newLength = 8 + *offset + thumbnail.size();
    segment.resize(8 + *offset);
    segment.insert(segment.end(), thumbnail.begin(), thumbnail.end());
    segment[0] = static_cast<uint8_t>(newLength >> 8);
    segment[1] = static_cast<uint8_t>(newLength & 0xFF);
    fit.thumbnailReplaced = true;
    return fit;
  }
  PutValue(tiff, link0, 0, 4);
  fit.thumbnailCut = true;
  if (!endsBlock) return fit;
  const size_t newLength = 8 + *offset;
  segment.resize(newLength);
  segment[0] = static_cast<uint8_t>(newLength >> 8);
  segment[1] = static_cast<uint8_t>(newLength & 0xFF);
  fit.thumbnailDropped = true;
  return fit;
}

}  // namespace qb::exif
