// The camera data made of what the EXIF reader found: texts cut at their
// zero, resolutions per inch, the 35-mm focal length, the shutter speed.
#include "metadata/portable/jpeg_exif.h"
#include "metadata/portable/exif_numbers.h"

#include <cstring>
#include <string>

namespace qb::exif {

namespace {

std::string FieldText(const char* field, std::size_t size) {
  return std::string(field, strnlen(field, size));
}

}  // namespace

void ApplyCameraData(const ExifInfo& info, CameraData& data) {
  if (info.make[0] != '\0') {
    // The model goes with the maker, even when it is empty.
    data.cameraMake = FieldText(info.make, sizeof info.make);
    data.cameraModel = FieldText(info.model, sizeof info.model);
  }
  if (info.dateTime[0] != '\0') data.dateTime = FieldText(info.dateTime, sizeof info.dateTime);
  if (info.version[0] != '\0') data.exifVersion = FieldText(info.version, sizeof info.version);
  if (info.resolutionUnitFactor != 0) {
    // Per unit divided by the unit's share of an inch: per inch.
    if (info.xResolution != 0) data.xResolution = info.xResolution / info.resolutionUnitFactor;
    if (info.yResolution != 0) data.yResolution = info.yResolution / info.resolutionUnitFactor;
  }
  data.flashUsed = info.flashFired != 0 ? "Yes" : "No";
  if (info.focalLength != 0) {
    data.focalLength = info.focalLength;
    // With a known sensor width, the whole 35-mm equivalent (36 mm film width).
    if (info.sensorWidth != 0)
      data.focalLength = static_cast<float>(ToInt(info.focalLength / info.sensorWidth * 36 + 0.5));
  }
  if (info.exposureTime != 0) {
    data.exposureTime = info.exposureTime;
    // Half a second and shorter: the shutter-speed denominator (125 for 1/125 s).
    if (info.exposureTime <= 0.5)
      data.exposureTime = static_cast<float>(ToInt(1 / info.exposureTime + 0.5));
  }
  if (info.brightness != 0) data.brightness = info.brightness;
  if (info.fNumber != 0) data.aperture = info.fNumber;
  if (info.comment[0] != '\0') data.comment = FieldText(info.comment, sizeof info.comment);
}

}  // namespace qb::exif
