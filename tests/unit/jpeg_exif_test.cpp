// The JPEG segment walk and the EXIF reader, on files built here: camera
// blocks in both byte orders, every failure the reader reports, hostile
// directories, and a random-mutation run.
#include "metadata/portable/jpeg_exif.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace qb::exif {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Walk = JpegExifReader::WalkResult;

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Bytes Text(std::string_view s) { return Bytes(s.begin(), s.end()); }

enum Tag : std::uint16_t {
  kMake = 0x010F, kModel = 0x0110, kXResolution = 0x011A, kYResolution = 0x011B,
  kResolutionUnit = 0x0128, kExposureTime = 0x829A, kFNumber = 0x829D, kExifPointer = 0x8769,
  kExifVersion = 0x9000, kDateTimeOriginal = 0x9003, kShutterSpeed = 0x9201, kAperture = 0x9202,
  kBrightness = 0x9203, kMaxAperture = 0x9205, kFlash = 0x9209, kFocalLength = 0x920A,
  kUserComment = 0x9286, kPixelX = 0xA002, kPixelY = 0xA003, kInteropPointer = 0xA005,
  kFocalPlaneX = 0xA20E, kFocalPlaneUnit = 0xA210,
};
enum Format : std::uint16_t {
  kByte = 1, kAscii, kShort, kLong, kRational, kSByte, kUndefined, kSShort, kSLong, kSRational,
  kFloat, kDouble,
};

struct Field {
  std::uint16_t tag, format;
  std::uint32_t count;
  Bytes value;  // in the block's byte order; more than 4 bytes go after the directory
};

// Writes TIFF blocks of EXIF segments in one byte order.
class TiffWriter {
 public:
  explicit TiffWriter(bool bigEndian) : m_be(bigEndian) {}
  bool bigEndian() const { return m_be; }

  Bytes U16(std::uint16_t v) const {
    return m_be ? Bytes{std::uint8_t(v >> 8), std::uint8_t(v)} : Bytes{std::uint8_t(v), std::uint8_t(v >> 8)};
  }
  Bytes U32(std::uint32_t v) const {
    return m_be ? U16(std::uint16_t(v >> 16)) + U16(std::uint16_t(v)) : U16(std::uint16_t(v)) + U16(std::uint16_t(v >> 16));
  }
  Field Ascii(std::uint16_t tag, std::string_view s) const {
    return {tag, kAscii, std::uint32_t(s.size() + 1), Text(s) + Bytes{0}};
  }
  Field Short(std::uint16_t tag, std::uint16_t v) const { return {tag, kShort, 1, U16(v)}; }
  Field Long(std::uint16_t tag, std::uint32_t v) const { return {tag, kLong, 1, U32(v)}; }
  Field Ratio(std::uint16_t tag, std::int64_t num, std::int64_t den, std::uint16_t format = kRational) const {
    return {tag, format, 1, U32(std::uint32_t(num)) + U32(std::uint32_t(den))};
  }
  Field Undefined(std::uint16_t tag, const Bytes& b) const { return {tag, kUndefined, std::uint32_t(b.size()), b}; }

  // Header, IFD0 at 8, the Exif directory (linked from IFD0's last entry
  // when it has fields), then IFD1 as IFD0's next directory.
  Bytes Build(std::vector<Field> ifd0, const std::vector<Field>& exif = {},
              const std::vector<Field>& ifd1 = {}) const {
    if (!exif.empty()) ifd0.push_back(Long(kExifPointer, 0));
    const std::uint32_t exifAt = 8 + DirSize(ifd0);
    const std::uint32_t ifd1At = exifAt + (exif.empty() ? 0 : DirSize(exif));
    if (!exif.empty()) ifd0.back().value = U32(exifAt);
    Bytes out = Text(m_be ? "MM" : "II") + U16(42) + U32(8);
    WriteDir(out, ifd0, ifd1.empty() ? 0 : ifd1At);
    if (!exif.empty()) WriteDir(out, exif, 0);
    if (!ifd1.empty()) WriteDir(out, ifd1, 0);
    return out;
  }

 private:
  static std::uint32_t DirSize(const std::vector<Field>& fields) {
    std::uint32_t size = 6 + 12 * std::uint32_t(fields.size());
    for (const Field& f : fields)
      if (f.value.size() > 4) size += std::uint32_t(f.value.size() + f.value.size() % 2);
    return size;
  }
  void WriteDir(Bytes& out, const std::vector<Field>& fields, std::uint32_t next) const {
    std::uint32_t dataAt = std::uint32_t(out.size()) + 6 + 12 * std::uint32_t(fields.size());
    Bytes data;
    out = out + U16(std::uint16_t(fields.size()));
    for (const Field& f : fields) {
      out = out + U16(f.tag) + U16(f.format) + U32(f.count);
      if (f.value.size() > 4) {
        out = out + U32(dataAt + std::uint32_t(data.size()));
        data = data + f.value;
        if (data.size() % 2) data.push_back(0);
      } else {
        Bytes inline4 = f.value;
        inline4.resize(4);
        out = out + inline4;
      }
    }
    out = out + U32(next) + data;
  }
  bool m_be;
};

void Put16(Bytes& b, std::size_t at, std::uint16_t v, bool be = false) {
  b[at + (be ? 1 : 0)] = std::uint8_t(v);
  b[at + (be ? 0 : 1)] = std::uint8_t(v >> 8);
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v, bool be = false) {
  Put16(b, at + (be ? 2 : 0), std::uint16_t(v), be);
  Put16(b, at + (be ? 0 : 2), std::uint16_t(v >> 16), be);
}
// Offsets inside a block whose IFD0 (at 8) has n entries.
constexpr std::size_t EntryAt(std::size_t i) { return 10 + 12 * i; }
constexpr std::size_t NextAt(std::size_t n) { return 10 + 12 * n; }

Bytes Segment(std::uint8_t marker, const Bytes& payload) {
  const std::size_t length = payload.size() + 2;
  return Bytes{0xFF, marker, std::uint8_t(length >> 8), std::uint8_t(length)} + payload;
}
Bytes ExifApp1(const Bytes& tiff) { return Segment(0xE1, Text("Exif") + Bytes{0, 0} + tiff); }
Bytes Com(std::string_view text) { return Segment(0xFE, Text(text)); }
Bytes App0() { return Segment(0xE0, Text("JFIF") + Bytes{0, 1, 1, 0, 0, 1, 0, 1, 0, 0}); }
Bytes Dqt() { return Segment(0xDB, Bytes(65, 1)); }
Bytes Sof0() { return Segment(0xC0, {8, 0, 16, 0, 16, 1, 1, 0x11, 0}); }
const Bytes kSoi{0xFF, 0xD8};
// Start of scan and some entropy-coded bytes, which the walk never reads.
Bytes Sos() { return Segment(0xDA, {1, 1, 0, 0, 63, 0}) + Bytes{0x12, 0xFF, 0x00, 0xFF, 0xD9}; }
Bytes Jpeg(std::initializer_list<Bytes> segments) {
  Bytes file = kSoi;
  for (const Bytes& s : segments) file = file + s;
  return file + Sos();
}

// A picture's reader state and camera data across reads; a read applies the
// record only when the walk reached the image and the block was valid.
struct Picture {
  Picture() { reader.SetConsole([this](const char* text) { printed += text; }); }
  Picture(const Picture&) = delete;
  Walk Read(const Bytes& file) {
    MemoryStream stream(file);
    info = ExifInfo{};
    const Walk result = reader.Read(stream, info);
    if (result == Walk::kReachedImage && info.valid) ApplyCameraData(info, data);
    return result;
  }
  JpegExifReader reader;
  ExifInfo info;
  CameraData data;
  std::string printed;
};

void ExpectSameCameraData(const CameraData& want, const CameraData& got) {
  EXPECT_EQ(want.cameraMake, got.cameraMake);
  EXPECT_EQ(want.cameraModel, got.cameraModel);
  EXPECT_EQ(want.dateTime, got.dateTime);
  EXPECT_EQ(want.exifVersion, got.exifVersion);
  EXPECT_EQ(want.flashUsed, got.flashUsed);
  EXPECT_EQ(want.comment, got.comment);
  EXPECT_FLOAT_EQ(want.exposureTime, got.exposureTime);
  EXPECT_FLOAT_EQ(want.focalLength, got.focalLength);
  EXPECT_FLOAT_EQ(want.xResolution, got.xResolution);
  EXPECT_FLOAT_EQ(want.yResolution, got.yResolution);
  EXPECT_FLOAT_EQ(want.brightness, got.brightness);
  EXPECT_FLOAT_EQ(want.aperture, got.aperture);
}

// A compact camera: IFD0 with maker and resolution, an Exif directory, and
// a thumbnail directory without values of interest.
Bytes CameraTiff(const TiffWriter& w, std::vector<Field> extraExif = {}) {
  std::vector<Field> exif = {
      w.Ratio(kExposureTime, 1, 125), w.Ratio(kFNumber, 28, 10),
      w.Undefined(kExifVersion, Text("0220")), w.Ascii(kDateTimeOriginal, "2008:06:02 10:03:57"),
      w.Ratio(kShutterSpeed, 3, 1, kSRational), w.Ratio(kAperture, 4, 1),
      w.Ratio(kBrightness, -25, 10, kSRational), w.Short(kFlash, 0x19), w.Ratio(kFocalLength, 356, 10),
      w.Undefined(kUserComment, Text("ASCII") + Bytes{0, 0, 0} + Text("Hello camera   ")),
      w.Short(kPixelX, 2272), w.Short(kPixelY, 1704)};
  exif.insert(exif.end(), extraExif.begin(), extraExif.end());
  return w.Build({w.Ascii(kMake, "Canon"), w.Ascii(kModel, "Canon PowerShot S40"),
                  w.Ratio(kXResolution, 180, 1), w.Ratio(kYResolution, 180, 1), w.Short(kResolutionUnit, 2)},
                 exif, {w.Short(0x0103, 6)});
}

CameraData CameraExpected() {
  CameraData d;
  d.cameraMake = "Canon";
  d.cameraModel = "Canon PowerShot S40";
  d.dateTime = "2008:06:02 10:03:57";
  d.exifVersion = "0220";
  d.flashUsed = "Yes";
  d.comment = "Hello camera";
  d.exposureTime = 125;  // 1/125 s; ShutterSpeedValue 3 (1/8 s) does not replace it
  d.aperture = 2.8f;     // FNumber; ApertureValue 4 (F4) does not replace it
  d.focalLength = 35.6f;
  d.xResolution = d.yResolution = 180;
  d.brightness = -2.5f;
  return d;
}

// ---------------------------------------------------------------------------
// Camera data from whole blocks, in both byte orders

class ExifByteOrder : public testing::TestWithParam<bool> {};

TEST_P(ExifByteOrder, CameraBlockGivesItsCameraData) {
  Picture pic;
  EXPECT_EQ(Walk::kReachedImage, pic.Read(Jpeg({App0(), ExifApp1(CameraTiff(TiffWriter(GetParam()))), Dqt(), Sof0()})));
  EXPECT_TRUE(pic.info.valid);
  EXPECT_EQ("", pic.reader.exifError());
  ExpectSameCameraData(CameraExpected(), pic.data);
  EXPECT_EQ(2, static_cast<int>(pic.data.aperture)) << "the COM getter truncates 2.8";
  EXPECT_EQ(35, static_cast<int>(pic.data.focalLength)) << "the COM getter truncates 35.6";
}

TEST_P(ExifByteOrder, FloatAndDoubleAreLittleEndianWhateverTheBlockOrder) {
  const TiffWriter w(GetParam());
  float f = 1.5f;
  double d = -0.25;
  Bytes fb(4), db(8);
  std::memcpy(fb.data(), &f, 4);  // the test machine is little-endian, as the reader's values
  std::memcpy(db.data(), &d, 8);
  Picture pic;
  pic.Read(Jpeg({ExifApp1(w.Build({w.Ascii(kMake, "X")},
                                  {{kBrightness, kFloat, 1, fb}, {kFocalLength, kDouble, 1, db}}))}));
  EXPECT_EQ(1.5f, pic.info.brightness);
  EXPECT_EQ(-0.25f, pic.info.focalLength);
}

INSTANTIATE_TEST_SUITE_P(Orders, ExifByteOrder, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "BigEndian" : "LittleEndian"; });

// EntryValueAsDouble seen through BrightnessValue: every format, both orders.
struct FormatCase {
  const char* name;
  std::function<Field(const TiffWriter&)> field;
  float want;
};

std::ostream& operator<<(std::ostream& os, const FormatCase& c) { return os << c.name; }

class ExifValueFormats : public testing::TestWithParam<std::tuple<bool, FormatCase>> {};

TEST_P(ExifValueFormats, ReadAsNumber) {
  const auto& [be, c] = GetParam();
  const TiffWriter w(be);
  Picture pic;
  pic.Read(Jpeg({ExifApp1(w.Build({c.field(w)}))}));
  EXPECT_TRUE(pic.info.valid);
  EXPECT_FLOAT_EQ(c.want, pic.info.brightness);
}

INSTANTIATE_TEST_SUITE_P(Formats, ExifValueFormats, testing::Combine(testing::Values(false, true), testing::Values(
    FormatCase{"Byte", [](const TiffWriter&) { return Field{kBrightness, kByte, 1, {200}}; }, 200},
    FormatCase{"SByte", [](const TiffWriter&) { return Field{kBrightness, kSByte, 1, {0xF6}}; }, -10},
    FormatCase{"Short", [](const TiffWriter& w) { return Field{kBrightness, kShort, 1, w.U16(40000)}; }, 40000},
    FormatCase{"SShort", [](const TiffWriter& w) { return Field{kBrightness, kSShort, 1, w.U16(0xFFFD)}; }, -3},
    FormatCase{"Long", [](const TiffWriter& w) { return w.Long(kBrightness, 3000000000u); }, 3e9f},
    FormatCase{"SLong", [](const TiffWriter& w) { return Field{kBrightness, kSLong, 1, w.U32(0xFFFFFFFB)}; }, -5},
    FormatCase{"RationalReadSigned", [](const TiffWriter& w) { return w.Ratio(kBrightness, 0xFFFFFFFF, 2); }, -0.5f},
    FormatCase{"SRational", [](const TiffWriter& w) { return w.Ratio(kBrightness, -3, 2, kSRational); }, -1.5f},
    FormatCase{"ZeroDenominator", [](const TiffWriter& w) { return w.Ratio(kBrightness, 7, 0, kSRational); }, 0},
    FormatCase{"RationalWithoutComponents", [](const TiffWriter& w) {
                 return Field{kBrightness, kRational, 0, w.U32(1)}; }, 0},
    FormatCase{"Ascii", [](const TiffWriter& w) { return w.Ascii(kBrightness, "7"); }, 0},
    FormatCase{"Undefined", [](const TiffWriter& w) { return w.Undefined(kBrightness, {7}); }, 0},
    FormatCase{"FormatZero", [](const TiffWriter&) { return Field{kBrightness, 0, 1, {7}}; }, 0})),
    [](const auto& info) {
      return std::string(std::get<1>(info.param).name) + (std::get<0>(info.param) ? "_BE" : "_LE");
    });

// Tags and their effect on the camera data, each case in both orders.
struct TagCase {
  const char* name;
  std::function<Bytes(const TiffWriter&)> tiff;
  std::function<void(CameraData&)> expect;  // what changes from a fresh record's result
};

std::ostream& operator<<(std::ostream& os, const TagCase& c) { return os << c.name; }

class ExifTags : public testing::TestWithParam<std::tuple<bool, TagCase>> {};

TEST_P(ExifTags, GiveCameraData) {
  const auto& [be, c] = GetParam();
  Picture pic;
  ASSERT_EQ(Walk::kReachedImage, pic.Read(Jpeg({ExifApp1(c.tiff(TiffWriter(be)))})));
  EXPECT_TRUE(pic.info.valid) << pic.reader.exifError();
  CameraData want;
  want.flashUsed = "No";
  c.expect(want);
  ExpectSameCameraData(want, pic.data);
}

using W = const TiffWriter&;
using D = CameraData&;
// An Exif directory holding `fields` under a maker "M".
Bytes InExif(W w, std::vector<Field> fields) { return w.Build({w.Ascii(kMake, "M")}, fields); }
void MakeM(D d) { d.cameraMake = "M"; }

INSTANTIATE_TEST_SUITE_P(Values, ExifTags, testing::Combine(testing::Values(false, true), testing::Values(
    // Exposure: seconds, or the denominator of a shutter speed up to 1/2 s.
    TagCase{"Exposure1_125", [](W w) { return InExif(w, {w.Ratio(kExposureTime, 8, 1000)}); },
            [](D d) { MakeM(d); d.exposureTime = 125; }},
    TagCase{"Exposure2s", [](W w) { return InExif(w, {w.Ratio(kExposureTime, 2, 1)}); },
            [](D d) { MakeM(d); d.exposureTime = 2; }},
    TagCase{"ExposureHalfSecond", [](W w) { return InExif(w, {w.Ratio(kExposureTime, 1, 2)}); },
            [](D d) { MakeM(d); d.exposureTime = 2; }},
    TagCase{"Exposure0_6s", [](W w) { return InExif(w, {w.Ratio(kExposureTime, 6, 10)}); },
            [](D d) { MakeM(d); d.exposureTime = 0.6f; }},
    TagCase{"ShutterSpeedAlone", [](W w) { return InExif(w, {w.Ratio(kShutterSpeed, 7, 1, kSRational)}); },
            [](D d) { MakeM(d); d.exposureTime = 128; }},
    TagCase{"ShutterSpeedLong", [](W w) { return InExif(w, {w.Ratio(kShutterSpeed, -1, 1, kSRational)}); },
            [](D d) { MakeM(d); d.exposureTime = 2; }},
    TagCase{"ExposureTimeAfterShutterSpeedWins",
            [](W w) { return InExif(w, {w.Ratio(kShutterSpeed, 7, 1, kSRational), w.Ratio(kExposureTime, 1, 60)}); },
            [](D d) { MakeM(d); d.exposureTime = 60; }},
    // Aperture: FNumber, else ApertureValue, else MaxApertureValue (2^(Av/2)).
    TagCase{"ApertureValue4", [](W w) { return InExif(w, {w.Ratio(kAperture, 4, 1)}); },
            [](D d) { MakeM(d); d.aperture = 4; }},
    TagCase{"MaxApertureFallback", [](W w) { return InExif(w, {w.Ratio(kMaxAperture, 3, 1)}); },
            [](D d) { MakeM(d); d.aperture = 2.8284271f; }},
    TagCase{"FNumberBeforeApertureWins", [](W w) { return InExif(w, {w.Ratio(kFNumber, 28, 10), w.Ratio(kAperture, 4, 1)}); },
            [](D d) { MakeM(d); d.aperture = 2.8f; }},
    // Focal length: millimetres, or the 35-mm equivalent once the sensor
    // width is known. An IXUS-like camera: 2272 pixels on 0.207 in (5.26 mm).
    TagCase{"FocalLength", [](W w) { return InExif(w, {w.Ratio(kFocalLength, 356, 10)}); },
            [](D d) { MakeM(d); d.focalLength = 35.6f; }},
    TagCase{"FocalEquivalentInches",
            [](W w) { return InExif(w, {w.Ratio(kFocalLength, 108, 10), w.Short(kPixelX, 2272), w.Short(kPixelY, 1704),
                                        w.Ratio(kFocalPlaneX, 2272000, 207), w.Short(kFocalPlaneUnit, 2)}); },
            [](D d) { MakeM(d); d.focalLength = 74; }},
    TagCase{"FocalEquivalentCentimetres",
            [](W w) { return InExif(w, {w.Ratio(kFocalLength, 108, 10), w.Long(kPixelX, 1704), w.Long(kPixelY, 2272),
                                        w.Ratio(kFocalPlaneX, 227200000, 52578), w.Short(kFocalPlaneUnit, 3)}); },
            [](D d) { MakeM(d); d.focalLength = 74; }},
    TagCase{"FocalEquivalentMillimetres",
            [](W w) { return InExif(w, {w.Ratio(kFocalLength, 108, 10), w.Short(kPixelX, 2272),
                                        w.Ratio(kFocalPlaneX, 22720000, 52578), w.Short(kFocalPlaneUnit, 4)}); },
            [](D d) { MakeM(d); d.focalLength = 74; }},
    TagCase{"FocalPlaneWithoutUnitGivesNoWidth",
            [](W w) { return InExif(w, {w.Ratio(kFocalLength, 108, 10), w.Short(kPixelX, 2272), w.Ratio(kFocalPlaneX, 2272000, 207)}); },
            [](D d) { MakeM(d); d.focalLength = 10.8f; }},
    // Resolution per inch; the thumbnail directory's values come last and win.
    TagCase{"ResolutionPerCentimetre",
            [](W w) { return w.Build({w.Ascii(kMake, "M"), w.Ratio(kXResolution, 11811, 100), w.Ratio(kYResolution, 2835, 100),
                                      w.Short(kResolutionUnit, 3)}); },
            [](D d) { MakeM(d); d.xResolution = 118.11f / 0.3937007874f; d.yResolution = 28.35f / 0.3937007874f; }},
    TagCase{"ResolutionWithoutUnitIsNotTaken",
            [](W w) { return w.Build({w.Ascii(kMake, "M"), w.Ratio(kXResolution, 72, 1), w.Short(kResolutionUnit, 9)}); },
            [](D d) { MakeM(d); }},
    TagCase{"ThumbnailResolutionComesLast",
            [](W w) { return w.Build({w.Ascii(kMake, "M"), w.Ratio(kXResolution, 300, 1), w.Short(kResolutionUnit, 2)}, {},
                                     {w.Ratio(kXResolution, 72, 1)}); },
            [](D d) { MakeM(d); d.xResolution = 72; }},
    // Flash: fired when any of the three lowest bits is set.
    TagCase{"FlashFiredAuto", [](W w) { return InExif(w, {w.Short(kFlash, 0x19)}); }, [](D d) { MakeM(d); d.flashUsed = "Yes"; }},
    TagCase{"FlashReturnBits", [](W w) { return InExif(w, {w.Short(kFlash, 0x06)}); }, [](D d) { MakeM(d); d.flashUsed = "Yes"; }},
    TagCase{"FlashAutoNotFired", [](W w) { return InExif(w, {w.Short(kFlash, 0x18)}); }, [](D d) { MakeM(d); }},
    TagCase{"FlashOff", [](W w) { return InExif(w, {w.Short(kFlash, 0x10)}); }, [](D d) { MakeM(d); }},
    // Texts: limited to their fields and to the entry's own bytes.
    TagCase{"LongMakeAndModel",
            [](W w) { return w.Build({w.Ascii(kMake, std::string(40, 'a')), w.Ascii(kModel, std::string(50, 'b'))}); },
            [](D d) { d.cameraMake = std::string(31, 'a'); d.cameraModel = std::string(39, 'b'); }},
    TagCase{"MakeStopsAtItsByteCount",
            [](W w) { return w.Build({{kMake, kAscii, 5, Text("CanonXYZ")}, {kModel, kAscii, 3, Text("S40Q")}}); },
            [](D d) { d.cameraMake = "Canon"; d.cameraModel = "S40"; }},
    TagCase{"EmptyMakeLeavesModel",
            [](W w) { return w.Build({w.Ascii(kMake, ""), w.Ascii(kModel, "Model")}); }, [](D) {}},
    TagCase{"DateTimeAndShortVersion",
            [](W w) { return InExif(w, {w.Ascii(kDateTimeOriginal, "2008:06:02 10:03:57 and more"),
                                        w.Undefined(kExifVersion, Text("02"))}); },
            [](D d) { MakeM(d); d.dateTime = "2008:06:02 10:03:57"; d.exifVersion = "02"; }},
    // UserComment: an ASCII prefix is skipped, any other is copied as text.
    TagCase{"UserCommentAscii",
            [](W w) { return InExif(w, {w.Undefined(kUserComment, Text("ASCII") + Bytes{0, 0, 0} + Text("Hello"))}); },
            [](D d) { MakeM(d); d.comment = "Hello"; }},
    TagCase{"UserCommentAsciiSpacePadded",
            [](W w) { return InExif(w, {w.Undefined(kUserComment, Text("ASCII   Hi"))}); },
            [](D d) { MakeM(d); d.comment = "Hi"; }},
    TagCase{"UserCommentAsciiBlank",
            [](W w) { return InExif(w, {w.Undefined(kUserComment, Text("ASCII") + Bytes{0, 0, 0} + Text("      "))}); },
            [](D d) { MakeM(d); }},
    TagCase{"UserCommentUnicodeGivesPrefix",
            [](W w) { return InExif(w, {w.Undefined(kUserComment, Text("UNICODE") + Bytes{0, 'H', 0, 'i', 0})}); },
            [](D d) { MakeM(d); d.comment = "UNICODE"; }},
    TagCase{"UserCommentUndefinedPrefixIsEmpty",
            [](W w) { return InExif(w, {w.Undefined(kUserComment, Bytes(8, 0) + Text("text"))}); },
            [](D d) { MakeM(d); }},
    TagCase{"UserCommentLimit",
            [](W w) { return InExif(w, {w.Undefined(kUserComment, Text("ASCII") + Bytes{0, 0, 0} + Text(std::string(300, 'c')))}); },
            [](D d) { MakeM(d); d.comment = std::string(199, 'c'); }},
    TagCase{"UserCommentWithoutTerminator",
            [](W w) { return InExif(w, {{kUserComment, kUndefined, 10, Text("ASCII") + Bytes{0, 0, 0} + Text("HiDROPPED")}}); },
            [](D d) { MakeM(d); d.comment = "Hi"; }})),
    [](const auto& info) {
      return std::string(std::get<1>(info.param).name) + (std::get<0>(info.param) ? "_BE" : "_LE");
    });

TEST(ExifUserComment, TrailingSpacesAreBlankedInTheKeptSegment) {
  const TiffWriter w(false);
  Picture pic;
  pic.Read(Jpeg({ExifApp1(InExif(w, {w.Undefined(kUserComment, Text("ASCII") + Bytes{0, 0, 0} + Text("Hi   "))}))}));
  const std::vector<std::uint8_t>& block = pic.reader.exifBlock();
  const auto hi = std::search(block.begin(), block.end(), std::begin("Hi"), std::end("Hi") - 1);
  ASSERT_NE(block.end(), hi);
  EXPECT_EQ((Bytes{'H', 'i', 0, 0, 0}), Bytes(hi, hi + 5));
}

// ---------------------------------------------------------------------------
// The walk

TEST(JpegWalk, KeepsFramesTablesExifAndTheFirstComment) {
  const Bytes exif = ExifApp1(CameraTiff(TiffWriter(false)));
  Picture pic;
  ASSERT_EQ(Walk::kReachedImage,
            pic.Read(Jpeg({App0(), Segment(0xE1, Text("http://ns.adobe.com/xap/1.0/")), exif, Com("first"), Dqt(),
                           Com("second"), Sof0()})));
  const std::vector<int> want = {0xE1, 0xFE, 0xDB, 0xC0, 0xDA};
  ASSERT_EQ(int(want.size()), pic.reader.segmentCount());
  for (int i = 0; i < pic.reader.segmentCount(); ++i) {
    const JpegSegment& s = pic.reader.segment(i);
    EXPECT_EQ(want[i], s.marker);
    EXPECT_EQ(std::size_t(s.size), s.data.size());
    EXPECT_EQ(s.size, (s.data[0] << 8) | s.data[1]) << "starts with its length bytes";
  }
  // The segment without FF E1 (its UserComment padding blanked).
  EXPECT_EQ(pic.reader.exifBlock(), pic.reader.segment(0).data);
  EXPECT_EQ(int(exif.size() - 2), pic.reader.exifBlockSize());
  EXPECT_EQ(Bytes(exif.begin() + 2, exif.begin() + 40), Bytes(pic.reader.exifBlock().begin(), pic.reader.exifBlock().begin() + 38));
  EXPECT_EQ("first", pic.data.comment) << "a comment after the EXIF block replaces the UserComment";
}

TEST(JpegWalk, CommentBeforeExifIsClearedByTheParse) {
  const TiffWriter w(false);
  Picture pic;
  pic.Read(Jpeg({Com("before"), ExifApp1(w.Build({w.Ascii(kMake, "M")}))}));
  EXPECT_EQ("", pic.data.comment);
  pic.Read(Jpeg({Com("before"), ExifApp1(CameraTiff(w))}));
  EXPECT_EQ("Hello camera", pic.data.comment);
}

TEST(JpegWalk, CommentTextIsCleanedAndLimited) {
  Picture pic;
  pic.Read(Jpeg({Com("a\r\nb\rc\td\x01\xE9")}));
  EXPECT_EQ("a\nb?c\td?\xE9", std::string(pic.info.comment));
  pic.Read(Jpeg({Com(std::string(1200, 'x'))}));
  EXPECT_EQ(std::string(998, 'x'), std::string(pic.info.comment));
}

struct PaddingCase { int fills; Walk result; const char* printed; };
std::ostream& operator<<(std::ostream& os, const PaddingCase& c) { return os << c.fills << " fill bytes"; }
class JpegWalkPadding : public testing::TestWithParam<PaddingCase> {};

TEST_P(JpegWalkPadding, UpToSixFillBytes) {
  // A DQT segment whose marker code is preceded by `fills` FF bytes.
  const Bytes dqt = Dqt();
  Bytes file = kSoi + Bytes(GetParam().fills, 0xFF) + Bytes(dqt.begin() + 1, dqt.end()) + Sos();
  Picture pic;
  EXPECT_EQ(GetParam().result, pic.Read(file));
  EXPECT_EQ(GetParam().printed, pic.printed);
  EXPECT_EQ("", pic.reader.exifError());
}

INSTANTIATE_TEST_SUITE_P(Fills, JpegWalkPadding, testing::Values(
    PaddingCase{0, Walk::kReachedImage, ""}, PaddingCase{1, Walk::kReachedImage, ""},
    PaddingCase{6, Walk::kReachedImage, ""},
    PaddingCase{7, Walk::kFailed, "too many padding unsigned chars\n"}));

TEST(JpegWalk, TwentyKeptSectionsAreTheLimit) {
  Picture pic;
  Bytes head = kSoi;
  for (int i = 0; i < 19; ++i) head = head + Dqt();
  EXPECT_EQ(Walk::kReachedImage, pic.Read(head + Sos())) << "19 tables and the scan";
  EXPECT_EQ(20, pic.reader.segmentCount());
  EXPECT_EQ(Walk::kFailed, pic.Read(head + Dqt() + Sos()));
  EXPECT_EQ("Too many sections in jpg file", pic.reader.exifError());

  Bytes dropped = kSoi;
  for (int i = 0; i < 30; ++i) dropped = dropped + App0() + Com("c");
  EXPECT_EQ(Walk::kReachedImage, pic.Read(dropped + Sos())) << "dropped segments take no place";
  EXPECT_EQ(2, pic.reader.segmentCount()) << "a new read starts an empty table";
}

// Every way a read fails, and the EXIF failures that leave the walk going.
struct FailureCase {
  const char* name;
  Bytes file;
  Walk result;
  const char* error;    // exifError afterwards
  const char* printed;  // standard output
};
std::ostream& operator<<(std::ostream& os, const FailureCase& c) { return os << c.name; }
class JpegWalkFailures : public testing::TestWithParam<FailureCase> {};

TEST_P(JpegWalkFailures, ReportTheirText) {
  const FailureCase& c = GetParam();
  Picture pic;
  EXPECT_EQ(c.result, pic.Read(c.file));
  EXPECT_EQ(c.error, pic.reader.exifError());
  EXPECT_EQ(c.printed, pic.printed);
  EXPECT_FALSE(pic.info.valid);
  EXPECT_EQ("", pic.data.cameraMake);
}

// A little-endian block with IFD0 = {Make "M", ExifPointer} and an Exif
// directory with one ExposureTime entry, damaged by `patch`.
Bytes Damaged(const std::function<void(Bytes&)>& patch) {
  const TiffWriter w(false);
  Bytes tiff = w.Build({w.Ascii(kMake, "M")}, {w.Ratio(kExposureTime, 1, 125)});
  patch(tiff);
  return Jpeg({ExifApp1(tiff)});
}
Bytes ExifPayload(const Bytes& payload) { return Jpeg({Segment(0xE1, payload)}); }
const Bytes kExifHeader = Text("Exif") + Bytes{0, 0};

INSTANTIATE_TEST_SUITE_P(Files, JpegWalkFailures, testing::Values(
    FailureCase{"NotJpeg", Text("GIF89a"), Walk::kFailed, "", ""},
    FailureCase{"Empty", {}, Walk::kFailed, "", ""},
    FailureCase{"EndAfterSoi", kSoi, Walk::kFailed, "invalid marker", ""},
    FailureCase{"EndInsideLength", kSoi + Bytes{0xFF, 0xDB, 0x00}, Walk::kFailed, "invalid marker", ""},
    FailureCase{"LengthOne", kSoi + Bytes{0xFF, 0xDB, 0x00, 0x01} + Sos(), Walk::kFailed, "invalid marker", ""},
    FailureCase{"LengthZero", kSoi + Bytes{0xFF, 0xFE, 0x00, 0x00} + Sos(), Walk::kFailed, "invalid marker", ""},
    FailureCase{"TruncatedSegment", kSoi + Bytes{0xFF, 0xDB, 0x00, 0x43, 1, 2, 3}, Walk::kFailed, "Premature end of file?", ""},
    FailureCase{"TruncatedExif", [] { Bytes f = Jpeg({ExifApp1(CameraTiff(TiffWriter(true)))}); f.resize(60); return f; }(),
                Walk::kFailed, "Premature end of file?", ""},
    FailureCase{"EndOfImageFirst", kSoi + Dqt() + Bytes{0xFF, 0xD9, 0x00, 0x02}, Walk::kFailed, "", "No image in jpeg!\n"},
    // EXIF failures: the block is invalid, the walk reaches the image.
    FailureCase{"ExifWithoutZeros", ExifPayload(Text("Exif\x01") + Bytes{0} + Text("II*")), Walk::kReachedImage,
                "Incorrect Exif header", ""},
    FailureCase{"SegmentLength6", ExifPayload(Text("Exif")), Walk::kReachedImage, "Incorrect Exif header", ""},
    FailureCase{"SegmentLength7", ExifPayload(Text("Exif") + Bytes{0}), Walk::kReachedImage, "Incorrect Exif header", ""},
    FailureCase{"NoTiffBlock", ExifPayload(kExifHeader), Walk::kReachedImage, "Invalid Exif alignment marker.", ""},
    FailureCase{"ByteOrderIM", ExifPayload(kExifHeader + Text("IM") + Bytes{42, 0, 8, 0, 0, 0}), Walk::kReachedImage,
                "Invalid Exif alignment marker.", ""},
    FailureCase{"Not42", ExifPayload(kExifHeader + Text("II") + Bytes{43, 0, 8, 0, 0, 0}), Walk::kReachedImage,
                "Invalid Exif start (1)", ""},
    FailureCase{"HeaderOnly", ExifPayload(kExifHeader + Text("MM") + Bytes{0, 42}), Walk::kReachedImage,
                "Illegally sized directory", ""},
    FailureCase{"CountPastBlock", Damaged([](Bytes& t) { Put16(t, 8, 200); }), Walk::kReachedImage,
                "Illegally sized directory", ""},
    FailureCase{"Format13", Damaged([](Bytes& t) { Put16(t, EntryAt(0) + 2, 13); }), Walk::kReachedImage,
                "Illegal format code in EXIF dir", ""},
    FailureCase{"ValuePastBlock", Damaged([](Bytes& t) { Put32(t, EntryAt(0) + 4, 100); }), Walk::kReachedImage,
                "Illegal pointer offset value in EXIF.", ""},
    FailureCase{"ValueSizeWraps32Bits", Damaged([](Bytes& t) { Put16(t, EntryAt(0) + 2, kDouble); Put32(t, EntryAt(0) + 4, 0x20000000); }),
                Walk::kReachedImage, "Illegal pointer offset value in EXIF.", ""},
    FailureCase{"ExifLinkPastBlock", Damaged([](Bytes& t) { Put32(t, EntryAt(1) + 8, 5000); }), Walk::kReachedImage,
                "Illegal subdirectory link", ""},
    FailureCase{"NextLinkPastBlock", Damaged([](Bytes& t) { Put32(t, NextAt(2), 0xFFFFFFF0); }), Walk::kReachedImage,
                "Illegal subdirectory link", ""},
    // The first-directory offset points past 8, where no directory is.
    FailureCase{"NoDirectoryAt8", Damaged([](Bytes& t) { Put32(t, 4, 40); Put16(t, 8, 0xFFFF); }), Walk::kReachedImage,
                "Illegally sized directory", ""}),
    [](const auto& info) { return std::string(info.param.name); });

class FailingAllocation : public JpegExifReader {
  bool AllocateSegment(std::vector<std::uint8_t>&, std::size_t) override { return false; }
};

TEST(JpegWalk, AllocationFailureIsReported) {
  FailingAllocation reader;
  const Bytes file = Jpeg({Dqt()});
  MemoryStream stream(file);
  ExifInfo info;
  EXPECT_EQ(Walk::kFailed, reader.Read(stream, info));
  EXPECT_EQ("Could not allocate memory", reader.exifError());
}

TEST(JpegWalk, FileStreamReadsLikeMemory) {
  const Bytes file = Jpeg({ExifApp1(CameraTiff(TiffWriter(true))), Dqt()});
  std::FILE* f = std::tmpfile();
  ASSERT_NE(nullptr, f);
  ASSERT_EQ(file.size(), std::fwrite(file.data(), 1, file.size(), f));
  std::rewind(f);
  FileStream stream(f);
  JpegExifReader reader;
  ExifInfo info;
  CameraData data;
  EXPECT_EQ(Walk::kReachedImage, reader.Read(stream, info));
  ApplyCameraData(info, data);
  ExpectSameCameraData(CameraExpected(), data);
  std::fclose(f);
}

// ---------------------------------------------------------------------------
// State across reads

TEST(ExifAcrossReads, AFileWithoutExifKeepsTheEarlierValuesAndBlock) {
  Picture pic;
  pic.Read(Jpeg({ExifApp1(CameraTiff(TiffWriter(false)))}));
  const Bytes block = pic.reader.exifBlock();
  EXPECT_EQ(Walk::kReachedImage, pic.Read(Jpeg({App0(), Dqt()})));
  ExpectSameCameraData(CameraExpected(), pic.data);
  EXPECT_EQ(block, pic.reader.exifBlock());
}

TEST(ExifAcrossReads, AnEmptyMakeKeepsTheEarlierModel) {
  const TiffWriter w(true);
  Picture pic;
  pic.Read(Jpeg({ExifApp1(CameraTiff(w))}));
  pic.Read(Jpeg({ExifApp1(w.Build({w.Ascii(kModel, "Other")}, {w.Ratio(kExposureTime, 1, 30)}))}));
  EXPECT_EQ("Canon", pic.data.cameraMake);
  EXPECT_EQ("Canon PowerShot S40", pic.data.cameraModel);
  EXPECT_EQ(30, pic.data.exposureTime);
  EXPECT_EQ("No", pic.data.flashUsed) << "the flash is always taken from a valid block";
}

TEST(ExifAcrossReads, AnInvalidBlockChangesNothingButTheKeptCopy) {
  Picture pic;
  pic.Read(Jpeg({ExifApp1(CameraTiff(TiffWriter(false)))}));
  const Bytes bad = Damaged([](Bytes& t) { Put16(t, 8, 200); });
  EXPECT_EQ(Walk::kReachedImage, pic.Read(bad));
  ExpectSameCameraData(CameraExpected(), pic.data);
  EXPECT_EQ(Bytes(bad.begin() + 4, bad.begin() + 4 + pic.reader.exifBlockSize()), pic.reader.exifBlock());
}

// ---------------------------------------------------------------------------
// Hostile directories: each read ends, skipping what it cannot follow

struct HostileCase {
  const char* name;
  std::function<Bytes()> tiff;
  bool valid;
  const char* error;
  std::function<void(const ExifInfo&)> check;
};
std::ostream& operator<<(std::ostream& os, const HostileCase& c) { return os << c.name; }
class ExifHostileDirectories : public testing::TestWithParam<HostileCase> {};

TEST_P(ExifHostileDirectories, EndWithoutHarm) {
  const HostileCase& c = GetParam();
  Picture pic;
  EXPECT_EQ(Walk::kReachedImage, pic.Read(Jpeg({ExifApp1(c.tiff())})));
  EXPECT_EQ(c.valid, pic.info.valid);
  EXPECT_EQ(c.error, pic.reader.exifError());
  c.check(pic.info);
}

// IFD0 {Make "M", ExifPointer} at 8; the Exif directory {ExposureTime,
// Flash} follows at 38, its value data after it.
Bytes Family(const std::function<void(Bytes&)>& patch) {
  const TiffWriter w(false);
  Bytes tiff = w.Build({w.Ascii(kMake, "M")}, {w.Ratio(kExposureTime, 1, 125), w.Short(kFlash, 1)});
  patch(tiff);
  return tiff;
}
constexpr std::size_t kExifAt = 8 + 6 + 12 * 2;
constexpr std::size_t kExifNextAt = kExifAt + 2 + 12 * 2;

// Directories chained through their next links, each with one
// BrightnessValue entry holding its index.
Bytes Chain(int count) {
  const TiffWriter w(false);
  Bytes tiff = Text("II") + w.U16(42) + w.U32(8);
  for (int i = 0; i < count; ++i) {
    const std::uint32_t next = i + 1 < count ? std::uint32_t(tiff.size() + 18) : 0;
    tiff = tiff + w.U16(1) + w.U16(kBrightness) + w.U16(kShort) + w.U32(1) + w.U16(std::uint16_t(i)) + w.U16(0) + w.U32(next);
  }
  return tiff;
}

INSTANTIATE_TEST_SUITE_P(Blocks, ExifHostileDirectories, testing::Values(
    HostileCase{"NextIsItself", [] { return Family([](Bytes& t) { Put32(t, NextAt(2), 8); }); }, true, "",
                [](const ExifInfo& i) { EXPECT_FLOAT_EQ(0.008f, i.exposureTime); }},
    HostileCase{"SubdirectoryNextIsParent", [] { return Family([](Bytes& t) { Put32(t, kExifNextAt, 8); }); }, true, "",
                [](const ExifInfo& i) { EXPECT_STREQ("M", i.make); }},
    HostileCase{"SubdirectoryLinksToItself",
                [] { return Family([](Bytes& t) { Put16(t, kExifAt + 2, kExifPointer); Put16(t, kExifAt + 4, kLong);
                                                  Put32(t, kExifAt + 6, 1); Put32(t, kExifAt + 10, kExifAt); }); },
                true, "", [](const ExifInfo& i) { EXPECT_EQ(1, i.flashFired); }},
    HostileCase{"InteropLinksToParent",
                [] { return Family([](Bytes& t) { Put16(t, kExifAt + 2, kInteropPointer); Put16(t, kExifAt + 4, kLong);
                                                  Put32(t, kExifAt + 6, 1); Put32(t, kExifAt + 10, 8); }); },
                true, "", [](const ExifInfo& i) { EXPECT_EQ(1, i.flashFired); }},
    HostileCase{"SubdirectoryCountPastBlock", [] { return Family([](Bytes& t) { Put16(t, kExifAt, 300); }); }, true,
                "Illegally sized directory", [](const ExifInfo& i) { EXPECT_STREQ("M", i.make); EXPECT_EQ(0, i.exposureTime); }},
    HostileCase{"SubdirectoryBadFormatKeepsEarlierEntries",
                [] { return Family([](Bytes& t) { Put16(t, kExifAt + 2 + 12 + 2, 99); }); }, true,
                "Illegal format code in EXIF dir",
                [](const ExifInfo& i) { EXPECT_FLOAT_EQ(0.008f, i.exposureTime); EXPECT_EQ(0, i.flashFired); }},
    HostileCase{"LinkIntoHeaderIsIgnored", [] { return Family([](Bytes& t) { Put32(t, EntryAt(1) + 8, 4); }); }, true, "",
                [](const ExifInfo& i) { EXPECT_STREQ("M", i.make); EXPECT_EQ(0, i.exposureTime); }},
    HostileCase{"NegativeFirstOffsetIsIgnored", [] { return Family([](Bytes& t) { Put32(t, 4, 0x80000000); }); }, true, "",
                [](const ExifInfo& i) { EXPECT_FLOAT_EQ(0.008f, i.exposureTime); }},
    HostileCase{"FirstOffsetNamesTheSubdirectory", [] { return Family([](Bytes& t) { Put32(t, 4, kExifAt); }); }, true, "",
                [](const ExifInfo& i) { EXPECT_FLOAT_EQ(0.008f, i.exposureTime); }},
    HostileCase{"ManyLinksToItself",  // walked again each time, 200^8 directories
                [] { const TiffWriter w(false);
                     return w.Build({w.Ascii(kMake, "M")}, std::vector<Field>(200, w.Long(kInteropPointer, kExifAt))); },
                true, "", [](const ExifInfo& i) { EXPECT_STREQ("M", i.make); }},
    HostileCase{"LongChainStopsAtTheDepthLimit", [] { return Chain(40); }, true, "",
                [](const ExifInfo& i) { EXPECT_EQ(float(JpegExifReader::kMaxIfdDepth), i.brightness); }}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Random damage: thousands of mutated files, none may crash or read out of
// bounds (the sanitizer build checks the reads).

TEST(ExifMutation, RandomDamageNeverCrashes) {
  std::vector<Bytes> bases;
  for (bool be : {false, true}) {
    const TiffWriter w(be);
    bases.push_back(Jpeg({Com("c"), ExifApp1(CameraTiff(w, {w.Ratio(kFocalPlaneX, 2272000, 207), w.Short(kFocalPlaneUnit, 2),
                                                           {kBrightness, kDouble, 1, Bytes(8, 0x40)}})), Dqt(), Sof0()}));
  }
  std::mt19937 random(20240611);
  Picture pic;
  int reached = 0;
  for (int round = 0; round < 6000; ++round) {
    Bytes file = bases[round % 2];
    const int edits = 1 + int(random() % 8);
    for (int e = 0; e < edits; ++e) {
      const std::size_t at = random() % file.size();
      switch (random() % 4) {
        case 0: file[at] = std::uint8_t(random()); break;
        case 1: file[at] ^= std::uint8_t(1u << (random() % 8)); break;
        case 2: file[at] = 0xFF; break;
        default: file[at] = std::uint8_t(random() % 16); break;  // small counts and offsets
      }
    }
    if (random() % 10 == 0) file.resize(random() % file.size());
    if (pic.Read(file) == Walk::kReachedImage) ++reached;
    ASSERT_LT(strnlen(pic.info.comment, sizeof pic.info.comment), sizeof pic.info.comment);
    ASSERT_EQ(std::size_t(pic.reader.exifBlockSize()), pic.reader.exifBlock().size());
    ASSERT_LE(pic.reader.segmentCount(), JpegExifReader::kMaxSegments);
  }
  EXPECT_GT(reached, 1000) << "most damage lands in the EXIF block, which does not stop the walk";
}

}  // namespace
}  // namespace qb::exif
