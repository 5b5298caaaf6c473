// The walkers that find the EXIF block of HEIF, WebP, PNG and TIFF files,
// each given the bytes whatever their signature, then the whole read as
// ReadExif makes it, and the orientation a load takes from it.
#include <vector>

#include "fuzz/fuzz_target.h"
#include "metadata/portable/exif_containers.h"
#include "metadata/portable/exif_orientation.h"
#include "metadata/portable/jpeg_exif.h"

QB_FUZZ_TARGET(exif_containers) {
  using qb::exif::ExifContainer;
  qb::exif::MemoryStream stream({data, size});
  for (ExifContainer kind : {ExifContainer::kHeif, ExifContainer::kWebp, ExifContainer::kPng, ExifContainer::kTiff}) {
    std::vector<std::uint8_t> tiff;
    const qb::exif::ExifSearch found = qb::exif::FindExifTiff(kind, stream, tiff);
    // A block found is a TIFF block a JPEG segment can hold; none else.
    if (found == qb::exif::ExifSearch::kFound)
      QB_FUZZ_CHECK(tiff.size() >= 8 && tiff.size() <= qb::exif::kMaxExifTiff && (tiff[0] == 'I' || tiff[0] == 'M'));
    else
      QB_FUZZ_CHECK(tiff.empty());
  }
  qb::exif::JpegExifReader reader;
  reader.SetConsole([](const char*) {});
  qb::exif::ExifInfo info{};
  reader.Read(stream, info);
  const int orientation = reader.pendingOrientation();
  QB_FUZZ_CHECK(orientation >= 1 && orientation <= 8);
  if (reader.container() == ExifContainer::kHeif) QB_FUZZ_CHECK(orientation == 1);
  const std::vector<std::uint8_t>& segment = reader.exifBlock();
  if (!segment.empty()) QB_FUZZ_CHECK(((segment[0] << 8) | segment[1]) == static_cast<int>(segment.size()));
  return 0;
}
