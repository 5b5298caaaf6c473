// Tags of a kept EXIF segment by name or number. See exif_tags.h.
#include "metadata/portable/exif_tags.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <set>

namespace qb::exif {
namespace {

enum class Directory { kIfd0, kExif, kGps };

struct TagName {
  Directory directory;
  std::uint16_t tag;
  const char* name;
};

// exiftool's names of the tags of IFD0, the Exif directory and the GPS
// directory. IFD0 and Exif tags share one number space; GPS tags have their
// own (0..31), so a GPS name only ever means a GPS tag.
constexpr TagName kNames[] = {
    {Directory::kIfd0, 0x00FE, "SubfileType"},
    {Directory::kIfd0, 0x0100, "ImageWidth"},
    {Directory::kIfd0, 0x0101, "ImageHeight"},
    {Directory::kIfd0, 0x0102, "BitsPerSample"},
    {Directory::kIfd0, 0x0103, "Compression"},
    {Directory::kIfd0, 0x0106, "PhotometricInterpretation"},
    {Directory::kIfd0, 0x010D, "DocumentName"},
    {Directory::kIfd0, 0x010E, "ImageDescription"},
    {Directory::kIfd0, 0x010F, "Make"},
    {Directory::kIfd0, 0x0110, "Model"},
    {Directory::kIfd0, 0x0111, "StripOffsets"},
    {Directory::kIfd0, 0x0112, "Orientation"},
    {Directory::kIfd0, 0x0115, "SamplesPerPixel"},
    {Directory::kIfd0, 0x0116, "RowsPerStrip"},
    {Directory::kIfd0, 0x0117, "StripByteCounts"},
    {Directory::kIfd0, 0x011A, "XResolution"},
    {Directory::kIfd0, 0x011B, "YResolution"},
    {Directory::kIfd0, 0x011C, "PlanarConfiguration"},
    {Directory::kIfd0, 0x011D, "PageName"},
    {Directory::kIfd0, 0x0128, "ResolutionUnit"},
    {Directory::kIfd0, 0x012D, "TransferFunction"},
    {Directory::kIfd0, 0x0131, "Software"},
    {Directory::kIfd0, 0x0132, "ModifyDate"},
    {Directory::kIfd0, 0x013B, "Artist"},
    {Directory::kIfd0, 0x013C, "HostComputer"},
    {Directory::kIfd0, 0x013E, "WhitePoint"},
    {Directory::kIfd0, 0x013F, "PrimaryChromaticities"},
    {Directory::kIfd0, 0x0201, "ThumbnailOffset"},
    {Directory::kIfd0, 0x0202, "ThumbnailLength"},
    {Directory::kIfd0, 0x0211, "YCbCrCoefficients"},
    {Directory::kIfd0, 0x0212, "YCbCrSubSampling"},
    {Directory::kIfd0, 0x0213, "YCbCrPositioning"},
    {Directory::kIfd0, 0x0214, "ReferenceBlackWhite"},
    {Directory::kIfd0, 0x4746, "Rating"},
    {Directory::kIfd0, 0x4749, "RatingPercent"},
    {Directory::kIfd0, 0x8298, "Copyright"},
    {Directory::kIfd0, 0x8769, "ExifOffset"},
    {Directory::kIfd0, 0x8825, "GPSInfo"},
    {Directory::kIfd0, 0x9C9B, "XPTitle"},
    {Directory::kIfd0, 0x9C9C, "XPComment"},
    {Directory::kIfd0, 0x9C9D, "XPAuthor"},
    {Directory::kIfd0, 0x9C9E, "XPKeywords"},
    {Directory::kIfd0, 0x9C9F, "XPSubject"},
    {Directory::kIfd0, 0xC4A5, "PrintIM"},
    {Directory::kIfd0, 0xEA1C, "Padding"},
    {Directory::kIfd0, 0xEA1D, "OffsetSchema"},
    {Directory::kExif, 0x829A, "ExposureTime"},
    {Directory::kExif, 0x829D, "FNumber"},
    {Directory::kExif, 0x8822, "ExposureProgram"},
    {Directory::kExif, 0x8824, "SpectralSensitivity"},
    {Directory::kExif, 0x8827, "ISO"},
    {Directory::kExif, 0x8828, "Opto-ElectricConvFactor"},
    {Directory::kExif, 0x8830, "SensitivityType"},
    {Directory::kExif, 0x8831, "StandardOutputSensitivity"},
    {Directory::kExif, 0x8832, "RecommendedExposureIndex"},
    {Directory::kExif, 0x8833, "ISOSpeed"},
    {Directory::kExif, 0x8834, "ISOSpeedLatitudeyyy"},
    {Directory::kExif, 0x8835, "ISOSpeedLatitudezzz"},
    {Directory::kExif, 0x9000, "ExifVersion"},
    {Directory::kExif, 0x9003, "DateTimeOriginal"},
    {Directory::kExif, 0x9004, "CreateDate"},
    {Directory::kExif, 0x9010, "OffsetTime"},
    {Directory::kExif, 0x9011, "OffsetTimeOriginal"},
    {Directory::kExif, 0x9012, "OffsetTimeDigitized"},
    {Directory::kExif, 0x9101, "ComponentsConfiguration"},
    {Directory::kExif, 0x9102, "CompressedBitsPerPixel"},
    {Directory::kExif, 0x9201, "ShutterSpeedValue"},
    {Directory::kExif, 0x9202, "ApertureValue"},
    {Directory::kExif, 0x9203, "BrightnessValue"},
    {Directory::kExif, 0x9204, "ExposureCompensation"},
    {Directory::kExif, 0x9205, "MaxApertureValue"},
    {Directory::kExif, 0x9206, "SubjectDistance"},
    {Directory::kExif, 0x9207, "MeteringMode"},
    {Directory::kExif, 0x9208, "LightSource"},
    {Directory::kExif, 0x9209, "Flash"},
    {Directory::kExif, 0x920A, "FocalLength"},
    {Directory::kExif, 0x9214, "SubjectArea"},
    {Directory::kExif, 0x927C, "MakerNote"},
    {Directory::kExif, 0x9286, "UserComment"},
    {Directory::kExif, 0x9290, "SubSecTime"},
    {Directory::kExif, 0x9291, "SubSecTimeOriginal"},
    {Directory::kExif, 0x9292, "SubSecTimeDigitized"},
    {Directory::kExif, 0x9400, "AmbientTemperature"},
    {Directory::kExif, 0x9401, "Humidity"},
    {Directory::kExif, 0x9402, "Pressure"},
    {Directory::kExif, 0x9403, "WaterDepth"},
    {Directory::kExif, 0x9404, "Acceleration"},
    {Directory::kExif, 0x9405, "CameraElevationAngle"},
    {Directory::kExif, 0xA000, "FlashpixVersion"},
    {Directory::kExif, 0xA001, "ColorSpace"},
    {Directory::kExif, 0xA002, "ExifImageWidth"},
    {Directory::kExif, 0xA003, "ExifImageHeight"},
    {Directory::kExif, 0xA004, "RelatedSoundFile"},
    {Directory::kExif, 0xA005, "InteropOffset"},
    {Directory::kExif, 0xA20B, "FlashEnergy"},
    {Directory::kExif, 0xA20C, "SpatialFrequencyResponse"},
    {Directory::kExif, 0xA20E, "FocalPlaneXResolution"},
    {Directory::kExif, 0xA20F, "FocalPlaneYResolution"},
    {Directory::kExif, 0xA210, "FocalPlaneResolutionUnit"},
    {Directory::kExif, 0xA214, "SubjectLocation"},
    {Directory::kExif, 0xA215, "ExposureIndex"},
    {Directory::kExif, 0xA217, "SensingMethod"},
    {Directory::kExif, 0xA300, "FileSource"},
    {Directory::kExif, 0xA301, "SceneType"},
    {Directory::kExif, 0xA302, "CFAPattern"},
    {Directory::kExif, 0xA401, "CustomRendered"},
    {Directory::kExif, 0xA402, "ExposureMode"},
    {Directory::kExif, 0xA403, "WhiteBalance"},
    {Directory::kExif, 0xA404, "DigitalZoomRatio"},
    {Directory::kExif, 0xA405, "FocalLengthIn35mmFormat"},
    {Directory::kExif, 0xA406, "SceneCaptureType"},
    {Directory::kExif, 0xA407, "GainControl"},
    {Directory::kExif, 0xA408, "Contrast"},
    {Directory::kExif, 0xA409, "Saturation"},
    {Directory::kExif, 0xA40A, "Sharpness"},
    {Directory::kExif, 0xA40B, "DeviceSettingDescription"},
    {Directory::kExif, 0xA40C, "SubjectDistanceRange"},
    {Directory::kExif, 0xA420, "ImageUniqueID"},
    {Directory::kExif, 0xA430, "OwnerName"},
    {Directory::kExif, 0xA431, "SerialNumber"},
    {Directory::kExif, 0xA432, "LensInfo"},
    {Directory::kExif, 0xA433, "LensMake"},
    {Directory::kExif, 0xA434, "LensModel"},
    {Directory::kExif, 0xA435, "LensSerialNumber"},
    {Directory::kExif, 0xA460, "CompositeImage"},
    {Directory::kExif, 0xA500, "Gamma"},
    {Directory::kGps, 0x0000, "GPSVersionID"},
    {Directory::kGps, 0x0001, "GPSLatitudeRef"},
    {Directory::kGps, 0x0002, "GPSLatitude"},
    {Directory::kGps, 0x0003, "GPSLongitudeRef"},
    {Directory::kGps, 0x0004, "GPSLongitude"},
    {Directory::kGps, 0x0005, "GPSAltitudeRef"},
    {Directory::kGps, 0x0006, "GPSAltitude"},
    {Directory::kGps, 0x0007, "GPSTimeStamp"},
    {Directory::kGps, 0x0008, "GPSSatellites"},
    {Directory::kGps, 0x0009, "GPSStatus"},
    {Directory::kGps, 0x000A, "GPSMeasureMode"},
    {Directory::kGps, 0x000B, "GPSDOP"},
    {Directory::kGps, 0x000C, "GPSSpeedRef"},
    {Directory::kGps, 0x000D, "GPSSpeed"},
    {Directory::kGps, 0x000E, "GPSTrackRef"},
    {Directory::kGps, 0x000F, "GPSTrack"},
    {Directory::kGps, 0x0010, "GPSImgDirectionRef"},
    {Directory::kGps, 0x0011, "GPSImgDirection"},
    {Directory::kGps, 0x0012, "GPSMapDatum"},
    {Directory::kGps, 0x0013, "GPSDestLatitudeRef"},
    {Directory::kGps, 0x0014, "GPSDestLatitude"},
    {Directory::kGps, 0x0015, "GPSDestLongitudeRef"},
    {Directory::kGps, 0x0016, "GPSDestLongitude"},
    {Directory::kGps, 0x0017, "GPSDestBearingRef"},
    {Directory::kGps, 0x0018, "GPSDestBearing"},
    {Directory::kGps, 0x0019, "GPSDestDistanceRef"},
    {Directory::kGps, 0x001A, "GPSDestDistance"},
    {Directory::kGps, 0x001B, "GPSProcessingMethod"},
    {Directory::kGps, 0x001C, "GPSAreaInformation"},
    {Directory::kGps, 0x001D, "GPSDateStamp"},
    {Directory::kGps, 0x001E, "GPSDifferential"},
    {Directory::kGps, 0x001F, "GPSHPositioningError"},
};

// The EXIF standard's names (2.2 and 2.3) where exiftool's differ.
constexpr TagName kStandardNames[] = {
    {Directory::kIfd0, 0x0132, "DateTime"},
    {Directory::kIfd0, 0x0201, "JPEGInterchangeFormat"},
    {Directory::kIfd0, 0x0202, "JPEGInterchangeFormatLength"},
    {Directory::kIfd0, 0x8769, "ExifIFDPointer"},
    {Directory::kIfd0, 0x8825, "GPSInfoIFDPointer"},
    {Directory::kExif, 0x8827, "ISOSpeedRatings"},
    {Directory::kExif, 0x8827, "PhotographicSensitivity"},
    {Directory::kExif, 0x8828, "OECF"},
    {Directory::kExif, 0x9004, "DateTimeDigitized"},
    {Directory::kExif, 0x9204, "ExposureBiasValue"},
    {Directory::kExif, 0xA002, "PixelXDimension"},
    {Directory::kExif, 0xA003, "PixelYDimension"},
    {Directory::kExif, 0xA005, "InteroperabilityIFDPointer"},
    {Directory::kExif, 0xA405, "FocalLengthIn35mmFilm"},
    {Directory::kExif, 0xA430, "CameraOwnerName"},
    {Directory::kExif, 0xA431, "BodySerialNumber"},
    {Directory::kExif, 0xA432, "LensSpecification"},
};

constexpr std::uint16_t kTagExifPointer = 0x8769;
constexpr std::uint16_t kTagGpsPointer = 0x8825;
constexpr std::uint16_t kTagExifVersion = 0x9000;
constexpr std::uint16_t kTagFlashpixVersion = 0xA000;
constexpr std::uint16_t kTagUserComment = 0x9286;
constexpr std::uint16_t kTagGpsLatitudeRef = 0x0001;
constexpr std::uint16_t kTagGpsLatitude = 0x0002;
constexpr std::uint16_t kTagGpsLongitudeRef = 0x0003;
constexpr std::uint16_t kTagGpsLongitude = 0x0004;
constexpr std::uint16_t kTagGpsProcessingMethod = 0x001B;
constexpr std::uint16_t kTagGpsAreaInformation = 0x001C;

// Element sizes of the formats 1..13: BYTE, ASCII, SHORT, LONG, RATIONAL,
// SBYTE, UNDEFINED, SSHORT, SLONG, SRATIONAL, FLOAT, DOUBLE, IFD (a LONG
// that points at a directory).
constexpr std::uint32_t kFormatSize[14] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
enum Format { kByte = 1, kAscii, kShort, kLong, kRational, kSByte, kUndefined, kSShort, kSLong, kSRational,
              kFloat, kDouble, kIfd };

// Length bytes and "Exif" 0 0 before the TIFF block.
constexpr std::size_t kTiffStart = 8;

// The TIFF block, read in its own byte order; every read is checked
// against the block.
class Tiff {
 public:
  Tiff(std::span<const std::uint8_t> bytes, bool big) : m_bytes(bytes), m_big(big) {}
  bool big() const { return m_big; }
  bool Holds(std::uint64_t offset, std::uint64_t n) const {
    return offset <= m_bytes.size() && n <= m_bytes.size() - offset;
  }
  std::span<const std::uint8_t> Bytes(std::uint64_t offset, std::uint64_t n) const {
    return Holds(offset, n) ? m_bytes.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(n))
                            : std::span<const std::uint8_t>();
  }
  std::optional<std::uint64_t> Unsigned(std::uint64_t offset, int n) const {
    if (!Holds(offset, static_cast<std::uint64_t>(n))) return std::nullopt;
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | m_bytes[static_cast<std::size_t>(offset) + (m_big ? i : n - 1 - i)];
    return v;
  }

 private:
  std::span<const std::uint8_t> m_bytes;
  bool m_big;
};

// One directory entry whose value lies inside the block.
struct Entry {
  Directory directory;
  std::uint16_t tag;
  int format;
  std::uint32_t count;
  std::uint64_t value;  // offset of the value bytes in the TIFF block
};

std::optional<Tiff> TiffOf(std::span<const std::uint8_t> segment) {
  if (segment.size() < kTiffStart + 8 || std::memcmp(segment.data() + 2, "Exif\0\0", 6) != 0) return std::nullopt;
  const std::uint8_t* order = segment.data() + kTiffStart;
  bool big = false;
  if (order[0] == 'M' && order[1] == 'M')
    big = true;
  else if (!(order[0] == 'I' && order[1] == 'I'))
    return std::nullopt;
  Tiff tiff(segment.subspan(kTiffStart), big);
  if (tiff.Unsigned(2, 2) != 42u) return std::nullopt;
  return tiff;
}

// Appends the entries of the directory at `start` whose values lie inside
// the block; a directory that does not lie inside the block adds nothing.
void ReadDirectory(const Tiff& tiff, std::uint64_t start, Directory directory, std::vector<Entry>& out) {
  const std::optional<std::uint64_t> count = tiff.Unsigned(start, 2);
  if (!count || !tiff.Holds(start + 2, 12 * *count)) return;
  for (std::uint64_t i = 0; i < *count; ++i) {
    const std::uint64_t at = start + 2 + 12 * i;
    Entry e{directory, static_cast<std::uint16_t>(*tiff.Unsigned(at, 2)), static_cast<int>(*tiff.Unsigned(at + 2, 2)),
            static_cast<std::uint32_t>(*tiff.Unsigned(at + 4, 4)), at + 8};
    if (e.format < 1 || e.format > kIfd || e.count == 0) continue;
    const std::uint64_t size = static_cast<std::uint64_t>(e.count) * kFormatSize[e.format];
    if (size > 4) e.value = *tiff.Unsigned(at + 8, 4);
    if (tiff.Holds(e.value, size)) out.push_back(e);
  }
}

// The entries of IFD0, then of the Exif and GPS directories IFD0 points at;
// no directory is read twice.
std::vector<Entry> ReadEntries(const Tiff& tiff) {
  std::vector<Entry> entries;
  const std::optional<std::uint64_t> ifd0 = tiff.Unsigned(4, 4);
  if (!ifd0) return entries;
  ReadDirectory(tiff, *ifd0, Directory::kIfd0, entries);
  std::set<std::uint64_t> read = {*ifd0};
  const std::size_t inIfd0 = entries.size();
  for (const auto& [pointer, directory] : {std::pair{kTagExifPointer, Directory::kExif},
                                           std::pair{kTagGpsPointer, Directory::kGps}}) {
    for (std::size_t i = 0; i < inIfd0; ++i) {
      const Entry e = entries[i];
      if (e.tag != pointer || (e.format != kLong && e.format != kIfd)) continue;
      const std::uint64_t start = *tiff.Unsigned(e.value, 4);
      if (read.insert(start).second) ReadDirectory(tiff, start, directory, entries);
      break;
    }
  }
  return entries;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

const TagName* NameOf(Directory directory, std::uint16_t tag) {
  const bool gps = directory == Directory::kGps;
  for (const TagName& n : kNames)
    if (n.tag == tag && (n.directory == Directory::kGps) == gps) return &n;
  return nullptr;
}

const TagName* ByName(std::string_view name) {
  const std::string wanted = Lower(name);
  for (const std::span<const TagName> table : {std::span<const TagName>(kNames), std::span<const TagName>(kStandardNames)})
    for (const TagName& n : table)
      if (Lower(n.name) == wanted) return &n;
  return nullptr;
}

std::optional<std::uint16_t> ParseNumber(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  std::uint32_t v = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v, base);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || v > 0xFFFF) return std::nullopt;
  return static_cast<std::uint16_t>(v);
}

// Bytes as text: UTF-8 when they are valid UTF-8, otherwise one Latin-1
// character a byte.
std::u16string Decode(std::span<const std::uint8_t> bytes) {
  std::u16string out;
  std::size_t i = 0;
  while (i < bytes.size()) {
    const std::uint8_t b = bytes[i];
    const int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
    if (extra < 0 || bytes.size() - i <= static_cast<std::size_t>(extra)) break;
    std::uint32_t c = extra == 0 ? b : b & (0x3F >> extra);
    bool ok = true;
    for (int k = 1; k <= extra; ++k) {
      ok = ok && (bytes[i + k] & 0xC0) == 0x80;
      c = (c << 6) | (bytes[i + k] & 0x3F);
    }
    static constexpr std::uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (!ok || c < kLeast[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) break;
    if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += static_cast<std::size_t>(extra) + 1;
  }
  if (i == bytes.size()) return out;
  return std::u16string(bytes.begin(), bytes.end());
}

std::u16string Utf16(std::span<const std::uint8_t> bytes, bool big) {
  std::u16string out;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    out += static_cast<char16_t>(big ? (bytes[i] << 8) | bytes[i + 1] : (bytes[i + 1] << 8) | bytes[i]);
  while (!out.empty() && out.back() == 0) out.pop_back();
  return out;
}

// Text up to its first zero, without trailing spaces.
std::u16string Text(std::span<const std::uint8_t> bytes) {
  std::size_t n = 0;
  while (n < bytes.size() && bytes[n] != 0) ++n;
  while (n > 0 && bytes[n - 1] == ' ') --n;
  return Decode(bytes.first(n));
}

// A comment with its 8-byte character-code prefix ("ASCII", "UNICODE",
// "JIS" or zeros for undefined).
std::u16string CodedText(std::span<const std::uint8_t> bytes, bool big) {
  static const std::uint8_t kUndefined[8] = {};
  if (bytes.size() < 8 || !(std::memcmp(bytes.data(), "ASCII\0\0\0", 8) == 0 ||
                            std::memcmp(bytes.data(), "UNICODE\0", 8) == 0 ||
                            std::memcmp(bytes.data(), "JIS\0\0\0\0\0", 8) == 0 ||
                            std::memcmp(bytes.data(), kUndefined, 8) == 0))
    return Text(bytes);  // no prefix: the text from the first byte
  const std::span<const std::uint8_t> body = bytes.subspan(8);
  if (std::memcmp(bytes.data(), "UNICODE\0", 8) == 0) {
    std::u16string text = Utf16(body, big);
    while (!text.empty() && text.back() == u' ') text.pop_back();
    return text;
  }
  return Text(body);
}

ExifNumber Whole(std::int64_t v) { return {ExifNumber::Kind::kWhole, v, 0}; }
ExifNumber Real(double v) { return {ExifNumber::Kind::kReal, 0, v}; }

ExifNumber NumberAt(const Tiff& tiff, std::uint64_t at, int format) {
  const auto u = [&](int n) { return *tiff.Unsigned(at, n); };
  const auto s = [&](int n) {
    const std::uint64_t v = u(n), sign = 1ULL << (8 * n - 1);
    return static_cast<std::int64_t>(v ^ sign) - static_cast<std::int64_t>(sign);
  };
  switch (format) {
    case kSByte: return Whole(s(1));
    case kShort: return Whole(static_cast<std::int64_t>(u(2)));
    case kSShort: return Whole(s(2));
    case kLong:
    case kIfd: return Whole(static_cast<std::int64_t>(u(4)));
    case kSLong: return Whole(s(4));
    case kRational:
    case kSRational: {
      const bool sign = format == kSRational;
      const double num = sign ? double(s(4)) : double(u(4));
      const double den = sign ? double(std::int64_t(static_cast<std::int32_t>(*tiff.Unsigned(at + 4, 4))))
                              : double(*tiff.Unsigned(at + 4, 4));
      if (den == 0) return {ExifNumber::Kind::kUndefined, 0, 0};
      return Real(num / den);
    }
    case kFloat: {
      const std::uint32_t bits = static_cast<std::uint32_t>(u(4));
      float f;
      std::memcpy(&f, &bits, 4);
      return Real(f);
    }
    case kDouble: {
      const std::uint64_t bits = u(8);
      double d;
      std::memcpy(&d, &bits, 8);
      return Real(d);
    }
    default: return Whole(static_cast<std::int64_t>(u(1)));  // BYTE, UNDEFINED
  }
}

// The unsigned decimal numbers in a text ("12", "0.5", ".5"), at most three.
std::vector<double> NumbersInText(const std::u16string& text) {
  std::vector<double> numbers;
  std::size_t i = 0;
  while (i < text.size() && numbers.size() < 3) {
    const auto digit = [&](std::size_t k) { return k < text.size() && text[k] >= u'0' && text[k] <= u'9'; };
    if (!digit(i) && !(text[i] == u'.' && digit(i + 1))) {
      ++i;
      continue;
    }
    double whole = 0, scale = 0.1;
    for (; digit(i); ++i) whole = whole * 10 + (text[i] - u'0');
    if (i < text.size() && text[i] == u'.')
      for (++i; digit(i); ++i, scale /= 10) whole += (text[i] - u'0') * scale;
    numbers.push_back(whole);
  }
  return numbers;
}

// Degrees, minutes and seconds as signed decimal degrees.
ExifTagValue Degrees(ExifTagValue dms, const std::vector<Entry>& entries, const Tiff& tiff, std::uint16_t refTag) {
  double degrees = 0, scale = 1;
  for (std::size_t i = 0; i < dms.numbers.size() && i < 3; ++i, scale *= 60) {
    const ExifNumber& n = dms.numbers[i];
    if (n.kind == ExifNumber::Kind::kUndefined) return {ExifTagValue::Kind::kNumbers, {n}, {}, {}};
    degrees += (n.kind == ExifNumber::Kind::kReal ? n.real : double(n.whole)) / scale;
  }
  for (const Entry& e : entries) {
    if (e.directory != Directory::kGps || e.tag != refTag || e.format != kAscii) continue;
    const std::uint8_t ref = tiff.Bytes(e.value, 1)[0];
    if (ref == 'S' || ref == 'W' || ref == 's' || ref == 'w') degrees = -degrees;
    break;
  }
  return {ExifTagValue::Kind::kNumbers, {Real(degrees)}, {}, {}};
}

ExifTagValue Decode(const Entry& e, const std::vector<Entry>& entries, const Tiff& tiff) {
  const std::size_t size = std::size_t{e.count} * kFormatSize[e.format];
  const std::span<const std::uint8_t> bytes = tiff.Bytes(e.value, size);
  ExifTagValue v;
  const bool gps = e.directory == Directory::kGps;
  if (e.format == kAscii) {
    v.kind = ExifTagValue::Kind::kText;
    v.text = Text(bytes);
    // Some phones write the position as text ("52,00000,50,00000,34,01180"):
    // its first three numbers are degrees, minutes and seconds, as exiftool
    // reads them.
    if (gps && (e.tag == kTagGpsLatitude || e.tag == kTagGpsLongitude)) {
      ExifTagValue dms;
      for (const double n : NumbersInText(v.text)) dms.numbers.push_back(Real(n));
      if (!dms.numbers.empty())
        return Degrees(std::move(dms), entries, tiff, e.tag == kTagGpsLatitude ? kTagGpsLatitudeRef : kTagGpsLongitudeRef);
    }
    return v;
  }
  if (!gps && e.format == kByte && e.tag >= 0x9C9B && e.tag <= 0x9C9F) {
    v.kind = ExifTagValue::Kind::kText;  // Windows' own tags: UTF-16, little-endian whatever the block
    v.text = Utf16(bytes, false);
    return v;
  }
  if (e.format == kUndefined) {
    if (!gps && (e.tag == kTagExifVersion || e.tag == kTagFlashpixVersion)) {
      v.kind = ExifTagValue::Kind::kText;
      v.text = Text(bytes);
      return v;
    }
    if ((!gps && e.tag == kTagUserComment) ||
        (gps && (e.tag == kTagGpsProcessingMethod || e.tag == kTagGpsAreaInformation))) {
      v.kind = ExifTagValue::Kind::kText;
      v.text = CodedText(bytes, tiff.big());
      return v;
    }
    if (size > 4) {
      v.kind = ExifTagValue::Kind::kBytes;
      v.bytes.assign(bytes.begin(), bytes.end());
      return v;
    }
  }
  v.numbers.reserve(e.count);
  for (std::uint32_t i = 0; i < e.count; ++i)
    v.numbers.push_back(NumberAt(tiff, e.value + std::uint64_t{i} * kFormatSize[e.format], e.format));
  if (gps && e.tag == kTagGpsLatitude) return Degrees(std::move(v), entries, tiff, kTagGpsLatitudeRef);
  if (gps && e.tag == kTagGpsLongitude) return Degrees(std::move(v), entries, tiff, kTagGpsLongitudeRef);
  return v;
}

// The tag in the first of the directories asked for that holds it.
std::optional<ExifTagValue> Find(std::span<const std::uint8_t> segment, std::uint16_t tag,
                                 std::initializer_list<Directory> directories) {
  const std::optional<Tiff> tiff = TiffOf(segment);
  if (!tiff) return std::nullopt;
  const std::vector<Entry> entries = ReadEntries(*tiff);
  for (const Directory d : directories) {
    // A tag stored twice in one directory: the later entry counts, as
    // exiftool reads it.
    const Entry* found = nullptr;
    for (const Entry& e : entries)
      if (e.directory == d && e.tag == tag) found = &e;
    if (found) return Decode(*found, entries, *tiff);
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::uint16_t> ExifTagNumber(std::string_view name) {
  if (const TagName* n = ByName(name)) return n->tag;
  return ParseNumber(name);
}

std::optional<ExifTagValue> FindExifValue(std::span<const std::uint8_t> segment, std::string_view name) {
  if (const TagName* n = ByName(name)) {
    if (n->directory == Directory::kGps) return Find(segment, n->tag, {Directory::kGps});
    return Find(segment, n->tag, {Directory::kIfd0, Directory::kExif});
  }
  const std::optional<std::uint16_t> number = ParseNumber(name);
  if (!number) return std::nullopt;
  return FindExifValue(segment, *number);
}

std::optional<ExifTagValue> FindExifValue(std::span<const std::uint8_t> segment, std::uint32_t tag) {
  if (tag > 0xFFFF) return std::nullopt;
  return Find(segment, static_cast<std::uint16_t>(tag), {Directory::kIfd0, Directory::kExif, Directory::kGps});
}

std::vector<std::string> ExifTagNames(std::span<const std::uint8_t> segment) {
  std::vector<std::string> names;
  const std::optional<Tiff> tiff = TiffOf(segment);
  if (!tiff) return names;
  std::set<std::string> seen;
  for (const Entry& e : ReadEntries(*tiff)) {
    std::string name;
    if (const TagName* n = NameOf(e.directory, e.tag)) {
      name = n->name;
    } else {
      static const char kHex[] = "0123456789ABCDEF";
      name = "0x";
      for (int shift = 12; shift >= 0; shift -= 4) name += kHex[(e.tag >> shift) & 0xF];
    }
    if (seen.insert(name).second) names.push_back(std::move(name));
  }
  return names;
}

}  // namespace qb::exif
