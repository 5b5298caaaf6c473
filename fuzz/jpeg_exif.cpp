// The JPEG segment walk with the EXIF reader, the camera data it gives, and
// a splicing save's use of what it kept: the EXIF segment fitted to a new
// size and spliced with the carried metadata segments.
#include "fuzz/fuzz_target.h"
#include "metadata/portable/jpeg_exif.h"
#include "metadata/portable/jpeg_splice.h"

QB_FUZZ_TARGET(jpeg_exif) {
  qb::exif::MemoryStream stream({data, size});
  qb::exif::JpegExifReader reader;
  reader.SetConsole([](const char*) {});
  qb::exif::ExifInfo info{};
  reader.Read(stream, info);
  QB_FUZZ_CHECK(reader.segmentCount() >= 0 && reader.segmentCount() <= qb::exif::JpegExifReader::kMaxSegments);
  qb::exif::CameraData camera;
  if (info.valid) qb::exif::ApplyCameraData(info, camera);

  std::vector<std::uint8_t> segment = reader.exifBlock();
  const std::size_t before = segment.size();
  static const std::uint8_t kThumbnail[] = {0xFF, 0xD8, 0xFF, 0xD9};
  const qb::exif::ExifFit fit = qb::exif::FitExifToPicture(segment, 123, 70000, kThumbnail);
  QB_FUZZ_CHECK(fit.thumbnailReplaced ? segment.size() <= 0xFFFF : segment.size() <= before);
  if (segment.size() != before) QB_FUZZ_CHECK(((segment[0] << 8) | segment[1]) == static_cast<int>(segment.size()));
  static const std::uint8_t kJpeg[] = {0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x02, 0xFF, 0xD9};
  std::vector<std::uint8_t> out;
  if (qb::exif::SpliceExifSegment(segment, reader.carriedSegments(), kJpeg, out)) {
    // Start of image, the EXIF segment, each carried segment whole, the scan.
    std::size_t expected = 4 + ((segment[0] << 8) | segment[1]) + sizeof kJpeg - 2;
    for (const qb::exif::JpegSegment& carried : reader.carriedSegments()) expected += 2 + carried.data.size();
    QB_FUZZ_CHECK(out.size() == expected);
  }
  return 0;
}
