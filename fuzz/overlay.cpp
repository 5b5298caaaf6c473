// The frame and overlay operations on any blocks: a position, the lengths
// of the first two blocks, then the blocks (base or source, overlay or
// first frame, mask or second frame).
#include "fuzz/fuzz_target.h"

QB_FUZZ_TARGET(overlay) {
  qb::fuzz::Input in(data, size);
  const auto x = static_cast<std::int32_t>(in.U32());
  const auto y = static_cast<std::int32_t>(in.U32());
  const std::size_t firstLength = in.U16(), secondLength = in.U16();
  const auto first = in.Bytes(firstLength);
  const auto second = in.Bytes(secondLength);
  const auto third = in.Rest();
  {
    qb::fuzz::BoundedAllocator out;
    qb::fuzz::CheckResult(rastrum::AddFrame(first, second, third, out), out);
  }
  qb::fuzz::BoundedAllocator out;
  qb::fuzz::CheckResult(rastrum::AddPic(x, y, first, second, third, out), out);
  return 0;
}
