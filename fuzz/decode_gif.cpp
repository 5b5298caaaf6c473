// The imaging library's GIF decoder, and the format detection in front of
// it.
#include "fuzz/fuzz_target.h"
#include "rastrum/portable/codecs.h"

QB_FUZZ_TARGET(decode_gif) {
  const std::span<const std::uint8_t> file(data, size);
  rastrum::DetectFormat(file);
  qb::fuzz::BoundedAllocator out;
  qb::fuzz::CheckResult(rastrum::DecodeGif(file, out), out);
  return 0;
}
