// Any tag of a kept EXIF segment by name or number: worked values of every
// kind in both byte orders, and hostile blocks (values and directories
// outside the block, directories that point at each other, huge counts,
// every truncation) that must give nothing rather than a read outside.
#include "metadata/portable/exif_tags.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qb::exif {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Kind = ExifTagValue::Kind;

// Builds a kept segment: IFD0 at offset 8, then the Exif and GPS
// directories, then the values that do not fit in an entry.
class Block {
 public:
  struct Entry {
    std::uint16_t tag, format;
    std::uint32_t count;
    Bytes data;                     // the value bytes, in the block's order
    std::int64_t offset = -1;       // when set, written in place of the value's offset
  };
  explicit Block(bool big) : m_big(big) {}

  Bytes U16(std::initializer_list<std::uint32_t> values) const {
    Bytes b;
    for (std::uint32_t v : values) Put(b, v, 2);
    return b;
  }
  Bytes U32(std::initializer_list<std::uint32_t> values) const {
    Bytes b;
    for (std::uint32_t v : values) Put(b, v, 4);
    return b;
  }
  static Bytes Text(const std::string& s) { return Bytes(s.c_str(), s.c_str() + s.size() + 1); }

  std::vector<Entry> ifd0, exif, gps;
  std::int64_t exifAt = -1, gpsAt = -1;  // when set, the pointers' values

  Bytes Segment() const {
    const auto dirSize = [](const std::vector<Entry>& d) { return d.empty() ? 0 : 2 + 12 * d.size() + 4; };
    std::vector<Entry> first = ifd0;
    if (!exif.empty()) first.push_back({0x8769, 4, 1, {}});
    if (!gps.empty()) first.push_back({0x8825, 4, 1, {}});
    const std::size_t exifStart = 8 + dirSize(first), gpsStart = exifStart + dirSize(exif);
    for (Entry& e : first) {
      if (e.tag == 0x8769) e.data = U32({std::uint32_t(exifAt >= 0 ? exifAt : exifStart)});
      if (e.tag == 0x8825) e.data = U32({std::uint32_t(gpsAt >= 0 ? gpsAt : gpsStart)});
    }
    Bytes tiff = {std::uint8_t(m_big ? 'M' : 'I'), std::uint8_t(m_big ? 'M' : 'I')};
    Put(tiff, 42, 2);
    Put(tiff, 8, 4);
    std::size_t data = gpsStart + dirSize(gps);
    Bytes area;
    const auto write = [&](std::vector<Entry> d, std::size_t at) {
      if (d.empty()) return;
      tiff.resize(at, 0);
      Put(tiff, static_cast<std::uint32_t>(d.size()), 2);
      for (Entry& e : d) {
        Put(tiff, e.tag, 2);
        Put(tiff, e.format, 2);
        Put(tiff, e.count, 4);
        if (e.offset >= 0) {
          Put(tiff, static_cast<std::uint32_t>(e.offset), 4);
        } else if (e.data.size() <= 4) {
          e.data.resize(4, 0);
          tiff.insert(tiff.end(), e.data.begin(), e.data.end());
        } else {
          Put(tiff, static_cast<std::uint32_t>(data + area.size()), 4);
          area.insert(area.end(), e.data.begin(), e.data.end());
        }
      }
      Put(tiff, 0, 4);
    };
    write(first, 8);
    write(exif, exifStart);
    write(gps, gpsStart);
    tiff.resize(data, 0);
    tiff.insert(tiff.end(), area.begin(), area.end());
    Bytes segment = {0, 0, 'E', 'x', 'i', 'f', 0, 0};
    segment.insert(segment.end(), tiff.begin(), tiff.end());
    segment[0] = std::uint8_t(segment.size() >> 8);
    segment[1] = std::uint8_t(segment.size());
    return segment;
  }

 private:
  void Put(Bytes& b, std::uint32_t v, int n) const {
    for (int i = 0; i < n; ++i) b.push_back(std::uint8_t(v >> (8 * (m_big ? n - 1 - i : i))));
  }
  bool m_big;
};

// A photo's block of every value kind.
Block Camera(bool big) {
  Block b(big);
  const Bytes ascii8 = {'A', 'S', 'C', 'I', 'I', 0, 0, 0};
  Bytes comment = ascii8;
  for (char c : std::string("Harbour  ")) comment.push_back(std::uint8_t(c));
  Bytes unicode = {'U', 'N', 'I', 'C', 'O', 'D', 'E', 0};
  for (char16_t c : std::u16string(u"GPS\u00e9")) {
    const Bytes u = b.U16({std::uint32_t(c)});
    unicode.insert(unicode.end(), u.begin(), u.end());
  }
  const Bytes xp = {'Q', 0, 0x2F, 0x4E, 0, 0};  // "Q" and U+4E2F, little-endian whatever the block
  b.ifd0 = {{0x010F, 2, 18, Block::Text("NIKON CORPORATION")},
            {0x0110, 2, 12, Block::Text("Caf\xC3\xA9 D2H ")},  // UTF-8, trailing space
            {0x0131, 2, 5, Block::Text("\xE9t\xE9 ")},            // not UTF-8: Latin-1
            {0x011A, 5, 1, b.U32({300, 1})},
            {0x9C9B, 1, 6, xp},
            {0xC6D2, 7, 4, {1, 2, 3, 4}}};
  b.exif = {{0x829A, 5, 1, b.U32({1, 125})},
            {0x8827, 3, 1, b.U16({200})},
            {0x9000, 7, 4, {'0', '2', '3', '0'}},
            {0x9101, 7, 4, {1, 2, 3, 0}},
            {0x9204, 10, 1, b.U32({0xFFFFFFFD, 3})},  // -3/3
            {0x9206, 5, 1, b.U32({7, 0})},            // no denominator
            {0x9214, 3, 4, b.U16({10, 20, 30, 40})},
            {0x927C, 7, 6, {'N', 'i', 'k', 'o', 'n', 0}},
            {0x9286, 7, std::uint32_t(comment.size()), comment},
            {0xA434, 2, 9, Block::Text("18-55 mm")}};
  b.gps = {{0x0000, 1, 4, {2, 3, 0, 0}},
           {0x0001, 2, 2, Block::Text("S")},
           {0x0002, 5, 3, b.U32({33, 1, 51, 1, 3000, 100})},
           {0x0003, 2, 2, Block::Text("W")},
           {0x0004, 5, 3, b.U32({151, 1, 12, 1, 0, 1})},
           {0x0006, 5, 1, b.U32({125, 2})},
           {0x001B, 7, std::uint32_t(unicode.size()), unicode}};
  return b;
}

double Real(const std::optional<ExifTagValue>& v, std::size_t i = 0) {
  if (!v || v->kind != Kind::kNumbers || v->numbers.size() <= i) return -999;
  const ExifNumber& n = v->numbers[i];
  return n.kind == ExifNumber::Kind::kReal ? n.real : n.kind == ExifNumber::Kind::kWhole ? double(n.whole) : -777;
}
std::u16string Text(const std::optional<ExifTagValue>& v) {
  return v && v->kind == Kind::kText ? v->text : u"<not text>";
}

TEST(ExifTags, ValuesOfEveryKindByNameAndNumberInBothByteOrders) {
  for (const bool big : {false, true}) {
    SCOPED_TRACE(big ? "MM" : "II");
    const Bytes s = Camera(big).Segment();
    EXPECT_EQ(u"NIKON CORPORATION", Text(FindExifValue(s, "Make")));
    EXPECT_EQ(u"Caf\u00e9 D2H", Text(FindExifValue(s, "model")));
    EXPECT_EQ(u"\u00e9t\u00e9", Text(FindExifValue(s, "Software")));
    EXPECT_EQ(300, Real(FindExifValue(s, "XResolution")));
    EXPECT_EQ(u"Q\u4e2f", Text(FindExifValue(s, "XPTitle")));
    EXPECT_DOUBLE_EQ(0.008, Real(FindExifValue(s, "ExposureTime")));
    // ISO by exiftool's name, both standard names, decimal and hex text, number.
    for (const char* iso : {"ISO", "ISOSpeedRatings", "PhotographicSensitivity", "34855", "0x8827"})
      EXPECT_EQ(200, Real(FindExifValue(s, iso))) << iso;
    EXPECT_EQ(200, Real(FindExifValue(s, 0x8827u)));
    EXPECT_EQ(u"0230", Text(FindExifValue(s, "ExifVersion")));
    const auto components = FindExifValue(s, "ComponentsConfiguration");
    ASSERT_TRUE(components && components->numbers.size() == 4);
    EXPECT_EQ(3, Real(components, 2));
    EXPECT_EQ(-1, Real(FindExifValue(s, "ExposureBiasValue")));
    const auto distance = FindExifValue(s, "SubjectDistance");
    ASSERT_TRUE(distance && distance->numbers.size() == 1);
    EXPECT_EQ(ExifNumber::Kind::kUndefined, distance->numbers[0].kind);
    EXPECT_EQ(40, Real(FindExifValue(s, "SubjectArea"), 3));
    const auto note = FindExifValue(s, "MakerNote");
    ASSERT_TRUE(note && note->kind == Kind::kBytes);
    EXPECT_EQ((Bytes{'N', 'i', 'k', 'o', 'n', 0}), note->bytes);
    EXPECT_EQ(u"Harbour", Text(FindExifValue(s, "UserComment")));
    EXPECT_EQ(u"18-55 mm", Text(FindExifValue(s, "LensModel")));
    // GPS: signed decimal degrees with the references applied.
    EXPECT_DOUBLE_EQ(-(33 + 51 / 60.0 + 30 / 3600.0), Real(FindExifValue(s, "GPSLatitude")));
    EXPECT_DOUBLE_EQ(-(151 + 12 / 60.0), Real(FindExifValue(s, "GPSLongitude")));
    EXPECT_EQ(62.5, Real(FindExifValue(s, "GPSAltitude")));
    EXPECT_EQ(u"S", Text(FindExifValue(s, 1u)));
    EXPECT_EQ(3, Real(FindExifValue(s, "GPSVersionID"), 1));
    EXPECT_EQ(u"GPS\u00e9", Text(FindExifValue(s, "GPSProcessingMethod")));
    // Absent tags, unknown names, and numbers beyond 16 bits.
    for (const char* absent : {"FNumber", "GPSSpeed", "NoSuchTag", "", "0x", "65536", "-1", "12x"})
      EXPECT_FALSE(FindExifValue(s, absent)) << absent;
    EXPECT_FALSE(FindExifValue(s, 0x18827u));
    // The names present, IFD0's first; an unnamed tag by its number.
    const std::vector<std::string> names = ExifTagNames(s);
    const std::vector<std::string> want = {
        "Make", "Model", "Software", "XResolution", "XPTitle", "0xC6D2", "ExifOffset", "GPSInfo",
        "ExposureTime", "ISO", "ExifVersion", "ComponentsConfiguration", "ExposureCompensation",
        "SubjectDistance", "SubjectArea", "MakerNote", "UserComment", "LensModel", "GPSVersionID",
        "GPSLatitudeRef", "GPSLatitude", "GPSLongitudeRef", "GPSLongitude", "GPSAltitude", "GPSProcessingMethod"};
    EXPECT_EQ(want, names);
    for (const std::string& n : names) EXPECT_TRUE(FindExifValue(s, n)) << n;
  }
}

TEST(ExifTags, HostileBlocksGiveNothingOutsideTheBlock) {
  for (const bool big : {false, true}) {
    SCOPED_TRACE(big ? "MM" : "II");
    // Values whose offset or count runs past the block are not there.
    Block b(big);
    b.ifd0 = {{0x010F, 2, 8, {}, 0x7FFFFFF0}, {0x0110, 2, 0xFFFFFFFF, {}, 8}, {0x0131, 5, 0x20000000, {}, 8},
              {0x011A, 5, 1, b.U32({72, 1})}};
    Bytes s = b.Segment();
    EXPECT_FALSE(FindExifValue(s, "Make"));
    EXPECT_FALSE(FindExifValue(s, "Model"));
    EXPECT_FALSE(FindExifValue(s, "Software"));
    EXPECT_EQ(72, Real(FindExifValue(s, "XResolution")));
    EXPECT_EQ((std::vector<std::string>{"XResolution"}), ExifTagNames(s));

    // The Exif directory is IFD0 itself, the GPS directory lies outside:
    // IFD0 is read once, and nothing else.
    b.exif = {{0x8827, 3, 1, b.U16({100})}};
    b.gps = {{0x0001, 2, 2, Block::Text("N")}};
    b.exifAt = 8;
    b.gpsAt = 0xFFFFFFF0;
    s = b.Segment();
    EXPECT_EQ((std::vector<std::string>{"XResolution", "ExifOffset", "GPSInfo"}), ExifTagNames(s));
    EXPECT_FALSE(FindExifValue(s, "ISO"));
    EXPECT_FALSE(FindExifValue(s, "GPSLatitudeRef"));

    // A directory whose entry count runs past the block is not read.
    Bytes counted = Camera(big).Segment();
    counted[8 + 8 + (big ? 0 : 1)] = 0xFF;  // IFD0's count: 0xFF.. entries
    EXPECT_TRUE(ExifTagNames(counted).empty());
    EXPECT_FALSE(FindExifValue(counted, "Make"));

    // Every truncation of a sound block: each value is the whole block's
    // or none, and nothing is read past the cut (the sanitizer build
    // checks that).
    const Bytes whole = Camera(big).Segment();
    for (std::size_t size = 0; size <= whole.size(); ++size) {
      const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
      for (const std::string& name : ExifTagNames(cut)) {
        const auto got = FindExifValue(cut, name);
        const auto want = FindExifValue(whole, name);
        ASSERT_TRUE(got && want) << size << " " << name;
        EXPECT_EQ(want->text, got->text);
        EXPECT_EQ(want->bytes, got->bytes);
        EXPECT_EQ(want->numbers.size(), got->numbers.size());
      }
    }
    // Not an EXIF segment at all.
    for (const Bytes& junk : {Bytes{}, Bytes{0, 8, 'E', 'x', 'i', 'f', 0, 0}, Bytes{0, 16, 'E', 'x', 'i', 'f', 0, 0,
                                                                                    'I', 'I', 43, 0, 8, 0, 0, 0}})
      EXPECT_TRUE(ExifTagNames(junk).empty() && !FindExifValue(junk, "Make"));
  }
}

}  // namespace
}  // namespace qb::exif
