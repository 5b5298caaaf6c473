// The spliced JPEG: the kept EXIF segment in front of the writer's stream,
// whatever the writer put first.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "metadata/portable/color_profile.h"
#include "metadata/portable/jpeg_splice.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kSegment = {0x00, 0x0C, 'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 42};
const Bytes kScan = {0xFF, 0xDB, 0x00, 0x03, 0x01, 0xFF, 0xDA, 0x00, 0x02, 0x11, 0xFF, 0xD9};

Bytes Concat(std::initializer_list<const Bytes*> parts) {
  Bytes all;
  for (const Bytes* part : parts)
    for (uint8_t b : *part) all.push_back(b);
  return all;
}

const Bytes kSoi = {0xFF, 0xD8};
const Bytes kSoiApp1 = {0xFF, 0xD8, 0xFF, 0xE1};

Bytes Jpeg(const Bytes& leading) { return Concat({&kSoi, &leading, &kScan}); }

Bytes Expected() { return Concat({&kSoiApp1, &kSegment, &kScan}); }

}  // namespace

TEST(JpegSplice, WritersLeadingApplicationSegmentsAreDropped) {
  const Bytes jfif = {0xFF, 0xE0, 0x00, 0x06, 'J', 'F', 'I', 'F'};
  const Bytes exif = {0xFF, 0xE1, 0x00, 0x04, 'X', 'Y'};
  const Bytes both = Concat({&jfif, &exif});
  for (const Bytes& leading : {Bytes{}, jfif, exif, both}) {
    Bytes out;
    ASSERT_TRUE(qb::exif::SpliceExifSegment(kSegment, Jpeg(leading), out));
    EXPECT_EQ(Expected(), out);
  }
}

TEST(JpegSplice, OnlyTheSegmentsDeclaredLengthIsWritten) {
  Bytes longer = kSegment;
  longer.push_back(0x55);  // slack after the segment
  Bytes out;
  ASSERT_TRUE(qb::exif::SpliceExifSegment(longer, Jpeg({}), out));
  EXPECT_EQ(Expected(), out);
}

TEST(JpegSplice, MalformedInputsWriteNothing) {
  Bytes out = {1, 2, 3};
  const Bytes notJpeg = {0x89, 'P', 'N', 'G'};
  const Bytes cutApp0 = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x40, 'J'};
  const Bytes onlySoi = {0xFF, 0xD8};
  for (const Bytes& jpeg : {notJpeg, cutApp0, onlySoi, Bytes{}}) {
    EXPECT_FALSE(qb::exif::SpliceExifSegment(kSegment, jpeg, out));
    EXPECT_TRUE(out.empty());
  }
  EXPECT_FALSE(qb::exif::SpliceExifSegment(Bytes{0x00, 0x20, 'E'}, Jpeg({}), out));
  EXPECT_FALSE(qb::exif::SpliceExifSegment(Bytes{0x00}, Jpeg({}), out));
}

namespace {

// A segment's stored form: its two length bytes, then the payload.
Bytes Stored(const std::string& id, const Bytes& body) {
  Bytes data = {0, 0};
  data.insert(data.end(), id.begin(), id.end());
  data.insert(data.end(), body.begin(), body.end());
  data[0] = static_cast<uint8_t>(data.size() >> 8);
  data[1] = static_cast<uint8_t>(data.size() & 0xFF);
  return data;
}

Bytes Marked(int marker, const Bytes& stored) {
  Bytes all = {0xFF, static_cast<uint8_t>(marker)};
  all.insert(all.end(), stored.begin(), stored.end());
  return all;
}

}  // namespace

// The metadata kinds a save carries, as a walk of the source meets them,
// written after the EXIF segment in file order; everything else is not.
TEST(JpegSplice, SourceMetadataSegmentsAreCarriedInOrder) {
  struct Kind {
    const char* name;
    int marker;
    Bytes stored;
    bool carried;
  };
  const std::string zero(1, '\0');
  const Kind kinds[] = {
      {"JFIF", 0xE0, Stored("JFIF" + zero, {1, 2, 0, 0, 1, 0, 1, 0, 0}), false},
      {"EXIF", 0xE1, kSegment, false},
      {"XMP", 0xE1, Stored("http://ns.adobe.com/xap/1.0/" + zero, {'<', 'x', '/', '>'}), true},
      {"extended XMP", 0xE1, Stored("http://ns.adobe.com/xmp/extension/" + zero, {'G', 'U', 'I', 'D'}), true},
      {"other APP1", 0xE1, Stored("XMP" + zero, {1}), false},
      {"IPTC", 0xED, Stored("Photoshop 3.0" + zero, {'8', 'B', 'I', 'M', 4, 4}), true},
      // An RGB profile: its colour space at offset 16.
      {"ICC chunk 1", 0xE2,
       Stored("ICC_PROFILE" + zero, {1, 2, 0xAA, 0xBB, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'R', 'G', 'B', ' '}),
       true},
      {"FlashPix", 0xE2, Stored("FPXR" + zero, {0}), false},
      {"ICC chunk 2", 0xE2, Stored("ICC_PROFILE" + zero, {2, 2, 0xCC}), true},
      {"Adobe", 0xEE, Stored("Adobe", {0, 100}), false},
  };
  Bytes source = kSoi, carried;
  for (const Kind& kind : kinds) {
    const Bytes marked = Marked(kind.marker, kind.stored);
    source.insert(source.end(), marked.begin(), marked.end());
    if (kind.carried) carried.insert(carried.end(), marked.begin(), marked.end());
  }
  source.insert(source.end(), kScan.begin(), kScan.end());

  qb::exif::JpegExifReader reader;
  qb::exif::ExifInfo info;
  qb::exif::MemoryStream stream(source);
  ASSERT_EQ(qb::exif::JpegExifReader::WalkResult::kReachedImage, reader.Read(stream, info));
  ASSERT_EQ(5u, reader.carriedSegments().size());
  for (const Kind& kind : kinds)
    EXPECT_EQ(kind.carried, qb::exif::IsCarriedMetadata(kind.marker, Bytes(kind.stored.begin() + 2, kind.stored.end())))
        << kind.name;

  Bytes out;
  ASSERT_TRUE(qb::exif::SpliceExifSegment(reader.exifBlock(), reader.carriedSegments(), Jpeg({}), out));
  EXPECT_EQ(Concat({&kSoiApp1, &kSegment, &carried, &kScan}), out);

  // A failed walk (no image) leaves the carried segments of the last good one.
  const Bytes noImage = {0xFF, 0xD8, 0xFF, 0xD9, 0x00, 0x02};
  qb::exif::MemoryStream bad(noImage);
  reader.SetConsole([](const char*) {});
  EXPECT_EQ(qb::exif::JpegExifReader::WalkResult::kFailed, reader.Read(bad, info));
  EXPECT_EQ(5u, reader.carriedSegments().size());

  // A carried segment shorter than its length bytes say writes nothing.
  std::vector<qb::exif::JpegSegment> cut(1);
  cut[0].marker = 0xE2;
  cut[0].data = {0x00, 0x10, 'I'};
  EXPECT_FALSE(qb::exif::SpliceExifSegment(kSegment, cut, Jpeg({}), out));
  EXPECT_TRUE(out.empty());
}

namespace {

// An EXIF segment in either byte order: IFD0 (Make, the EXIF directory
// link, a link to IFD1), the EXIF directory (PixelXDimension as SHORT,
// PixelYDimension as LONG, a maker note), IFD1 (the thumbnail's offset and
// length) and then the data: "Canon", the maker note and the thumbnail's
// bytes last, followed by `trailing` bytes.
struct ExifLayout {
  Bytes segment;
  size_t pixelX, pixelY, link0, thumbnail, thumbnailLength;  // offsets in the segment
};

ExifLayout BuildExif(bool bigEndian, size_t trailing) {
  Bytes t;
  auto u16 = [&](uint32_t v) {
    if (bigEndian) { t.push_back(uint8_t(v >> 8)); t.push_back(uint8_t(v)); }
    else { t.push_back(uint8_t(v)); t.push_back(uint8_t(v >> 8)); }
  };
  auto u32 = [&](uint32_t v) { if (bigEndian) { u16(v >> 16); u16(v & 0xFFFF); } else { u16(v & 0xFFFF); u16(v >> 16); } };
  auto entry = [&](uint16_t tag, uint16_t format, uint32_t count) { u16(tag); u16(format); u32(count); };
  // Offsets: IFD0 8 (2 entries: 30 bytes), EXIF IFD 38 (3 entries: 42),
  // IFD1 80 (2 entries: 30), data 110: Make 6, maker note 8, thumbnail 10.
  t = {bigEndian ? uint8_t('M') : uint8_t('I'), bigEndian ? uint8_t('M') : uint8_t('I')};
  u16(42); u32(8);
  u16(2);
  entry(0x010F, 2, 6); u32(110);
  entry(0x8769, 4, 1); u32(38);
  const size_t link0 = t.size(); u32(80);
  u16(3);
  const size_t pixelX = t.size() + 8; entry(0xA002, 3, 1); u16(640); u16(0);
  const size_t pixelY = t.size() + 8; entry(0xA003, 4, 1); u32(480);
  entry(0x927C, 7, 8); u32(116);
  u32(0);
  u16(2);
  entry(0x0201, 4, 1); u32(124);
  const size_t thumbnailLength = t.size() + 8; entry(0x0202, 4, 1); u32(10);
  u32(0);
  for (char c : std::string("Canon", 6)) t.push_back(uint8_t(c));
  for (uint8_t b : {0x4E, 0x69, 0x6B, 0x6F, 0x6E, 0x00, 0x02, 0x10}) t.push_back(b);
  const size_t thumbnail = t.size();
  for (uint8_t b : {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x02, 0x00, 0x00, 0xFF, 0xD9}) t.push_back(b);
  t.insert(t.end(), trailing, 0x00);
  const std::string zero(1, '\0');
  return {Stored("Exif" + zero + zero, t), 8 + pixelX, 8 + pixelY, 8 + link0, 8 + thumbnail, 8 + thumbnailLength};
}

uint32_t ReadWhole(const Bytes& b, size_t at, int n, bool bigEndian) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) v |= uint32_t{b[at + i]} << (8 * (bigEndian ? n - 1 - i : i));
  return v;
}

}  // namespace

// The kept EXIF made true of the saved picture: the pixel dimensions take
// the saved size in place, the thumbnail is unlinked (and cut off when it
// ends the block), every other byte stays. Both byte orders.
TEST(JpegSplice, ExifFitsTheSavedPictureInPlace) {
  struct Case {
    uint32_t width, height;
    size_t trailing;
    uint32_t expectedX;  // the SHORT keeps its value when the width does not fit
    bool dropped;
  };
  const Case cases[] = {{1234, 70000, 0, 1234, true}, {70000, 99, 0, 640, true}, {321, 123, 3, 321, false}};
  for (bool bigEndian : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << (bigEndian ? "MM " : "II ") << c.width << "x" << c.height);
      const ExifLayout layout = BuildExif(bigEndian, c.trailing);
      Bytes segment = layout.segment;
      const qb::exif::ExifFit fit = qb::exif::FitExifToPicture(segment, c.width, c.height);
      EXPECT_EQ(c.expectedX == c.width ? 2 : 1, fit.dimensionsSet);
      EXPECT_TRUE(fit.thumbnailCut);
      EXPECT_EQ(c.dropped, fit.thumbnailDropped);
      EXPECT_EQ(c.expectedX, ReadWhole(segment, layout.pixelX, 2, bigEndian));
      EXPECT_EQ(c.height, ReadWhole(segment, layout.pixelY, 4, bigEndian));
      EXPECT_EQ(0u, ReadWhole(segment, layout.link0, 4, bigEndian));
      ASSERT_EQ(c.dropped ? layout.thumbnail : layout.segment.size(), segment.size());
      EXPECT_EQ(segment.size(), ReadWhole(segment, 0, 2, true));
      // Every byte outside the rewritten values and the length is the source's.
      for (size_t i = 2; i < segment.size(); ++i) {
        const bool rewritten = (i >= layout.pixelX && i < layout.pixelX + 2) ||
                               (i >= layout.pixelY && i < layout.pixelY + 4) ||
                               (i >= layout.link0 && i < layout.link0 + 4);
        if (!rewritten) {
          EXPECT_EQ(layout.segment[i], segment[i]) << "byte " << i;
        }
      }
      // The reader still parses the result and finds the camera's make.
      Bytes jpeg;
      ASSERT_TRUE(qb::exif::SpliceExifSegment(segment, Jpeg({}), jpeg));
      qb::exif::JpegExifReader reader;
      qb::exif::ExifInfo info;
      qb::exif::MemoryStream stream(jpeg);
      ASSERT_EQ(qb::exif::JpegExifReader::WalkResult::kReachedImage, reader.Read(stream, info));
      EXPECT_TRUE(info.valid);
      EXPECT_STREQ("Canon", info.make);
    }
  }
  // Segments that do not parse are left alone.
  for (Bytes bad : {Bytes{}, Bytes{0x00, 0x08, 'E', 'x', 'i', 'f', 0, 0}, kSegment,
                    Bytes{0x00, 0x12, 'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 0xF0, 0, 0, 0, 0, 0}}) {
    const Bytes before = bad;
    const qb::exif::ExifFit fit = qb::exif::FitExifToPicture(bad, 10, 10);
    EXPECT_EQ(0, fit.dimensionsSet);
    EXPECT_FALSE(fit.thumbnailCut);
    EXPECT_EQ(before, bad);
  }
}

namespace {

qb::exif::JpegSegment IccChunk(int sequence, int count, const Bytes& part) {
  Bytes body = {static_cast<uint8_t>(sequence), static_cast<uint8_t>(count)};
  body.insert(body.end(), part.begin(), part.end());
  qb::exif::JpegSegment segment;
  segment.marker = 0xE2;
  segment.data = Stored(std::string("ICC_PROFILE", 12), body);
  segment.size = static_cast<int>(segment.data.size());
  return segment;
}

uint32_t Big32At(const Bytes& b, size_t at) {
  return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) | b[at + 3];
}

}  // namespace

// The profile from its chunks, in sequence order whatever the file order;
// a missing, repeated or inconsistent chunk gives no profile.
TEST(JpegSplice, IccProfileIsAssembledInSequenceOrder) {
  const auto a = IccChunk(1, 3, {1, 2}), b = IccChunk(2, 3, {3}), c = IccChunk(3, 3, {4, 5});
  struct Case {
    const char* name;
    std::vector<qb::exif::JpegSegment> chunks;
    Bytes profile;
  } cases[] = {
      {"in order", {a, b, c}, {1, 2, 3, 4, 5}},
      {"out of order", {c, a, b}, {1, 2, 3, 4, 5}},
      {"one missing", {a, c}, {}},
      {"one repeated", {a, b, b, c}, {}},
      {"counts disagree", {a, b, IccChunk(3, 4, {4})}, {}},
      {"sequence 0", {IccChunk(0, 1, {9})}, {}},
      {"none", {}, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.profile, qb::exif::AssembleIccProfile(c.chunks)) << c.name;
    EXPECT_EQ(!c.chunks.empty(), qb::exif::HasIccProfile(c.chunks)) << c.name;
  }
}

// The decoded picture is RGB, so only an RGB profile is carried: a CMYK
// or grey one (and chunks without a first one) is dropped, other segments
// stay.
TEST(JpegSplice, OnlyAnRgbProfileIsCarried) {
  const auto header = [](const char* space) {
    Bytes h(20, 0);
    std::memcpy(h.data() + 16, space, 4);
    return h;
  };
  qb::exif::JpegSegment xmp = IccChunk(1, 1, {});
  xmp.marker = 0xE1;
  struct Case {
    const char* name;
    std::vector<qb::exif::JpegSegment> carried;
    size_t kept;
  } cases[] = {
      {"RGB in two chunks", {IccChunk(2, 2, {1}), IccChunk(1, 2, header("RGB ")), xmp}, 3},
      {"CMYK", {IccChunk(1, 2, header("CMYK")), IccChunk(2, 2, {1}), xmp}, 1},
      {"grey", {IccChunk(1, 1, header("GRAY"))}, 0},
      {"no first chunk", {IccChunk(2, 2, header("RGB "))}, 0},
      {"cut short", {IccChunk(1, 1, {'R', 'G', 'B'})}, 0},
  };
  for (Case& c : cases) {
    qb::exif::DropNonRgbProfile(c.carried);
    EXPECT_EQ(c.kept, c.carried.size()) << c.name;
  }
}

// Saves without camera data: the JPEG gets the chunks after its JFIF
// header; the PNG gets one iCCP chunk after IHDR (its own sRGB dropped),
// with a true CRC and the profile as a zlib stream of stored blocks.
TEST(JpegSplice, IccProfileGoesIntoPlainJpegAndPng) {
  const std::vector<qb::exif::JpegSegment> chunks = {IccChunk(1, 1, {7, 8, 9})};
  const Bytes jfif = {0xFF, 0xE0, 0x00, 0x04, 'J', 'F'};
  Bytes out;
  ASSERT_TRUE(qb::exif::InsertJpegIccProfile(chunks, Jpeg(jfif), out));
  const Bytes marked = Marked(0xE2, chunks[0].data);
  EXPECT_EQ(Concat({&kSoi, &jfif, &marked, &kScan}), out);
  ASSERT_TRUE(qb::exif::InsertJpegIccProfile(chunks, Jpeg({}), out));
  EXPECT_EQ(Concat({&kSoi, &marked, &kScan}), out);
  EXPECT_FALSE(qb::exif::InsertJpegIccProfile(chunks, Bytes{0x89, 'P'}, out));

  auto chunk = [](const char* type, const Bytes& data) {
    Bytes c = {0, 0, 0, static_cast<uint8_t>(data.size())};
    c.insert(c.end(), type, type + 4);
    c.insert(c.end(), data.begin(), data.end());
    c.insert(c.end(), {0, 0, 0, 0});  // the CRC is not checked on the way through
    return c;
  };
  const Bytes signature = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  const Bytes ihdr = chunk("IHDR", Bytes(13, 1)), srgb = chunk("sRGB", {0}), idat = chunk("IDAT", {1, 2}),
              iend = chunk("IEND", {});
  Bytes profile(70000);
  for (size_t i = 0; i < profile.size(); ++i) profile[i] = static_cast<uint8_t>(i * 7);
  ASSERT_TRUE(qb::exif::InsertPngIccProfile(Concat({&signature, &ihdr, &srgb, &idat, &iend}), profile, out));
  const size_t iccp = 8 + ihdr.size();
  const uint32_t length = Big32At(out, iccp);
  ASSERT_EQ(0, std::memcmp(out.data() + iccp + 4, "iCCP", 4));
  // Name, zero, method 0, zlib header, two stored blocks (5 bytes each), Adler-32.
  EXPECT_EQ(12u + 1 + 2 + 2 * 5 + profile.size() + 4, length);
  EXPECT_EQ(Bytes(out.begin() + iccp + 8, out.begin() + iccp + 23),
            Bytes({'I', 'C', 'C', ' ', 'p', 'r', 'o', 'f', 'i', 'l', 'e', 0, 0, 0x78, 0x01}));
  EXPECT_EQ(Bytes(out.begin() + iccp + 23, out.begin() + iccp + 28), Bytes({0, 0xFF, 0xFF, 0, 0}));
  EXPECT_EQ(0, std::memcmp(out.data() + iccp + 28, profile.data(), 0xFFFF));
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = iccp + 4; i < iccp + 8 + length; ++i) {
    crc ^= out[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  EXPECT_EQ(~crc, Big32At(out, iccp + 8 + length));
  const Bytes rest(out.begin() + static_cast<std::ptrdiff_t>(iccp + 12 + length), out.end());
  EXPECT_EQ(Concat({&idat, &iend}), rest);

  const Bytes cut = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R', 1};
  EXPECT_FALSE(qb::exif::InsertPngIccProfile(cut, profile, out));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(qb::exif::InsertPngIccProfile(Concat({&signature, &ihdr, &iend}), Bytes{}, out));
}

// A thumbnail of the saved picture takes the old one's place when the old
// one ends the block and the segment stays within 65535 bytes; otherwise
// the old one is unlinked as without one. Both byte orders.
TEST(JpegSplice, ExifThumbnailIsReplacedInPlaceOrCut) {
  const Bytes small = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x03, 0x01, 0xFF, 0xD9};
  const Bytes tooLarge(0xFFFF - 120, 0x11);
  struct Case {
    const char* name;
    size_t trailing;
    const Bytes* thumbnail;
    bool replaced;
  } cases[] = {{"at the end", 0, &small, true},
               {"not at the end", 2, &small, false},
               {"past 64 KB", 0, &tooLarge, false}};
  for (bool bigEndian : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << (bigEndian ? "MM " : "II ") << c.name);
      const ExifLayout layout = BuildExif(bigEndian, c.trailing);
      Bytes segment = layout.segment;
      const qb::exif::ExifFit fit = qb::exif::FitExifToPicture(segment, 640, 480, *c.thumbnail);
      EXPECT_EQ(c.replaced, fit.thumbnailReplaced);
      EXPECT_EQ(!c.replaced, fit.thumbnailCut);
      EXPECT_EQ(segment.size(), ReadWhole(segment, 0, 2, true));
      if (!c.replaced) {
        EXPECT_EQ(0u, ReadWhole(segment, layout.link0, 4, bigEndian));
        continue;
      }
      EXPECT_EQ(ReadWhole(layout.segment, layout.link0, 4, bigEndian), ReadWhole(segment, layout.link0, 4, bigEndian));
      EXPECT_EQ(c.thumbnail->size(), ReadWhole(segment, layout.thumbnailLength, 4, bigEndian));
      ASSERT_EQ(layout.thumbnail + c.thumbnail->size(), segment.size());
      EXPECT_EQ(*c.thumbnail, Bytes(segment.begin() + static_cast<std::ptrdiff_t>(layout.thumbnail), segment.end()));
      for (size_t i = 2; i < layout.thumbnail; ++i) {
        if (i >= layout.thumbnailLength && i < layout.thumbnailLength + 4) continue;
        EXPECT_EQ(layout.segment[i], segment[i]) << "byte " << i;
      }
    }
  }
}
