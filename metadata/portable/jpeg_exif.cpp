// The EXIF block and its IFD parser, over bounds-checked block access. See
// jpeg_exif.h for the byte layouts; the segment walk that finds the block
// is jpeg_segments.cpp, the camera data made of what it read camera_data.cpp.
#include "metadata/portable/jpeg_exif.h"
#include "metadata/portable/exif_numbers.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>

namespace qb::exif {

namespace {

// Element sizes of the EXIF formats 0..12: -, BYTE, ASCII, SHORT, LONG,
// RATIONAL, SBYTE, UNDEFINED, SSHORT, SLONG, SRATIONAL, FLOAT, DOUBLE.
constexpr std::uint32_t kFormatSize[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
constexpr int kMaxFormat = 12;

constexpr std::uint16_t kTagMake = 0x010F;
constexpr std::uint16_t kTagModel = 0x0110;
constexpr std::uint16_t kTagXResolution = 0x011A;
constexpr std::uint16_t kTagYResolution = 0x011B;
constexpr std::uint16_t kTagResolutionUnit = 0x0128;
constexpr std::uint16_t kTagExposureTime = 0x829A;
constexpr std::uint16_t kTagFNumber = 0x829D;
constexpr std::uint16_t kTagExifIfdPointer = 0x8769;
constexpr std::uint16_t kTagExifVersion = 0x9000;
constexpr std::uint16_t kTagDateTimeOriginal = 0x9003;
constexpr std::uint16_t kTagShutterSpeedValue = 0x9201;
constexpr std::uint16_t kTagApertureValue = 0x9202;
constexpr std::uint16_t kTagBrightnessValue = 0x9203;
constexpr std::uint16_t kTagMaxApertureValue = 0x9205;
constexpr std::uint16_t kTagFlash = 0x9209;
constexpr std::uint16_t kTagFocalLength = 0x920A;
constexpr std::uint16_t kTagUserComment = 0x9286;
constexpr std::uint16_t kTagPixelXDimension = 0xA002;
constexpr std::uint16_t kTagPixelYDimension = 0xA003;
constexpr std::uint16_t kTagInteropIfdPointer = 0xA005;
constexpr std::uint16_t kTagFocalPlaneXResolution = 0xA20E;
constexpr std::uint16_t kTagFocalPlaneResolutionUnit = 0xA210;

// Longest texts each field takes (the field less its terminating zero, or
// the shorter limit the camera data keeps).
constexpr std::size_t kMaxUserComment = 199;

// Copies text from `value` starting at `start` into `field` and terminates
// it: stops at a zero byte, at the end of the value's own bytes, and after
// maxChars characters. A copy that finds nothing leaves an empty field.
void CopyText(char* field, std::size_t maxChars, const ExifBytes& value, std::size_t start) {
  std::size_t n = 0;
  for (std::uint64_t i = start; n < maxChars; ++i) {
    const std::optional<std::uint8_t> b = value.U8(i);
    if (!b || *b == 0) break;
    field[n++] = static_cast<char>(*b);
  }
  field[n] = '\0';
}

}  // namespace

// ---------------------------------------------------------------------------
// Bounds-checked block access

std::optional<ExifBytes> ExifBytes::Sub(std::uint64_t offset, std::uint64_t n) const {
  if (!Holds(offset, n)) return std::nullopt;
  return ExifBytes(m_bytes.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(n)),
                   m_bigEndian);
}

std::optional<std::uint8_t> ExifBytes::U8(std::uint64_t offset) const {
  if (!Holds(offset, 1)) return std::nullopt;
  return m_bytes[static_cast<std::size_t>(offset)];
}

std::optional<std::uint16_t> ExifBytes::U16(std::uint64_t offset) const {
  std::uint8_t b[2];
  if (!Copy(offset, b, 2)) return std::nullopt;
  return static_cast<std::uint16_t>(m_bigEndian ? (b[0] << 8) | b[1] : (b[1] << 8) | b[0]);
}

std::optional<std::uint32_t> ExifBytes::U32(std::uint64_t offset) const {
  std::uint8_t b[4];
  if (!Copy(offset, b, 4)) return std::nullopt;
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = (v << 8) | b[m_bigEndian ? i : 3 - i];
  return v;
}

bool ExifBytes::Copy(std::uint64_t offset, void* out, std::size_t n) const {
  if (!Holds(offset, n)) return false;
  if (n != 0) std::memcpy(out, m_bytes.data() + static_cast<std::size_t>(offset), n);
  return true;
}

bool ExifBytes::Put(std::uint64_t offset, std::uint8_t value) const {
  if (!Holds(offset, 1)) return false;
  m_bytes[static_cast<std::size_t>(offset)] = value;
  return true;
}

// ---------------------------------------------------------------------------
// Units

std::optional<float> UnitFactor(int unit) {
  switch (unit) {
    case 1:  // no unit: taken as inches
    case 2: return 1.0f;
    case 3: return 0.3937007874f;       // centimetre
    case 4: return 0.03937007874f;      // millimetre
    case 5: return 0.00003937007874f;   // micrometre
    default: return std::nullopt;
  }
}

bool JpegExifReader::ParseExifBlock(std::span<std::uint8_t> payload, int length, ExifInfo& info) {
  info.flashFired = 0;
  info.comment[0] = '\0';
  m_exifPixelDimension = 0;

  static constexpr std::uint8_t kHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
  if (payload.size() < sizeof kHeader || std::memcmp(payload.data(), kHeader, sizeof kHeader) != 0)
    return Fail("Incorrect Exif header");

  // The TIFF block: the segment less its length field and the six header
  // bytes. The header check above means length >= 8, so this cannot wrap.
  const std::size_t tiffLength =
      std::min(static_cast<std::size_t>(length >= 8 ? length - 8 : 0), payload.size() - 6);
  std::span<std::uint8_t> tiffBytes = payload.subspan(6, tiffLength);

  std::uint8_t order[2];
  const ExifBytes raw(tiffBytes, false);
  if (!raw.Copy(0, order, 2)) return Fail("Invalid Exif alignment marker.");
  if (order[0] == 'I' && order[1] == 'I') {
    m_exifBigEndian = 0;
  } else if (order[0] == 'M' && order[1] == 'M') {
    m_exifBigEndian = 1;
  } else {
    return Fail("Invalid Exif alignment marker.");
  }
  const ExifBytes tiff(tiffBytes, m_exifBigEndian != 0);

  if (tiff.U16(2) != std::optional<std::uint16_t>(42)) return Fail("Invalid Exif start (1)");

  // A block too short for the offset has no first directory of its own; the
  // directory at 8 then fails as not there.
  const std::int32_t firstOffset = static_cast<std::int32_t>(tiff.U32(4).value_or(0));

  // The directory at 8 is walked whatever the header says; a first-directory
  // offset past it is walked as well.
  VisitedIfds visited;
  if (!ParseIfd(8, tiff, info, visited, 0)) return false;
  if (firstOffset > 8 && !ParseIfd(static_cast<std::uint32_t>(firstOffset), tiff, info, visited, 0))
    return false;

  if (info.focalPlaneXResolution != 0) {
    // The unit factor is a fraction of an inch; 25.4 times it gives
    // millimetres, so the width is in millimetres like the focal length.
    info.sensorWidth = static_cast<float>(m_exifPixelDimension * (info.focalPlaneUnitFactor * 25.4) /
                                          info.focalPlaneXResolution);
  }
  return true;
}

bool JpegExifReader::ParseIfd(std::uint32_t dirStart, const ExifBytes& tiff, ExifInfo& info,
                              VisitedIfds& visited, int depth) {
  // A chain deeper than any real file is not followed further.
  if (depth > kMaxIfdDepth) return true;
  // A directory met again (a link to itself, to a parent, or one reached
  // both by a link and as the first directory) is not walked again: its
  // entries have been handled, and it answers with its earlier result
  // (true while it is still being walked).
  const auto [it, firstVisit] = visited.try_emplace(dirStart, true);
  if (!firstVisit) return it->second;
  bool& result = it->second;
  const auto fail = [&](const char* text) {
    result = false;
    return Fail(text);
  };

  const std::optional<std::uint16_t> entryCount = tiff.U16(dirStart);
  if (!entryCount || !tiff.Holds(std::uint64_t{dirStart} + 2, std::uint64_t{12} * *entryCount))
    return fail("Illegally sized directory");

  for (std::uint32_t i = 0; i < *entryCount; ++i) {
    const std::uint64_t entry = std::uint64_t{dirStart} + 2 + std::uint64_t{12} * i;
    // The whole entry lies inside the block (checked with the count above).
    const std::uint16_t tag = *tiff.U16(entry);
    const std::uint16_t format = *tiff.U16(entry + 2);
    const std::uint32_t components = *tiff.U32(entry + 4);

    if (format > kMaxFormat) return fail("Illegal format code in EXIF dir");

    const std::uint64_t byteCount = std::uint64_t{components} * kFormatSize[format];
    std::optional<ExifBytes> value;
    if (byteCount > 4) {
      const std::uint32_t valueOffset = *tiff.U32(entry + 8);
      value = tiff.Sub(valueOffset, byteCount);
      if (!value) return fail("Illegal pointer offset value in EXIF.");
    } else {
      value = tiff.Sub(entry + 8, byteCount);
    }

    HandleTag(tag, format, *value, info);

    if (tag == kTagExifIfdPointer || tag == kTagInteropIfdPointer) {
      const std::uint32_t sub = value->U32(0).value_or(0);
      if (sub > 8) {
        if (sub >= tiff.size()) return fail("Illegal subdirectory link");
        ParseIfd(sub, tiff, info, visited, depth + 1);  // its failure ends only that directory
      }
    }
  }

  // The following directory (IFD1, the thumbnail's, after IFD0). A block
  // that ends right after the entries has none.
  const std::uint32_t next =
      tiff.U32(std::uint64_t{dirStart} + 2 + std::uint64_t{12} * *entryCount).value_or(0);
  if (next != 0) {
    if (next >= tiff.size()) return fail("Illegal subdirectory link");
    ParseIfd(next, tiff, info, visited, depth + 1);
  }
  return true;
}

void JpegExifReader::HandleTag(std::uint16_t tag, int format, const ExifBytes& value, ExifInfo& info) {
  const auto number = [&] { return EntryValueAsDouble(value, format); };
  switch (tag) {
    case kTagMake:
      CopyText(info.make, sizeof info.make - 1, value, 0);
      break;
    case kTagModel:
      CopyText(info.model, sizeof info.model - 1, value, 0);
      break;
    case kTagXResolution:
      info.xResolution = static_cast<float>(number());
      break;
    case kTagYResolution:
      info.yResolution = static_cast<float>(number());
      break;
    case kTagResolutionUnit:
      if (const std::optional<float> factor = UnitFactor(ToInt(number())))
        info.resolutionUnitFactor = *factor;
      break;
    case kTagExposureTime:
      info.exposureTime = static_cast<float>(number());
      break;
    case kTagFNumber:
      info.fNumber = static_cast<float>(number());
      break;
    case kTagExifVersion:
      CopyText(info.version, sizeof info.version - 1, value, 0);
      break;
    case kTagDateTimeOriginal:
      CopyText(info.dateTime, sizeof info.dateTime - 1, value, 0);
      break;
    case kTagShutterSpeedValue:
      // APEX time value Tv: the exposure is 2^-Tv seconds.
      if (info.exposureTime == 0)
        info.exposureTime = static_cast<float>(1 / std::exp(std::log(2.0) * number()));
      break;
    case kTagApertureValue:
    case kTagMaxApertureValue:
      // APEX aperture value Av: the F-number is 2^(Av/2).
      if (info.fNumber == 0)
        info.fNumber = static_cast<float>(std::exp(std::log(2.0) * number() * 0.5));
      break;
    case kTagBrightnessValue:
      info.brightness = static_cast<float>(number());
      break;
    case kTagFlash:
      // Bit 0 "fired", bits 1-2 the return light, which only a fired flash has.
      info.flashFired = (ToInt(number()) & 7) != 0 ? 1 : 0;
      break;
    case kTagFocalLength:
      info.focalLength = static_cast<float>(number());
      break;
    case kTagUserComment: {
      // Writers pad the comment with spaces: blank them (in the segment
      // itself, so the kept copy has them blanked too).
      for (std::uint64_t i = value.size(); i-- > 0;) {
        if (value.U8(i) != std::optional<std::uint8_t>(' ')) break;
        value.Put(i, 0);
      }
      // An "ASCII" character-code prefix: the text starts after its zero or
      // space padding. Any other prefix is copied as if it were text.
      std::uint64_t start = 0;
      char prefix[5];
      if (value.Copy(0, prefix, 5) && std::memcmp(prefix, "ASCII", 5) == 0) {
        std::optional<std::uint64_t> first;
        for (std::uint64_t i = 5; i <= 9; ++i) {
          const std::optional<std::uint8_t> b = value.U8(i);
          if (!b) break;
          if (*b != 0 && *b != ' ') {
            first = i;
            break;
          }
        }
        if (!first) break;  // nothing after the prefix: the comment stays
        start = *first;
      }
      CopyText(info.comment, kMaxUserComment, value, static_cast<std::size_t>(start));
      break;
    }
    case kTagPixelXDimension:
    case kTagPixelYDimension:
      m_exifPixelDimension = std::max(m_exifPixelDimension, ToInt(number()));
      break;
    case kTagFocalPlaneXResolution:
      info.focalPlaneXResolution = static_cast<float>(number());
      break;
    case kTagFocalPlaneResolutionUnit:
      if (const std::optional<float> factor = UnitFactor(ToInt(number())))
        info.focalPlaneUnitFactor = *factor;
      break;
    default:
      break;
  }
}

double JpegExifReader::EntryValueAsDouble(const ExifBytes& value, int format) const {
  // A value too short for one element (a count of 0) reads as 0.
  switch (format) {
    case 1: return value.U8(0).value_or(0);
    case 6: return static_cast<std::int8_t>(value.U8(0).value_or(0));
    case 3: return value.U16(0).value_or(0);
    case 8: return static_cast<std::int16_t>(value.U16(0).value_or(0));
    case 4: return value.U32(0).value_or(0);
    case 9: return static_cast<std::int32_t>(value.U32(0).value_or(0));
    case 5:
    case 10: {
      // Both rational forms are read as signed numerator and denominator.
      const std::optional<std::uint32_t> num = value.U32(0);
      const std::optional<std::uint32_t> den = value.U32(4);
      if (!num || !den || *den == 0) return 0;
      return static_cast<double>(static_cast<std::int32_t>(*num)) / static_cast<std::int32_t>(*den);
    }
    case 11: {
      // IEEE values are taken little-endian whatever the block's order.
      std::uint8_t b[4];
      if (!value.Copy(0, b, 4)) return 0;
      const std::uint32_t bits = static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
                                 (static_cast<std::uint32_t>(b[2]) << 16) |
                                 (static_cast<std::uint32_t>(b[3]) << 24);
      float f;
      std::memcpy(&f, &bits, sizeof f);
      return f;
    }
    case 12: {
      std::uint8_t b[8];
      if (!value.Copy(0, b, 8)) return 0;
      std::uint64_t bits = 0;
      for (int i = 7; i >= 0; --i) bits = (bits << 8) | b[i];
      double d;
      std::memcpy(&d, &bits, sizeof d);
      return d;
    }
    default:  // ASCII, UNDEFINED and the empty format
      return 0;
  }
}

}  // namespace qb::exif
