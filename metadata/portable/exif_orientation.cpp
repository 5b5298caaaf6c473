#include "metadata/portable/exif_orientation.h"

#include <cstring>
#include <optional>

#include "metadata/portable/jpeg_exif.h"

namespace qb::exif {
namespace {

constexpr std::uint16_t kTagOrientation = 0x0112;
constexpr std::uint16_t kFormatShort = 3;
// Length bytes and "Exif" 0 0 before the TIFF block.
constexpr std::size_t kTiffStart = 8;

// The offset in the TIFF block of the four value bytes of IFD0's
// Orientation entry when it is one SHORT, and the block's window.
std::optional<std::uint64_t> OrientationValue(const ExifBytes& tiff) {
  std::uint8_t order[2];
  if (!tiff.Copy(0, order, 2)) return std::nullopt;
  const std::optional<std::uint16_t> magic = tiff.U16(2);
  const std::optional<std::uint32_t> ifd0 = tiff.U32(4);
  if (!magic || *magic != 42 || !ifd0) return std::nullopt;
  const std::optional<std::uint16_t> count = tiff.U16(*ifd0);
  if (!count) return std::nullopt;
  for (std::uint32_t i = 0; i < *count; ++i) {
    const std::uint64_t entry = static_cast<std::uint64_t>(*ifd0) + 2 + 12ULL * i;
    const std::optional<std::uint16_t> tag = tiff.U16(entry);
    if (!tag) return std::nullopt;
    if (*tag != kTagOrientation) continue;
    const std::optional<std::uint16_t> format = tiff.U16(entry + 2);
    const std::optional<std::uint32_t> components = tiff.U32(entry + 4);
    if (!format || !components || *format != kFormatShort || *components != 1 || !tiff.Holds(entry + 8, 2))
      return std::nullopt;
    return entry + 8;
  }
  return std::nullopt;
}

// The TIFF block of the segment as a window in its own byte order.
std::optional<ExifBytes> TiffOf(std::span<std::uint8_t> segment) {
  if (segment.size() < kTiffStart + 8 || std::memcmp(segment.data() + 2, "Exif\0\0", 6) != 0)
    return std::nullopt;
  const std::uint8_t* order = segment.data() + kTiffStart;
  bool big = false;
  if (order[0] == 'M' && order[1] == 'M')
    big = true;
  else if (!(order[0] == 'I' && order[1] == 'I'))
    return std::nullopt;
  return ExifBytes(segment.subspan(kTiffStart), big);
}

}  // namespace

int ReadOrientation(std::span<const std::uint8_t> segment) {
  // The window is read-only here; ExifBytes takes mutable bytes for Put.
  std::span<std::uint8_t> bytes(const_cast<std::uint8_t*>(segment.data()), segment.size());
  const std::optional<ExifBytes> tiff = TiffOf(bytes);
  if (!tiff) return 1;
  const std::optional<std::uint64_t> value = OrientationValue(*tiff);
  if (!value) return 1;
  const std::optional<std::uint16_t> orientation = tiff->U16(*value);
  return orientation && *orientation >= 1 && *orientation <= 8 ? *orientation : 1;
}

bool WriteOrientation(std::span<std::uint8_t> segment, int orientation) {
  if (orientation < 1 || orientation > 8) return false;
  const std::optional<ExifBytes> tiff = TiffOf(segment);
  if (!tiff) return false;
  const std::optional<std::uint64_t> value = OrientationValue(*tiff);
  if (!value) return false;
  const std::uint8_t v = static_cast<std::uint8_t>(orientation);
  return tiff->Put(*value, tiff->bigEndian() ? 0 : v) && tiff->Put(*value + 1, tiff->bigEndian() ? v : 0);
}

std::vector<std::uint8_t> WithOrientation(std::span<const std::uint8_t> segment, int orientation) {
  std::vector<std::uint8_t> copy(segment.begin(), segment.end());
  WriteOrientation(copy, orientation);
  return copy;
}

}  // namespace qb::exif
