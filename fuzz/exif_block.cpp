// A bare EXIF block (the TIFF structure), read as the APP1 segment of an
// otherwise empty JPEG, then every tag it names looked up by name and by
// number, as ExifValue and ExifTags do.
#include <vector>

#include "fuzz/fuzz_target.h"
#include "metadata/portable/exif_tags.h"
#include "metadata/portable/jpeg_exif.h"

QB_FUZZ_TARGET(exif_block) {
  const std::size_t body = std::min<std::size_t>(size, 0xFFFF - 8);
  const std::size_t length = body + 8;
  std::vector<std::uint8_t> file = {0xFF, 0xD8, 0xFF, 0xE1, std::uint8_t(length >> 8), std::uint8_t(length),
                                    'E',  'x',  'i',  'f',  0,    0};
  file.insert(file.end(), data, data + body);
  file.insert(file.end(), {0xFF, 0xDA, 0x00, 0x02, 0xFF, 0xD9});
  qb::exif::MemoryStream stream(file);
  qb::exif::JpegExifReader reader;
  reader.SetConsole([](const char*) {});
  qb::exif::ExifInfo info{};
  reader.Read(stream, info);
  qb::exif::CameraData camera;
  if (info.valid) qb::exif::ApplyCameraData(info, camera);

  // The first names only: each look-up walks the directories again and
  // decodes up to a block's worth of values, and the smoke run's budget is
  // per execution.
  const std::vector<std::uint8_t>& segment = reader.exifBlock();
  std::vector<std::string> names = qb::exif::ExifTagNames(segment);
  if (names.size() > 8) names.resize(8);
  for (const std::string& name : names) {
    const std::optional<qb::exif::ExifTagValue> value = qb::exif::FindExifValue(segment, name);
    QB_FUZZ_CHECK(value.has_value());
    const std::optional<std::uint16_t> number = qb::exif::ExifTagNumber(name);
    QB_FUZZ_CHECK(number.has_value());
    // Bytes and counts come from inside the block only.
    QB_FUZZ_CHECK(value->bytes.size() <= segment.size() && value->numbers.size() <= segment.size());
    qb::exif::FindExifValue(segment, *number);
  }
  return 0;
}
