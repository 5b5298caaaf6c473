// The JPEG segment walk with the EXIF reader, and the camera data it gives.
#include "fuzz/fuzz_target.h"
#include "metadata/portable/jpeg_exif.h"

QB_FUZZ_TARGET(jpeg_exif) {
  qb::exif::MemoryStream stream({data, size});
  qb::exif::JpegExifReader reader;
  reader.SetConsole([](const char*) {});
  qb::exif::ExifInfo info{};
  reader.Read(stream, info);
  QB_FUZZ_CHECK(reader.segmentCount() >= 0 && reader.segmentCount() <= qb::exif::JpegExifReader::kMaxSegments);
  qb::exif::CameraData camera;
  if (info.valid) qb::exif::ApplyCameraData(info, camera);
  return 0;
}
