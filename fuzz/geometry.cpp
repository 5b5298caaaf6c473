// Resize and rotate on any block: a width, a height and a mode for the
// resize and an angle for the rotation in front of the block.
#include "fuzz/fuzz_target.h"

QB_FUZZ_TARGET(geometry) {
  qb::fuzz::Input in(data, size);
  // Sides up to 1023 (0 and the negative side of the range included).
  const auto width = static_cast<std::int32_t>(in.U16() % 1040) - 16;
  const auto height = static_cast<std::int32_t>(in.U16() % 1040) - 16;
  const auto mode = static_cast<std::int32_t>(in.U8()) - 1;
  const auto angle = static_cast<std::int32_t>(in.U32());
  const auto block = in.Rest();
  {
    qb::fuzz::BoundedAllocator out;
    qb::fuzz::CheckResult(rastrum::Resize(block, width, height, mode, out), out);
  }
  qb::fuzz::BoundedAllocator out;
  qb::fuzz::CheckResult(rastrum::Rotate(block, angle, out), out);
  return 0;
}
