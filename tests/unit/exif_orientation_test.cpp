// The Orientation tag of a kept EXIF segment: read and rewritten in place
// in both byte orders; segments without a usable tag read as 1 and are
// never changed.
#include "metadata/portable/exif_orientation.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace qb::exif {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Entry {
  std::uint16_t tag, format;
  std::uint32_t count, value;  // value left-justified as a SHORT when format 3
};

// A kept segment (length bytes, "Exif" 0 0, TIFF block) whose IFD0 holds
// the entries.
Bytes Segment(bool big, const std::vector<Entry>& entries) {
  Bytes tiff;
  const auto u16 = [&](std::uint32_t v) {
    if (big) tiff.insert(tiff.end(), {std::uint8_t(v >> 8), std::uint8_t(v)});
    else tiff.insert(tiff.end(), {std::uint8_t(v), std::uint8_t(v >> 8)});
  };
  const auto u32 = [&](std::uint32_t v) {
    if (big) { u16(v >> 16); u16(v & 0xFFFF); } else { u16(v & 0xFFFF); u16(v >> 16); }
  };
  tiff.insert(tiff.end(), {std::uint8_t(big ? 'M' : 'I'), std::uint8_t(big ? 'M' : 'I')});
  u16(42);
  u32(8);
  u16(static_cast<std::uint32_t>(entries.size()));
  for (const Entry& e : entries) {
    u16(e.tag);
    u16(e.format);
    u32(e.count);
    if (e.format == 3) { u16(e.value); u16(0); } else { u32(e.value); }
  }
  u32(0);
  Bytes segment = {0, 0, 'E', 'x', 'i', 'f', 0, 0};
  segment.insert(segment.end(), tiff.begin(), tiff.end());
  segment[0] = static_cast<std::uint8_t>(segment.size() >> 8);
  segment[1] = static_cast<std::uint8_t>(segment.size());
  return segment;
}

const Entry kMake{0x010F, 2, 4, 0x41424300};

Bytes Cut(Bytes bytes, std::size_t size) {
  bytes.resize(size);
  return bytes;
}

TEST(ExifOrientation, ReadsAndRewritesInPlaceInBothByteOrders) {
  for (const bool big : {false, true}) {
    for (std::uint32_t stored = 1; stored <= 8; ++stored) {
      Bytes segment = Segment(big, {kMake, {0x0112, 3, 1, stored}, {0x011A, 5, 1, 0x100}});
      EXPECT_EQ(static_cast<int>(stored), ReadOrientation(segment));
      const int written = stored == 1 ? 6 : 1;
      const Bytes expected = Segment(big, {kMake, {0x0112, 3, 1, static_cast<std::uint32_t>(written)}, {0x011A, 5, 1, 0x100}});
      EXPECT_EQ(expected, WithOrientation(segment, written)) << (big ? "MM " : "II ") << stored;
      EXPECT_TRUE(WriteOrientation(segment, written));
      EXPECT_EQ(written, ReadOrientation(segment));
    }
  }
}

// Segments whose tag is missing, of another form, or out of range: read as
// 1, left as they are by every write.
TEST(ExifOrientation, UnusableTagsReadAsOneAndAreNeverWritten) {
  const struct {
    const char* what;
    Bytes segment;
    int read;
    bool writable;
  } cases[] = {
      {"no Orientation tag", Segment(false, {kMake}), 1, false},
      {"a LONG", Segment(true, {{0x0112, 4, 1, 6}}), 1, false},
      {"two SHORTs", Segment(false, {{0x0112, 3, 2, 6}}), 1, false},
      {"value 0", Segment(false, {{0x0112, 3, 1, 0}}), 1, true},
      {"value 9", Segment(true, {{0x0112, 3, 1, 9}}), 1, true},
      {"no Exif header", Bytes{0, 8, 'J', 'F', 'I', 'F', 0, 0}, 1, false},
      {"empty", Bytes{}, 1, false},
      {"cut inside IFD0", Cut(Segment(false, {kMake, {0x0112, 3, 1, 6}}), 30), 1, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.read, ReadOrientation(c.segment)) << c.what;
    Bytes copy = c.segment;
    EXPECT_EQ(c.writable, WriteOrientation(copy, 3)) << c.what;
    if (!c.writable) {
      EXPECT_EQ(c.segment, copy) << c.what;
    }
    Bytes kept = c.segment;
    EXPECT_FALSE(WriteOrientation(kept, 0)) << c.what;
    EXPECT_FALSE(WriteOrientation(kept, 9)) << c.what;
    EXPECT_EQ(c.segment, kept) << c.what;
  }
}

}  // namespace
}  // namespace qb::exif
