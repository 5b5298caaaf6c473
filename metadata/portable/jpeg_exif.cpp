// JPEG segment walk and EXIF parser. See jpeg_exif.h for the byte layouts.
#include "metadata/portable/jpeg_exif.h"

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

constexpr int kMarkerSos = 0xDA;
constexpr int kMarkerEoi = 0xD9;
constexpr int kMarkerCom = 0xFE;
constexpr int kMarkerApp0 = 0xE0;
constexpr int kMarkerApp1 = 0xE1;
constexpr int kMarkerApp2 = 0xE2;
constexpr int kMarkerApp13 = 0xED;

bool StartsWith(std::span<const std::uint8_t> payload, const char* text, std::size_t n) {
  return payload.size() >= n && std::memcmp(payload.data(), text, n) == 0;
}

// Longest texts each field takes (the field less its terminating zero, or
// the shorter limit the camera data keeps).
constexpr std::size_t kMaxUserComment = 199;

// A double to int as the x86 conversion instruction does it: NaN and values
// outside the int range give INT_MIN (the "integer indefinite" value), so a
// hostile value has one defined result in both builds.
int ToInt(double value) {
  if (!(value > -2147483649.0 && value < 2147483648.0)) return INT_MIN;
  return static_cast<int>(value);
}

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

std::string FieldText(const char* field, std::size_t size) {
  return std::string(field, strnlen(field, size));
}

}  // namespace

// ---------------------------------------------------------------------------
// Streams

int FileStream::ReadByte() {
  const int c = std::fgetc(m_file);
  return c == EOF ? -1 : c;
}

std::size_t FileStream::Read(std::uint8_t* out, std::size_t n) {
  return std::fread(out, 1, n, m_file);
}

int MemoryStream::ReadByte() {
  if (m_position >= m_bytes.size()) return -1;
  return m_bytes[m_position++];
}

std::size_t MemoryStream::Read(std::uint8_t* out, std::size_t n) {
  const std::size_t count = std::min(n, m_bytes.size() - m_position);
  if (count != 0) std::memcpy(out, m_bytes.data() + m_position, count);
  m_position += count;
  return count;
}

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
// Camera data

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

bool IsCarriedMetadata(int marker, std::span<const std::uint8_t> payload) {
  // The sizes include each identifier's terminating zero.
  switch (marker) {
    case kMarkerApp1:
      return StartsWith(payload, "http://ns.adobe.com/xap/1.0/", 29) ||
             StartsWith(payload, "http://ns.adobe.com/xmp/extension/", 35);
    case kMarkerApp2: return StartsWith(payload, "ICC_PROFILE", 12);
    case kMarkerApp13: return StartsWith(payload, "Photoshop 3.0", 14);
    default: return false;
  }
}

void ApplyCameraData(const ExifInfo& info, CameraData& data) {
  if (info.make[0] != '\0') {
    // The model goes with the maker, even when it is empty.
    data.cameraMake = FieldText(info.make, sizeof info.make);
    data.cameraModel = FieldText(info.model, sizeof info.model);
  }
  if (info.dateTime[0] != '\0') data.dateTime = FieldText(info.dateTime, sizeof info.dateTime);
  if (info.version[0] != '\0') data.exifVersion = FieldText(info.version, sizeof info.version);
  if (info.resolutionUnitFactor != 0) {
    // Per unit divided by the unit's share of an inch: per inch.
    if (info.xResolution != 0) data.xResolution = info.xResolution / info.resolutionUnitFactor;
    if (info.yResolution != 0) data.yResolution = info.yResolution / info.resolutionUnitFactor;
  }
  data.flashUsed = info.flashFired != 0 ? "Yes" : "No";
  if (info.focalLength != 0) {
    data.focalLength = info.focalLength;
    // With a known sensor width, the whole 35-mm equivalent (36 mm film width).
    if (info.sensorWidth != 0)
      data.focalLength = static_cast<float>(ToInt(info.focalLength / info.sensorWidth * 36 + 0.5));
  }
  if (info.exposureTime != 0) {
    data.exposureTime = info.exposureTime;
    // Half a second and shorter: the shutter-speed denominator (125 for 1/125 s).
    if (info.exposureTime <= 0.5)
      data.exposureTime = static_cast<float>(ToInt(1 / info.exposureTime + 0.5));
  }
  if (info.brightness != 0) data.brightness = info.brightness;
  if (info.fNumber != 0) data.aperture = info.fNumber;
  if (info.comment[0] != '\0') data.comment = FieldText(info.comment, sizeof info.comment);
}

// ---------------------------------------------------------------------------
// The reader

JpegExifReader::JpegExifReader()
    : m_console([](const char* text) { std::fputs(text, stdout); }) {}

JpegExifReader::WalkResult JpegExifReader::Read(ByteStream& stream, ExifInfo& info) {
  ReleaseSegments();
  m_carriedOfWalk.clear();
  m_carriedBytesOfWalk = 0;
  m_carriedOverflow = false;
  const bool reached = WalkJpegSegments(stream, info);
  if (reached) m_carried.swap(m_carriedOfWalk);
  std::vector<JpegSegment>().swap(m_carriedOfWalk);
  return reached ? WalkResult::kReachedImage : WalkResult::kFailed;
}

void JpegExifReader::TakeCarried(const JpegSegment& segment) {
  if (m_carriedOverflow) return;
  if (segment.data.size() > kMaxCarriedBytes - m_carriedBytesOfWalk) {
    m_carriedOverflow = true;
    std::vector<JpegSegment>().swap(m_carriedOfWalk);
    return;
  }
  try {
    m_carriedOfWalk.push_back(segment);
  } catch (const std::bad_alloc&) {
    m_carriedOverflow = true;
    std::vector<JpegSegment>().swap(m_carriedOfWalk);
    return;
  }
  m_carriedBytesOfWalk += segment.data.size();
}

bool JpegExifReader::AllocateSegment(std::vector<std::uint8_t>& buffer, std::size_t size) {
  try {
    buffer.assign(size, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

void JpegExifReader::Forget() {
  ReleaseSegments();
  m_exifBigEndian = 0;
  m_exifPixelDimension = 0;
  m_exifError.clear();
  std::vector<std::uint8_t>().swap(m_exifBlock);
  m_exifBlockSize = 0;
  std::vector<JpegSegment>().swap(m_carried);
}

void JpegExifReader::KeepAsOf(const JpegExifReader& other) {
  if (&other == this) return;
  Forget();
  m_exifBlock = other.m_exifBlock;
  m_exifBlockSize = other.m_exifBlockSize;
  m_carried = other.m_carried;
}

void JpegExifReader::ReleaseSegments() {
  for (JpegSegment& segment : m_jpegSegments) {
    std::vector<std::uint8_t>().swap(segment.data);
    segment.marker = 0;
    segment.size = 0;
  }
  m_jpegSegmentCount = 0;
}

bool JpegExifReader::Fail(const char* text) {
  m_exifError = text;
  return false;
}

bool JpegExifReader::WalkJpegSegments(ByteStream& stream, ExifInfo& info) {
  if (stream.ReadByte() != 0xFF || stream.ReadByte() != 0xD8) return false;

  bool commentTaken = false;
  for (;;) {
    if (m_jpegSegmentCount >= kMaxSegments) return Fail("Too many sections in jpg file");

    // Up to six FF fill bytes; the first other byte is the marker code. At
    // the end of the stream the code is -1 and the length below fails.
    int marker = 0;
    for (int a = 0; a < 7; ++a) {
      marker = stream.ReadByte();
      if (marker != 0xFF) break;
      if (a >= 6) {
        m_console("too many padding unsigned chars\n");
        return false;
      }
    }

    const int high = stream.ReadByte();
    const int low = stream.ReadByte();
    const int length = (high < 0 || low < 0) ? -1 : (high << 8) | low;
    if (length < 2) return Fail("invalid marker");

    // At most 65535 bytes: the length field is 16 bits.
    JpegSegment& segment = m_jpegSegments[static_cast<std::size_t>(m_jpegSegmentCount)];
    if (!AllocateSegment(segment.data, static_cast<std::size_t>(length)))
      return Fail("Could not allocate memory");
    segment.data[0] = static_cast<std::uint8_t>(high);
    segment.data[1] = static_cast<std::uint8_t>(low);
    const std::size_t rest = static_cast<std::size_t>(length) - 2;
    if (stream.Read(segment.data.data() + 2, rest) != rest) {
      std::vector<std::uint8_t>().swap(segment.data);
      return Fail("Premature end of file?");
    }
    segment.marker = marker;
    segment.size = length;
    ++m_jpegSegmentCount;
    if (IsCarriedMetadata(marker, std::span<const std::uint8_t>(segment.data).subspan(2)))
      TakeCarried(segment);

    bool keep = true;
    switch (marker) {
      case kMarkerSos:  // start of scan: the compressed data follows, unread
        return true;
      case kMarkerEoi:  // end of image before any scan
        m_console("No image in jpeg!\n");
        return false;
      case kMarkerCom:  // only the first comment of the file counts
        if (commentTaken) {
          keep = false;
        } else {
          TakeJpegComment(segment, length, info);
          commentTaken = true;
        }
        break;
      case kMarkerApp0:  // JFIF header: not needed
        keep = false;
        break;
      case kMarkerApp1:
        if (length >= 6 && std::memcmp(segment.data.data() + 2, "Exif", 4) == 0) {
          // The parse may blank trailing spaces of the UserComment in the
          // segment itself, so the copy is taken after it.
          info.valid = ParseExifBlock(std::span<std::uint8_t>(segment.data).subspan(2), length, info);
          m_exifBlock = segment.data;
          m_exifBlockSize = length;
        } else {
          keep = false;  // XMP and other APP1 uses
        }
        break;
      default:  // frame headers, tables, other APPn: kept
        break;
    }
    if (!keep) {
      std::vector<std::uint8_t>().swap(segment.data);
      segment.marker = 0;
      segment.size = 0;
      --m_jpegSegmentCount;
    }
  }
}

void JpegExifReader::TakeJpegComment(const JpegSegment& segment, int length, ExifInfo& info) {
  // The text after the length field, at most 998 characters. CR LF becomes
  // LF; control characters other than LF and TAB become '?'.
  const std::size_t end = std::min({static_cast<std::size_t>(std::max(length, 0)),
                                    std::size_t{1000}, segment.data.size()});
  std::size_t n = 0;
  for (std::size_t a = 2; a < end; ++a) {
    const std::uint8_t ch = segment.data[a];
    if (ch == '\r' && a + 1 < segment.data.size() && segment.data[a + 1] == '\n') continue;
    info.comment[n++] = (ch >= 32 || ch == '\n' || ch == '\t') ? static_cast<char>(ch) : '?';
  }
  info.comment[n] = '\0';
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
