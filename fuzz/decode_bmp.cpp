// The imaging library's BMP decoder (every header form and depth, RLE8 and
// RLE4), and the format detection in front of it.
#include "fuzz/fuzz_target.h"
#include "rastrum/portable/codecs.h"

QB_FUZZ_TARGET(decode_bmp) {
  const std::span<const std::uint8_t> file(data, size);
  rastrum::DetectFormat(file);
  qb::fuzz::BoundedAllocator out;
  qb::fuzz::CheckResult(rastrum::DecodeBmp(file, out), out);
  return 0;
}
