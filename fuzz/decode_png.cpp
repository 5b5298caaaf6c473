// The imaging library's PNG decoder, and the format detection in front of
// it.
#include "fuzz/fuzz_target.h"
#include "rastrum/portable/codecs.h"

QB_FUZZ_TARGET(decode_png) {
  const std::span<const std::uint8_t> file(data, size);
  rastrum::DetectFormat(file);
  qb::fuzz::BoundedAllocator out;
  qb::fuzz::CheckResult(rastrum::DecodePng(file, out), out);
  return 0;
}
