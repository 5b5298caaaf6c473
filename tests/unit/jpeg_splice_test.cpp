// The spliced JPEG: the kept EXIF segment in front of the writer's stream,
// whatever the writer put first.
#include <gtest/gtest.h>

#include <vector>

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
